#pragma once
// The instrument's end of a link: a TCP server that takes one monitor at a
// time, a pseudo-terminal, or an existing serial device. All waits are
// bounded by the caller's time-out.
#include "PtyAdapter.h"

#include <QElapsedTimer>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QSerialPort;

namespace varmexemu {

struct EmuOptions;

class EmuTransport {
public:
    virtual ~EmuTransport() = default;
    // Listens, creates or opens; false with error when that fails.
    virtual bool start(QString& error) = 0;
    // The first line of standard output: the port or the device path.
    virtual QString announcement() const = 0;
    virtual QString description() const = 0;
    // Waits for a monitor; timeoutMs 0 waits without limit.
    virtual bool waitForPeer(int timeoutMs) = 0;
    // Bytes read (> 0), 0 when nothing came in time, -1 when the peer is gone.
    virtual int read(uint8_t* buffer, int max, int timeoutMs) = 0;
    // false when the peer is gone or the bytes could not leave in time.
    virtual bool write(const uint8_t* data, int count, int timeoutMs) = 0;
    // Takes what the link accepts within waitMs without queueing more than
    // a few kilobytes in the emulator, so that a peer that does not read
    // cannot make the emulator grow: the bytes taken (0 when the link stayed
    // full), -1 when the peer is gone.
    virtual int offer(const uint8_t* data, int count, int waitMs) = 0;
    // Cuts the line to the current peer, as a pulled cable would.
    virtual void dropPeer() = 0;
    // Waits (at most timeoutMs) until the peer has taken what was written:
    // a line cut after a batch went out must not take that batch with it,
    // and a pseudo-terminal drops its unread queue when it is cut.
    virtual void waitUntilDelivered(int /*timeoutMs*/) {}
    // Ends the conversation in order (TCP: closes the connection; a
    // pseudo-terminal or serial line has nothing to close).
    virtual void closePeer() {}
    // Whether a later waitForPeer can find a new monitor.
    virtual bool canServeAgain() const = 0;
    // A TCP link delivers whole records in one read; the monitor waits
    // longer for a record there, which fault injection must respect.
    virtual bool isNetwork() const { return false; }

    static std::unique_ptr<EmuTransport> create(const EmuOptions& options);
};

class LateListener;

class TcpServerTransport : public EmuTransport {
public:
    // acceptDelayMs > 0: no connection handshake completes for that long
    // after listening starts (see LateListener).
    TcpServerTransport(const QString& host, int port, int acceptDelayMs = 0);
    ~TcpServerTransport() override;
    bool start(QString& error) override;
    QString announcement() const override;
    QString description() const override;
    bool waitForPeer(int timeoutMs) override;
    int read(uint8_t* buffer, int max, int timeoutMs) override;
    bool write(const uint8_t* data, int count, int timeoutMs) override;
    int offer(const uint8_t* data, int count, int waitMs) override;
    void dropPeer() override;
    void closePeer() override { dropPeer(); }
    bool canServeAgain() const override { return true; }
    bool isNetwork() const override { return true; }

private:
    // Waits out the accept delay, then takes the filler connection away so
    // that the monitor's next try gets through; false when timeoutMs (> 0)
    // ends first.
    bool openLateListener(int timeoutMs);

    QString host_;
    int port_;
    int acceptDelayMs_;
    std::unique_ptr<QTcpServer> server_;
    QTcpSocket* socket_ = nullptr;
    std::unique_ptr<LateListener> late_;
    QElapsedTimer listening_;
};

class PtyTransport : public EmuTransport {
public:
    ~PtyTransport() override;
    bool start(QString& error) override;
    QString announcement() const override;
    QString description() const override;
    bool waitForPeer(int timeoutMs) override;
    int read(uint8_t* buffer, int max, int timeoutMs) override;
    bool write(const uint8_t* data, int count, int timeoutMs) override;
    int offer(const uint8_t* data, int count, int waitMs) override;
    void dropPeer() override;
    void closePeer() override;
    void waitUntilDelivered(int timeoutMs) override;
    bool canServeAgain() const override { return handle_.fd >= 0; }

private:
    pty::PtyHandle handle_;
};

class SerialDeviceTransport : public EmuTransport {
public:
    SerialDeviceTransport(const QString& path, int baudRate);
    ~SerialDeviceTransport() override;
    bool start(QString& error) override;
    QString announcement() const override { return path_; }
    QString description() const override;
    bool waitForPeer(int) override;
    int read(uint8_t* buffer, int max, int timeoutMs) override;
    bool write(const uint8_t* data, int count, int timeoutMs) override;
    int offer(const uint8_t* data, int count, int waitMs) override;
    void dropPeer() override;
    bool canServeAgain() const override { return false; }

private:
    QString path_;
    int baudRate_;
    std::unique_ptr<QSerialPort> port_;
};

// A slower link in front of any transport: bytes leave no faster than a
// baud rate (ten bit times a byte, as on a serial line with one start and
// one stop bit), and a reply to the monitor leaves a fixed delay after the
// request came in, as over a slow radio link. Bytes are held back until
// their last bit would have crossed the line, so the monitor never sees them
// sooner than a real line would deliver them.
class PacedTransport : public EmuTransport {
public:
    PacedTransport(std::unique_ptr<EmuTransport> inner, int baud, int latencyMs);
    bool start(QString& error) override { return inner_->start(error); }
    QString announcement() const override { return inner_->announcement(); }
    QString description() const override;
    bool waitForPeer(int timeoutMs) override;
    int read(uint8_t* buffer, int max, int timeoutMs) override;
    bool write(const uint8_t* data, int count, int timeoutMs) override;
    int offer(const uint8_t* data, int count, int waitMs) override;
    void dropPeer() override;
    void closePeer() override { inner_->closePeer(); }
    void waitUntilDelivered(int timeoutMs) override { inner_->waitUntilDelivered(timeoutMs); }
    bool canServeAgain() const override { return inner_->canServeAgain(); }
    bool isNetwork() const override { return inner_->isNetwork(); }

private:
    using Clock = std::chrono::steady_clock;

    // Holds a reply back until the latency after its request has passed.
    void awaitReplyMoment();
    // Sleeps until count bytes, queued behind what is already on the line,
    // have crossed it; returns that moment.
    Clock::time_point crossLine(int count);
    Clock::duration lineTime(int count) const;

    std::unique_ptr<EmuTransport> inner_;
    int baud_;
    int latencyMs_;
    int chunk_; // bytes handed on at a time, a few milliseconds of line time
    Clock::time_point lineFreeAt_{};
    bool replyPending_ = false;
    Clock::time_point replyAt_{};
};

} // namespace varmexemu
