#pragma once
// A link whose far end is a scripted instrument living in the same thread:
// every byte the computer writes is handed to the instrument at once, and
// whatever the instrument answers is queued for the computer to read. Reads
// that find nothing queued time out immediately and advance a fake clock, so
// tests of long time-outs run in no time.
#include "link/Link.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class FakeHooks : public UiHooks {
public:
    int64_t now = 0;
    int pumps = 0;
    int cursorDepth = 0;
    int cursorShows = 0;
    std::vector<std::string> messages;
    std::function<void()> onPump;
    // Called once the fake clock passes limitMs (a stuck script).
    std::function<void()> onLimit;
    int64_t limitMs = 48LL * 3600 * 1000;

    void Pump() override {
        ++pumps;
        now += 10;
        if (onPump)
            onPump();
        if (now > limitMs && onLimit) {
            onLimit();
            onLimit = nullptr;
        }
    }
    void ShowWaitCursor() override {
        ++cursorDepth;
        ++cursorShows;
    }
    void RestoreCursor() override { --cursorDepth; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    int64_t TickMs() override { return now; }
    void SleepMs(int ms) override { now += ms; }
};

// Installs fake hooks for the lifetime of the object.
class ScopedFakeHooks {
public:
    ScopedFakeHooks() { SetUiHooks(&hooks); }
    ~ScopedFakeHooks() { SetUiHooks(nullptr); }
    FakeHooks hooks;
};

class FakeLink : public Link {
public:
    // Called with each byte the computer sends; push answers with Answer().
    std::function<void(uint8_t)> instrument;
    // Called when a timed read finds nothing queued, before it times out:
    // the instrument may answer now (its next batch, say).
    std::function<void()> onStarved;
    std::deque<uint8_t> rx;
    std::vector<uint8_t> sent;
    int putByteRefusals = 0;
    // Like a TCP peer that hangs up: what it sent before stays readable.
    bool readableAfterClose = false;

    FakeLink() { SetState(1); }

    void Answer(uint8_t b) { rx.push_back(b); }
    void Answer(const std::vector<uint8_t>& bytes) {
        rx.insert(rx.end(), bytes.begin(), bytes.end());
    }
    void AnswerWord(uint16_t w) {
        rx.push_back(uint8_t(w));
        rx.push_back(uint8_t(w >> 8));
    }

    int ReadByte() override {
        if (!Readable())
            throw LinkError("Port err. Getcom");
        if (rx.empty() && onStarved)
            onStarved();
        if (rx.empty())
            throw LinkError("fake: nothing to read (the instrument script is stuck)");
        return Take();
    }
    void Close() override { SetState(0); }
    int Open(int, int, const std::string&, bool, const std::string&, int) override {
        SetState(1);
        return 1;
    }
    void WriteByte(uint8_t b) override {
        if (!IsOpen())
            throw LinkError("Port err. putcom");
        Deliver(b);
    }
    void FlushInput() override { rx.clear(); }
    void ClearOutput() override {}
    int PutByte(uint8_t b) override {
        if (!IsOpen())
            return -1;
        if (putByteRefusals > 0) {
            --putByteRefusals;
            return -1;
        }
        Deliver(b);
        return 1;
    }
    int ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) override {
        if (!Readable())
            return -1;
        int n = 0;
        if (rx.empty() && onStarved)
            onStarved();
        while (n < count && !rx.empty())
            buf[n++] = Take();
        if (n < count)
            ActiveUiHooks().SleepMs(timeoutMs);
        return n;
    }
    int ReadByteTimed(int timeoutMs) override {
        if (!Readable())
            return -1;
        if (rx.empty() && onStarved)
            onStarved();
        if (rx.empty()) {
            ActiveUiHooks().SleepMs(timeoutMs);
            return -1;
        }
        return Take();
    }
    int PollByte() override { return Readable() && !rx.empty() ? Take() : -1; }
    int InputCount() override { return Readable() ? int(rx.size()) : -1; }
    int OutputCount() override { return IsOpen() ? 0 : -1; }
    int MaxBaudRate() override { return 115200; }
    std::string LinkName() override { return "FAKE"; }
    std::string VersionText() override { return "NA"; }

private:
    bool Readable() { return IsOpen() || (readableAfterClose && !rx.empty()); }
    uint8_t Take() {
        const uint8_t b = rx.front();
        rx.pop_front();
        return b;
    }
    void Deliver(uint8_t b) {
        sent.push_back(b);
        if (instrument)
            instrument(b);
    }
};
