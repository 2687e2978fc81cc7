#pragma once
// The serial link (every connection code but 99, 100 and 200; the code is
// the port number), optionally through a modem that dials the address as a
// telephone number (ModemDialler). The port is driven through
// SerialPortAdapter.
#include "link/Link.h"
#include "link/SerialPortAdapter.h"

#include <memory>
#include <string>

// How long Open waits for the DSR line when asked to.
constexpr int kDsrWaitMs = 5000;

class SerialLink : public Link {
public:
    // devicePath replaces the device the port number stands for.
    explicit SerialLink(const std::string& devicePath = {});
    ~SerialLink() override;

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
    void SetPortNumber(int n) override { control_->SetPortNumber(n); }
    void SetBaudRate(int baud) override { control_->SetBaudRate(baud); }
    void SetParity(int p) override { control_->SetParity(p); }
    void SetDataBits(int n) override { control_->SetDataBits(n); }
    void SetStopBits(int n) override { control_->SetStopBits(n); }
    void SetXonXoff(int on) override { control_->SetXonXoff(on); }
    void SetDtrDsr(int on) override { control_->SetDtrDsr(on); }
    void SetRtsCts(int on) override { control_->SetRtsCts(on); }
    void SetDtr(int on) override { control_->SetDtr(on); }
    void SetRts(int on) override { control_->SetRts(on); }
    int InputCount() override;
    int OutputCount() override;
    int GetPortNumber() override { return control_->PortNumber(); }
    int GetBaudRate() override { return control_->BaudRate(); }
    int GetDataBits() override { return control_->DataBits(); }
    int GetStopBits() override { return control_->StopBits(); }
    int GetXonXoff() override { return control_->XonXoff(); }
    int GetParity() override { return control_->Parity(); }
    int GetDtrDsr() override { return control_->DtrDsr(); }
    int GetRtsCts() override { return control_->RtsCts(); }
    int GetDtr() override { return control_->Dtr(); }
    int GetRts() override { return control_->Rts(); }
    int GetDsr() override { return control_->Dsr(); }
    int MaxBaudRate() override { return 115200; }
    std::string LinkName() override { return "RS232"; }
    std::string VersionText() override { return "NA"; }

    SerialPortAdapter& Control() { return *control_; }

protected:
    void AwaitInput(int maxMs) override;

private:
    // The port as the prompt names it: the device path ("COM n" on Windows).
    std::string PortLabel(int portNumber) const;
    // The fault of a link found closed: a lost device names itself.
    std::string LostText() const;
    // Writes a modem command in one piece.
    void ModemWrite(const std::string& text);

    std::unique_ptr<SerialPortAdapter> control_;
    int byteDelayMs_ = 0;
};
