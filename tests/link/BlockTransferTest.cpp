// Block transfers in both directions against a scripted instrument double
// written from the wire summary, with checksum failures and retries.
#include "FakeLink.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>

namespace {

uint16_t Word(const std::vector<uint8_t>& v, size_t off) {
    return uint16_t(v.at(off) | (v.at(off + 1) << 8));
}

uint16_t SeqOf(int block) {
    return uint16_t(block % 127 + 1);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 7) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 31 + (i >> 8));
    return v;
}

struct RecordingBar : ProgressBar {
    int minimum = -1, maximum = -1, position = -1, maxPosition = 0;
    void SetMinimum(int v) override { minimum = v; }
    void SetMaximum(int v) override { maximum = v; }
    int Maximum() const override { return maximum; }
    int Position() const override { return position; }
    void SetPosition(int v) override {
        position = v;
        maxPosition = std::max(maxPosition, v);
    }
};

struct RecordingIndicator : Indicator {
    bool visible = false;
    int shows = 0;
    void Show() override {
        visible = true;
        ++shows;
    }
    void Hide() override { visible = false; }
};

// The instrument sending a block transfer (the computer leads).
struct BlockSender {
    BlockSender(FakeLink& l, std::vector<uint8_t> d) : link(l), data(std::move(d)) {}
    FakeLink& link;
    std::vector<uint8_t> data;
    size_t blockSize = 528;
    int totalBytesSent = 4; // fewer makes the total time out
    bool overrideTotal = false;
    int32_t total = 0;
    std::set<int> corruptFirstAttempt; // block numbers whose first copy is damaged
    int announcedLenOfFirst = -1;      // a length word that lies about block 0
    int lyingCopies = 1;               // how many copies of block 0 lie (-1: all)
    bool alwaysBadChecksum = false;    // a wedged instrument

    std::vector<uint16_t> requests;
    int current = -1;
    bool synced = false;
    std::vector<uint8_t> pending;
    std::set<int> sentOnce;
    int copiesOfFirst = 0;

    int Blocks() const { return int((data.size() + blockSize - 1) / blockSize); }

    void operator()(uint8_t b) {
        if (!synced) {
            if (b == 0x00) {
                synced = true;
                link.Answer(0x00);
                const int32_t t = overrideTotal ? total : int32_t(data.size());
                for (int i = 0; i < totalBytesSent; ++i)
                    link.Answer(uint8_t(uint32_t(t) >> (8 * i)));
            } else {
                link.Answer(0x55);
            }
            return;
        }
        pending.push_back(b);
        if (pending.size() < 2)
            return;
        const uint16_t w = Word(pending, 0);
        pending.clear();
        requests.push_back(w);
        link.AnswerWord(w);
        int block;
        if (current >= 0 && w == SeqOf(current))
            block = current;
        else if (w == SeqOf(current + 1))
            block = ++current;
        else
            return;
        if (block >= Blocks())
            return; // closing exchange: the echo is all
        const size_t start = size_t(block) * blockSize;
        const size_t len = std::min(blockSize, data.size() - start);
        const bool lie = block == 0 && announcedLenOfFirst >= 0 &&
                         (lyingCopies < 0 || copiesOfFirst++ < lyingCopies);
        const int announced = lie ? announcedLenOfFirst : int(len);
        link.AnswerWord(uint16_t(announced << 6));
        uint16_t sum = uint16_t((len & 0xFF) + (len >> 8));
        for (size_t i = 0; i < len; ++i) {
            link.Answer(data[start + i]);
            sum = uint16_t(sum + data[start + i]);
        }
        if ((corruptFirstAttempt.count(block) && !sentOnce.count(block)) || alwaysBadChecksum)
            sum = uint16_t(sum + 1);
        sentOnce.insert(block);
        link.AnswerWord(sum);
    }
};

// The instrument receiving a block transfer (it leads with requests).
struct BlockReceiver {
    enum Kind { Block, Bad, Final };
    struct Step {
        uint16_t word;
        Kind kind;
    };
    BlockReceiver(FakeLink& l, std::vector<uint8_t> p, std::vector<Step> s)
        : link(l), preamble(std::move(p)), script(std::move(s)) {}
    FakeLink& link;
    std::vector<uint8_t> preamble;
    std::vector<Step> script;

    size_t echoed = 0;
    std::vector<uint8_t> totalBytes;
    size_t step = 0;
    std::vector<uint8_t> response;
    std::vector<std::vector<uint8_t>> responses; // bytes after the echo, per block request
    std::vector<uint8_t> assembled;
    bool finished = false;
    bool badChecksum = false;
    std::vector<uint8_t> echoedPreamble;

    void Start() { link.Answer(preamble); }

    void Next() {
        response.clear();
        if (step < script.size())
            link.AnswerWord(script[step].word);
    }

    void operator()(uint8_t b) {
        if (echoed < preamble.size()) {
            echoedPreamble.push_back(b);
            ++echoed;
            return;
        }
        if (totalBytes.size() < 4) {
            totalBytes.push_back(b);
            if (totalBytes.size() == 4)
                Next();
            return;
        }
        response.push_back(b);
        const Step& s = script.at(step);
        if (response.size() == 2) {
            EXPECT_EQ(Word(response, 0), s.word) << "request not echoed";
            if (s.kind == Bad) {
                ++step;
                Next();
            } else if (s.kind == Final) {
                finished = true;
                ++step;
            }
            return;
        }
        if (response.size() < 4)
            return;
        const size_t len = Word(response, 2) >> 6;
        if (response.size() < 4 + len + 2)
            return;
        uint16_t sum = uint16_t((len & 0xFF) + (len >> 8));
        for (size_t i = 0; i < len; ++i)
            sum = uint16_t(sum + response[4 + i]);
        if (Word(response, 4 + len) != sum)
            badChecksum = true;
        responses.emplace_back(response.begin() + 2, response.end());
        const bool repeat = step > 0 && script[step - 1].word == s.word;
        if (!repeat)
            assembled.insert(assembled.end(), response.begin() + 4,
                             response.begin() + 4 + long(len));
        ++step;
        Next();
    }
};

} // namespace

TEST(LinkChecksum, SumsBytesModulo65536) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Link::Checksum16(abc, 3), 294);
    EXPECT_EQ(Link::Checksum16(abc, 0), 0);
    std::vector<uint8_t> ff(300, 0xFF);
    EXPECT_EQ(Link::Checksum16(ff.data(), ff.size()), uint16_t(300 * 255));
    EXPECT_EQ(BaudRateForConnection(3), 115200);
    EXPECT_EQ(BaudRateForConnection(99), 273000);
    EXPECT_EQ(BaudRateForConnection(200), 273000);
}

TEST(LinkReceive, WholeTransferArrivesInOrder) {
    ScopedFakeHooks fake;
    FakeLink link;
    BlockSender inst{link, Pattern(1500)};
    link.instrument = std::ref(inst);
    RecordingBar bar;
    RecordingIndicator indicator;
    std::vector<uint8_t> dest(2000, 0xEE);
    EXPECT_EQ(link.ReceiveBlocks(dest.data(), dest.size(), &bar, &indicator), 1500);
    EXPECT_TRUE(std::equal(inst.data.begin(), inst.data.end(), dest.begin()));
    EXPECT_EQ(dest[1500], 0xEE);
    // Requests 1, 2, 3, then the closing exchange with 4.
    EXPECT_EQ(inst.requests, (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(bar.maximum, 1500);
    EXPECT_EQ(bar.maxPosition, 1500);
    EXPECT_EQ(bar.position, 0);
    EXPECT_EQ(indicator.shows, 0);
    EXPECT_EQ(fake.hooks.cursorDepth, 0);
}

TEST(LinkReceive, BadChecksumAsksForTheSameBlockAgain) {
    ScopedFakeHooks fake;
    FakeLink link;
    BlockSender inst{link, Pattern(1200)};
    inst.corruptFirstAttempt = {1};
    link.instrument = std::ref(inst);
    RecordingIndicator indicator;
    link.ReceiveToStream(nullptr, &indicator);
    EXPECT_EQ(inst.requests, (std::vector<uint16_t>{1, 2, 2, 3, 4}));
    EXPECT_EQ(indicator.shows, 1);
    EXPECT_FALSE(indicator.visible);
    ASSERT_EQ(link.transfer.Size(), 1200u);
    EXPECT_TRUE(std::equal(inst.data.begin(), inst.data.end(), link.transfer.Data()));
}

TEST(LinkReceive, SequenceNumbersWrapFrom127To1) {
    ScopedFakeHooks fake;
    FakeLink link;
    BlockSender inst{link, Pattern(130 * 100)};
    inst.blockSize = 100;
    link.instrument = std::ref(inst);
    link.ReceiveToStream(nullptr, nullptr);
    ASSERT_EQ(inst.requests.size(), 131u);
    EXPECT_EQ(inst.requests[126], 127);
    EXPECT_EQ(inst.requests[127], 1);
    EXPECT_EQ(inst.requests[130], 4);
    EXPECT_EQ(link.transfer.Size(), 13000u);
    EXPECT_TRUE(std::equal(inst.data.begin(), inst.data.end(), link.transfer.Data()));
}

TEST(LinkReceive, MissingTotalEndsAfterTheFirstBlock) {
    {
        ScopedFakeHooks fake;
        FakeLink link;
        BlockSender inst{link, Pattern(1000)};
        inst.totalBytesSent = 2;
        link.instrument = std::ref(inst);
        RecordingBar bar;
        link.ReceiveToStream(&bar, nullptr);
        EXPECT_EQ(bar.maximum, 528);
        EXPECT_EQ(link.transfer.Size(), 528u);
        EXPECT_EQ(inst.requests, (std::vector<uint16_t>{1, 2}));
    }
    {
        // A damaged first block with no total: nothing arrives, still ends.
        ScopedFakeHooks fake;
        FakeLink link;
        BlockSender inst{link, Pattern(1000)};
        inst.totalBytesSent = 0;
        inst.corruptFirstAttempt = {0};
        link.instrument = std::ref(inst);
        link.ReceiveToStream(nullptr, nullptr);
        EXPECT_EQ(link.transfer.Size(), 0u);
        EXPECT_EQ(inst.requests, (std::vector<uint16_t>{1, 1}));
    }
}

TEST(LinkReceive, OversizedLengthWordIsABadBlock) {
    ScopedFakeHooks fake;
    FakeLink link;
    BlockSender inst{link, Pattern(1000)};
    inst.announcedLenOfFirst = 600; // more than a block holds
    link.instrument = std::ref(inst);
    RecordingIndicator indicator;
    link.ReceiveToStream(nullptr, &indicator);
    // Block 1 is asked for again and its good copy taken: nothing framed
    // from the middle of the data.
    EXPECT_TRUE(std::vector<uint8_t>(link.transfer.Data(),
                                     link.transfer.Data() + link.transfer.Size()) == Pattern(1000));
    EXPECT_EQ(inst.requests, (std::vector<uint16_t>{1, 1, 2, 3}));
    EXPECT_EQ(indicator.shows, 1);
    EXPECT_FALSE(indicator.visible);
}

// A peer that answers every request with a bad block (too long, or with a
// wrong check word) is given up on, with the reason, rather than asked for
// ever.
TEST(LinkReceive, WedgedInstrumentIsGivenUpOnAfterABoundedRun) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        ScopedFakeHooks fake;
        FakeLink link;
        BlockSender inst{link, Pattern(2000)};
        if (variant == 0) {
            inst.announcedLenOfFirst = 1000;
            inst.lyingCopies = -1;
        } else {
            inst.alwaysBadChecksum = true;
        }
        link.instrument = std::ref(inst);
        try {
            link.ReceiveToStream(nullptr, nullptr);
            ADD_FAILURE() << "a wedged transfer ended normally";
        } catch (const LinkError& e) {
            EXPECT_STREQ(e.what(), "Port err. xbtCload");
        }
        EXPECT_EQ(link.Fault(), "the instrument sent 32 bad blocks in a row");
        EXPECT_EQ(inst.requests.size(), 32u);
        EXPECT_EQ(fake.hooks.cursorDepth, 0);
    }
    // A noisy cable that damages each block a few times still gets through.
    ScopedFakeHooks fake;
    FakeLink link;
    BlockSender inst{link, Pattern(3000)};
    int copies = 0;
    link.instrument = [&](uint8_t b) {
        inst.alwaysBadChecksum = (++copies / 2) % 8 != 0;
        inst(b);
    };
    link.ReceiveToStream(nullptr, nullptr);
    EXPECT_TRUE(std::vector<uint8_t>(link.transfer.Data(),
                                     link.transfer.Data() + link.transfer.Size()) == Pattern(3000));
}

TEST(LinkReceive, HostileTotalsAreRefusedBeforeAnyBlock) {
    for (const int32_t total : {INT32_MIN, -1, int32_t(kTransferLimit + 1)}) {
        SCOPED_TRACE(total);
        ScopedFakeHooks fake;
        FakeLink link;
        BlockSender inst{link, Pattern(1000)};
        inst.overrideTotal = true;
        inst.total = total;
        link.instrument = std::ref(inst);
        std::vector<uint8_t> dest(1000);
        EXPECT_THROW(link.ReceiveBlocks(dest.data(), dest.size(), nullptr, nullptr), LinkError);
        EXPECT_NE(link.Fault().find("announced a transfer of " + std::to_string(total)),
                  std::string::npos)
            << link.Fault();
        EXPECT_TRUE(inst.requests.empty());
    }
}

TEST(LinkReceive, PeerThatNeverSynchronisesIsGivenUpOn) {
    ScopedFakeHooks fake;
    FakeLink link;
    int zeros = 0;
    link.instrument = [&](uint8_t b) {
        zeros += b == 0;
        link.Answer('S'); // a flood of anything but the 0x00 echo
    };
    EXPECT_THROW(link.ReceiveToStream(nullptr, nullptr), LinkError);
    EXPECT_NE(link.Fault().find("did not synchronise"), std::string::npos);
    EXPECT_EQ(zeros, 100);
}

TEST(LinkReceive, DestinationCapacityIsNeverExceeded) {
    ScopedFakeHooks fake;
    FakeLink link;
    // The transfer runs to its end, so that the dialogue stays in step, and
    // is refused then.
    BlockSender inst{link, Pattern(1000)};
    link.instrument = std::ref(inst);
    std::vector<uint8_t> dest(600, 0xEE);
    EXPECT_EQ(link.ReceiveBlocks(dest.data(), 500, nullptr, nullptr), 0);
    EXPECT_EQ(std::count(dest.begin(), dest.end(), 0xEE), 600);
    ASSERT_EQ(fake.hooks.messages.size(), 1u);
    EXPECT_EQ(fake.hooks.messages[0], "Err. Buffer");

    // No destination: the whole transfer still runs.
    BlockSender again{link, Pattern(700)};
    link.instrument = std::ref(again);
    EXPECT_EQ(link.ReceiveBlocks(nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(link.transfer.Size(), 700u);

    link.Close();
    try {
        link.ReceiveToStream(nullptr, nullptr);
        FAIL();
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Port err. xbtCload");
    }
    EXPECT_EQ(fake.hooks.cursorDepth, 0);
}

TEST(LinkSend, BlocksFollowTheInstrumentsRequests) {
    ScopedFakeHooks fake;
    FakeLink link;
    using R = BlockReceiver;
    BlockReceiver inst{
        link,
        {0x31, 0x00},
        {{1, R::Block}, {1, R::Block}, {2, R::Block}, {55, R::Bad}, {3, R::Block}, {4, R::Final}}};
    link.instrument = std::ref(inst);
    inst.Start();
    RecordingBar bar;
    RecordingIndicator indicator;
    const auto data = Pattern(1200, 3);
    link.SendBlocks(data.data(), int(data.size()), &bar, &indicator);

    EXPECT_EQ(inst.echoedPreamble, inst.preamble);
    EXPECT_EQ(testsupport::le32(inst.totalBytes, 0), 1200u);
    EXPECT_TRUE(inst.finished);
    EXPECT_FALSE(inst.badChecksum);
    EXPECT_EQ(inst.assembled, data);
    ASSERT_EQ(inst.responses.size(), 4u);
    // The repeated request got the very same bytes.
    EXPECT_EQ(inst.responses[0], inst.responses[1]);
    EXPECT_EQ(Word(inst.responses[0], 0) >> 6, 528);
    EXPECT_EQ(Word(inst.responses[3], 0) >> 6, 1200 - 2 * 528);
    EXPECT_EQ(indicator.shows, 1);
    EXPECT_FALSE(indicator.visible);
    EXPECT_EQ(bar.maximum, 1200);
    EXPECT_EQ(bar.maxPosition, 1200);
    EXPECT_EQ(bar.position, 0);
    EXPECT_EQ(fake.hooks.cursorDepth, 0);
}

TEST(LinkSend, EmptyTransferIsRefusedWithAMessage) {
    ScopedFakeHooks fake;
    FakeLink link;
    link.SendBlocks(nullptr, 0, nullptr, nullptr);
    EXPECT_TRUE(link.sent.empty());
    ASSERT_EQ(fake.hooks.messages.size(), 1u);
    EXPECT_EQ(fake.hooks.messages[0], "Err. Buffer");

    // Without new data the last transfer's content is sent again.
    link.transfer.Write(reinterpret_cast<const uint8_t*>("xyz"), 3);
    using R = BlockReceiver;
    BlockReceiver inst{link, {0x00}, {{1, R::Block}, {2, R::Final}}};
    link.instrument = std::ref(inst);
    inst.Start();
    link.SendBlocks(nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(inst.assembled, (std::vector<uint8_t>{'x', 'y', 'z'}));
}

TEST(LinkSend, WedgedRequestsAreGivenUpOn) {
    ScopedFakeHooks fake;
    FakeLink link;
    using R = BlockReceiver;
    // A few bad requests are weathered (the fifth restores the cursor);
    // a run of 32 means the instrument is wedged.
    std::vector<R::Step> script{{1, R::Block}};
    for (int i = 0; i < 40; ++i)
        script.push_back({uint16_t(90 + i), R::Bad});
    BlockReceiver inst{link, {0x00}, script};
    link.instrument = std::ref(inst);
    inst.Start();
    RecordingIndicator indicator;
    const auto data = Pattern(2000, 3);
    EXPECT_THROW(link.SendBlocks(data.data(), int(data.size()), nullptr, &indicator), LinkError);
    EXPECT_EQ(link.Fault(), "the instrument sent 32 bad block requests in a row");
    EXPECT_EQ(inst.step, 33u);
    EXPECT_TRUE(indicator.visible);
    EXPECT_EQ(fake.hooks.cursorDepth, 0);

    // A flood before the 0x00 is not echoed for ever either.
    FakeLink flooded;
    flooded.instrument = [&](uint8_t) { flooded.Answer(uint8_t('S')); };
    flooded.Answer('S');
    EXPECT_THROW(flooded.SendBlocks(data.data(), int(data.size()), nullptr, nullptr), LinkError);
    EXPECT_NE(flooded.Fault().find("did not synchronise"), std::string::npos);
}
