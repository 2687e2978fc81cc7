// Slow, late and hostile links played by the emulator: paced bytes, late
// replies, a listener whose handshakes come late, floods, wedged block
// downloads, and peers that go silent or hang up right after Start.
#include "EmuOptions.h"
#include "MonitorClient.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>
#include <set>

using namespace emutest;

namespace {

constexpr int kWait = 8000;

QStringList fast(QStringList more) {
    return QStringList{"--cycle-ms",     "0",     "--start-delay-ms", "0",
                       "--idle-timeout", "10000", "--quiet"} +
           more;
}

varmexemu::EmuParseResult parse(const QStringList& arguments, varmexemu::EmuOptions& o) {
    return varmexemu::parseEmuOptions(QStringList{"varmex-emulator"} + arguments, o);
}

// The bytes of a wired run start up to the end of the quadripole set, and
// the sizes read on the way.
struct PacedStart {
    size_t bytes = 0;
    qint64 elapsedMs = 0;
    size_t headerSize = 0;
    size_t quadBytes = 0;
    int quadCount = 0;
};

PacedStart receivePacedStart(MonitorClient& c, const QElapsedTimer& since) {
    PacedStart p;
    ByteVec identity, header, nodes, aux, quads;
    EXPECT_TRUE(c.startHandshake(kWait, nullptr));
    EXPECT_TRUE(c.read(identity, 15, kWait));
    EXPECT_TRUE(c.receiveBlocks(header));
    EXPECT_TRUE(c.receiveBlocks(nodes));
    EXPECT_TRUE(c.receiveBlocks(aux));
    EXPECT_TRUE(c.receiveBlocks(quads));
    p.elapsedMs = since.elapsed();
    p.bytes = c.bytesReceived();
    p.headerSize = header.size();
    p.quadBytes = quads.size();
    if (header.size() == 136)
        p.quadCount = getI32(header, 112) - getI32(header, 108) + 1;
    return p;
}

// One block of a download, read by hand: what the length word announced
// and whether the check word matched the bytes that came.
struct RawBlock {
    bool echoed = false;
    size_t length = 0;
    bool sumGood = false;
};

RawBlock requestRawBlock(MonitorClient& c, uint16_t seq) {
    RawBlock b;
    c.writeWord(seq);
    ByteVec w;
    if (!c.read(w, 2, kWait) || getU16(w, 0) != seq)
        return b;
    b.echoed = true;
    if (!c.read(w, 2, kWait))
        return b;
    b.length = getU16(w, 0) >> 6;
    ByteVec data, sum;
    if (!c.read(data, b.length, kWait) || !c.read(sum, 2, kWait))
        return b;
    const uint16_t lenSum = uint16_t((b.length & 0xFF) + (b.length >> 8));
    b.sumGood = getU16(sum, 0) == uint16_t(lenSum + sum16(data.data(), data.size()));
    return b;
}

// Reads for up to ms or until limit bytes came; returns what came.
ByteVec readFor(MonitorClient& c, int ms, size_t limit) {
    ByteVec out;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && out.size() < limit) {
        const int b = c.readByte(200);
        if (b >= 0)
            out.push_back(uint8_t(b));
    }
    return out;
}

} // namespace

TEST(EmulatorLinkOptions, ParsedWithRangesAndExclusions) {
    {
        varmexemu::EmuOptions o;
        ASSERT_TRUE(parse({}, o).ok);
        EXPECT_EQ(o.paceBaud, 0);
        EXPECT_EQ(o.latencyMs, 0);
        EXPECT_EQ(o.acceptDelayMs, 0);
        EXPECT_EQ(o.flood, varmexemu::FloodKind::None);
        EXPECT_FALSE(o.wedge || o.hangAfterStart || o.closeAfterStart);
    }
    {
        varmexemu::EmuOptions o;
        ASSERT_TRUE(parse({"--pace-baud", "273000", "--latency-ms", "80", "--accept-delay-ms",
                           "1500", "--flood", "Random"},
                          o)
                        .ok);
        EXPECT_EQ(o.paceBaud, 273000);
        EXPECT_EQ(o.latencyMs, 80);
        EXPECT_EQ(o.acceptDelayMs, 1500);
        EXPECT_EQ(o.flood, varmexemu::FloodKind::Random);
    }
    const QList<QStringList> refused = {
        {"--pace-baud", "20"},                 // too slow to carry any answer in time
        {"--pace-baud", "-1"},                 //
        {"--latency-ms", "60001"},             //
        {"--accept-delay-ms", "100", "--pty"}, // only a TCP listener has a handshake
        {"--flood", "stop"},                   //
        {"--wedge", "--hang-after-start"},
        {"--flood", "start", "--close-after-start"},
    };
    for (const QStringList& args : refused) {
        varmexemu::EmuOptions o;
        const varmexemu::EmuParseResult r = parse(args, o);
        EXPECT_FALSE(r.ok) << args.join(' ').toStdString();
        EXPECT_FALSE(r.error.isEmpty());
    }
    varmexemu::EmuOptions o;
    const varmexemu::EmuParseResult help = parse({"--help"}, o);
    for (const char* name : {"--pace-baud", "--latency-ms", "--accept-delay-ms", "--flood",
                             "--wedge", "--hang-after-start", "--close-after-start"})
        EXPECT_TRUE(help.helpText.contains(QLatin1String(name))) << name;
}

TEST(EmulatorLinkRealism, PacedBytesNeverArriveFasterThanTheBaudRate) {
    // 10 bit times a byte at 9600 baud: about 1 ms a byte. A lower bound on
    // the time taken is what pacing promises; the data must stay intact.
    for (const bool pty : {false, true}) {
        SCOPED_TRACE(pty ? "pseudo-terminal" : "TCP");
        QStringList args = fast(
            {"--pace-baud", "9600", "--electrodes", "24", "--levels", "4", "--exit-when-done"});
        if (pty)
            args << "--pty";
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(args));
        MonitorClient c;
        QElapsedTimer since;
        since.start();
        ASSERT_TRUE(pty ? c.openDevice(emu.firstLine()) : c.connectTcp(emu.port()));
        const PacedStart p = receivePacedStart(c, since);
        EXPECT_EQ(p.headerSize, 136u);
        ASSERT_GT(p.quadCount, 0);
        EXPECT_EQ(p.quadBytes, size_t(p.quadCount) * 8);
        ASSERT_GE(p.bytes, 2000u);
        const double lineMs = double(p.bytes) * 10.0 * 1000.0 / 9600.0;
        EXPECT_GE(double(p.elapsedMs), 0.98 * lineMs) << p.bytes << " bytes";
    }
}

TEST(EmulatorLinkRealism, RepliesComeAfterTheLatency) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start({"--repeat", "0", "--latency-ms", "400", "--quiet"}));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer t;
        t.start();
        c.writeByte('@');
        ASSERT_EQ(c.readByte(3000), '@');
        EXPECT_GE(t.elapsed(), 400);
    }
    // A whole command still goes through, every reply late.
    ASSERT_EQ(c.command(44), 44);
    ByteVec temperature;
    EXPECT_TRUE(c.read(temperature, 4, kWait));
    EXPECT_TRUE(c.waitPrompt(kWait));
}

TEST(EmulatorLinkRealism, LateListenerCompletesNoHandshakeDuringItsDelay) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start({"--repeat", "0", "--accept-delay-ms", "2500", "--quiet"}));
    QElapsedTimer since;
    since.start();
    {
        // A client that gives up early is not let in: its request was dropped.
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(emu.port()));
        EXPECT_FALSE(probe.waitForConnected(600));
        probe.abort();
    }
    // One that keeps retrying, as a TCP stack does, gets through after it.
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port(), 10000));
    EXPECT_GE(since.elapsed(), 1000);
    EXPECT_EQ(c.command(44), 44);
    ByteVec temperature;
    EXPECT_TRUE(c.read(temperature, 4, kWait));
    EXPECT_TRUE(c.waitPrompt(kWait));
}

TEST(EmulatorHostilePeer, StartFloodSendsOnlyStartBytesAndStaysSmall) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--flood", "start"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const ByteVec first = readFor(c, 3000, 200000);
    ASSERT_GT(first.size(), 10000u);
    EXPECT_EQ(std::count(first.begin(), first.end(), uint8_t('S')), std::ptrdiff_t(first.size()))
        << "the ready byte or anything else came";
    // A monitor that stops reading must not make the emulator grow.
    const long before = residentKb(emu.pid());
    QThread::msleep(2500);
    const long after = residentKb(emu.pid());
    ASSERT_GT(before, 0);
    EXPECT_LT(after, before + 20 * 1024) << "kB";
    EXPECT_FALSE(readFor(c, 500, 1000).empty()) << "the flood stopped";
    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorHostilePeer, RandomFloodFollowsTheStartHandshake) {
    for (const bool pty : {false, true}) {
        SCOPED_TRACE(pty ? "pseudo-terminal" : "TCP");
        QStringList args = fast({"--flood", "random"});
        if (pty)
            args << "--pty";
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(args));
        MonitorClient c;
        ASSERT_TRUE(pty ? c.openDevice(emu.firstLine()) : c.connectTcp(emu.port()));
        ASSERT_TRUE(c.startHandshake(kWait, nullptr));
        const ByteVec junk = readFor(c, 3000, 65536);
        ASSERT_GT(junk.size(), 4096u);
        const std::set<uint8_t> values(junk.begin(), junk.end());
        EXPECT_GT(values.size(), 200u);
    }
}

TEST(EmulatorHostilePeer, WedgedDownloadAnswersEveryRequestWithABadBlock) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--wedge", "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    ASSERT_TRUE(c.startHandshake(kWait, nullptr));
    ByteVec identity;
    ASSERT_TRUE(c.read(identity, 15, kWait));
    // The header transfer begins as usual.
    c.writeByte(0x00);
    ASSERT_EQ(c.readByte(kWait), 0x00);
    ByteVec total;
    ASSERT_TRUE(c.read(total, 4, kWait));
    EXPECT_EQ(getI32(total, 0), 136);
    // Then every request, the first one or a retry, gets a bad block: too
    // long and wrong check word in turn.
    for (int i = 0; i < 8; ++i) {
        const RawBlock b = requestRawBlock(c, 1);
        ASSERT_TRUE(b.echoed) << i;
        if (i % 2 == 0) {
            EXPECT_GT(b.length, 528u) << i;
        } else {
            EXPECT_EQ(b.length, 136u) << i;
            EXPECT_FALSE(b.sumGood) << i;
        }
    }
    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorHostilePeer, HangAfterStartKeepsTheLinkOpenAndSilent) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--hang-after-start"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    ASSERT_TRUE(c.startHandshake(kWait, nullptr));
    c.writeByte(0x00); // a block synchronisation: no echo comes
    c.writeByte('@');
    EXPECT_EQ(c.readByte(1500), -1);
    EXPECT_FALSE(c.peerClosed(500));
    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorHostilePeer, CloseAfterStartHangsUpRightAfterTheHandshake) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--close-after-start"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    bool controls = false;
    ASSERT_TRUE(c.startHandshake(kWait, &controls));
    EXPECT_TRUE(controls); // the handshake was complete before the hang-up
    EXPECT_TRUE(c.peerClosed(kWait));
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}
