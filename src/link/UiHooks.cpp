#include "link/UiHooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <cstdio>

void UiHooks::Pump() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void UiHooks::ShowMessage(const std::string& text) {
    std::fprintf(stderr, "Pylorix: %s\n", text.c_str());
}

bool UiHooks::Confirm(const std::string&, const std::string&) {
    return true;
}

bool UiHooks::InputText(const std::string&, const std::string&, std::string&) {
    return true;
}

int64_t UiHooks::TickMs() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

void UiHooks::SleepMs(int ms) {
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void UiHooks::WaitForEvents(int maxMs) {
    if (maxMs > 0) {
        if (QCoreApplication::instance()) {
            // The timer bounds the sleep; any other event ends it sooner.
            QTimer bound;
            bound.setSingleShot(true);
            bound.start(maxMs);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        } else {
            SleepMs(std::min(maxMs, 10));
        }
    }
    Pump();
}

namespace {
UiHooks defaultHooks;
UiHooks* currentHooks = &defaultHooks;
} // namespace

UiHooks& ActiveUiHooks() {
    return *currentHooks;
}

void SetUiHooks(UiHooks* hooks) {
    currentHooks = hooks ? hooks : &defaultHooks;
}
