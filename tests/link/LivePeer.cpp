#include "LivePeer.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// ---- hooks ------------------------------------------------------------------

void LiveHooks::Pump() {
    ++pumps;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (onPump)
        onPump();
}

bool LiveHooks::Confirm(const std::string& caption, const std::string& text) {
    prompts.push_back({caption, text});
    if (answers.empty())
        return true;
    const bool ok = answers.front();
    answers.pop_front();
    return ok;
}

void LiveHooks::SleepMs(int ms) {
    if (ms <= 0)
        return;
    sleeps.push_back(ms);
    skippedMs += ms;
}

int LiveHooks::SleptInPiecesOf(int ms) const {
    int n = 0;
    for (int s : sleeps)
        n += s == ms;
    return n;
}

// ---- peer stream ------------------------------------------------------------

PeerStream::~PeerStream() {
    Close();
}

void PeerStream::Reset(int fd) {
    Close();
    fd_ = fd;
    received_.clear();
}

void PeerStream::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool PeerStream::Read(uint8_t& b, int timeoutMs) {
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
        return false;
    if (::read(fd_, &b, 1) != 1)
        return false;
    received_.push_back(char(b));
    return true;
}

bool PeerStream::ReadExact(uint8_t* buf, size_t n, int timeoutMs) {
    for (size_t i = 0; i < n; ++i)
        if (!Read(buf[i], timeoutMs))
            return false;
    return true;
}

bool PeerStream::ReadWord(uint16_t& w, int timeoutMs) {
    uint8_t b[2];
    if (!ReadExact(b, 2, timeoutMs))
        return false;
    w = uint16_t(b[0] | (b[1] << 8));
    return true;
}

bool PeerStream::ReadUntil(const std::string& text, int timeoutMs) {
    const size_t from = received_.size();
    uint8_t b = 0;
    while (received_.find(text, from) == std::string::npos)
        if (!Read(b, timeoutMs))
            return false;
    return true;
}

std::string PeerStream::Drain(int ms) {
    std::string got;
    uint8_t b = 0;
    while (Read(b, ms))
        got.push_back(char(b));
    return got;
}

bool PeerStream::Write(const uint8_t* data, size_t n) {
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

bool PeerStream::WriteWord(uint16_t w) {
    const uint8_t b[2] = {uint8_t(w), uint8_t(w >> 8)};
    return Write(b, 2);
}

// ---- loopback listener ------------------------------------------------------

LoopbackListener::LoopbackListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0) {
        Stop();
        return;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() {
    Stop();
}

void LoopbackListener::Stop() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int LoopbackListener::Accept(int timeoutMs) {
    if (fd_ < 0)
        return -1;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return -1;
    const int fd = ::accept(fd_, nullptr, nullptr);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

uint16_t RefusingPort() {
    LoopbackListener l;
    const uint16_t port = l.Port();
    l.Stop();
    return port;
}

// ---- pseudo-terminal --------------------------------------------------------

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slave_ = ::ptsname(master_);
}

PtyPair::~PtyPair() {
    if (master_ >= 0)
        ::close(master_);
}

int PtyPair::TakeMaster() {
    const int fd = master_;
    master_ = -1;
    return fd;
}

// ---- instrument's side of the exchanges -------------------------------------

uint16_t BlockSeq(int block) {
    return uint16_t(block % 127 + 1);
}

std::vector<uint8_t> TestPattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 37 + (i >> 9));
    return v;
}

namespace {

uint16_t BlockSum(const uint8_t* data, size_t len) {
    uint16_t sum = uint16_t((len & 0xFF) + (len >> 8));
    for (size_t i = 0; i < len; ++i)
        sum = uint16_t(sum + data[i]);
    return sum;
}

} // namespace

std::string PeerAnswerCommand(PeerStream& peer, uint8_t command) {
    uint8_t b = 0;
    do {
        if (!peer.Read(b))
            return "no '@' came";
    } while (b != '@');
    peer.Write(&b, 1);
    uint8_t pair[2];
    if (!peer.ReadExact(pair, 2))
        return "no command came";
    if (pair[0] != command || pair[1] != uint8_t(command ^ 0xFF))
        return "wrong command bytes";
    peer.Write(&command, 1);
    return "";
}

std::string PeerSendBlocks(PeerStream& peer, const std::vector<uint8_t>& data, int badBlock) {
    // The computer asks with 0x00 until the instrument answers 0x00.
    uint8_t b = 0xFF;
    do {
        if (!peer.Read(b))
            return "no synchronisation byte";
    } while (b != 0x00);
    uint8_t head[5] = {0x00};
    const uint32_t total = uint32_t(data.size());
    for (int i = 0; i < 4; ++i)
        head[1 + i] = uint8_t(total >> (8 * i));
    peer.Write(head, 5);

    const int blocks = int((data.size() + 527) / 528);
    int next = 0;
    bool spoiled = false;
    for (;;) {
        uint16_t request = 0;
        if (!peer.ReadWord(request))
            return "request missing after block " + std::to_string(next);
        peer.WriteWord(request);
        if (next >= blocks && request == BlockSeq(next))
            return ""; // the closing exchange
        int block = -1;
        if (next < blocks && request == BlockSeq(next))
            block = next++;
        else if (next > 0 && request == BlockSeq(next - 1))
            block = next - 1;
        else
            return "unexpected request " + std::to_string(request);
        const size_t start = size_t(block) * 528;
        const size_t len = std::min<size_t>(528, data.size() - start);
        uint16_t sum = BlockSum(data.data() + start, len);
        if (block == badBlock && !spoiled) {
            spoiled = true;
            sum = uint16_t(sum + 1);
        }
        peer.WriteWord(uint16_t(len << 6));
        peer.Write(data.data() + start, len);
        peer.WriteWord(sum);
    }
}

std::string PeerReceiveBlocks(PeerStream& peer, std::vector<uint8_t>& data) {
    data.clear();
    const uint8_t zero = 0x00;
    peer.Write(&zero, 1);
    uint8_t echo = 0xFF;
    if (!peer.Read(echo) || echo != 0x00)
        return "synchronisation not echoed";
    uint8_t t[4];
    if (!peer.ReadExact(t, 4))
        return "total length missing";
    const uint32_t total =
        uint32_t(t[0]) | (uint32_t(t[1]) << 8) | (uint32_t(t[2]) << 16) | (uint32_t(t[3]) << 24);
    int block = 0;
    std::vector<uint8_t> buf(528);
    while (data.size() < total) {
        const uint16_t seq = BlockSeq(block);
        peer.WriteWord(seq);
        uint16_t w = 0, lenWord = 0, sum = 0;
        if (!peer.ReadWord(w) || w != seq)
            return "request not echoed";
        if (!peer.ReadWord(lenWord))
            return "length missing";
        const size_t len = lenWord >> 6;
        if (len == 0 || len > 528 || !peer.ReadExact(buf.data(), len) || !peer.ReadWord(sum))
            return "block missing";
        if (sum != BlockSum(buf.data(), len))
            return "bad checksum";
        data.insert(data.end(), buf.begin(), buf.begin() + long(len));
        ++block;
    }
    peer.WriteWord(BlockSeq(block));
    uint16_t w = 0;
    if (!peer.ReadWord(w) || w != BlockSeq(block))
        return "final request not echoed";
    return "";
}
