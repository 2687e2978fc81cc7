#include "Uihooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

void TUiHooks::Pump() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TUiHooks::ShowMessage(const std::string& text) {
    std::fprintf(stderr, "Pylorix: %s\n", text.c_str());
}

bool TUiHooks::Confirm(const std::string&, const std::string&) {
    return true;
}

bool TUiHooks::InputText(const std::string&, const std::string&, std::string&) {
    return true;
}

int64_t TUiHooks::TickMs() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

void TUiHooks::SleepMs(int ms) {
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

namespace {
TUiHooks defaultHooks;
TUiHooks* currentHooks = &defaultHooks;
} // namespace

TUiHooks& UiHooks() {
    return *currentHooks;
}

void SetUiHooks(TUiHooks* hooks) {
    currentHooks = hooks ? hooks : &defaultHooks;
}
