#include "LivePeer.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

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

void PeerStream::Reset(std::unique_ptr<PeerChannel> channel) {
    channel_ = std::move(channel);
    ahead_.clear();
    aheadAt_ = 0;
    received_.clear();
}

void PeerStream::Close() {
    channel_.reset();
    ahead_.clear();
    aheadAt_ = 0;
}

bool PeerStream::Read(uint8_t& b, int timeoutMs) {
    if (aheadAt_ == ahead_.size()) {
        if (!channel_)
            return false;
        ahead_.resize(4096);
        aheadAt_ = 0;
        ahead_.resize(channel_->ReadSome(ahead_.data(), ahead_.size(), timeoutMs));
        if (ahead_.empty())
            return false;
    }
    b = ahead_[aheadAt_++];
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
    return channel_ && channel_->WriteAll(data, n);
}

bool PeerStream::WriteWord(uint16_t w) {
    const uint8_t b[2] = {uint8_t(w), uint8_t(w >> 8)};
    return Write(b, 2);
}

// ---- loopback connections ---------------------------------------------------

namespace {

// A write the link does not take for this long counts as a dead link.
constexpr int kWriteStallMs = 60000;

// A connection whose socket lives in a thread of its own: a QTcpSocket
// works only in the thread that made it, while the tests hand streams
// between the main thread and peer threads. Every call runs there and the
// caller waits for it, so the blocking calls behave as on a plain socket.
// The thread runs no event loop: bytes are taken only when asked for, and
// a link that stops reading holds the writer back as a real one would.
class TcpChannel final : public PeerChannel {
public:
    explicit TcpChannel(qintptr descriptor) {
        thread_ = std::thread([this, descriptor] { Run(descriptor); });
    }
    ~TcpChannel() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    size_t ReadSome(uint8_t* buf, size_t max, int timeoutMs) override {
        size_t got = 0;
        Call([&](QTcpSocket& socket) {
            if (socket.bytesAvailable() == 0 && socket.state() == QAbstractSocket::ConnectedState)
                socket.waitForReadyRead(timeoutMs);
            got =
                size_t(std::max<qint64>(0, socket.read(reinterpret_cast<char*>(buf), qint64(max))));
        });
        return got;
    }

    bool WriteAll(const uint8_t* data, size_t n) override {
        bool ok = false;
        Call([&](QTcpSocket& socket) {
            if (socket.state() != QAbstractSocket::ConnectedState ||
                socket.write(reinterpret_cast<const char*>(data), qint64(n)) != qint64(n))
                return;
            while (socket.bytesToWrite() > 0)
                if (!socket.waitForBytesWritten(kWriteStallMs))
                    return;
            ok = true;
        });
        return ok;
    }

private:
    void Run(qintptr descriptor) {
        QTcpSocket socket;
        if (socket.setSocketDescriptor(descriptor))
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || task_; });
            if (!task_)
                break;
            task_(socket);
            task_ = nullptr;
            done_.notify_all();
        }
        // What was written has left already; closing at once is what a
        // far end that hangs up does.
        socket.abort();
    }

    void Call(const std::function<void(QTcpSocket&)>& task) {
        std::lock_guard one(callMutex_);
        std::unique_lock lock(mutex_);
        task_ = task;
        wake_.notify_all();
        done_.wait(lock, [this] { return !task_; });
    }

    std::mutex callMutex_; // one call at a time
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::function<void(QTcpSocket&)> task_;
    bool quit_ = false;
    std::thread thread_;
};

// Closes a connection that nobody took.
void DropDescriptor(qintptr descriptor) {
    QTcpSocket socket;
    if (socket.setSocketDescriptor(descriptor))
        socket.abort();
}

} // namespace

// Keeps connections as bare descriptors, so that each becomes a socket in
// the thread of the channel that takes it.
class LoopbackListener::Server final : public QTcpServer {
public:
    ~Server() override {
        for (qintptr d : pending)
            DropDescriptor(d);
    }
    std::deque<qintptr> pending;

protected:
    void incomingConnection(qintptr descriptor) override { pending.push_back(descriptor); }
};

LoopbackListener::LoopbackListener(int backlog) : server_(std::make_unique<Server>()) {
    server_->setListenBacklogSize(backlog);
    if (!server_->listen(QHostAddress::LocalHost, 0)) {
        Stop();
        return;
    }
    port_ = server_->serverPort();
}

LoopbackListener::~LoopbackListener() {
    Stop();
}

void LoopbackListener::Stop() {
    server_.reset();
}

std::unique_ptr<PeerChannel> LoopbackListener::Accept(int timeoutMs) {
    if (!server_)
        return nullptr;
    if (server_->pending.empty())
        server_->waitForNewConnection(timeoutMs);
    if (server_->pending.empty())
        return nullptr;
    const qintptr descriptor = server_->pending.front();
    server_->pending.pop_front();
    return std::make_unique<TcpChannel>(descriptor);
}

uint16_t RefusingPort() {
    LoopbackListener l;
    const uint16_t port = l.Port();
    l.Stop();
    return port;
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
