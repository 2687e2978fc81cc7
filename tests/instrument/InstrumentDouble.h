#pragma once
// A scripted instrument for the protocol tests, written from the wire
// tables: the command handshake, block transfers in both directions, plain
// little-endian values and the prompt. It sits on the far end of a
// FakeLink, in the same thread: the steps of its script run in order,
// steps that only send run as soon as they are reached, the others wait for
// the computer's bytes.
//
// It shares no code with the protocol under test: every image it sends is
// built by the test with testsupport::Bytes.
#include "FakeLink.h"
#include "TestSupport.h"
#include "instrument/Instrument.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class InstrumentDouble {
public:
    explicit InstrumentDouble(FakeLink& link);

    // '@' synchronisation, then the command and its complement; answered
    // with the command.
    InstrumentDouble& Command(uint8_t code);
    // One block transfer to the computer (which leads with requests).
    InstrumentDouble& SendBlock(std::vector<uint8_t> data);
    // One block transfer from the computer (the instrument leads); the data
    // lands in blocksReceived.
    InstrumentDouble& ReceiveBlock();
    // n plain bytes from the computer; they land in bytesReceived.
    InstrumentDouble& Expect(size_t n);
    // Plain bytes to the computer.
    InstrumentDouble& Send(std::vector<uint8_t> bytes);
    InstrumentDouble& Send(const testsupport::Bytes& bytes) { return Send(bytes.data()); }
    // The ":>" prompt.
    InstrumentDouble& Prompt();

    bool Done() const { return current_ >= steps_.size(); }

    std::vector<uint8_t> commands;
    std::vector<std::vector<uint8_t>> blocksReceived;
    std::vector<std::vector<uint8_t>> bytesReceived;
    std::vector<std::string> problems;

private:
    enum Kind { kCommand, kSendBlock, kReceiveBlock, kExpect, kSend };
    struct Step {
        Kind kind;
        uint8_t code = 0;
        std::vector<uint8_t> data;
        size_t count = 0;
    };

    InstrumentDouble& Add(Step step);
    void Activate();
    void Complete();
    void OnByte(uint8_t b);
    void OnCommandByte(Step& s, uint8_t b);
    void OnSendBlockByte(Step& s, uint8_t b);
    void OnReceiveBlockByte(uint8_t b);
    void AnswerWord(uint16_t w);

    FakeLink& link_;
    std::vector<Step> steps_;
    size_t current_ = 0;

    // State of the step in progress.
    bool synced_ = false;
    std::vector<uint8_t> pending_;
    int block_ = -1;
    bool emptySent_ = false;
    size_t total_ = 0;
    bool totalRead_ = false;
    size_t echoLeft_ = 0;
    bool closing_ = false;
};

// Sixteen-bit sequence number of block k of a transfer (1..127, then 1 again).
uint16_t BlockSeq(int k);

// A view that records what the protocol shows.
class RecordingView : public ProtocolView {
public:
    struct Bar : ProgressBar {
        int minimum = 0, maximum = 0, position = 0, highest = 0;
        void SetMinimum(int v) override { minimum = v; }
        void SetMaximum(int v) override { maximum = v; }
        int Maximum() const override { return maximum; }
        int Position() const override { return position; }
        void SetPosition(int v) override {
            position = v;
            highest = std::max(highest, v);
        }
    };
    struct CountingIndicator : Indicator {
        int shows = 0;
        void Show() override { ++shows; }
        void Hide() override {}
    };
    Bar bar;
    CountingIndicator indicator;
    std::vector<std::string> captions;
    int idle = 0;
    int barShown = 0;
    float tx = 12.5f, rx = 11.5f, temperature = 31.0f;

    ProgressBar* MainProgressBar() override { return &bar; }
    Indicator* CrcErrorIndicator() override { return &indicator; }
    void ShowMainProgressBar() override { ++barShown; }
    void SetStatusCaption(const std::string& text) override { captions.push_back(text); }
    void ShowReceiveIdle() override { ++idle; }
    void DisplayedBatteryState(float& t, float& r, float& c) override {
        t = tx;
        r = rx;
        c = temperature;
    }
};

// Fake hooks that also answer input boxes.
class AnsweringHooks : public FakeHooks {
public:
    bool accept = true;
    std::string answer = "GPGGA";
    int asked = 0;
    std::string caption, prompt, offered;
    bool InputText(const std::string& c, const std::string& p, std::string& value) override {
        ++asked;
        caption = c;
        prompt = p;
        offered = value;
        if (accept)
            value = answer;
        return accept;
    }
};

// Everything a protocol test needs: hooks, link, instrument and device.
struct ProtocolRig {
    ProtocolRig();
    ~ProtocolRig();
    AnsweringHooks hooks;
    FakeLink link;
    InstrumentDouble instrument{link};
    RecordingView view;
    std::unique_ptr<Instrument> device;
};

// Copies a little-endian image into a larger one at an offset.
inline void PutAt(std::vector<uint8_t>& image, size_t offset, const testsupport::Bytes& b) {
    std::copy(b.data().begin(), b.data().end(), image.begin() + long(offset));
}

inline std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
