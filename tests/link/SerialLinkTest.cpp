// The serial link over a pseudo-terminal: the connect prompt, the line
// set-up, the modem dialogue against a scripted modem, byte writes that wait
// for the transmit queue, block transfers and a far end that hangs up.
#include "link/SerialLink.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>

namespace {

struct SerialFixture : ::testing::Test {
    ScopedLiveHooks live;
    PtyPair pty;
    PeerStream peer;
    std::unique_ptr<SerialLink> link;

    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        link = std::make_unique<SerialLink>(pty.SlavePath());
        peer.Reset(pty.TakeMaster());
    }

    int Open(const std::string& address = {}, const std::string& modemInit = {}) {
        return link->Open(3, 115200, address, false, modemInit, 0);
    }
};

// A Hayes modem: answers ATZ and the init string with OK, the dial command
// with dialReply (nothing when empty).
std::string ScriptedModem(PeerStream& modem, bool withInit, const std::string& dialReply,
                          std::atomic<bool>* dialled = nullptr) {
    if (!modem.ReadUntil("\r\n"))
        return "no reset command";
    modem.Write("ATZ\r\r\nOK\r\n");
    if (withInit) {
        if (!modem.ReadUntil("\r\n"))
            return "no init string";
        modem.Write("\r\nOK\r\n");
    }
    if (!modem.ReadUntil("\r\n"))
        return "no dial command";
    if (dialled)
        *dialled = true;
    if (!dialReply.empty())
        modem.Write(dialReply);
    return "";
}

} // namespace

TEST_F(SerialFixture, PromptNamesThePortAndCancelOpensNothing) {
    live.hooks.answers = {false};
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(link->GetState(), -1);
    ASSERT_EQ(live.hooks.prompts.size(), 1u);
    EXPECT_EQ(live.hooks.prompts[0].caption, "Communication");
    // The device path, not a port number that says nothing on this system.
    EXPECT_EQ(live.hooks.prompts[0].text, "Connect Serial link < " + pty.SlavePath() +
                                              " > between computer and VARMEX/KELDO,\nthen "
                                              "press < OK > button");
    EXPECT_FALSE(link->Control().IsOpen());
    EXPECT_TRUE(link->FailureReason().empty()); // cancelled, not failed
}

TEST(SerialLink, MissingDeviceFailsWithItsPathAndTheSystemsReason) {
    ScopedLiveHooks live;
    SerialLink link("/dev/pylorix-no-such-device");
    EXPECT_EQ(link.Open(3, 115200, "", false, "", 0), 0);
    EXPECT_LE(link.GetState(), 0);
    const std::string expected = "cannot open serial device /dev/pylorix-no-such-device: ";
    ASSERT_EQ(live.hooks.messages.size(), 1u);
    EXPECT_EQ(live.hooks.messages[0].rfind(expected, 0), 0u) << live.hooks.messages[0];
    EXPECT_GT(live.hooks.messages[0].size(), expected.size()); // the system's words follow
    EXPECT_EQ(link.FailureReason(), live.hooks.messages[0]);
    EXPECT_FALSE(link.FailureIsFinal()); // the adapter may be plugged in later

    live.hooks.messages.clear();
    link.showOpenFailures = false; // a retry: the status says it
    EXPECT_EQ(link.Open(3, 115200, "", false, "", 0), 0);
    EXPECT_TRUE(live.hooks.messages.empty());
    EXPECT_FALSE(link.FailureReason().empty());
}

TEST_F(SerialFixture, OpenWithoutAddressSendsNoModemCommand) {
    EXPECT_EQ(Open(), 3);
    EXPECT_EQ(link->GetState(), 3);
    EXPECT_EQ(link->GetDtr() + link->GetRts(), 2);
    EXPECT_EQ(peer.Drain(300), "");

    // Bytes already waiting when the session starts are dropped by it.
    peer.Write("junk");
    QElapsedTimer t;
    t.start();
    while (link->InputCount() < 4 && t.elapsed() < 5000) {
    }
    link->FlushInput();
    EXPECT_EQ(link->InputCount(), 0);
}

TEST_F(SerialFixture, ModemDialogueForAddress0123) {
    for (bool withInit : {false, true}) {
        SCOPED_TRACE(withInit);
        auto modem = RunPeer([&] { return ScriptedModem(peer, withInit, "CONNECT 115200\r\n"); });
        EXPECT_EQ(Open("0123", withInit ? "AT&F1" : ""), 3);
        EXPECT_EQ(modem.get(), "");
        EXPECT_EQ(peer.Received(),
                  withInit ? "ATZ\r\nAT&F1\r\nATDT0123\r\n" : "ATZ\r\nATDT0123\r\n");
        EXPECT_EQ(link->GetState(), 3);
        link->Close();
        peer.Reset(nullptr);
        PtyPair next;
        ASSERT_TRUE(next.Ok());
        link->Control().SetDeviceOverride(next.SlavePath());
        peer.Reset(next.TakeMaster());
    }
}

TEST_F(SerialFixture, ModemThatRefusesTheCallFailsTheOpenAtOnce) {
    auto modem = RunPeer([&] { return ScriptedModem(peer, false, "\r\nNO CARRIER\r\n"); });
    EXPECT_EQ(Open("0123"), 0);
    EXPECT_EQ(modem.get(), "");
    EXPECT_LE(link->GetState(), 0);
    EXPECT_EQ(link->GetDtr(), 0); // the line is dropped, so the modem hangs up
}

TEST_F(SerialFixture, SilentModemCountsAsConnectedAfter300s) {
    // Once the number is dialled every pump stands for a second of silence.
    std::atomic<bool> dialled{false};
    live.hooks.onPump = [&] {
        if (dialled)
            live.hooks.skippedMs += 1000;
    };
    auto modem = RunPeer([&] { return ScriptedModem(peer, false, "", &dialled); });
    const int64_t before = live.hooks.TickMs();
    EXPECT_EQ(Open("0123"), 3);
    EXPECT_EQ(modem.get(), "");
    // Both waits (CONNECT, then the line end) ran into the silence limit.
    EXPECT_GE(live.hooks.TickMs() - before, 2 * 300000);
}

TEST_F(SerialFixture, WritesWaitForTheTransmitQueue) {
    ASSERT_EQ(Open(), 3);
    const std::vector<uint8_t> data = TestPattern(6000);
    std::string seen;
    auto reader = RunPeer([&] {
        seen = peer.Drain(1000);
        return std::string();
    });
    link->WriteBuffer(data.data(), int(data.size()));
    EXPECT_EQ(link->OutputCount(), 0);
    reader.get();
    EXPECT_EQ(seen, std::string(data.begin(), data.end()));
}

TEST_F(SerialFixture, CloseAndReopenTheSamePort) {
    ASSERT_EQ(Open(), 3);
    link->Close();
    EXPECT_EQ(link->GetState(), 0);
    EXPECT_EQ(link->GetDtr(), 0);
    EXPECT_THROW(link->ReadByte(), LinkError);
    EXPECT_THROW(link->WriteByte('x'), LinkError);
    EXPECT_EQ(link->ReadByteTimed(10), -1);
    EXPECT_EQ(link->PutByte('x'), -1);

    ASSERT_EQ(Open(), 3);
    link->WriteByte('!');
    EXPECT_EQ(peer.Drain(300), "!");
    peer.Write("?");
    EXPECT_EQ(link->ReadByte(), '?');
}

TEST_F(SerialFixture, CommandAndBlockTransfers) {
    ASSERT_EQ(Open(), 3);
    const std::vector<uint8_t> download = TestPattern(5 * 528 + 17, 9);
    const std::vector<uint8_t> upload = TestPattern(3000, 1);
    std::vector<uint8_t> uploaded;
    auto instrument = RunPeer([&]() -> std::string {
        std::string r = PeerAnswerCommand(peer, 28);
        if (r.empty())
            r = PeerSendBlocks(peer, download, 2);
        if (r.empty())
            r = PeerReceiveBlocks(peer, uploaded);
        if (r.empty())
            peer.Write("\r\n:>");
        return r;
    });
    ASSERT_TRUE(link->SendCommand(28, 2000));
    std::vector<uint8_t> got(download.size());
    EXPECT_EQ(link->ReceiveBlocks(got.data(), got.size(), nullptr, nullptr), int(download.size()));
    EXPECT_TRUE(got == download);
    link->SendBlocks(upload.data(), int(upload.size()), nullptr, nullptr);
    EXPECT_TRUE(link->WaitPrompt());
    EXPECT_EQ(instrument.get(), "");
    EXPECT_TRUE(uploaded == upload);
}

TEST_F(SerialFixture, FarEndHangingUpDropsTheLink) {
    ASSERT_EQ(Open(), 3);
    peer.Close();
    QElapsedTimer t;
    t.start();
    try {
        link->ReadByte();
        ADD_FAILURE() << "ReadByte returned on a dead line";
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Port err. Getcom");
    }
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(link->GetState(), -1);
    EXPECT_NE(link->Fault().find("lost"), std::string::npos) << link->Fault();
    EXPECT_FALSE(link->WaitForText(":>"));
}
