#include "link/SerialLink.h"

#include "link/ModemDialler.h"

namespace {

constexpr int kReadByteTimeoutMs = 300000;
constexpr int kEscapeCommand = 27;
constexpr int kIdentityFastPoll = 11;
constexpr int kIdentityEscapePoll = 20;
constexpr int kIdentityFastBaud = 38400;
constexpr int kIdentityReadMs = 5000;

constexpr int kWakeSliceMs = 100;

} // namespace

SerialLink::SerialLink(const std::string& devicePath)
    : control_(std::make_unique<SerialPortAdapter>()) {
    control_->SetDeviceOverride(devicePath);
    control_->SetWaitGuard([this] { return IsOpen(); });
    // A device that fails under an open link (an unplugged USB-serial
    // adapter) ends every wait, as a TCP disconnect does.
    control_->SetOnDeviceLost([this] {
        if (state_ > 0)
            state_ = kLinkFailed;
    });
}

SerialLink::~SerialLink() = default;

std::string SerialLink::PortLabel(int portNumber) const {
#ifdef _WIN32
    // Windows users know their ports as "COM n".
    if (control_->DeviceName() == SerialDeviceForPort(portNumber))
        return "COM " + std::to_string(portNumber);
#endif
    const std::string device = control_->DeviceName();
    // macOS numbers the ports it lists; a number past the list names none.
    return device.empty() ? "serial port " + std::to_string(portNumber) : device;
}

int SerialLink::InputCount() {
    return IsOpen() ? control_->InputCount() : -1;
}

int SerialLink::OutputCount() {
    return IsOpen() ? control_->OutputCount() : -1;
}

int SerialLink::PutByte(uint8_t b) {
    return IsOpen() ? control_->WriteByte(b) : -1;
}

int SerialLink::ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    return IsOpen() ? control_->ReadByteBufferTimed(buf, count, timeoutMs) : -1;
}

int SerialLink::ReadByteTimed(int timeoutMs) {
    return IsOpen() ? control_->ReadByteTimed(timeoutMs) : -1;
}

int SerialLink::PollByte() {
    return IsOpen() ? control_->ReadByte() : -1;
}

void SerialLink::ClearOutput() {
    control_->ClearTxBuffer();
}

void SerialLink::FlushInput() {
    while (IsOpen() && InputCount() > 0) {
        PollByte();
        PumpMessages();
    }
}

void SerialLink::AwaitInput(int maxMs) {
    control_->WaitForEvents(maxMs);
}

std::string SerialLink::LostText() const {
    if (control_->DeviceLost())
        return "serial device " + control_->DeviceName() + " lost (" + control_->ErrorText() + ")";
    return kFaultClosed;
}

int SerialLink::ReadByte() {
    if (!IsOpen())
        Fail("Port err. Getcom", LostText());
    PumpMessages();
    for (;;) {
        if (InputCount() >= 1) {
            const int b = ReadByteTimed(kReadByteTimeoutMs);
            if (b >= 0)
                return b;
        }
        if (!IsOpen())
            Fail("Port err. Getcom", LostText());
        AwaitInput(kWakeSliceMs);
    }
}

void SerialLink::WriteByte(uint8_t b) {
    for (;;) {
        if (!IsOpen())
            Fail("Port err. putcom", LostText());
        PumpMessages();
        if (PutByte(b) != -1)
            break;
    }
    // The byte has to leave before the next one goes: the instrument reads
    // at line pace.
    while (OutputCount() != 0) {
        if (!IsOpen())
            Fail("Port err.", LostText());
        AwaitInput(kWakeSliceMs);
    }
    if (byteDelayMs_ > 0)
        ActiveUiHooks().SleepMs(byteDelayMs_);
}

void SerialLink::Close() {
    if (!IsOpen())
        return;
    SetDtr(0);
    SetRts(0);
    SleepSeconds(1);
    state_ = kLinkClosed;
}

void SerialLink::ModemWrite(const std::string& text) {
    if (IsOpen())
        control_->WriteByteBuffer(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
}

int SerialLink::Open(int connection, int baudRate, const std::string& address, bool waitDsr,
                     const std::string& modemInit, int byteDelayMs) {
    byteDelayMs_ = byteDelayMs;
    control_->Close();

    // No flow control, both lines low; the line format is the control's
    // own 8 data bits, no parity, one stop bit.
    SetPortNumber(connection);
    SetRtsCts(0);
    SetDtrDsr(0);
    SetRts(0);
    SetDtr(0);
    SetXonXoff(0);

    state_ = kLinkClosed;
    SetBaudRate(baudRate);

    failureReason_.clear();
    failureFinal_ = false;
    if (!ActiveUiHooks().Confirm("Communication",
                                 "Connect Serial link < " + PortLabel(connection) +
                                     " > between computer and VARMEX/KELDO,\nthen press "
                                     "< OK > button")) {
        state_ = kLinkFailed;
        return 0;
    }

    if (control_->Open() <= 0) {
        // Say which device and why: a wrong path or a missing permission is
        // otherwise indistinguishable from an instrument that is off.
        failureReason_ = control_->DeviceName().empty()
                             ? "this computer has no serial port " + std::to_string(connection)
                             : "cannot open serial device " + control_->DeviceName() + ": " +
                                   control_->ErrorText();
        if (showOpenFailures)
            ActiveUiHooks().ShowMessage(failureReason_);
    } else {
        state_ = kLinkFailed;
        SetDtr(0);
        SetRts(0);
        ClearOutput();
        SleepSeconds(1);
        PumpMessages();
        SetRts(1);
        SetDtr(1);

        if (waitDsr) {
            const int64_t start = ActiveUiHooks().TickMs();
            while (GetDsr() == 0 && ActiveUiHooks().TickMs() - start < kDsrWaitMs)
                PumpMessages();
            if (GetDsr() == 0)
                return 0;
        }
        if (control_->DeviceLost()) {
            failureReason_ = LostText();
            return 0;
        }
        state_ = connection;

        if (!address.empty()) {
            ModemDialler modem(*this, [this](const std::string& text) { ModemWrite(text); });
            const ModemDialler::Result dial = modem.Dial(address, modemInit);
            if (dial == ModemDialler::Result::Refused) {
                // Dropping DTR makes the modem hang up.
                failureReason_ = "the modem did not connect to " + address;
                Close();
                return 0;
            }
            if (dial != ModemDialler::Result::Connected) {
                failureReason_ = "the modem dialogue for " + address + " failed";
                return 0;
            }
            SleepSeconds(1);
        }
    }

    ClearOutput();
    FlushInput();
    return state_ > 0 ? state_ : 0;
}

bool SerialLink::ReadIdentity(std::string& second, std::string& first) {
    first.clear();
    second.clear();
    try {
        int poll = 0;
        int savedBaud = GetBaudRate();
        for (;;) {
            if (!IsOpen())
                Fail(ReadErrorText(), LostText());
            ++poll;
            if (poll == kIdentityFastPoll) {
                // The instrument may still run at the other rate it knows.
                savedBaud = GetBaudRate();
                SetBaudRate(kIdentityFastBaud);
            } else if (poll == kIdentityEscapePoll) {
                SetBaudRate(savedBaud);
                ActiveUiHooks().SleepMs(100);
                SendCommand(kEscapeCommand, 2000);
                ActiveUiHooks().SleepMs(1000);
                poll = 1;
            }
            uint8_t b = 0;
            while (InputCount() > 0)
                ReadBufferTimed(&b, 1, kIdentityReadMs);
            WriteByte('@');
            ActiveUiHooks().SleepMs(100);
            if (control_->LineStatusError() != 0)
                control_->ClearLineStatus();
            else if (ReadBufferTimed(&b, 1, kIdentityReadMs) == 1 && b == '@')
                break;
        }
        return ReadLine(first, 40, 15000) && ReadLine(second, 40, 15000);
    } catch (const LinkError&) {
        ActiveUiHooks().ShowMessage("Unknown Baudrate");
        return false;
    }
}
