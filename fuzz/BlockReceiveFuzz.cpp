// A peer that sends arbitrary bytes during a block transfer: the receiver
// must end with data or a link error, never crash or write out of bounds.
#include "link/Link.h"

#include <vector>

namespace {

class ReplayLink : public Link {
public:
    ReplayLink(const uint8_t* data, size_t size) : data_(data), size_(size) { SetState(1); }

    int ReadByte() override {
        if (pos_ >= size_)
            throw LinkError("Port err. Getcom");
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

class QuietHooks : public UiHooks {
public:
    void Pump() override {}
    void ShowMessage(const std::string&) override {}
    void SleepMs(int) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietHooks hooks;
    SetUiHooks(&hooks);
    ReplayLink link(data, size);
    uint8_t dest[1024];
    try {
        link.ReceiveBlocks(dest, sizeof dest, nullptr, nullptr);
    } catch (const LinkError&) {
    }
    return 0;
}
