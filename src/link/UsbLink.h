#pragma once
// The USB link (connection code 99): the instrument's FTDI USB-serial
// bridge, device 0, as a 273000-baud 8N1 line, through FtdiApi.
#include "link/FtdiApi.h"
#include "link/Link.h"

#include <string>

// Attached FTDI devices; 0 when the listing fails.
int UsbDeviceCount();
int UsbDeviceCount(FtdiApi& api);

constexpr int kUsbOpenAttempts = 501;
constexpr int kUsbOpenRetryMs = 15;

class UsbLink : public Link {
public:
    // api: the FTDI calls to use; the one in force (ActiveFtdiApi()) when null.
    explicit UsbLink(FtdiApi* api = nullptr);
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

protected:
    bool WaitClosed() override;

private:
    // True when a device query failed; drops the state to -1 when the
    // device is gone.
    bool QueryFailed(FtStatus status);
    void ApplyDataCharacteristics();
    void ApplyFlowControl(uint16_t mode);

    FtdiApi& api_;
    FtdiApi::Handle handle_ = nullptr;
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
};
