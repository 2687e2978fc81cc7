#include "PtyAdapter.h"

#if defined(__unix__) || defined(__APPLE__)

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace varmexemu::pty {

bool create(PtyHandle& h, std::string& error) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        error = std::string("grantpt/unlockpt: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    const char* name = ::ptsname(fd);
    if (!name) {
        error = std::string("ptsname: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Settings made through the master apply to the slave side and stay
    // when the monitor opens and closes it.
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    h.fd = fd;
    h.slavePath = name;
    return true;
}

void close(PtyHandle& h) {
    if (h.fd >= 0)
        ::close(h.fd);
    h.fd = -1;
}

bool peerAttached(const PtyHandle& h) {
    if (h.fd < 0)
        return false;
    pollfd p{h.fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

PollResult waitReadable(const PtyHandle& h, int timeoutMs) {
    if (h.fd < 0)
        return PollResult::HungUp;
    pollfd p{h.fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return PollResult::HungUp;
    if (r == 0)
        return PollResult::Timeout;
    if (p.revents & POLLIN)
        return PollResult::Ready;
    return PollResult::HungUp;
}

int readSome(const PtyHandle& h, uint8_t* buffer, int max) {
    for (;;) {
        const ssize_t n = ::read(h.fd, buffer, size_t(max));
        if (n > 0)
            return int(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return -1; // EIO: the slave side was closed
    }
}

bool writeAll(const PtyHandle& h, const uint8_t* data, int count, int timeoutMs) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(h.fd, data + done, size_t(count - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{h.fd, POLLOUT, 0};
        if (::poll(&p, 1, int(left)) <= 0 || (p.revents & (POLLHUP | POLLERR)))
            return false;
    }
    return true;
}

int writeSome(const PtyHandle& h, const uint8_t* data, int count, int timeoutMs) {
    if (h.fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::write(h.fd, data, size_t(count));
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        pollfd p{h.fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (p.revents & (POLLHUP | POLLERR)))
            return -1;
        if (r == 0)
            return 0;
    }
}

void drain(const PtyHandle& h, int timeoutMs) {
    if (h.fd < 0 || !peerAttached(h))
        return;
    // The count of unread bytes is only known on the slave side.
    const int slave = ::open(h.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0)
        return;
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    int idle = 0;
    while (clock::now() < deadline && peerAttached(h)) {
        int pending = 0;
        if (::ioctl(slave, FIONREAD, &pending) != 0)
            break;
        // Bytes reach the slave's queue a moment after the write: wait for
        // a few empty looks in a row.
        idle = pending == 0 ? idle + 1 : 0;
        if (idle >= 5)
            break;
        ::usleep(10000);
    }
    ::close(slave);
}

void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace varmexemu::pty

#else

namespace varmexemu::pty {

bool create(PtyHandle&, std::string& error) {
    error = "pseudo-terminals are not available on this system";
    return false;
}
void close(PtyHandle&) {}
bool peerAttached(const PtyHandle&) {
    return false;
}
PollResult waitReadable(const PtyHandle&, int) {
    return PollResult::HungUp;
}
int readSome(const PtyHandle&, uint8_t*, int) {
    return -1;
}
bool writeAll(const PtyHandle&, const uint8_t*, int, int) {
    return false;
}
int writeSome(const PtyHandle&, const uint8_t*, int, int) {
    return -1;
}
void drain(const PtyHandle&, int) {}
void ignoreBrokenPipe() {}

} // namespace varmexemu::pty

#endif
