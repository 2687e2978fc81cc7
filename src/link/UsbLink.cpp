#include "link/UsbLink.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kReadByteTimeoutMs = 300000;
constexpr uint32_t kWriteTimeoutMs = 500;
constexpr int kEscapeCommand = 27;
constexpr int kIdentityFastPoll = 11;
constexpr int kIdentityEscapePoll = 20;
constexpr int kIdentityFastBaud = 115200;

std::string FormatVersion(uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "v%x.%02x.%02x", unsigned((v >> 16) & 0xFF),
                  unsigned((v >> 8) & 0xFF), unsigned(v & 0xFF));
    return text;
}

} // namespace

int UsbDeviceCount(FtdiApi& api) {
    uint32_t count = 0;
    return api.ListDevices(count) == kFtOk ? int(count) : 0;
}

int UsbDeviceCount() {
    return UsbDeviceCount(ActiveFtdiApi());
}

UsbLink::UsbLink(FtdiApi* api) : api_(api ? *api : ActiveFtdiApi()) {}

UsbLink::~UsbLink() {
    // Normally closed by the session first; never leave the device claimed.
    if (handle_)
        api_.Close(handle_);
}

bool UsbLink::WaitClosed() {
    throw LinkError("Wait error");
}

int UsbLink::Open(int connection, int baudRate, const std::string&, bool, const std::string&,
                  int byteDelayMs) {
    byteDelayMs_ = byteDelayMs;
    if (handle_) {
        api_.Close(handle_);
        handle_ = nullptr;
    }
    state_ = kLinkFailed;

    while (UsbDeviceCount(api_) == 0) {
        if (!ActiveUiHooks().Confirm(
                "Communication", "Connect USB link between computer and VARMEX/KELDO,\nthen press "
                                 "< OK > button"))
            return 0;
    }

    // A device just plugged in may need a moment before it can be opened.
    for (int attempt = 0; attempt < kUsbOpenAttempts && !handle_; ++attempt) {
        ActiveUiHooks().SleepMs(kUsbOpenRetryMs);
        FtdiApi::Handle h = nullptr;
        if (api_.Open(0, h) == kFtOk && h)
            handle_ = h;
        else
            PumpMessages();
    }
    if (handle_) {
        api_.ClrDtr(handle_);
        api_.ClrRts(handle_);
    }
    SleepSeconds(1);
    if (!handle_)
        return 0;

    api_.SetBaudRate(handle_, uint32_t(baudRate));
    baudRate_ = baudRate;
    api_.SetTimeouts(handle_, 500, kWriteTimeoutMs);
    state_ = connection;
    SetDtr(1);
    SetRts(1);
    ApplyDataCharacteristics();
    ActiveUiHooks().SleepMs(400);
    return GetState();
}

void UsbLink::Close() {
    if (!IsOpen())
        return;
    SetDtr(0);
    SetRts(0);
    SleepSeconds(1);
    if (handle_)
        api_.Close(handle_);
    handle_ = nullptr;
    state_ = kLinkClosed;
}

bool UsbLink::QueryFailed(FtStatus status) {
    if (status == kFtOk)
        return false;
    // A device pulled out under an open link would otherwise leave every
    // wait running for ever.
    if (state_ > 0 && UsbDeviceCount(api_) == 0)
        state_ = kLinkFailed;
    return true;
}

int UsbLink::InputCount() {
    if (state_ <= 0 || !handle_)
        return -1;
    uint32_t rx = 0;
    if (QueryFailed(api_.GetQueueStatus(handle_, rx)))
        return state_ > 0 ? 0 : -1;
    return int(std::min<uint32_t>(rx, INT32_MAX));
}

int UsbLink::OutputCount() {
    if (!IsOpen() || !handle_)
        return -1;
    uint32_t rx = 0, tx = 0, events = 0;
    if (api_.GetStatus(handle_, rx, tx, events) != kFtOk)
        return 0;
    return int(std::min<uint32_t>(tx, INT32_MAX));
}

int UsbLink::PutByte(uint8_t b) {
    if (!IsOpen() || !handle_)
        return -1;
    uint32_t written = 0;
    // A write that "succeeds" without taking the byte must be retried, or
    // the byte is lost.
    if (api_.Write(handle_, &b, 1, written) != kFtOk || written != 1)
        return -1;
    return 0;
}

void UsbLink::WriteByte(uint8_t b) {
    for (;;) {
        if (!IsOpen())
            throw LinkError("Port err. putcom");
        PumpMessages();
        if (PutByte(b) != -1)
            break;
    }
    for (;;) {
        if (!IsOpen())
            throw LinkError("Port err.");
        PumpMessages();
        if (OutputCount() == 0)
            break;
    }
    if (byteDelayMs_ > 0)
        ActiveUiHooks().SleepMs(byteDelayMs_);
}

int UsbLink::ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    if (!IsOpen() || !handle_)
        return -1;
    api_.SetTimeouts(handle_, uint32_t(std::max(timeoutMs, 0)), kWriteTimeoutMs);
    // Takes what the device holds as it comes, pumping in between, so that
    // the window stays live and a link closed meanwhile ends the wait.
    int got = 0;
    const int64_t start = ActiveUiHooks().TickMs();
    while (got < count) {
        uint32_t queued = 0;
        if (!QueryFailed(api_.GetQueueStatus(handle_, queued)) && queued > 0) {
            uint32_t n = 0;
            api_.Read(handle_, buf + got, std::min<uint32_t>(queued, uint32_t(count - got)), n);
            got += int(n);
            continue;
        }
        if (ActiveUiHooks().TickMs() - start >= timeoutMs)
            break;
        PumpMessages();
        if (!IsOpen() || !handle_)
            break;
    }
    return got;
}

int UsbLink::ReadByteTimed(int timeoutMs) {
    if (state_ <= 0)
        return -1;
    uint8_t b = 0;
    return ReadBufferTimed(&b, 1, timeoutMs) == 1 ? b : -1;
}

int UsbLink::PollByte() {
    if (state_ <= 0 || !handle_)
        return -1;
    uint8_t b = 0;
    uint32_t n = 0;
    api_.Read(handle_, &b, 1, n);
    return n == 1 ? b : -1;
}

int UsbLink::ReadByte() {
    while (state_ > 0) {
        PumpMessages();
        if (InputCount() > 0) {
            const int b = ReadByteTimed(kReadByteTimeoutMs);
            if (b >= 0)
                return b;
        }
    }
    throw LinkError("Port err. Getcom");
}

void UsbLink::FlushInput() {
    if (handle_)
        api_.Purge(handle_, kFtPurgeRx);
    PumpMessages();
}

void UsbLink::ClearOutput() {
    if (IsOpen() && handle_)
        api_.Purge(handle_, kFtPurgeTx);
}

void UsbLink::SetBaudRate(int baud) {
    if (!IsOpen() || !handle_)
        return;
    api_.SetBaudRate(handle_, uint32_t(baud));
    baudRate_ = baud;
}

void UsbLink::ApplyDataCharacteristics() {
    api_.SetDataCharacteristics(handle_, uint8_t(wordLength_), uint8_t(stopBits_),
                                uint8_t(parity_));
}

void UsbLink::SetParity(int p) {
    if (!IsOpen() || !handle_)
        return;
    parity_ = p >= 1 && p <= 4 ? p : 0;
    ApplyDataCharacteristics();
}

void UsbLink::SetDataBits(int n) {
    if (!IsOpen() || !handle_)
        return;
    wordLength_ = n == 7 ? 7 : 8;
    ApplyDataCharacteristics();
}

void UsbLink::SetStopBits(int n) {
    if (!IsOpen() || !handle_)
        return;
    stopBits_ = n == 2 ? 2 : 0;
    ApplyDataCharacteristics();
}

void UsbLink::ApplyFlowControl(uint16_t mode) {
    if (mode == kFtFlowXonXoff)
        api_.SetFlowControl(handle_, mode, 0x11, 0x13);
    else
        api_.SetFlowControl(handle_, mode, 0, 0);
}

// The three flow controls exclude one another: switching one on or off
// clears the other two.
void UsbLink::SetXonXoff(int on) {
    if (!IsOpen() || !handle_)
        return;
    dtrDsr_ = rtsCts_ = 0;
    xonXoff_ = on ? 1 : 0;
    ApplyFlowControl(on ? kFtFlowXonXoff : kFtFlowNone);
}

void UsbLink::SetDtrDsr(int on) {
    if (!IsOpen() || !handle_)
        return;
    xonXoff_ = rtsCts_ = 0;
    dtrDsr_ = on ? 1 : 0;
    ApplyFlowControl(on ? kFtFlowDtrDsr : kFtFlowNone);
}

void UsbLink::SetRtsCts(int on) {
    if (!IsOpen() || !handle_)
        return;
    xonXoff_ = dtrDsr_ = 0;
    rtsCts_ = on ? 1 : 0;
    ApplyFlowControl(on ? kFtFlowRtsCts : kFtFlowNone);
}

void UsbLink::SetDtr(int on) {
    if (!IsOpen() || !handle_)
        return;
    dtr_ = on;
    if (on)
        api_.SetDtr(handle_);
    else
        api_.ClrDtr(handle_);
}

void UsbLink::SetRts(int on) {
    if (!IsOpen() || !handle_)
        return;
    rts_ = on;
    if (on)
        api_.SetRts(handle_);
    else
        api_.ClrRts(handle_);
}

int UsbLink::GetDsr() {
    if (!handle_)
        return 0;
    uint32_t status = 0;
    if (api_.GetModemStatus(handle_, status) != kFtOk)
        return 0;
    return (status & kFtModemDsr) ? 1 : 0;
}

void UsbLink::SetLatency(int ms) {
    if (handle_)
        api_.SetLatencyTimer(handle_, uint8_t(std::clamp(ms, 0, 255)));
}

std::string UsbLink::VersionText() {
    if (!IsOpen() || !handle_)
        return "NA";
    uint32_t driver = 0;
    if (api_.GetDriverVersion(handle_, driver) != kFtOk)
        return "Unknown";
    uint32_t library = 0;
    if (api_.GetLibraryVersion(library) != kFtOk)
        return "DRV " + FormatVersion(driver);
    return "DRV " + FormatVersion(driver) + "\nDLL " + FormatVersion(library);
}

bool UsbLink::ReadIdentity(std::string& second, std::string& first) {
    first.clear();
    second.clear();
    try {
        int poll = 0;
        int savedBaud = baudRate_;
        for (;;) {
            if (!IsOpen())
                throw LinkError(ReadErrorText());
            ++poll;
            if (poll == kIdentityFastPoll) {
                // Try the other rate the instrument may be set to. The
                // rate to come back to is the one in force, not
                // GetBaudRate's 0.
                savedBaud = baudRate_;
                SetBaudRate(kIdentityFastBaud);
            } else if (poll == kIdentityEscapePoll) {
                SetBaudRate(savedBaud);
                ActiveUiHooks().SleepMs(100);
                if (!SendCommand(kEscapeCommand, 2000))
                    return false;
                ActiveUiHooks().SleepMs(1000);
                poll = 1;
            }
            uint8_t b = 0;
            while (InputCount() > 0)
                ReadBufferTimed(&b, 1, 100);
            WriteByte('@');
            ActiveUiHooks().SleepMs(100);
            if (ReadBufferTimed(&b, 1, 2000) == 1 && b == '@')
                break;
        }
        return ReadLine(first, 40, 15000) && ReadLine(second, 40, 15000);
    } catch (const LinkError&) {
        ActiveUiHooks().ShowMessage("Unknown Baudrate");
        return false;
    }
}
