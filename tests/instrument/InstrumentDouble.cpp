#include "InstrumentDouble.h"

namespace {
constexpr size_t kBlockData = 528;

uint16_t WordAt(const std::vector<uint8_t>& v, size_t off) {
    return uint16_t(v.at(off) | (v.at(off + 1) << 8));
}

uint16_t LengthSum(size_t len, const uint8_t* data) {
    uint16_t sum = uint16_t((len & 0xFF) + (len >> 8));
    for (size_t i = 0; i < len; ++i)
        sum = uint16_t(sum + data[i]);
    return sum;
}
} // namespace

uint16_t BlockSeq(int k) {
    return uint16_t(k % 127 + 1);
}

InstrumentDouble::InstrumentDouble(FakeLink& link) : link_(link) {
    link_.instrument = [this](uint8_t b) { OnByte(b); };
}

InstrumentDouble& InstrumentDouble::Command(uint8_t code) {
    return Add({kCommand, code, {}, 0});
}
InstrumentDouble& InstrumentDouble::SendBlock(std::vector<uint8_t> data) {
    return Add({kSendBlock, 0, std::move(data), 0});
}
InstrumentDouble& InstrumentDouble::ReceiveBlock() {
    return Add({kReceiveBlock, 0, {}, 0});
}
InstrumentDouble& InstrumentDouble::Expect(size_t n) {
    return Add({kExpect, 0, {}, n});
}
InstrumentDouble& InstrumentDouble::Send(std::vector<uint8_t> bytes) {
    return Add({kSend, 0, std::move(bytes), 0});
}
InstrumentDouble& InstrumentDouble::Prompt() {
    return Send(std::vector<uint8_t>{':', '>'});
}

InstrumentDouble& InstrumentDouble::Add(Step step) {
    steps_.push_back(std::move(step));
    if (current_ == steps_.size() - 1)
        Activate();
    return *this;
}

void InstrumentDouble::AnswerWord(uint16_t w) {
    link_.AnswerWord(w);
}

// Resets the per-step state and runs the steps that need no input.
void InstrumentDouble::Activate() {
    while (current_ < steps_.size()) {
        Step& s = steps_[current_];
        synced_ = false;
        pending_.clear();
        block_ = -1;
        emptySent_ = false;
        total_ = 0;
        totalRead_ = false;
        echoLeft_ = 0;
        closing_ = false;
        if (s.kind == kSend) {
            link_.Answer(s.data);
            ++current_;
            continue;
        }
        if (s.kind == kReceiveBlock) {
            blocksReceived.emplace_back();
            echoLeft_ = 1;
            link_.Answer(0x00); // the computer echoes everything up to this
        }
        if (s.kind == kExpect)
            bytesReceived.emplace_back();
        return;
    }
}

void InstrumentDouble::Complete() {
    ++current_;
    Activate();
}

void InstrumentDouble::OnByte(uint8_t b) {
    if (Done()) {
        problems.push_back("byte " + std::to_string(b) + " after the end of the script");
        return;
    }
    Step& s = steps_[current_];
    switch (s.kind) {
    case kCommand:
        OnCommandByte(s, b);
        break;
    case kSendBlock:
        OnSendBlockByte(s, b);
        break;
    case kReceiveBlock:
        OnReceiveBlockByte(b);
        break;
    case kExpect:
        bytesReceived.back().push_back(b);
        if (bytesReceived.back().size() == s.count)
            Complete();
        break;
    case kSend:
        break;
    }
}

void InstrumentDouble::OnCommandByte(Step& s, uint8_t b) {
    if (!synced_) {
        if (b == '@') {
            synced_ = true;
            link_.Answer('@');
        } else {
            problems.push_back("expected '@' before command " + std::to_string(s.code));
        }
        return;
    }
    pending_.push_back(b);
    if (pending_.size() < 2)
        return;
    const uint8_t code = pending_[0];
    if (code != s.code || uint8_t(pending_[1] ^ 0xFF) != code)
        problems.push_back("expected command " + std::to_string(s.code) + ", got " +
                           std::to_string(code));
    commands.push_back(code);
    link_.Answer(code);
    Complete();
}

void InstrumentDouble::OnSendBlockByte(Step& s, uint8_t b) {
    if (!synced_) {
        if (b != 0x00) {
            link_.Answer(0x55);
            return;
        }
        synced_ = true;
        link_.Answer(0x00);
        testsupport::Bytes total;
        total.u32(uint32_t(s.data.size()));
        link_.Answer(total.data());
        return;
    }
    pending_.push_back(b);
    if (pending_.size() < 2)
        return;
    const uint16_t request = WordAt(pending_, 0);
    pending_.clear();
    AnswerWord(request);
    const int blocks = int((s.data.size() + kBlockData - 1) / kBlockData);
    if (s.data.empty()) {
        // An empty transfer: one zero length, then the closing request.
        if (emptySent_) {
            Complete();
        } else {
            emptySent_ = true;
            AnswerWord(0);
        }
        return;
    }
    int k;
    if (block_ >= 0 && request == BlockSeq(block_))
        k = block_;
    else if (request == BlockSeq(block_ + 1))
        k = ++block_;
    else {
        problems.push_back("unexpected block request " + std::to_string(request));
        return;
    }
    if (k >= blocks) {
        Complete(); // the closing exchange: the echo is all
        return;
    }
    const size_t start = size_t(k) * kBlockData;
    const size_t len = std::min(kBlockData, s.data.size() - start);
    AnswerWord(uint16_t(len << 6));
    link_.Answer(
        std::vector<uint8_t>(s.data.begin() + long(start), s.data.begin() + long(start + len)));
    AnswerWord(LengthSum(len, s.data.data() + start));
}

void InstrumentDouble::OnReceiveBlockByte(uint8_t b) {
    if (echoLeft_ > 0) {
        --echoLeft_;
        if (b != 0x00)
            problems.push_back("block preamble not echoed");
        return;
    }
    pending_.push_back(b);
    if (!totalRead_) {
        if (pending_.size() < 4)
            return;
        total_ = size_t(pending_[0] | pending_[1] << 8 | pending_[2] << 16 | pending_[3] << 24);
        totalRead_ = true;
        pending_.clear();
        block_ = 0;
        AnswerWord(BlockSeq(block_));
        return;
    }
    if (closing_) {
        if (pending_.size() == 2)
            Complete();
        return;
    }
    if (pending_.size() < 4)
        return;
    if (WordAt(pending_, 0) != BlockSeq(block_))
        problems.push_back("block request not echoed");
    const size_t len = WordAt(pending_, 2) >> 6;
    if (pending_.size() < 4 + len + 2)
        return;
    if (WordAt(pending_, 4 + len) != LengthSum(len, pending_.data() + 4))
        problems.push_back("bad block checksum");
    std::vector<uint8_t>& data = blocksReceived.back();
    data.insert(data.end(), pending_.begin() + 4, pending_.begin() + 4 + long(len));
    pending_.clear();
    ++block_;
    if (data.size() >= total_)
        closing_ = true;
    AnswerWord(BlockSeq(block_));
}

ProtocolRig::ProtocolRig() : device(std::make_unique<Instrument>()) {
    SetUiHooks(&hooks);
    device->view = &view;
}

ProtocolRig::~ProtocolRig() {
    SetUiHooks(nullptr);
}
