#pragma once
// The instrument's end of a link: a TCP server that takes one monitor at a
// time, a pseudo-terminal, or an existing serial device. All waits are
// bounded by the caller's time-out.
#include "PtyAdapter.h"

#include <QString>
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
    // Cuts the line to the current peer, as a pulled cable would.
    virtual void dropPeer() = 0;
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

class TcpServerTransport : public EmuTransport {
public:
    TcpServerTransport(const QString& host, int port);
    ~TcpServerTransport() override;
    bool start(QString& error) override;
    QString announcement() const override;
    QString description() const override;
    bool waitForPeer(int timeoutMs) override;
    int read(uint8_t* buffer, int max, int timeoutMs) override;
    bool write(const uint8_t* data, int count, int timeoutMs) override;
    void dropPeer() override;
    void closePeer() override { dropPeer(); }
    bool canServeAgain() const override { return true; }
    bool isNetwork() const override { return true; }

private:
    QString host_;
    int port_;
    std::unique_ptr<QTcpServer> server_;
    QTcpSocket* socket_ = nullptr;
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
    void dropPeer() override;
    void closePeer() override;
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
    void dropPeer() override;
    bool canServeAgain() const override { return false; }

private:
    QString path_;
    int baudRate_;
    std::unique_ptr<QSerialPort> port_;
};

} // namespace varmexemu
