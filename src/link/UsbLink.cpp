#include "link/UsbLink.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

constexpr uint32_t kWriteTimeoutMs = 500;
constexpr int kEscapeCommand = 27;
constexpr int kIdentityFastPoll = 11;
constexpr int kIdentityEscapePoll = 20;
constexpr int kIdentityFastBaud = 115200;
// After OK to the connect prompt, how long a cable just plugged in is
// given to show up before the prompt comes again, and how often it is
// looked for meanwhile.
constexpr int kPlugInWaitMs = 1000;
constexpr int kPlugInPollMs = 100;
// Below this a wait for the transmitter is spent pumping; above, sleeping.
constexpr int64_t kSleepAboveUs = 2000;

std::string FormatVersion(uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "v%x.%02x.%02x", unsigned((v >> 16) & 0xFF),
                  unsigned((v >> 8) & 0xFF), unsigned(v & 0xFF));
    return text;
}

// The locations of the devices this process holds open: they stay
// instruments while held, whatever else is plugged in beside them.
std::vector<std::string>& HeldLocations() {
    static std::vector<std::string> held;
    return held;
}

std::vector<UsbDevice> ListInstruments(FtdiApi& api, const std::vector<UsbId>& extra) {
    std::vector<UsbDevice> attached;
    std::vector<UsbDevice> instruments;
    if (api.ListDevices(ListedUsbIds(extra), attached) != kFtOk)
        return instruments;
    for (size_t i : FindInstruments(attached, extra, HeldLocations()))
        instruments.push_back(attached[i]);
    return instruments;
}

} // namespace

int UsbDeviceCount(FtdiApi& api, const std::vector<UsbId>& extra) {
    return int(ListInstruments(api, extra).size());
}

UsbLink::UsbLink(FtdiApi* api, std::vector<UsbId> extraIds)
    : api_(api ? *api : ActiveFtdiApi()), extraIds_(std::move(extraIds)) {}

UsbLink::~UsbLink() {
    // Normally closed by the session first; never leave the device claimed.
    Release();
}

void UsbLink::Release() {
    if (!handle_)
        return;
    api_.Close(handle_);
    handle_ = nullptr;
    auto& held = HeldLocations();
    auto it = std::find(held.begin(), held.end(), opened_.location);
    if (it != held.end())
        held.erase(it);
    opened_ = {};
}

bool UsbLink::WaitClosed() {
    Fail("Wait error", kFaultClosed);
}

std::vector<UsbDevice> UsbLink::Instruments() {
    return ListInstruments(api_, extraIds_);
}

std::vector<UsbDevice> UsbLink::WaitForInstrument() {
    for (int waited = 0;; waited += kPlugInPollMs) {
        std::vector<UsbDevice> found = Instruments();
        if (!found.empty() || waited >= kPlugInWaitMs)
            return found;
        ActiveUiHooks().SleepMs(kPlugInPollMs);
        PumpMessages();
    }
}

int UsbLink::Open(int connection, int baudRate, const std::string&, bool, const std::string&,
                  int byteDelayMs) {
    byteDelayMs_ = byteDelayMs;
    failureReason_.clear();
    failureFinal_ = false;
    Release();
    state_ = kLinkFailed;

    // Without a working USB library no cable can ever be found: say so
    // rather than ask for one. Trying again cannot help until the library
    // is installed.
    if (const std::string why = api_.Unavailable(); !why.empty()) {
        failureReason_ = why;
        failureFinal_ = true;
        return 0;
    }

    // Only a device that identifies as the instrument is opened: opening
    // any other FTDI adapter would take it from its own driver.
    std::vector<UsbDevice> instruments = Instruments();
    while (instruments.empty()) {
        if (!ActiveUiHooks().Confirm(
                "Communication", "Connect USB link between computer and VARMEX/KELDO,\nthen press "
                                 "< OK > button"))
            return 0;
        instruments = WaitForInstrument();
    }

    // A device just plugged in may need a moment before it can be opened
    // (the system sets its permissions after announcing it).
    FtStatus status = kFtDeviceNotOpened;
    std::string error;
    for (int attempt = 0; attempt < kUsbOpenAttempts && !handle_; ++attempt) {
        ActiveUiHooks().SleepMs(kUsbOpenRetryMs);
        FtdiApi::Handle h = nullptr;
        status = api_.Open(instruments.front(), h, error);
        if (status == kFtOk && h) {
            handle_ = h;
            opened_ = instruments.front();
            HeldLocations().push_back(opened_.location);
        } else {
            PumpMessages();
        }
    }
    if (handle_) {
        api_.ClrDtr(handle_);
        api_.ClrRts(handle_);
    }
    SleepSeconds(1);
    if (!handle_) {
        ExplainOpenFailure(status, error);
        return 0;
    }

    api_.SetBaudRate(handle_, uint32_t(baudRate));
    baudRate_ = baudRate;
    api_.SetTimeouts(handle_, 500, kWriteTimeoutMs);
    readTimeoutMs_ = 500;
    state_ = connection;
    SetDtr(1);
    SetRts(1);
    ApplyDataCharacteristics();
    ActiveUiHooks().SleepMs(400);
    return GetState();
}

void UsbLink::ExplainOpenFailure(FtStatus status, const std::string& error) {
    if (status == kFtDeviceNotFound) {
        failureReason_ = "no instrument among the attached USB devices";
        return;
    }
    failureReason_ = "the instrument could not be opened: " +
                     (error.empty() ? std::string("the device refused") : error);
    if (status == kFtAccessDenied)
        failureReason_ += " (this user may not use the device: install the udev rule "
                          "60-pylorix-instrument.rules, then plug the instrument in again)";
}

void UsbLink::Close() {
    if (!IsOpen())
        return;
    SetDtr(0);
    SetRts(0);
    SleepSeconds(1);
    Release();
    state_ = kLinkClosed;
}

bool UsbLink::QueryFailed(FtStatus status) {
    if (status == kFtOk)
        return false;
    // A device pulled out under an open link would otherwise leave every
    // wait running for ever.
    if (state_ > 0) {
        std::vector<UsbDevice> attached;
        const bool listed = api_.ListDevices(ListedUsbIds(extraIds_), attached) == kFtOk &&
                            std::any_of(attached.begin(), attached.end(), [&](const UsbDevice& d) {
                                return d.location == opened_.location;
                            });
        if (!listed)
            state_ = kLinkFailed;
    }
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
    if (QueryFailed(api_.GetStatus(handle_, rx, tx, events)))
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

int64_t UsbLink::ByteMicroseconds() const {
    if (baudRate_ <= 0)
        return 0;
    const int bits = 1 + (wordLength_ == 7 ? 7 : 8) + (parity_ >= 1 && parity_ <= 4 ? 1 : 0) +
                     (stopBits_ == 2 ? 2 : 1);
    return int64_t(bits) * 1000000 / baudRate_;
}

// Each byte leaves the bridge before the next is written, at the line's
// pace. The bridge's answer comes from the clock, so this costs no USB
// round trip; at 273000 baud a byte takes under 40 us.
void UsbLink::WriteByte(uint8_t b) {
    for (;;) {
        if (!IsOpen())
            Fail("Port err. putcom", kFaultClosed);
        PumpMessages();
        if (PutByte(b) != -1)
            break;
    }
    for (;;) {
        if (!IsOpen())
            Fail("Port err.", kFaultClosed);
        PumpMessages();
        const int queued = OutputCount();
        if (queued == 0)
            break;
        const int64_t waitUs = int64_t(std::max(queued, 0)) * ByteMicroseconds();
        if (waitUs >= kSleepAboveUs)
            ActiveUiHooks().SleepMs(int(std::min<int64_t>(waitUs / 1000, INT_MAX)));
    }
    if (byteDelayMs_ > 0)
        ActiveUiHooks().SleepMs(byteDelayMs_);
}

int UsbLink::Receive(uint8_t* buf, int count) {
    if (count <= 0 || !handle_)
        return 0;
    // Reads take what has come and never wait: waiting is AwaitInput's,
    // which pumps at least once a latency period.
    if (readTimeoutMs_ != 0) {
        api_.SetTimeouts(handle_, 0, kWriteTimeoutMs);
        readTimeoutMs_ = 0;
    }
    uint32_t n = 0;
    QueryFailed(api_.Read(handle_, buf, uint32_t(count), n));
    return int(std::min<uint32_t>(n, uint32_t(count)));
}

void UsbLink::AwaitInput(int maxMs) {
    if (IsOpen() && handle_) {
        const int waitMs = std::clamp(maxMs, 0, latencyMs_);
        QueryFailed(api_.WaitForInput(handle_, uint32_t(waitMs)));
    }
    PumpMessages();
}

int UsbLink::ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    if (!IsOpen() || !handle_)
        return -1;
    // Takes what the device holds as it comes, pumping in between, so that
    // the window stays live and a link closed meanwhile ends the wait.
    const int64_t start = ActiveUiHooks().TickMs();
    int got = 0;
    for (;;) {
        got += Receive(buf + got, count - got);
        if (got >= count)
            break;
        const int64_t left = timeoutMs - (ActiveUiHooks().TickMs() - start);
        if (left <= 0)
            break;
        AwaitInput(int(std::min<int64_t>(left, INT_MAX)));
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
    return Receive(&b, 1) == 1 ? b : -1;
}

int UsbLink::ReadByte() {
    while (state_ > 0 && handle_) {
        uint8_t b = 0;
        if (Receive(&b, 1) == 1)
            return b;
        AwaitInput(latencyMs_);
    }
    Fail("Port err. Getcom", kFaultClosed);
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
    const int clamped = std::clamp(ms, 0, 255);
    latencyMs_ = std::max(clamped, 1);
    if (handle_)
        api_.SetLatencyTimer(handle_, uint8_t(clamped));
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
                Fail(ReadErrorText(), kFaultClosed);
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
