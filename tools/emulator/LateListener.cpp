#include "LateListener.h"

#if defined(__unix__) || defined(__APPLE__)

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varmexemu {

namespace {

// The filler's handshake runs on the local host and completes at once; a
// filler that is not through after this long never will be.
constexpr int kFillerConnectMs = 2000;

QString systemError(const char* call) {
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// The socket address of address:port; false for an address that is
// neither IPv4 nor IPv6.
bool toSockaddr(const QHostAddress& address, int port, sockaddr_storage& out, socklen_t& size) {
    std::memset(&out, 0, sizeof out);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(uint16_t(port));
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof(sockaddr_in);
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(uint16_t(port));
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, a.c, 16);
        size = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

int portOf(const sockaddr_storage& s) {
    if (s.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&s)->sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&s)->sin6_port);
}

} // namespace

LateListener::~LateListener() {
    dropFiller();
    if (listenFd_ >= 0)
        ::close(int(listenFd_));
}

qintptr LateListener::takeDescriptor() {
    const qintptr fd = listenFd_;
    listenFd_ = -1;
    return fd;
}

void LateListener::dropFiller() {
    if (fillerFd_ >= 0)
        ::close(fillerFd_);
    fillerFd_ = -1;
}

bool LateListener::start(const QHostAddress& address, int port, QString& error) {
    sockaddr_storage local;
    socklen_t localSize = 0;
    if (!toSockaddr(address, port, local, localSize)) {
        error = QStringLiteral("not an IP address: ") + address.toString();
        return false;
    }
    const int fd = ::socket(local.ss_family, SOCK_STREAM, 0);
    if (fd < 0) {
        error = systemError("socket");
        return false;
    }
    listenFd_ = fd;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), localSize) != 0) {
        error = systemError("bind");
        return false;
    }
    // A backlog of 0 holds one finished handshake: the filler's.
    if (::listen(fd, 0) != 0) {
        error = systemError("listen");
        return false;
    }
    sockaddr_storage bound;
    socklen_t boundSize = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
        error = systemError("getsockname");
        return false;
    }

    // The filler connects to the address actually bound (a wildcard
    // address reaches the local host).
    sockaddr_storage target = bound;
    if (address.isEqual(QHostAddress::AnyIPv4))
        reinterpret_cast<sockaddr_in*>(&target)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    else if (address.isEqual(QHostAddress::AnyIPv6))
        reinterpret_cast<sockaddr_in6*>(&target)->sin6_addr = in6addr_loopback;
    fillerFd_ = ::socket(target.ss_family, SOCK_STREAM, 0);
    if (fillerFd_ < 0) {
        error = systemError("socket");
        return false;
    }
    ::fcntl(fillerFd_, F_SETFL, ::fcntl(fillerFd_, F_GETFL) | O_NONBLOCK);
    if (::connect(fillerFd_, reinterpret_cast<sockaddr*>(&target), boundSize) != 0 &&
        errno != EINPROGRESS) {
        error = systemError("connect");
        return false;
    }
    pollfd p{fillerFd_, POLLOUT, 0};
    int soError = 0;
    socklen_t soErrorSize = sizeof soError;
    if (::poll(&p, 1, kFillerConnectMs) != 1 ||
        ::getsockopt(fillerFd_, SOL_SOCKET, SO_ERROR, &soError, &soErrorSize) != 0 ||
        soError != 0) {
        // With SYN cookies off the kernel takes no handshake at all into a
        // backlog of 0.
        error = QStringLiteral("the late listener could not fill its own backlog "
                               "(are TCP SYN cookies off?)");
        return false;
    }
    sockaddr_storage fillerLocal;
    socklen_t fillerSize = sizeof fillerLocal;
    if (::getsockname(fillerFd_, reinterpret_cast<sockaddr*>(&fillerLocal), &fillerSize) != 0) {
        error = systemError("getsockname");
        return false;
    }
    fillerPort_ = portOf(fillerLocal);
    return true;
}

} // namespace varmexemu

#else

namespace varmexemu {

LateListener::~LateListener() = default;

qintptr LateListener::takeDescriptor() {
    return -1;
}

void LateListener::dropFiller() {}

bool LateListener::start(const QHostAddress&, int, QString& error) {
    error = QStringLiteral("a late listener needs POSIX sockets");
    return false;
}

} // namespace varmexemu

#endif
