#pragma once
// The USB link (connection code 99): the instrument's FTDI USB-serial
// bridge as a 273000-baud 8N1 line, through FtdiApi. Only a device that
// identifies as the instrument (see link/UsbIdentity.h) is ever opened.
#include "link/FtdiApi.h"
#include "link/Link.h"
#include "link/UsbIdentity.h"

#include <string>
#include <vector>

// Attached instruments (other USB-serial adapters are not counted); 0 when
// the listing fails. extra: the instrument IDs the operator gave. Without
// arguments: the FTDI calls and IDs of DefaultLinkOptions().
int UsbDeviceCount();
int UsbDeviceCount(FtdiApi& api, const std::vector<UsbId>& extra = {});

constexpr int kUsbOpenAttempts = 501;
constexpr int kUsbOpenRetryMs = 15;

class UsbLink : public Link {
public:
    // api: the FTDI calls to use; the one in force (ActiveFtdiApi()) when
    // null. extraIds: instrument IDs besides FTDI's own.
    explicit UsbLink(FtdiApi* api = nullptr, std::vector<UsbId> extraIds = {});
    ~UsbLink() override;

    int ReadByte() override;
    void Close() override;
    int Open(int connection, int baudRate, const std::string& address, bool waitDsr,
             const std::string& modemInit, int byteDelayMs) override;
    void WriteByte(uint8_t b) override;
    bool ReadIdentity(std::string& second, std::string& first) override;
    void FlushInput() override;
    void ClearOutput() override;
    int PutByte(uint8_t b) override;
    int ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) override;
    int ReadByteTimed(int timeoutMs) override;
    int PollByte() override;
    void SetBaudRate(int baud) override;
    void SetParity(int p) override;
    void SetDataBits(int n) override;
    void SetStopBits(int n) override;
    void SetXonXoff(int on) override;
    void SetDtrDsr(int on) override;
    void SetRtsCts(int on) override;
    void SetDtr(int on) override;
    void SetRts(int on) override;
    int InputCount() override;
    int OutputCount() override;
    int GetPortNumber() override { return 0; }
    int GetBaudRate() override { return 0; }
    int GetDataBits() override { return wordLength_ == 7 ? 7 : 8; }
    int GetStopBits() override { return stopBits_ == 2 ? 2 : 1; }
    int GetXonXoff() override { return xonXoff_; }
    int GetParity() override { return parity_ >= 1 && parity_ <= 4 ? parity_ : 0; }
    int GetDtrDsr() override { return dtrDsr_; }
    int GetRtsCts() override { return rtsCts_; }
    int GetDtr() override { return dtr_; }
    int GetRts() override { return rts_; }
    int GetDsr() override;
    void SetLatency(int ms) override;
    int MaxBaudRate() override { return 273000; }
    std::string LinkName() override { return "USB"; }
    std::string VersionText() override;

    // The device the link holds open (its location empty when none).
    const UsbDevice& OpenedDevice() const { return opened_; }

protected:
    bool WaitClosed() override;
    // Lets libusb wait for the device's input, at most one latency period
    // at a time so that the window stays live, then pumps.
    void AwaitInput(int maxMs) override;

private:
    // The attached instruments, first the one to open.
    std::vector<UsbDevice> Instruments();
    // After an OK to the connect prompt: gives a cable just plugged in the
    // moment the system needs to announce it.
    std::vector<UsbDevice> WaitForInstrument();
    void ExplainOpenFailure(FtStatus status, const std::string& error);
    // What the device has received, up to count bytes, without waiting.
    int Receive(uint8_t* buf, int count);
    // True when a device query failed; drops the state to -1 when the
    // device is gone.
    bool QueryFailed(FtStatus status);
    void Release();
    void ApplyDataCharacteristics();
    void ApplyFlowControl(uint16_t mode);
    // Microseconds one byte takes on the line in the format in force.
    int64_t ByteMicroseconds() const;

    FtdiApi& api_;
    std::vector<UsbId> extraIds_;
    FtdiApi::Handle handle_ = nullptr;
    UsbDevice opened_;
    int wordLength_ = 8;
    int stopBits_ = 0;
    int parity_ = 0;
    int xonXoff_ = 0;
    int dtrDsr_ = 0;
    int rtsCts_ = 0;
    int dtr_ = 0;
    int rts_ = 0;
    int byteDelayMs_ = 0;
    // The rate the device runs at (GetBaudRate answers 0 on this link).
    int baudRate_ = 0;
    // The device's latency timer: the longest the link waits on an idle
    // device before it pumps again.
    int latencyMs_ = 16;
    // The read time-out last given to the device (-1: not known).
    int readTimeoutMs_ = -1;
};
