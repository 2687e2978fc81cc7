#pragma once
// Real far ends for the link tests: hooks that pump the Qt event queue on a
// real clock (sleeps are recorded and skipped), a TCP listener on loopback,
// and a blocking byte stream on the far side that a test thread drives with
// the instrument's side of the wire exchanges. Pseudo-terminals, which only
// some systems have, are in PtyPair.h.
#include "link/UiHooks.h"

#include <QElapsedTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

class LiveHooks : public UiHooks {
public:
    LiveHooks() { clock_.start(); }

    struct Prompt {
        std::string caption;
        std::string text;
    };
    std::vector<Prompt> prompts;
    std::deque<bool> answers; // Confirm answers in order; OK once empty
    std::vector<std::string> messages;
    std::vector<int> sleeps;
    std::atomic<int64_t> skippedMs{0};
    int pumps = 0;
    std::function<void()> onPump;

    void Pump() override;
    bool Confirm(const std::string& caption, const std::string& text) override;
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    // Real time plus every sleep that was skipped, so time-outs run as
    // written while pauses cost nothing.
    int64_t TickMs() override { return clock_.elapsed() + skippedMs; }
    void SleepMs(int ms) override;
    int SleptInPiecesOf(int ms) const;

private:
    QElapsedTimer clock_;
};

class ScopedLiveHooks {
public:
    ScopedLiveHooks() { SetUiHooks(&hooks); }
    ~ScopedLiveHooks() { SetUiHooks(nullptr); }
    LiveHooks hooks;
};

// One end of a byte stream that a PeerStream drives: a loopback TCP
// connection or the master side of a pseudo-terminal. Callable from any one
// thread at a time.
class PeerChannel {
public:
    virtual ~PeerChannel() = default;
    // What has arrived, up to max bytes, waiting at most timeoutMs for the
    // first one; 0 when nothing came (a time-out or the end of the stream).
    virtual size_t ReadSome(uint8_t* buf, size_t max, int timeoutMs) = 0;
    // Everything, or false once the far end has gone.
    virtual bool WriteAll(const uint8_t* data, size_t n) = 0;
};

// The far end of a link as a blocking byte stream.
class PeerStream {
public:
    explicit PeerStream(std::unique_ptr<PeerChannel> channel = nullptr)
        : channel_(std::move(channel)) {}
    PeerStream(const PeerStream&) = delete;
    PeerStream& operator=(const PeerStream&) = delete;

    // Takes over channel (none closes the stream) and forgets what came
    // before.
    void Reset(std::unique_ptr<PeerChannel> channel);
    // Hangs up; reads and writes fail from now on.
    void Close();
    bool IsOpen() const { return channel_ != nullptr; }

    bool Read(uint8_t& b, int timeoutMs = 5000);
    bool ReadExact(uint8_t* buf, size_t n, int timeoutMs = 5000);
    bool ReadWord(uint16_t& w, int timeoutMs = 5000);
    // Reads until text has arrived; everything read is kept in Received().
    bool ReadUntil(const std::string& text, int timeoutMs = 5000);
    // Everything that arrives within ms.
    std::string Drain(int ms);
    bool Write(const std::string& s) {
        return Write(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    bool Write(const uint8_t* data, size_t n);
    bool WriteWord(uint16_t w);
    const std::string& Received() const { return received_; }

private:
    std::unique_ptr<PeerChannel> channel_;
    // Taken from the channel but not yet read; byte-at-a-time reads would
    // otherwise cost a round trip each.
    std::vector<uint8_t> ahead_;
    size_t aheadAt_ = 0;
    std::string received_;
};

// A TCP listener on 127.0.0.1 with a free port. It lives in the thread that
// made it; each connection it hands out lives in a thread of its own, so a
// stream may be driven from any thread.
class LoopbackListener {
public:
    // backlog: connections the system completes before they are accepted.
    explicit LoopbackListener(int backlog = 4);
    ~LoopbackListener();
    uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The next connection, or null once timeoutMs have passed.
    std::unique_ptr<PeerChannel> Accept(int timeoutMs = 5000);
    void Stop();

private:
    class Server;
    std::unique_ptr<Server> server_;
    uint16_t port_ = 0;
};

// Runs the instrument's side in a thread; get() gives "" when it went as
// expected, else what went wrong.
inline std::future<std::string> RunPeer(std::function<std::string()> script) {
    return std::async(std::launch::async, std::move(script));
}

// A loopback port nobody listens on.
uint16_t RefusingPort();

// ---- the instrument's side of the block transfers, from the wire summary --
uint16_t BlockSeq(int block);
std::vector<uint8_t> TestPattern(size_t n, uint8_t seed = 3);

// Sends data as one block transfer (the computer leads); the first copy of
// block badBlock carries a wrong checksum. "" when all went as expected.
std::string PeerSendBlocks(PeerStream& peer, const std::vector<uint8_t>& data, int badBlock = -1);
// Receives one block transfer (the instrument leads) into data.
std::string PeerReceiveBlocks(PeerStream& peer, std::vector<uint8_t>& data);
// Answers the '@' synchronisation and the command/complement pair.
std::string PeerAnswerCommand(PeerStream& peer, uint8_t command);
