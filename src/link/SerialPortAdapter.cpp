#include "link/SerialPortAdapter.h"

#include "link/UiHooks.h"

#include <QSerialPort>
#include <QString>

#include <algorithm>

namespace {

// Longest a wait sleeps before it looks at the clock and the link again;
// input, a click or a lost device wake it sooner.
constexpr int kWakeSliceMs = 100;

QSerialPort::Parity ToQtParity(int p) {
    switch (p) {
    case 1:
        return QSerialPort::OddParity;
    case 2:
        return QSerialPort::EvenParity;
    case 3:
        return QSerialPort::MarkParity;
    case 4:
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::DataBits ToQtDataBits(int n) {
    switch (n) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    default:
        return QSerialPort::Data8;
    }
}

} // namespace

SerialPortAdapter::SerialPortAdapter() : port_(std::make_unique<QSerialPort>()) {
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) {
                         // A read or write that fails for another reason
                         // than "nothing yet" means the device is gone.
                         const bool lost = error == QSerialPort::ResourceError ||
                                           error == QSerialPort::ReadError ||
                                           error == QSerialPort::WriteError;
                         if (lost && port_->isOpen() && !deviceLost_) {
                             deviceLost_ = true;
                             if (onDeviceLost_)
                                 onDeviceLost_();
                         }
                     });
}

SerialPortAdapter::~SerialPortAdapter() {
    port_->disconnect();
    Close();
}

std::string SerialPortAdapter::DeviceName() const {
    return deviceOverride_.empty() ? SerialDeviceForPort(portNumber_) : deviceOverride_;
}

bool SerialPortAdapter::IsOpen() const {
    return port_->isOpen();
}

void SerialPortAdapter::SetBaudRate(int baud) {
    baudRate_ = baud;
    if (port_->isOpen() && baud > 0)
        port_->setBaudRate(baud);
}

void SerialPortAdapter::SetParity(int p) {
    parity_ = p;
    if (port_->isOpen())
        port_->setParity(ToQtParity(p));
}

void SerialPortAdapter::SetDataBits(int n) {
    dataBits_ = n;
    if (port_->isOpen())
        port_->setDataBits(ToQtDataBits(n));
}

void SerialPortAdapter::SetStopBits(int n) {
    stopBits_ = n;
    if (port_->isOpen())
        port_->setStopBits(n == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
}

void SerialPortAdapter::SetXonXoff(int on) {
    xonXoff_ = on;
    ApplyLine();
}

void SerialPortAdapter::SetRtsCts(int on) {
    rtsCts_ = on;
    ApplyLine();
}

void SerialPortAdapter::SetDtr(int on) {
    dtr_ = on;
    if (port_->isOpen()) {
        port_->setDataTerminalReady(on != 0);
        // Terminals without modem lines (pseudo-terminals) refuse this.
        port_->clearError();
    }
}

void SerialPortAdapter::SetRts(int on) {
    rts_ = on;
    // Under RTS/CTS flow control the line belongs to the driver.
    if (port_->isOpen() && port_->flowControl() != QSerialPort::HardwareControl) {
        port_->setRequestToSend(on != 0);
        port_->clearError();
    }
}

void SerialPortAdapter::ApplyLine() {
    if (!port_->isOpen())
        return;
    if (baudRate_ > 0)
        port_->setBaudRate(baudRate_);
    port_->setDataBits(ToQtDataBits(dataBits_));
    port_->setParity(ToQtParity(parity_));
    port_->setStopBits(stopBits_ == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_->setFlowControl(rtsCts_    ? QSerialPort::HardwareControl
                          : xonXoff_ ? QSerialPort::SoftwareControl
                                     : QSerialPort::NoFlowControl);
    port_->clearError();
}

int SerialPortAdapter::Dsr() {
    if (!port_->isOpen())
        return 0;
    const bool on = port_->pinoutSignals().testFlag(QSerialPort::DataSetReadySignal);
    port_->clearError();
    return on ? 1 : 0;
}

int SerialPortAdapter::Open() {
    Close();
    deviceLost_ = false;
    port_->setPortName(QString::fromStdString(DeviceName()));
    if (!port_->open(QIODevice::ReadWrite))
        return -1;
    port_->setReadBufferSize(kSerialReadBufferLimit);
    ApplyLine();
    SetDtr(dtr_);
    SetRts(rts_);
    return 1;
}

void SerialPortAdapter::Close() {
    if (port_->isOpen())
        port_->close();
    port_->clearError();
}

std::string SerialPortAdapter::ErrorText() const {
    return port_->errorString().toStdString();
}

void SerialPortAdapter::Service() {
    if (!port_->isOpen() || deviceLost_)
        return;
    // Takes in what arrived and passes on what is queued, without waiting;
    // a full read buffer is left alone until it has been read.
    if (port_->bytesAvailable() < kSerialReadBufferLimit)
        port_->waitForReadyRead(0);
    if (port_->error() == QSerialPort::TimeoutError)
        port_->clearError();
}

void SerialPortAdapter::WaitForEvents(int maxMs) {
    // The port's notifiers are events: the sleep ends when bytes arrive,
    // when queued bytes have left, or when the device fails.
    ActiveUiHooks().WaitForEvents(maxMs);
}

int SerialPortAdapter::InputCount() {
    if (!port_->isOpen())
        return 0;
    if (port_->bytesAvailable() == 0)
        Service();
    return int(std::min<qint64>(port_->bytesAvailable(), INT32_MAX));
}

int SerialPortAdapter::OutputCount() {
    if (!port_->isOpen())
        return 0;
    if (port_->bytesToWrite() > 0 && !deviceLost_) {
        port_->waitForBytesWritten(0);
        if (port_->error() == QSerialPort::TimeoutError)
            port_->clearError();
    }
    return int(std::min<qint64>(port_->bytesToWrite(), INT32_MAX));
}

int SerialPortAdapter::ReadByte() {
    if (!port_->isOpen())
        return -1;
    if (port_->bytesAvailable() == 0)
        Service();
    char c = 0;
    return port_->getChar(&c) ? uint8_t(c) : -1;
}

int SerialPortAdapter::ReadByteTimed(int timeoutMs) {
    uint8_t b = 0;
    return ReadByteBufferTimed(&b, 1, timeoutMs) == 1 ? b : -1;
}

int SerialPortAdapter::ReadByteBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    if (!port_->isOpen() || count <= 0)
        return 0;
    // Bytes are taken as they come, so that a read larger than the port's
    // buffer still completes.
    const int64_t start = ActiveUiHooks().TickMs();
    int got = 0;
    for (;;) {
        if (port_->bytesAvailable() < count - got)
            Service();
        const qint64 n = std::min<qint64>(port_->bytesAvailable(), count - got);
        if (n > 0)
            got += int(std::max<qint64>(0, port_->read(reinterpret_cast<char*>(buf) + got, n)));
        if (got >= count || deviceLost_)
            break;
        const int64_t left = timeoutMs - (ActiveUiHooks().TickMs() - start);
        if (left < 0 || !KeepWaiting())
            break;
        WaitForEvents(int(std::min<int64_t>(left + 1, kWakeSliceMs)));
        if (!port_->isOpen() || !KeepWaiting())
            break;
    }
    return got;
}

int SerialPortAdapter::WriteByte(uint8_t b) {
    if (!port_->isOpen() || deviceLost_)
        return -1;
    const char c = char(b);
    if (port_->write(&c, 1) != 1)
        return -1;
    port_->flush();
    return 1;
}

int SerialPortAdapter::WriteByteBuffer(const uint8_t* data, int count) {
    if (!port_->isOpen() || deviceLost_ || count <= 0)
        return 0;
    const qint64 n = port_->write(reinterpret_cast<const char*>(data), count);
    port_->flush();
    return int(std::max<qint64>(n, 0));
}

void SerialPortAdapter::ClearTxBuffer() {
    if (port_->isOpen())
        port_->clear(QSerialPort::Output);
}

void SerialPortAdapter::ClearLineStatus() {
    if (port_->isOpen() && !deviceLost_)
        port_->clearError();
}
