#pragma once
#include "link/UiHooks.h"

#include <string>

// What the protocol shows on the main window. Every member has an inert
// default so that console tools and tests implement only what they watch.
class ProtocolView {
public:
    virtual ~ProtocolView() = default;
    // The main progress bar, or none.
    virtual ProgressBar* MainProgressBar() { return nullptr; }
    // The "Crc error" indicator, shown while a block is retransmitted.
    virtual Indicator* CrcErrorIndicator() { return nullptr; }
    // Makes the main progress bar visible (check runs).
    virtual void ShowMainProgressBar() {}
    // The session status caption.
    virtual void SetStatusCaption(const std::string&) {}
    // The receive indicator back to idle.
    virtual void ShowReceiveIdle() {}
    // The battery and temperature values currently on screen.
    virtual void DisplayedBatteryState(float& txBattery, float& rxBattery, float& temperature) {
        txBattery = rxBattery = temperature = 0.0f;
    }
};
