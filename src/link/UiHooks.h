#pragma once
// What the link layer (and the protocol above it) needs from the user
// interface and the clock, kept as small interfaces so that links run the
// same under the main window, in a console recorder and in tests.
//
// Everything runs on one thread: waits call Pump() so that the window's
// buttons stay live, and a handler run from the pump may close the link.
#include <cstdint>
#include <string>

// The progress bar a block transfer advances (the window's main progress bar).
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetMinimum(int value) = 0;
    virtual void SetMaximum(int value) = 0;
    virtual int Maximum() const = 0;
    virtual int Position() const = 0;
    virtual void SetPosition(int value) = 0;
};

// A control shown while blocks fail their checksum (the "Crc error" label).
class Indicator {
public:
    virtual ~Indicator() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
};

class UiHooks {
public:
    virtual ~UiHooks() = default;
    // Processes pending user-interface events (default: Qt's event queue
    // when an application object exists).
    virtual void Pump();
    // Hourglass cursor on and off; calls are balanced.
    virtual void ShowWaitCursor() {}
    virtual void RestoreCursor() {}
    // An error message box with the program's caption (default: stderr).
    virtual void ShowMessage(const std::string& text);
    // A question with OK and Cancel; true for OK (default: OK, for
    // unattended use).
    virtual bool Confirm(const std::string& caption, const std::string& text);
    // An input box; false when cancelled (default: keeps value, answers OK).
    virtual bool InputText(const std::string& caption, const std::string& prompt,
                           std::string& value);
    // Milliseconds from an arbitrary start; never goes backwards.
    virtual int64_t TickMs();
    // Sleeps without pumping.
    virtual void SleepMs(int ms);
    // Sleeps in the event loop until something happens (input on a link, a
    // click, a timer) or maxMs pass, handles it, then pumps. Waits for input
    // call this rather than spin on Pump.
    virtual void WaitForEvents(int maxMs);
};

// The hooks in force; never null. SetUiHooks(nullptr) restores the defaults.
UiHooks& ActiveUiHooks();
void SetUiHooks(UiHooks* hooks);

// Shortcuts used throughout the waiting loops.
inline void PumpMessages() {
    ActiveUiHooks().Pump();
}

// Shows the wait cursor for the lifetime of the object, so that every path
// out of a long operation (errors included) restores the normal cursor.
class WaitCursor {
public:
    WaitCursor() { ActiveUiHooks().ShowWaitCursor(); }
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Restore() {
        if (active_) {
            active_ = false;
            ActiveUiHooks().RestoreCursor();
        }
    }

private:
    bool active_ = true;
};
