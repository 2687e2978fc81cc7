#pragma once
// A TCP listener whose handshakes come late, as behind a slow Wi-Fi
// module: the socket listens with a backlog of 0, and a connection of the
// emulator's own fills that backlog, so that the kernel drops the monitor's
// connection requests until the filler is taken away. The client's own
// retries (about 1 s, then 3 s after its first try) get through afterwards.
//
// POSIX sockets only; elsewhere start() reports that the late listener is
// not available.
#include <QHostAddress>
#include <QString>

namespace varmexemu {

class LateListener {
public:
    LateListener() = default;
    ~LateListener();
    LateListener(const LateListener&) = delete;
    LateListener& operator=(const LateListener&) = delete;

    // Listens on address:port (0: a free port) with a backlog of 0 and
    // connects the filler, whose handshake completes into that backlog.
    bool start(const QHostAddress& address, int port, QString& error);
    // Hands the listening socket over; the caller then owns it.
    qintptr takeDescriptor();
    // The filler's local port, by which its accepted end is recognised.
    int fillerPort() const { return fillerPort_; }
    // Closes the emulator's end of the filler connection.
    void dropFiller();

private:
    qintptr listenFd_ = -1;
    int fillerFd_ = -1;
    int fillerPort_ = 0;
};

} // namespace varmexemu
