// The shared link operations against a scripted instrument double written
// from the wire summary: command handshake, prompt wait and lines.
#include "FakeLink.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>

namespace {

// The instrument's side of a command: echoes '@' on the n-th one, then
// answers each command/complement pair from a list (-1 = silence).
struct CommandInstrument {
    CommandInstrument(FakeLink& l, int at, std::vector<int> r)
        : link(l), echoAt(at), replies(std::move(r)) {}
    FakeLink& link;
    int echoAt = 1;
    std::vector<int> replies;
    int ats = 0;
    bool synced = false;
    std::vector<uint8_t> commandBytes;

    void operator()(uint8_t b) {
        if (!synced && b == '@') {
            ++ats;
            if (ats == echoAt) {
                synced = true;
                link.Answer('@');
            }
            return;
        }
        commandBytes.push_back(b);
        if (commandBytes.size() % 2 == 0) {
            const size_t i = commandBytes.size() / 2 - 1;
            const int reply = i < replies.size() ? replies[i] : -1;
            if (reply >= 0)
                link.Answer(uint8_t(reply));
        }
    }
};

} // namespace

TEST(LinkCommand, SynchronisationLimitIs78UnansweredOf82) {
    for (int echoAt : {1, 78, 79, 0}) {
        ScopedFakeHooks fake;
        FakeLink link;
        CommandInstrument inst{link, echoAt, {28}};
        link.instrument = std::ref(inst);
        const bool ok = link.SendCommand(28, 2000);
        SCOPED_TRACE(echoAt);
        if (echoAt == 1 || echoAt == 78) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(inst.ats, echoAt);
            EXPECT_EQ(inst.commandBytes, (std::vector<uint8_t>{28, 28 ^ 0xFF}));
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(inst.ats, echoAt == 79 ? 79 : 82);
            EXPECT_TRUE(inst.commandBytes.empty());
        }
        EXPECT_EQ(fake.hooks.cursorDepth, 0);
    }
}

TEST(LinkCommand, BusyRepliesAreRetriedSixTimesAtMost) {
    {
        ScopedFakeHooks fake;
        FakeLink link;
        CommandInstrument inst{link, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 41}};
        link.instrument = std::ref(inst);
        EXPECT_FALSE(link.SendCommand(41, 2000));
        EXPECT_EQ(inst.commandBytes.size(), 12u);
    }
    {
        ScopedFakeHooks fake;
        FakeLink link;
        CommandInstrument inst{link, 1, {0xFF, -1, 41}};
        link.instrument = std::ref(inst);
        const int64_t before = fake.hooks.now;
        EXPECT_TRUE(link.SendCommand(41, 2000));
        EXPECT_EQ(inst.commandBytes.size(), 6u);
        // Three 10 ms gaps, one 2000 ms silence and the final 20 ms pause.
        EXPECT_GE(fake.hooks.now - before, 3 * 10 + 2000 + 20);
    }
    {
        ScopedFakeHooks fake;
        FakeLink link;
        CommandInstrument inst{link, 1, {0x13}};
        link.instrument = std::ref(inst);
        EXPECT_FALSE(link.SendCommand(41, 2000)); // a wrong answer is not retried
        EXPECT_EQ(inst.commandBytes.size(), 2u);
    }
}

TEST(LinkCommand, ClosedLinksRaiseAndRestoreTheCursor) {
    ScopedFakeHooks fake;
    FakeLink link;
    link.Close();
    try {
        link.SendCommand(28, 2000);
        FAIL() << "no error raised";
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Port err. Setcmd");
    }
    EXPECT_EQ(fake.hooks.cursorDepth, 0);

    // A refused write is retried with pumping; a handler that closes the
    // link meanwhile ends the command with the same error.
    link.Open(0, 0, "", false, "", 0);
    CommandInstrument inst{link, 1, {28}};
    link.instrument = std::ref(inst);
    link.putByteRefusals = 3;
    EXPECT_TRUE(link.SendCommand(28, 2000));
    link.putByteRefusals = 1000;
    fake.hooks.onPump = [&] { link.Close(); };
    inst.synced = false;
    inst.ats = 0;
    EXPECT_THROW(link.SendCommand(28, 2000), LinkError);
    EXPECT_EQ(fake.hooks.cursorDepth, 0);
}

TEST(LinkText, PromptArrivesInPiecesOrSilenceEndsTheWait) {
    ScopedFakeHooks fake;
    FakeLink link;
    link.Answer({'O', 'K', '\r', ':'});
    int pumps = 0;
    fake.hooks.onPump = [&] {
        if (++pumps == 3)
            link.Answer('>');
    };
    EXPECT_TRUE(link.WaitPrompt());
    EXPECT_TRUE(link.rx.empty());

    // 300 s without a byte counts as the prompt.
    fake.hooks.onPump = nullptr;
    const int64_t start = fake.hooks.now;
    EXPECT_TRUE(link.WaitForText(":>"));
    EXPECT_GT(fake.hooks.now - start, 300000);

    // A closed link ends the wait with false.
    fake.hooks.onPump = [&] { link.Close(); };
    EXPECT_FALSE(link.WaitForText(":>"));
}

TEST(LinkText, LinesStopAtLineFeedOrLengthAndTimeOutEmpty) {
    ScopedFakeHooks fake;
    FakeLink link;
    link.Answer({'V', 'A', 'R', '\r', '\n', '1', '2', '3', '4', '5'});
    std::string line;
    EXPECT_TRUE(link.ReadLine(line, 40, 1000));
    EXPECT_EQ(line, "VAR");
    EXPECT_TRUE(link.ReadLine(line, 3, 1000));
    EXPECT_EQ(line, "123");
    EXPECT_FALSE(link.ReadLine(line, 40, 1000));
    EXPECT_EQ(line, "");
    link.Close();
    try {
        link.ReadLine(line, 40, 1000);
        FAIL();
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Port err. getstring");
    }
}

TEST(LinkText, ReadBytesStopsAtTheFirstTimeOutAndIdentityReadsTwoLines) {
    ScopedFakeHooks fake;
    FakeLink link;
    link.Answer({1, 2, 3});
    uint8_t buf[8] = {};
    EXPECT_EQ(link.ReadBytes(buf, 8, 100), 3);
    EXPECT_EQ(buf[2], 3);

    int polls = 0;
    link.instrument = [&](uint8_t b) {
        if (b == '@' && ++polls == 3)
            link.Answer({'@', 'V', 'X', '1', '0', '\n', 'S', 'N', '4', '2', '\n'});
    };
    std::string first, second;
    EXPECT_TRUE(link.ReadIdentity(second, first));
    EXPECT_EQ(first, "VX10");
    EXPECT_EQ(second, "SN42");

    link.Close();
    EXPECT_THROW(link.ReadBytes(buf, 8, 100), LinkError);
    EXPECT_FALSE(link.ReadIdentity(second, first));
    ASSERT_FALSE(fake.hooks.messages.empty());
    EXPECT_EQ(fake.hooks.messages.back(), "Unknown Baudrate");
}
