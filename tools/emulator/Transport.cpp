#include "Transport.h"

#include "EmuOptions.h"
#include "LateListener.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <thread>

namespace varmexemu {

namespace {

// Slice of a wait without limit, so that an unlimited wait is still a loop
// of bounded calls.
constexpr int kSliceMs = 200;

// What offer() lets wait in the emulator's own buffer: enough to keep the
// link busy, too little to matter however long a peer does not read.
constexpr qint64 kOfferQueueBytes = 64 * 1024;

// How long the filler of a late listener may take to show up once accepting
// resumes; it finished its handshake long before.
constexpr int kFillerAcceptMs = 2000;

int remainingMs(const QElapsedTimer& timer, int timeoutMs) {
    return std::max(0, timeoutMs - int(timer.elapsed()));
}

} // namespace

std::unique_ptr<EmuTransport> EmuTransport::create(const EmuOptions& o) {
    std::unique_ptr<EmuTransport> t;
    if (o.pty)
        t = std::make_unique<PtyTransport>();
    else if (!o.serialDevice.isEmpty())
        t = std::make_unique<SerialDeviceTransport>(o.serialDevice, o.baudRate);
    else
        t = std::make_unique<TcpServerTransport>(o.listenHost, o.listenPort, o.acceptDelayMs);
    if (o.paceBaud > 0 || o.latencyMs > 0)
        t = std::make_unique<PacedTransport>(std::move(t), o.paceBaud, o.latencyMs);
    return t;
}

// ---- TCP

TcpServerTransport::TcpServerTransport(const QString& host, int port, int acceptDelayMs)
    : host_(host), port_(port), acceptDelayMs_(acceptDelayMs) {}

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
    if (acceptDelayMs_ > 0) {
        late_ = std::make_unique<LateListener>();
        QString why;
        if (!late_->start(address, port_, why)) {
            error = QStringLiteral("cannot listen on %1:%2: %3").arg(host_).arg(port_).arg(why);
            return false;
        }
        const qintptr fd = late_->takeDescriptor();
        if (!server_->setSocketDescriptor(fd)) {
            error = QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(host_)
                        .arg(port_)
                        .arg(server_->errorString());
            return false;
        }
        // Nothing is taken from the backlog until the delay is over: the
        // filler keeps it full.
        server_->pauseAccepting();
        listening_.start();
        return true;
    }
    if (!server_->listen(address, quint16(port_))) {
        error = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(host_)
                    .arg(port_)
                    .arg(server_->errorString());
        return false;
    }
    return true;
}

bool TcpServerTransport::openLateListener(int timeoutMs) {
    const int left = std::max(0, acceptDelayMs_ - int(listening_.elapsed()));
    if (timeoutMs > 0 && timeoutMs < left) {
        QThread::msleep(unsigned(timeoutMs));
        return false;
    }
    QThread::msleep(unsigned(left));
    server_->resumeAccepting();
    // The filler is first in the backlog; a monitor's connection can only
    // follow it.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kFillerAcceptMs) {
        if (!server_->hasPendingConnections() && !server_->waitForNewConnection(kSliceMs))
            continue;
        QTcpSocket* s = server_->nextPendingConnection();
        if (!s)
            continue;
        if (s->peerPort() == late_->fillerPort()) {
            s->abort();
            delete s;
            break;
        }
        // Not the filler after all: serve it.
        socket_ = s;
        break;
    }
    late_.reset();
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
    if (late_ && !openLateListener(timeoutMs))
        return false;
    if (socket_) {
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
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

int TcpServerTransport::offer(const uint8_t* data, int count, int waitMs) {
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return -1;
    if (socket_->bytesToWrite() >= kOfferQueueBytes) {
        socket_->waitForBytesWritten(waitMs);
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return -1;
        if (socket_->bytesToWrite() >= kOfferQueueBytes)
            return 0;
    }
    const qint64 n = socket_->write(reinterpret_cast<const char*>(data), count);
    if (n < 0)
        return -1;
    socket_->flush();
    return int(n);
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

int PtyTransport::offer(const uint8_t* data, int count, int waitMs) {
    return pty::writeSome(handle_, data, count, waitMs);
}

void PtyTransport::dropPeer() {
    // The only way to cut a pseudo-terminal's line is to close it; the
    // monitor then sees its device fail, as with a pulled cable.
    pty::close(handle_);
}

void PtyTransport::closePeer() {
    pty::drain(handle_, 3000);
}

void PtyTransport::waitUntilDelivered(int timeoutMs) {
    pty::drain(handle_, timeoutMs);
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

int SerialDeviceTransport::offer(const uint8_t* data, int count, int waitMs) {
    if (!port_ || !port_->isOpen() || port_->error() == QSerialPort::ResourceError)
        return -1;
    if (port_->bytesToWrite() >= kOfferQueueBytes) {
        port_->waitForBytesWritten(waitMs);
        if (port_->error() == QSerialPort::ResourceError)
            return -1;
        if (port_->bytesToWrite() >= kOfferQueueBytes)
            return 0;
    }
    const qint64 n = port_->write(reinterpret_cast<const char*>(data), count);
    if (n < 0)
        return -1;
    port_->flush();
    return int(n);
}

void SerialDeviceTransport::dropPeer() {
    if (port_ && port_->isOpen())
        port_->close();
}

// ---- a slower line in front of any of them

PacedTransport::PacedTransport(std::unique_ptr<EmuTransport> inner, int baud, int latencyMs)
    : inner_(std::move(inner)), baud_(baud), latencyMs_(latencyMs),
      // About 4 ms of line time: short enough that the bytes trickle as on
      // a line, long enough that the sleeps stay few.
      chunk_(std::clamp(baud / 2500, 1, 1024)) {}

QString PacedTransport::description() const {
    QString d = inner_->description();
    if (baud_ > 0)
        d += QStringLiteral(", paced at %1 baud").arg(baud_);
    if (latencyMs_ > 0)
        d += QStringLiteral(", replies %1 ms late").arg(latencyMs_);
    return d;
}

bool PacedTransport::waitForPeer(int timeoutMs) {
    replyPending_ = false;
    lineFreeAt_ = Clock::time_point{};
    return inner_->waitForPeer(timeoutMs);
}

void PacedTransport::dropPeer() {
    replyPending_ = false;
    inner_->dropPeer();
}

int PacedTransport::read(uint8_t* buffer, int max, int timeoutMs) {
    const int n = inner_->read(buffer, max, timeoutMs);
    // The first byte of a request starts the delay of the reply to it.
    if (n > 0 && latencyMs_ > 0 && !replyPending_) {
        replyPending_ = true;
        replyAt_ = Clock::now() + std::chrono::milliseconds(latencyMs_);
    }
    return n;
}

void PacedTransport::awaitReplyMoment() {
    if (!replyPending_)
        return;
    replyPending_ = false;
    std::this_thread::sleep_until(replyAt_);
}

PacedTransport::Clock::duration PacedTransport::lineTime(int count) const {
    // Ten bit times a byte, rounded up so that the line is never faster
    // than its rate.
    const int64_t ns = (int64_t(count) * 10'000'000'000LL + baud_ - 1) / baud_;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

PacedTransport::Clock::time_point PacedTransport::crossLine(int count) {
    const Clock::time_point done = std::max(Clock::now(), lineFreeAt_) + lineTime(count);
    std::this_thread::sleep_until(done);
    return done;
}

bool PacedTransport::write(const uint8_t* data, int count, int timeoutMs) {
    awaitReplyMoment();
    if (baud_ <= 0)
        return inner_->write(data, count, timeoutMs);
    for (int done = 0; done < count;) {
        const int n = std::min(chunk_, count - done);
        lineFreeAt_ = crossLine(n);
        if (!inner_->write(data + done, n, timeoutMs))
            return false;
        done += n;
    }
    return true;
}

int PacedTransport::offer(const uint8_t* data, int count, int waitMs) {
    awaitReplyMoment();
    if (baud_ <= 0)
        return inner_->offer(data, count, waitMs);
    const int n = std::min(chunk_, count);
    const Clock::time_point done = crossLine(n);
    const int taken = inner_->offer(data, n, waitMs);
    if (taken > 0)
        lineFreeAt_ = done;
    return taken;
}

} // namespace varmexemu
