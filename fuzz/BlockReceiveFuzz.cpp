// A peer that sends arbitrary bytes during a block transfer, in either
// direction: the link must end with data or a link error, never crash, write
// outside the destination, or leave the progress bar, the "Crc error"
// indicator or the wait cursor in a state the window could not show.
//
// Input: one control byte, then the instrument's side of the exchange in
// order (what the computer writes is ignored). Control bits 0-1 choose the
// operation, bits 2-7 (p, 0..63) its size:
//   0  ReceiveBlocks into a destination of exactly p * 16 bytes
//   1  ReceiveBlocks with no destination
//   2  SendBlocks of p * 24 bytes (the instrument leads with requests)
//   3  ReceiveBlocks into p * 16 bytes without a progress bar or indicator
#include "link/Link.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Stops the run with a report: libFuzzer saves the input as a crash.
void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "BlockReceiveFuzz: broken invariant: %s\n", what);
        std::abort();
    }
}

class ReplayLink : public Link {
public:
    ReplayLink(const uint8_t* data, size_t size) : data_(data), size_(size) { SetState(1); }

    // The end of the input is the instrument going away.
    int ReadByte() override {
        if (pos_ >= size_) {
            SetState(kLinkClosed);
            Fail(ReadErrorText(), kFaultClosed);
        }
        return data_[pos_++];
    }
    void Close() override { SetState(0); }
    int Open(int, int, const std::string&, bool, const std::string&, int) override { return 1; }
    void WriteByte(uint8_t) override {}
    void FlushInput() override {}
    void ClearOutput() override {}
    int PutByte(uint8_t) override { return 1; }
    int ReadBufferTimed(uint8_t* buf, int count, int) override {
        int n = 0;
        while (n < count && pos_ < size_)
            buf[n++] = data_[pos_++];
        return n;
    }
    int ReadByteTimed(int) override { return pos_ < size_ ? data_[pos_++] : -1; }
    int PollByte() override { return pos_ < size_ ? data_[pos_++] : -1; }
    int InputCount() override { return int(size_ - pos_); }
    int OutputCount() override { return 0; }
    int MaxBaudRate() override { return 115200; }
    std::string LinkName() override { return "REPLAY"; }
    std::string VersionText() override { return "NA"; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Hooks on a fake clock that also check that the wait cursor calls balance.
class CheckedHooks : public UiHooks {
public:
    void Pump() override { now_ += 1; }
    void ShowWaitCursor() override { ++cursorDepth_; }
    void RestoreCursor() override {
        Require(cursorDepth_ > 0, "cursor restored more often than shown");
        --cursorDepth_;
    }
    void ShowMessage(const std::string& text) override { messages_.push_back(text); }
    bool Confirm(const std::string&, const std::string&) override { return true; }
    bool InputText(const std::string&, const std::string&, std::string&) override { return true; }
    int64_t TickMs() override { return now_; }
    void SleepMs(int ms) override { now_ += ms > 0 ? ms : 0; }

    void Reset() {
        cursorDepth_ = 0;
        messages_.clear();
    }
    int CursorDepth() const { return cursorDepth_; }
    const std::vector<std::string>& Messages() const { return messages_; }

private:
    int64_t now_ = 0;
    int cursorDepth_ = 0;
    std::vector<std::string> messages_;
};

// A progress bar that refuses what a real one could not show: a position
// before the range is set, outside minimum..maximum, or a range upside down.
class CheckedBar : public ProgressBar {
public:
    void SetMinimum(int value) override {
        Require(value >= 0, "progress minimum below 0");
        minimum_ = value;
        hasMinimum_ = true;
    }
    void SetMaximum(int value) override {
        Require(hasMinimum_, "progress maximum set before the minimum");
        Require(value >= minimum_, "progress maximum below the minimum");
        maximum_ = value;
        hasMaximum_ = true;
    }
    int Maximum() const override { return maximum_; }
    int Position() const override { return position_; }
    void SetPosition(int value) override {
        Require(hasMinimum_ && hasMaximum_, "progress position set before the range");
        Require(value >= minimum_ && value <= maximum_, "progress position outside its range");
        position_ = value;
    }

private:
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    bool hasMinimum_ = false;
    bool hasMaximum_ = false;
};

// A peer that answers every request with a bad block must be given up on
// after the link's bounded number of them.
constexpr int kMostBadBlocksInARow = kBadBlocksLimit;

// The "Crc error" label: counts how many bad blocks or requests in a row it
// was shown for, and whether it is showing at the end.
class CheckedIndicator : public Indicator {
public:
    void Show() override {
        ++run_;
        Require(run_ <= kMostBadBlocksInARow, "bad blocks requested again without end");
        shown_ = true;
    }
    void Hide() override {
        run_ = 0;
        shown_ = false;
    }
    bool Shown() const { return shown_; }

private:
    int run_ = 0;
    bool shown_ = false;
};

// Every link error carries a port error text for the message box and says
// in words what happened, so that the session can tell a link fault from bad
// content.
void CheckLinkError(const LinkError& e, const Link& link) {
    Require(std::strncmp(e.what(), "Port err.", 9) == 0 || std::strcmp(e.what(), "Wait error") == 0,
            "link error without a port error text");
    Require(!link.Fault().empty(), "link error without a fault in words");
}

bool Showed(const CheckedHooks& hooks, const char* text) {
    for (const std::string& m : hooks.Messages()) {
        if (m == text)
            return true;
    }
    return false;
}

void Receive(ReplayLink& link, CheckedHooks& hooks, size_t capacity, bool withDestination,
             CheckedBar* bar, CheckedIndicator* indicator) {
    // Exactly the size given, on the heap, so a write past it is caught.
    std::unique_ptr<uint8_t[]> dest(withDestination ? new uint8_t[capacity] : nullptr);
    int received = -1;
    try {
        received = link.ReceiveBlocks(dest.get(), capacity, bar, indicator);
    } catch (const LinkError& e) {
        CheckLinkError(e, link);
        return;
    }
    Require(link.transfer.Size() <= kTransferLimit, "transfer beyond the transfer limit");
    Require(!bar || bar->Position() == 0, "progress bar not reset after a completed transfer");
    if (!withDestination) {
        Require(received == 0, "bytes reported without a destination");
        return;
    }
    Require(received >= 0 && size_t(received) <= capacity, "more bytes than the destination holds");
    if (received > 0) {
        Require(size_t(received) == link.transfer.Size(), "destination holds part of the transfer");
        Require(std::memcmp(dest.get(), link.transfer.Data(), size_t(received)) == 0,
                "destination differs from the transfer");
    } else if (link.transfer.Size() > capacity) {
        Require(Showed(hooks, "Err. Buffer"), "an oversized transfer refused without a word");
    }
}

void Send(ReplayLink& link, CheckedHooks& hooks, size_t count, CheckedBar& bar,
          CheckedIndicator& indicator) {
    std::vector<uint8_t> payload(count);
    for (size_t i = 0; i < count; ++i)
        payload[i] = uint8_t(i * 7 + 3);
    try {
        link.SendBlocks(payload.data(), int(count), &bar, &indicator);
    } catch (const LinkError& e) {
        CheckLinkError(e, link);
        return;
    }
    if (count == 0) {
        Require(Showed(hooks, "Err. Buffer"), "an empty send passed without a word");
        return;
    }
    // The transfer only ends on the request for the block after the last,
    // which is a good request: the label must be hidden again.
    Require(!indicator.Shown(), "\"Crc error\" still shown after a completed send");
    Require(bar.Position() == 0, "progress bar not reset after a completed send");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CheckedHooks hooks;
    SetUiHooks(&hooks);
    hooks.Reset();
    if (size == 0)
        return 0;
    const int operation = data[0] & 3;
    const size_t p = data[0] >> 2;
    ReplayLink link(data + 1, size - 1);
    CheckedBar bar;
    CheckedIndicator indicator;

    switch (operation) {
    case 0:
        Receive(link, hooks, p * 16, true, &bar, &indicator);
        break;
    case 1:
        Receive(link, hooks, p * 16, false, &bar, &indicator);
        break;
    case 2:
        Send(link, hooks, p * 24, bar, indicator);
        break;
    default:
        Receive(link, hooks, p * 16, true, nullptr, nullptr);
        break;
    }
    Require(hooks.CursorDepth() == 0, "wait cursor left on");
    return 0;
}
