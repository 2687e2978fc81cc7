#include "PtyPair.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The master side: plain blocking reads and writes on its descriptor.
class PtyMasterChannel final : public PeerChannel {
public:
    explicit PtyMasterChannel(int fd) : fd_(fd) {}
    ~PtyMasterChannel() override { ::close(fd_); }

    size_t ReadSome(uint8_t* buf, size_t max, int timeoutMs) override {
        // A slave side that was closed shows as a hang-up without data:
        // that ends the wait at once, as the end of a stream does.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            return 0;
        const ssize_t n = ::read(fd_, buf, max);
        return n > 0 ? size_t(n) : 0;
    }

    bool WriteAll(const uint8_t* data, size_t n) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd_, data + done, n - done);
            if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            if (w <= 0)
                return false;
            done += size_t(w);
        }
        return true;
    }

private:
    int fd_;
};

} // namespace

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return;
    const char* name = nullptr;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        (name = ::ptsname(master_)) == nullptr) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slave_ = name;
}

PtyPair::~PtyPair() {
    if (master_ >= 0)
        ::close(master_);
}

std::unique_ptr<PeerChannel> PtyPair::TakeMaster() {
    if (master_ < 0)
        return nullptr;
    const int fd = master_;
    master_ = -1;
    return std::make_unique<PtyMasterChannel>(fd);
}
