#pragma once
// SerialPortAdapter: a serial-port control with integer properties and simple byte
// methods, on QSerialPort. The serial link talks to the port only through
// it. Properties may be set while the port is closed; Open applies them.
//
// The control raises no events of its own: its owner polls the receive count
// and uses the timed reads, which sleep in the event loop (where the port's
// notifiers wake them) and keep the user interface live.
#include "link/SerialPortNames.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSerialPort;

// What the port may hold unread; a device that floods is then held back by
// the driver instead of filling the program's memory.
constexpr int64_t kSerialReadBufferLimit = 256 * 1024;

class SerialPortAdapter {
public:
    SerialPortAdapter();
    ~SerialPortAdapter();
    SerialPortAdapter(const SerialPortAdapter&) = delete;
    SerialPortAdapter& operator=(const SerialPortAdapter&) = delete;

    // A device path that replaces the one derived from the port number
    // (a USB-serial adapter, a pseudo-terminal); empty for none.
    void SetDeviceOverride(const std::string& path) { deviceOverride_ = path; }
    std::string DeviceName() const;

    // While a wait is in progress this is asked after every pump; false
    // ends the wait early (the link was closed meanwhile).
    void SetWaitGuard(std::function<bool()> guard) { waitGuard_ = std::move(guard); }
    // Called once when the device fails under the port (unplugged adapter,
    // hung-up terminal).
    void SetOnDeviceLost(std::function<void()> handler) { onDeviceLost_ = std::move(handler); }

    // ---- properties: written as given, read back unchanged ---------------
    void SetPortNumber(int n) { portNumber_ = n; }
    int PortNumber() const { return portNumber_; }
    void SetBaudRate(int baud);
    int BaudRate() const { return baudRate_; }
    // 0 none, 1 odd, 2 even, 3 mark, 4 space.
    void SetParity(int p);
    int Parity() const { return parity_; }
    // 5 to 8; anything else runs the line with 8.
    void SetDataBits(int n);
    int DataBits() const { return dataBits_; }
    // 2 for two stop bits; anything else runs the line with one.
    void SetStopBits(int n);
    int StopBits() const { return stopBits_; }
    void SetXonXoff(int on);
    int XonXoff() const { return xonXoff_; }
    // DTR/DSR flow control is kept as a setting only: the serial layer
    // offers RTS/CTS and XON/XOFF, not DTR/DSR.
    void SetDtrDsr(int on) { dtrDsr_ = on; }
    int DtrDsr() const { return dtrDsr_; }
    void SetRtsCts(int on);
    int RtsCts() const { return rtsCts_; }
    void SetDtr(int on);
    int Dtr() const { return dtr_; }
    void SetRts(int on);
    int Rts() const { return rts_; }
    // Non-zero while the DSR input is on.
    int Dsr();
    // Non-zero when a parity, framing, overrun or break error is pending.
    // The serial layer does not report these, so it stays 0 here.
    int LineStatusError() const { return 0; }
    // Received bytes waiting to be read (after taking in what arrived).
    int InputCount();
    // Bytes not yet handed to the device (after passing on what it takes).
    int OutputCount();

    // ---- methods ---------------------------------------------------------
    // A positive handle, or -1 when the device could not be opened.
    int Open();
    void Close();
    bool IsOpen() const;
    // True once the device failed under the open port.
    bool DeviceLost() const { return deviceLost_; }
    // The system's words for the last failure (open refused, device lost).
    std::string ErrorText() const;
    // Sleeps in the event loop until the port (or anything else) has news,
    // for at most maxMs.
    void WaitForEvents(int maxMs);
    // The next byte; call only when InputCount() is above 0 (-1 if none).
    int ReadByte();
    // The next byte within timeoutMs, or -1.
    int ReadByteTimed(int timeoutMs);
    // Up to count bytes within timeoutMs; the number placed in buf.
    int ReadByteBufferTimed(uint8_t* buf, int count, int timeoutMs);
    // Queues one byte: -1 when it was refused.
    int WriteByte(uint8_t b);
    // Queues count bytes.
    int WriteByteBuffer(const uint8_t* data, int count);
    void ClearTxBuffer();
    void ClearLineStatus();

private:
    void Service();
    bool KeepWaiting() const { return !waitGuard_ || waitGuard_(); }
    void ApplyLine();

    std::unique_ptr<QSerialPort> port_;
    std::string deviceOverride_;
    std::function<bool()> waitGuard_;
    std::function<void()> onDeviceLost_;
    bool deviceLost_ = false;
    int portNumber_ = 1;
    int baudRate_ = 115200;
    int parity_ = 0;
    int dataBits_ = 8;
    int stopBits_ = 1;
    int xonXoff_ = 0;
    int dtrDsr_ = 0;
    int rtsCts_ = 0;
    int dtr_ = 0;
    int rts_ = 0;
};
