// The TCP/IP link against a real peer on loopback: opening with and without
// the WiConnect prompt, refusals, a peer that hangs up, lines cut by 0xFF,
// and whole block transfers both ways.
#include "link/TcpLink.h"
#include "LivePeer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

namespace {

// Opens link on listener as a Wi-Fi-generation instrument; the accepted
// socket goes to peer.
bool OpenOn(TcpLink& link, LoopbackListener& listener, PeerStream& peer) {
    if (link.Open(kConnectionWifiInstrument, 273000, listener.Address(), false, "", 0) !=
        kConnectionWifiInstrument)
        return false;
    peer.Reset(listener.Accept());
    return peer.Fd() >= 0;
}

// Services the socket until the link notices a hang-up (or 5 s pass).
void WaitForDrop(TcpLink& link) {
    QElapsedTimer t;
    t.start();
    while (link.GetState() > 0 && t.elapsed() < 5000)
        link.InputCount();
}

} // namespace

TEST(TcpAddress, AcceptsHostAndHostPortForms) {
    struct Case {
        std::string text, host;
        uint16_t port;
    };
    const Case cases[] = {
        {"", "192.168.100.76", 29461},
        {"  192.168.1.15 ", "192.168.1.15", 29461},
        {"10.0.0.5:5000", "10.0.0.5", 5000},
        {"[::1]:6000", "::1", 6000},
        {"fe80::1", "fe80::1", 29461},
        {"10.0.0.5:99999", "10.0.0.5:99999", 29461}, // not a port: left to fail
    };
    for (const Case& c : cases) {
        const IpEndpoint ep = ParseIpAddress(c.text);
        EXPECT_EQ(ep.host, c.host) << c.text;
        EXPECT_EQ(ep.port, c.port) << c.text;
    }
}

TEST(TcpLink, OpensWithoutPromptAndReadsLinesUpTo0xFF) {
    ScopedLiveHooks live;
    LoopbackListener listener;
    PeerStream peer;
    TcpLink link;
    EXPECT_EQ(link.VersionText(), "Not connected");

    // Code 200: the session asked already, the link shows no prompt.
    ASSERT_TRUE(OpenOn(link, listener, peer));
    EXPECT_TRUE(live.hooks.prompts.empty());
    EXPECT_EQ(link.GetState(), 200);
    EXPECT_EQ(link.VersionText(), listener.Address());
    EXPECT_EQ(link.GetPortNumber(), listener.Port());

    link.WriteBuffer(reinterpret_cast<const uint8_t*>("VU"), 2);
    EXPECT_TRUE(peer.ReadUntil("VU"));
    peer.Write(std::string("VARMEX 48\r\nKE\xFFLDO\n", 18));
    std::string line;
    EXPECT_TRUE(link.ReadLine(line, 40, 5000));
    EXPECT_EQ(line, "VARMEX 48");
    EXPECT_FALSE(link.ReadLine(line, 40, 5000));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(link.ReadLine(line, 40, 5000));
    EXPECT_EQ(line, "LDO");
    EXPECT_EQ(link.ReadByteTimed(50), -1);

    link.Close();
    EXPECT_EQ(link.GetState(), 0);
    uint8_t b = 0;
    EXPECT_FALSE(peer.Read(b, 2000)); // the peer sees the end of the stream
}

TEST(TcpLink, WiConnectAsksFirstAndCancelOpensNothing) {
    ScopedLiveHooks live;
    TcpLink link;
    live.hooks.answers = {false};
    EXPECT_EQ(link.Open(kConnectionWiConnect, 273000, "", false, "", 0), 0);
    EXPECT_EQ(link.GetState(), -1);
    ASSERT_EQ(live.hooks.prompts.size(), 1u);
    EXPECT_EQ(live.hooks.prompts[0].caption, "connect to 192.168.100.76");
    EXPECT_EQ(live.hooks.prompts[0].text,
              "Connect WiConnect on VARMEX/KELDO \nthen press < OK > button");
    EXPECT_TRUE(live.hooks.messages.empty());

    LoopbackListener listener;
    live.hooks.prompts.clear();
    EXPECT_EQ(link.Open(kConnectionWiConnect, 273000, listener.Address(), false, "", 0), 100);
    ASSERT_EQ(live.hooks.prompts.size(), 1u);
    EXPECT_EQ(live.hooks.prompts[0].caption, "connect to " + listener.Address());
    EXPECT_GE(listener.Accept(), 0);
}

TEST(TcpLink, FourRefusalsGiveUpWithMessage) {
    ScopedLiveHooks live;
    TcpLink link;
    const std::string address = "127.0.0.1:" + std::to_string(RefusingPort());
    EXPECT_EQ(link.Open(kConnectionWifiInstrument, 273000, address, false, "", 0), 0);
    EXPECT_EQ(link.GetState(), 0);
    EXPECT_EQ(link.VersionText(), "Not connected");
    EXPECT_EQ(live.hooks.SleptInPiecesOf(500), 4); // about 2 s of pauses
    EXPECT_EQ(live.hooks.messages, std::vector<std::string>{"Unable to connect to " + address});

    // The same object connects once a peer listens.
    LoopbackListener listener;
    PeerStream peer;
    EXPECT_TRUE(OpenOn(link, listener, peer));
    EXPECT_EQ(link.VersionText(), listener.Address());
}

TEST(TcpLink, PeerHangingUpEndsEveryOperation) {
    ScopedLiveHooks live;
    LoopbackListener listener;
    PeerStream peer;
    TcpLink link;
    ASSERT_TRUE(OpenOn(link, listener, peer));

    // What came before the hang-up is still handed over, at once.
    peer.Write("abc");
    peer.Close();
    uint8_t buf[10] = {};
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(link.ReadBufferTimed(buf, 10, 20000), 3);
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
    WaitForDrop(link);
    EXPECT_EQ(link.GetState(), -1);

    t.restart();
    EXPECT_EQ(link.ReadByteTimed(20000), -1);
    EXPECT_NO_THROW(EXPECT_EQ(link.ReadByte(), -1));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(link.InputCount(), -1);
    EXPECT_NO_THROW(link.WriteByte('x'));
    EXPECT_FALSE(link.WaitForText(":>"));
    EXPECT_THROW(link.ReadBuffer(buf, 2), LinkError);
    try {
        link.ReadBytes(buf, 2, 100);
        ADD_FAILURE() << "ReadBytes on a dropped link";
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Port err. get IP");
    }
    EXPECT_THROW(link.SendCommand(28, 100), LinkError);
}

TEST(TcpLink, HangUpInTheMiddleOfATransferRaisesInsteadOfHanging) {
    ScopedLiveHooks live;
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        LoopbackListener listener;
        PeerStream peer;
        TcpLink link;
        ASSERT_TRUE(OpenOn(link, listener, peer));
        auto instrument = RunPeer([&] {
            uint8_t b = 0;
            if (variant == 1) {
                // Announce 10000 bytes, deliver half a block, vanish.
                while (peer.Read(b) && b != 0x00) {
                }
                const uint8_t head[] = {0x00, 0x10, 0x27, 0x00, 0x00};
                peer.Write(head, sizeof head);
                uint16_t w = 0;
                peer.ReadWord(w);
                peer.WriteWord(w);
                peer.WriteWord(uint16_t(528 << 6));
                peer.Write(TestPattern(200).data(), 200);
            } else {
                peer.Read(b); // the first 0x00 only
            }
            peer.Close();
            return std::string();
        });
        uint8_t dest[16];
        EXPECT_THROW(link.ReceiveBlocks(dest, sizeof dest, nullptr, nullptr), LinkError);
        EXPECT_EQ(instrument.get(), "");
    }
}

TEST(TcpLink, CommandAndBlockTransfersBothWaysAtFullSpeed) {
    ScopedLiveHooks live;
    LoopbackListener listener;
    PeerStream peer;
    TcpLink link;
    ASSERT_TRUE(OpenOn(link, listener, peer));

    const std::vector<uint8_t> download = TestPattern(127 * 528 + 300, 11);
    const std::vector<uint8_t> upload = TestPattern(40000, 5);
    std::vector<uint8_t> uploaded;
    auto instrument = RunPeer([&]() -> std::string {
        std::string r = PeerAnswerCommand(peer, 28);
        if (r.empty())
            r = PeerSendBlocks(peer, download, 3);
        if (r.empty())
            r = PeerAnswerCommand(peer, 29);
        if (r.empty())
            r = PeerReceiveBlocks(peer, uploaded);
        if (r.empty())
            peer.Write(":>");
        return r;
    });

    ASSERT_TRUE(link.SendCommand(28, 2000));
    std::vector<uint8_t> got(download.size() + 100);
    EXPECT_EQ(link.ReceiveBlocks(got.data(), got.size(), nullptr, nullptr), int(download.size()));
    got.resize(download.size());
    EXPECT_TRUE(got == download);
    ASSERT_TRUE(link.SendCommand(29, 2000));
    link.SendBlocks(upload.data(), int(upload.size()), nullptr, nullptr);
    EXPECT_TRUE(link.WaitPrompt());
    EXPECT_EQ(instrument.get(), "");
    EXPECT_TRUE(uploaded == upload);
}
