#include "Transport.h"

#include "EmuOptions.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

namespace varmexemu {

namespace {

// Slice of a wait without limit, so that an unlimited wait is still a loop
// of bounded calls.
constexpr int kSliceMs = 200;

int remainingMs(const QElapsedTimer& timer, int timeoutMs) {
    return std::max(0, timeoutMs - int(timer.elapsed()));
}

} // namespace

std::unique_ptr<EmuTransport> EmuTransport::create(const EmuOptions& o) {
    if (o.pty)
        return std::make_unique<PtyTransport>();
    if (!o.serialDevice.isEmpty())
        return std::make_unique<SerialDeviceTransport>(o.serialDevice, o.baudRate);
    return std::make_unique<TcpServerTransport>(o.listenHost, o.listenPort);
}

// ---- TCP

TcpServerTransport::TcpServerTransport(const QString& host, int port) : host_(host), port_(port) {}

TcpServerTransport::~TcpServerTransport() {
    dropPeer();
}

bool TcpServerTransport::start(QString& error) {
    QHostAddress address;
    if (host_ == QLatin1String("localhost"))
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host_)) {
        error = QStringLiteral("not an IP address: ") + host_;
        return false;
    }
    server_ = std::make_unique<QTcpServer>();
    server_->setMaxPendingConnections(1);
    if (!server_->listen(address, quint16(port_))) {
        error = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(host_)
                    .arg(port_)
                    .arg(server_->errorString());
        return false;
    }
    return true;
}

QString TcpServerTransport::announcement() const {
    return QString::number(server_ ? server_->serverPort() : 0);
}

QString TcpServerTransport::description() const {
    return QStringLiteral("TCP %1:%2").arg(host_).arg(server_ ? server_->serverPort() : 0);
}

bool TcpServerTransport::waitForPeer(int timeoutMs) {
    dropPeer();
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int slice =
            timeoutMs > 0 ? std::min(kSliceMs, remainingMs(timer, timeoutMs)) : kSliceMs;
        if (server_->hasPendingConnections() || server_->waitForNewConnection(slice)) {
            socket_ = server_->nextPendingConnection();
            if (socket_) {
                socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                return true;
            }
        }
        if (timeoutMs > 0 && timer.elapsed() >= timeoutMs)
            return false;
    }
}

int TcpServerTransport::read(uint8_t* buffer, int max, int timeoutMs) {
    if (!socket_)
        return -1;
    if (socket_->bytesAvailable() == 0) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return -1;
        if (!socket_->waitForReadyRead(std::max(0, timeoutMs))) {
            if (socket_->bytesAvailable() == 0)
                return socket_->state() == QAbstractSocket::ConnectedState ? 0 : -1;
        }
    }
    const qint64 n = socket_->read(reinterpret_cast<char*>(buffer), max);
    if (n < 0)
        return -1;
    return int(n);
}

bool TcpServerTransport::write(const uint8_t* data, int count, int timeoutMs) {
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return false;
    if (socket_->write(reinterpret_cast<const char*>(data), count) != count)
        return false;
    QElapsedTimer timer;
    timer.start();
    while (socket_->bytesToWrite() > 0) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return false;
        const int left = remainingMs(timer, timeoutMs);
        if (left == 0)
            return false;
        socket_->waitForBytesWritten(std::min(left, kSliceMs));
    }
    return true;
}

void TcpServerTransport::dropPeer() {
    // An orderly close: what was sent before the cut still arrives.
    if (socket_) {
        socket_->disconnectFromHost();
        if (socket_->state() != QAbstractSocket::UnconnectedState)
            socket_->waitForDisconnected(2000);
        delete socket_;
        socket_ = nullptr;
    }
}

// ---- pseudo-terminal

PtyTransport::~PtyTransport() {
    pty::close(handle_);
}

bool PtyTransport::start(QString& error) {
    std::string e;
    if (!pty::create(handle_, e)) {
        error = QString::fromStdString(e);
        return false;
    }
    return true;
}

QString PtyTransport::announcement() const {
    return QString::fromStdString(handle_.slavePath);
}

QString PtyTransport::description() const {
    return QStringLiteral("pseudo-terminal ") + announcement();
}

bool PtyTransport::waitForPeer(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pty::peerAttached(handle_)) {
        if (handle_.fd < 0 || (timeoutMs > 0 && timer.elapsed() >= timeoutMs))
            return false;
        QThread::msleep(20);
    }
    return true;
}

int PtyTransport::read(uint8_t* buffer, int max, int timeoutMs) {
    switch (pty::waitReadable(handle_, timeoutMs)) {
    case pty::PollResult::Timeout:
        return 0;
    case pty::PollResult::HungUp:
        return -1;
    case pty::PollResult::Ready:
        break;
    }
    return pty::readSome(handle_, buffer, max);
}

bool PtyTransport::write(const uint8_t* data, int count, int timeoutMs) {
    return pty::writeAll(handle_, data, count, timeoutMs);
}

void PtyTransport::dropPeer() {
    // The only way to cut a pseudo-terminal's line is to close it; the
    // monitor then sees its device fail, as with a pulled cable.
    pty::close(handle_);
}

void PtyTransport::closePeer() {
    pty::drain(handle_, 3000);
}

// ---- serial device

SerialDeviceTransport::SerialDeviceTransport(const QString& path, int baudRate)
    : path_(path), baudRate_(baudRate) {}

SerialDeviceTransport::~SerialDeviceTransport() {
    dropPeer();
}

bool SerialDeviceTransport::start(QString& error) {
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(path_);
    if (!port_->open(QIODevice::ReadWrite)) {
        error = QStringLiteral("cannot open %1: %2").arg(path_, port_->errorString());
        return false;
    }
    port_->setBaudRate(baudRate_);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

QString SerialDeviceTransport::description() const {
    return QStringLiteral("serial device %1 at %2 baud").arg(path_).arg(baudRate_);
}

bool SerialDeviceTransport::waitForPeer(int) {
    return port_ && port_->isOpen();
}

int SerialDeviceTransport::read(uint8_t* buffer, int max, int timeoutMs) {
    if (!port_ || !port_->isOpen())
        return -1;
    if (port_->bytesAvailable() == 0) {
        if (!port_->waitForReadyRead(std::max(0, timeoutMs))) {
            if (port_->error() == QSerialPort::ResourceError)
                return -1;
            if (port_->bytesAvailable() == 0)
                return 0;
        }
    }
    const qint64 n = port_->read(reinterpret_cast<char*>(buffer), max);
    return n < 0 ? -1 : int(n);
}

bool SerialDeviceTransport::write(const uint8_t* data, int count, int timeoutMs) {
    if (!port_ || !port_->isOpen())
        return false;
    if (port_->write(reinterpret_cast<const char*>(data), count) != count)
        return false;
    QElapsedTimer timer;
    timer.start();
    // A pseudo-terminal behind the device does not pace the bytes: watch the
    // queue rather than trusting one waitForBytesWritten.
    while (port_->bytesToWrite() > 0) {
        if (port_->error() == QSerialPort::ResourceError)
            return false;
        const int left = remainingMs(timer, timeoutMs);
        if (left == 0)
            return false;
        port_->waitForBytesWritten(std::min(left, kSliceMs));
    }
    return true;
}

void SerialDeviceTransport::dropPeer() {
    if (port_ && port_->isOpen())
        port_->close();
}

} // namespace varmexemu
