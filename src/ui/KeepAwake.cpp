#include "ui/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

struct KeepAwake::State {
    QDBusUnixFileDescriptor sleepLock; // held open: logind releases it on close
    uint screenSaverCookie = 0;
    bool screenSaverInhibited = false;
};

namespace {

void RaisePriority() {
#ifdef _WIN32
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
#else
    // Needs privileges on most systems; an ordinary user keeps the normal
    // priority.
    (void)setpriority(PRIO_PROCESS, 0, -5);
#endif
}

} // namespace

KeepAwake::KeepAwake(QObject* parent) : QObject(parent), state_(std::make_unique<State>()) {
    RaisePriority();
#ifndef _WIN32
    const QString reason = QStringLiteral("An acquisition may be running");
    // Calls are asynchronous so that a bus that does not answer never holds
    // up the start of the program.
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QStringLiteral("Pylorix") << reason
             << QStringLiteral("block");
        auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* w) {
                    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
                    if (reply.isValid())
                        state_->sleepLock = reply.value();
                    w->deleteLater();
                });
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
        call << QStringLiteral("Pylorix") << reason;
        auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* w) {
                    QDBusPendingReply<uint> reply = *w;
                    if (reply.isValid()) {
                        state_->screenSaverCookie = reply.value();
                        state_->screenSaverInhibited = true;
                    }
                    w->deleteLater();
                });
    }
#endif
}

KeepAwake::~KeepAwake() {
#ifdef _WIN32
    SetThreadExecutionState(ES_CONTINUOUS);
#else
    if (state_->screenSaverInhibited) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
        call << state_->screenSaverCookie;
        QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
    }
#endif
}

bool KeepAwake::Inhibiting() const {
    return state_->sleepLock.isValid() || state_->screenSaverInhibited;
}
