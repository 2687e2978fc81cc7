// The emulator as a child process, driven over loopback and a
// pseudo-terminal by the minimal monitor of MonitorClient.
#include "MonitorClient.h"

#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace emutest;

namespace {

constexpr int kWait = 8000;

// What the run start delivers, read by the table layouts.
struct RunStart {
    ByteVec identity, header, nodes, aux, quads, configuration, parameters;
    int quadCount = 0;
    bool controls = false;
};

struct Quad {
    int a, b, m, n;
    bool gap;
};

std::vector<Quad> quadTable(const ByteVec& block) {
    std::vector<Quad> q;
    for (size_t i = 0; i + 8 <= block.size(); i += 8) {
        const uint16_t a = getU16(block, i);
        q.push_back({a & 0x7FFF, getU16(block, i + 2), getU16(block, i + 4), getU16(block, i + 6),
                     (a & 0x8000) != 0});
    }
    return q;
}

// Geometric factor written out for the test: 2 pi / (1/AM - 1/BM - 1/AN + 1/BN).
double geometricFactor(const float x[4], const float y[4]) {
    auto inv = [&](int i, int j) {
        if (std::fabs(x[i]) >= 99999 || std::fabs(x[j]) >= 99999)
            return 0.0;
        return 1.0 / std::hypot(double(x[i]) - x[j], double(y[i]) - y[j]);
    };
    return 2 * M_PI / (inv(0, 2) - inv(1, 2) - inv(0, 3) + inv(1, 3));
}

RunStart receiveWiredStart(MonitorClient& c) {
    RunStart s;
    EXPECT_TRUE(c.startHandshake(kWait, &s.controls));
    EXPECT_TRUE(c.read(s.identity, 15, kWait));
    EXPECT_TRUE(c.receiveBlocks(s.header));
    EXPECT_TRUE(c.receiveBlocks(s.nodes));
    EXPECT_TRUE(c.receiveBlocks(s.aux));
    EXPECT_TRUE(c.receiveBlocks(s.quads));
    if (s.header.size() == 136)
        s.quadCount = getI32(s.header, 112) - getI32(s.header, 108) + 1;
    return s;
}

RunStart receiveWifiStart(MonitorClient& c, bool moving) {
    RunStart s;
    EXPECT_TRUE(c.wakeUp(kWait));
    EXPECT_TRUE(c.startHandshake(kWait, &s.controls));
    EXPECT_TRUE(c.read(s.identity, 15, kWait));
    EXPECT_TRUE(c.receiveBlocks(s.configuration));
    EXPECT_TRUE(c.receiveBlocks(s.parameters));
    if (!moving) {
        EXPECT_TRUE(c.receiveBlocks(s.nodes));
        EXPECT_TRUE(c.receiveBlocks(s.aux));
        EXPECT_TRUE(c.receiveBlocks(s.quads));
    }
    if (s.parameters.size() == 2396)
        s.quadCount = getI32(s.parameters, 260) - getI32(s.parameters, 256) + 1;
    return s;
}

// Reads batches to the end; fails the test on a closed link.
std::vector<BatchResult> readAll(MonitorClient& c, bool wifi, char mode) {
    std::vector<BatchResult> out;
    for (;;) {
        BatchResult b = readBatch(c, wifi, mode, kWait);
        if (b.kind == BatchResult::Closed) {
            ADD_FAILURE() << "link closed before '$'";
            return out;
        }
        if (b.kind == BatchResult::End)
            return out;
        out.push_back(std::move(b));
    }
}

// Reads until the echo of a control byte, taking in any batch the
// instrument had already started; returns the number of such batches, -1
// when no echo came.
int expectEcho(MonitorClient& c, uint8_t code, bool wifi, char mode) {
    int batches = 0;
    for (;;) {
        const int b = c.readByte(kWait);
        if (b == code)
            return batches;
        if (b != '#') {
            ADD_FAILURE() << "instead of the echo: " << b;
            return -1;
        }
        c.pushBack('#');
        if (readBatch(c, wifi, mode, kWait).kind != BatchResult::Batch)
            return -1;
        ++batches;
    }
}

QStringList fast(QStringList more) {
    return QStringList{"--cycle-ms",     "0",     "--start-delay-ms", "0",
                       "--idle-timeout", "10000", "--quiet"} +
           more;
}

} // namespace

TEST(EmulatorWired, WholeAcquisitionMatchesTablesAndTruth) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(
        emu.start(fast({"--electrodes", "12", "--channels", "4", "--levels", "5", "--name", "LINE1",
                        "--gap-fillers", "0.2", "--truth", truthPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const RunStart s = receiveWiredStart(c);
    EXPECT_TRUE(s.controls);
    ASSERT_EQ(s.identity.size(), 15u);
    EXPECT_EQ(std::string(s.identity.begin() + 4, s.identity.begin() + 9), "LINE1");
    ASSERT_EQ(s.header.size(), 136u);
    EXPECT_EQ(getI32(s.header, 0), 4);   // channels
    EXPECT_EQ(getI32(s.header, 108), 0); // first quadripole
    EXPECT_EQ(getI32(s.header, 120), 1); // first node
    EXPECT_EQ(getI32(s.header, 124), 12);
    EXPECT_EQ(std::string(s.header.begin() + 92, s.header.begin() + 97), "LINE1");
    ASSERT_EQ(s.nodes.size(), 13u * 12u); // nodes 0..lastNode
    EXPECT_EQ(s.aux.size(), 48u);
    const std::vector<Quad> quads = quadTable(s.quads);
    ASSERT_EQ(int(quads.size()), s.quadCount);
    EXPECT_TRUE(std::any_of(quads.begin(), quads.end(), [](const Quad& q) { return q.gap; }));

    c.writeByte('A');
    const std::vector<BatchResult> batches = readAll(c, false, 'A');
    std::map<int, ByteVec> received;
    int expected = 0;
    for (const BatchResult& b : batches) {
        EXPECT_EQ(b.firstIndex, expected);
        expected += b.count;
        ASSERT_EQ(int(b.records.size()), b.count); // every check word right
        for (const ReceivedRecord& r : b.records) {
            const ByteVec& d = r.bytes;
            const Quad& q = quads.at(size_t(r.index));
            EXPECT_EQ(getU16(d, 2), r.index);
            EXPECT_EQ(d[0] & 15, r.slot);
            EXPECT_EQ(d[0] >> 4, 4);
            EXPECT_EQ((d[1] & 0x08) != 0, q.gap);
            // Electrode coordinates are those of the node table.
            float x[4], y[4];
            const int nodes[4] = {q.a, q.b, q.m, q.n};
            for (int e = 0; e < 4; ++e) {
                x[e] = getF32(d, 72 + 12 * size_t(e));
                y[e] = getF32(d, 76 + 12 * size_t(e));
                EXPECT_EQ(x[e], getF32(s.nodes, 12 * size_t(nodes[e])));
                EXPECT_EQ(y[e], getF32(s.nodes, 12 * size_t(nodes[e]) + 4));
            }
            // rho = K Vp / In; batteries and temperature plausible.
            const float rho = getF32(d, 132), vp = getF32(d, 168), in = getF32(d, 172);
            EXPECT_NEAR(geometricFactor(x, y) * vp / in, rho, 1e-3 * std::fabs(rho));
            EXPECT_GT(getF32(d, 152), 10.0f);
            EXPECT_LT(getF32(d, 152), 13.5f);
            EXPECT_GT(getF32(d, 160), 0.0f);
            received[r.index] = d;
        }
    }
    EXPECT_EQ(expected, s.quadCount);
    EXPECT_EQ(emu.waitForExit(kWait), 0);

    // The truth file lists exactly what arrived.
    const TruthTable t = readTruth(truthPath);
    ASSERT_EQ(t.rows.size(), received.size());
    for (size_t i = 0; i < t.rows.size(); ++i) {
        const int index = int(t.number(i, "index"));
        const ByteVec& d = received.at(index);
        EXPECT_EQ(t.text(i, "damaged"), "0");
        EXPECT_EQ(float(t.number(i, "rho")), getF32(d, 132));
        EXPECT_EQ(float(t.number(i, "vp")), getF32(d, 168));
        EXPECT_EQ(float(t.number(i, "in")), getF32(d, 172));
        EXPECT_EQ(float(t.number(i, "mx")), getF32(d, 96));
        EXPECT_EQ(int(t.number(i, "a")), quads[size_t(index)].a);
    }
}

TEST(EmulatorWired, ModeCRetransmitsDamagedRecordsIntact) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(
        emu.start(fast({"--electrodes", "14", "--corrupt", "0.3", "--seed", "11",
                        "--corrupt-blocks", "0.3", "--truth", truthPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const RunStart s = receiveWiredStart(c);
    ASSERT_GT(s.quadCount, 0);
    c.writeByte('C');
    int refusals = 0, records = 0;
    for (const BatchResult& b : readAll(c, false, 'C')) {
        refusals += b.refusals;
        records += int(b.records.size());
        ASSERT_EQ(int(b.records.size()), b.count) << "a retransmission was damaged too";
    }
    EXPECT_EQ(records, s.quadCount);
    EXPECT_GT(refusals, 0);
    EXPECT_EQ(emu.waitForExit(kWait), 0);

    const TruthTable t = readTruth(truthPath);
    int damaged = 0;
    for (size_t i = 0; i < t.rows.size(); ++i)
        if (t.text(i, "damaged") == "1") {
            ++damaged;
            EXPECT_EQ(t.text(i, "fault"), "corrupt");
            ASSERT_LT(i + 1, t.rows.size());
            EXPECT_EQ(t.text(i + 1, "index"), t.text(i, "index"));
            EXPECT_EQ(t.text(i + 1, "attempt"), "2");
        }
    EXPECT_EQ(damaged, refusals);
    EXPECT_EQ(int(t.rows.size()), records + refusals);
}

TEST(EmulatorWired, PauseHoldsUntilResumedAndStopEndsTheRun) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--electrodes", "24", "--cycle-ms", "50", "--pause-timeout",
                                "60000", "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const RunStart s = receiveWiredStart(c);
    ASSERT_TRUE(s.controls);
    c.writeByte('A');
    ASSERT_EQ(readBatch(c, false, 'A', kWait).kind, BatchResult::Batch);

    c.writeByte('Z');
    ASSERT_GE(expectEcho(c, 'Z', false, 'A'), 0);
    c.writeByte('Z');
    EXPECT_EQ(c.readByte(600), -1) << "a batch came during the pause";
    c.writeByte('Z'); // resume
    const BatchResult after = readBatch(c, false, 'A', kWait);
    EXPECT_EQ(after.kind, BatchResult::Batch);

    c.writeByte(0xA5);
    ASSERT_GE(expectEcho(c, 0xA5, false, 'A'), 0);
    c.writeByte(0xA5);
    EXPECT_EQ(c.readByte(kWait), '$');
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorWired, PauseEndsByItselfAndNoControlInstrumentIgnoresRequests) {
    {
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(fast({"--electrodes", "24", "--cycle-ms", "50", "--pause-timeout",
                                    "300", "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        receiveWiredStart(c);
        c.writeByte('R');
        ASSERT_EQ(readBatch(c, false, 'R', kWait).kind, BatchResult::Batch);
        c.writeByte('Z');
        ASSERT_GE(expectEcho(c, 'Z', false, 'R'), 0);
        c.writeByte('Z');
        // No resume: the instrument goes on by itself.
        EXPECT_EQ(readBatch(c, false, 'R', kWait).kind, BatchResult::Batch);
    }
    {
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(
            fast({"--electrodes", "12", "--cycle-ms", "100", "--no-control", "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        const RunStart s = receiveWiredStart(c);
        EXPECT_FALSE(s.controls);
        EXPECT_EQ(s.header.size(), 136u); // the identity was not eaten by the 'X' read
        c.writeByte('R');
        c.writeByte(0xA5); // not offered: no echo, the run goes on to its end
        EXPECT_EQ(c.readByte(kWait), '#');
        c.pushBack('#');
        int records = 0;
        for (;;) {
            const BatchResult b = readBatch(c, false, 'R', kWait);
            ASSERT_NE(b.kind, BatchResult::Closed);
            if (b.kind == BatchResult::End)
                break;
            records += int(b.records.size());
        }
        EXPECT_EQ(records, s.quadCount);
        EXPECT_EQ(emu.waitForExit(kWait), 0);
    }
}

TEST(EmulatorWired, DroppedLinkAndVanishingMonitorEndTheEmulatorCleanly) {
    {
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(fast({"--electrodes", "16", "--drop-after", "3"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        receiveWiredStart(c);
        c.writeByte('A');
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(readBatch(c, false, 'A', kWait).kind, BatchResult::Batch);
        EXPECT_EQ(readBatch(c, false, 'A', kWait).kind, BatchResult::Closed);
        EXPECT_EQ(emu.waitForExit(kWait), 0);
    }
    {
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(fast({"--electrodes", "24", "--cycle-ms", "100"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        receiveWiredStart(c);
        c.writeByte('C');
        ASSERT_EQ(readBatch(c, false, 'C', kWait).kind, BatchResult::Batch);
        c.close();
        EXPECT_EQ(emu.waitForExit(kWait), 0);
    }
}

TEST(EmulatorWired, BadAnnouncementsSkipsAndShortRecordsKeepTheStreamReadable) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--electrodes", "12", "--bad-count", "--bad-index", "--skip", "5:3",
                                "--short-record", "2", "--short-gap-ms", "1200", "--seed", "4",
                                "--truth", truthPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const RunStart s = receiveWiredStart(c);
    c.writeByte('C');
    int expected = 0, discarded = 0, skipped = 0, records = 0, shortRecords = 0;
    for (;;) {
        const BatchResult b = readBatch(c, false, 'C', kWait, expected, 600);
        ASSERT_NE(b.kind, BatchResult::Closed);
        if (b.kind == BatchResult::End)
            break;
        if (b.kind == BatchResult::Discarded) {
            ++discarded;
            continue;
        }
        skipped += b.firstIndex - expected;
        expected = b.firstIndex + b.count;
        records += int(b.records.size());
        shortRecords += b.shortRecords;
    }
    EXPECT_EQ(discarded, 2);
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(shortRecords, 1);
    EXPECT_EQ(records, s.quadCount - 3 - 1);
    EXPECT_EQ(emu.waitForExit(kWait), 0);
    const TruthTable t = readTruth(truthPath);
    ASSERT_GT(t.rows.size(), 2u);
    EXPECT_EQ(t.text(2, "index"), "2");
    EXPECT_EQ(t.text(2, "fault"), "short");
}

TEST(EmulatorWired, AcquisitionOverPseudoTerminal) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--pty", "--electrodes", "10", "--exit-when-done"})));
    ASSERT_TRUE(emu.firstLine().startsWith("/dev/")) << emu.firstLine().toStdString();
    MonitorClient c;
    ASSERT_TRUE(c.openDevice(emu.firstLine()));
    const RunStart s = receiveWiredStart(c);
    ASSERT_EQ(s.header.size(), 136u);
    c.writeByte('C');
    int records = 0;
    for (const BatchResult& b : readAll(c, false, 'C')) {
        EXPECT_EQ(b.refusals, 0); // binary bytes pass the line unchanged
        records += int(b.records.size());
    }
    EXPECT_EQ(records, s.quadCount);
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorWifi, WholeAcquisitionWithAcknowledgedRawRecords) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--generation", "wifi", "--electrodes", "12", "--channels", "8",
                                "--array", "pole-dipole", "--corrupt", "0.2", "--truth", truthPath,
                                "--repeat", "2", "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    for (int run = 1; run <= 2; ++run) {
        const RunStart s = receiveWifiStart(c, false);
        ASSERT_EQ(s.configuration.size(), 1068u);
        EXPECT_EQ(getI32(s.configuration, 4), 20);
        const ByteVec& p = s.parameters;
        ASSERT_EQ(p.size(), 2396u);
        EXPECT_EQ(getU16(p, 240), 8);
        EXPECT_EQ(p[2246] & 0x30, 0);
        EXPECT_EQ(getI32(p, 256), 1);
        const int lastNode = int16_t(getU16(p, 272));
        EXPECT_EQ(getU16(p, 268), 1);
        ASSERT_EQ(s.nodes.size(), size_t(lastNode) * 12);
        const std::vector<Quad> quads = quadTable(s.quads);
        ASSERT_EQ(int(quads.size()), s.quadCount);
        // The geometry table holds the first quadripole, B being the remote node.
        EXPECT_EQ(getI32(p, 320 + 36) & 0x1FFFF, quads[0].a);
        EXPECT_EQ(quads[0].b, 0);
        EXPECT_EQ(getI32(p, 320 + 80 + 36) & 0x1FFFF, quads[0].m);

        c.writeByte('A'); // the Wi-Fi instrument has its records acknowledged anyway
        int records = 0;
        float firstBattery = 0, lastBattery = 0;
        for (const BatchResult& b : readAll(c, true, 'A')) {
            ASSERT_EQ(int(b.records.size()), b.count);
            for (const ReceivedRecord& r : b.records) {
                const ByteVec& d = r.bytes;
                EXPECT_EQ(getI32(d, 584) & 15, r.slot & 15);
                const double rho = getF64(d, 808);
                EXPECT_GT(rho, 10.0);
                EXPECT_LT(rho, 5000.0);
                EXPECT_EQ(d[58] >> 6, 1);
                const float battery = getF32(d, 848);
                if (records == 0)
                    firstBattery = battery;
                lastBattery = battery;
                ++records;
            }
        }
        EXPECT_EQ(records, s.quadCount);
        EXPECT_LT(lastBattery, firstBattery);
        EXPECT_EQ(readTruth(truthPath).rows.empty(), false);
    }
    EXPECT_EQ(emu.waitForExit(kWait), 0);
    const TruthTable t = readTruth(truthPath);
    EXPECT_EQ(t.text(t.rows.size() - 1, "acquisition"), "2");
}

TEST(EmulatorWifi, MovingArrayTurnsAndResetsItsTripCounter) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--generation", "wifi", "--moving-array", "--channels", "4",
                                "--positions", "40", "--cycle-ms", "20", "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const RunStart s = receiveWifiStart(c, true);
    const ByteVec& p = s.parameters;
    ASSERT_EQ(p.size(), 2396u);
    EXPECT_NE(p[2246] & 0x30, 0);
    EXPECT_EQ(getU16(p, 240), 4);
    // Dipole k: A = node 1, B = node 2, M = node 3 + k, N = node 4 + k.
    for (int k = 0; k < 4; ++k) {
        const size_t base = 320 + 168 * size_t(k);
        EXPECT_EQ(getI32(p, base + 36) & 0x1FFFF, 1);
        EXPECT_EQ(getI32(p, base + 40 + 36) & 0x1FFFF, 2);
        EXPECT_EQ(getI32(p, base + 80 + 36) & 0x1FFFF, 3 + k);
        EXPECT_EQ(getI32(p, base + 120 + 36) & 0x1FFFF, 4 + k);
    }
    c.writeByte('C');
    std::vector<double> headings, xs;
    int tripBefore = 0, tripAfter = -1, batches = 0;
    bool reset = false;
    for (;;) {
        const BatchResult b = readBatch(c, true, 'C', kWait);
        ASSERT_NE(b.kind, BatchResult::Closed);
        if (b.kind == BatchResult::End)
            break;
        ++batches;
        EXPECT_EQ(b.firstIndex % 4, 0);
        for (const ReceivedRecord& r : b.records) {
            xs.push_back(getF64(r.bytes, 496));
            headings.push_back(getF64(r.bytes, 520));
        }
        const int trip = getI32(b.records.back().bytes, 604);
        if (reset && tripAfter < 0)
            tripAfter = trip;
        if (batches == 20) {
            tripBefore = trip;
            c.writeByte(0xAA);
            const int started = expectEcho(c, 0xAA, true, 'C');
            ASSERT_GE(started, 0);
            batches += started;
            c.writeByte(0xAA);
            reset = true;
        }
    }
    EXPECT_EQ(batches, 40);
    EXPECT_GT(tripBefore, 5);
    EXPECT_GE(tripAfter, 0);
    EXPECT_LT(tripAfter, tripBefore);
    EXPECT_NE(xs.front(), xs.back());
    EXPECT_NE(headings[1], headings[0]); // every record has its own position and heading
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}
