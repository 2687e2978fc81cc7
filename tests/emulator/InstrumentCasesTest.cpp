// The instruments the monitor must cope with beyond the plain run: a
// sequence numbered from another first node and quadripole, records damaged
// in every copy, the other Wi-Fi decoding branches, an identity sent at
// once, a Stop answered after one more batch, and an early end marker with
// the next batch right behind it.
#include "EmuOptions.h"
#include "MonitorClient.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace emutest;

namespace {

constexpr int kWait = 8000;

QStringList fast(QStringList more) {
    return QStringList{"--cycle-ms",     "0",     "--start-delay-ms", "0",
                       "--idle-timeout", "10000", "--quiet"} +
           more;
}

// The downloads of a run start, by generation.
struct Downloads {
    ByteVec identity, header, configuration, parameters, nodes, aux, quads;
    bool controls = false;
    int firstByte = -1;
};

Downloads receiveStart(MonitorClient& c, bool wifi, bool moving = false) {
    Downloads d;
    if (wifi) {
        EXPECT_TRUE(c.wakeUp(kWait));
    }
    EXPECT_TRUE(c.startHandshake(kWait, &d.controls, &d.firstByte));
    EXPECT_TRUE(c.read(d.identity, 15, kWait));
    if (wifi) {
        EXPECT_TRUE(c.receiveBlocks(d.configuration));
        EXPECT_TRUE(c.receiveBlocks(d.parameters));
    } else {
        EXPECT_TRUE(c.receiveBlocks(d.header));
    }
    if (!moving) {
        EXPECT_TRUE(c.receiveBlocks(d.nodes));
        EXPECT_TRUE(c.receiveBlocks(d.aux));
        EXPECT_TRUE(c.receiveBlocks(d.quads));
    }
    return d;
}

// Every batch up to '$', in order; fails the test on a closed link.
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

std::vector<std::string> readEvents(const QString& path) {
    std::vector<std::string> events;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return events;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QList<QByteArray> cells = f.readLine().trimmed().split(',');
        if (cells.size() == 3)
            events.push_back(cells[2].toStdString());
    }
    return events;
}

// Reads batches until the echo of a control byte; returns how many came
// before it, -1 when something else came.
int batchesBeforeEcho(MonitorClient& c, uint8_t code, char mode) {
    int batches = 0;
    for (;;) {
        const int b = c.readByte(kWait);
        if (b == code)
            return batches;
        if (b != '#')
            return -1;
        c.pushBack('#');
        if (readBatch(c, false, mode, kWait).kind != BatchResult::Batch)
            return -1;
        ++batches;
    }
}

bool parses(const QStringList& arguments) {
    varmexemu::EmuOptions o;
    return varmexemu::parseEmuOptions(QStringList{"varmex-emulator"} + arguments, o).ok;
}

} // namespace

TEST(EmulatorCases, FirstNodeAndFirstQuadripoleNumberTheWiredSequence) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(
        fast({"--electrodes", "12", "--channels", "4", "--levels", "3", "--first-node", "5",
              "--first-quadripole", "100", "--truth", truthPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const Downloads d = receiveStart(c, false);
    ASSERT_EQ(d.header.size(), 136u);
    const int quadCount = int(d.quads.size() / 8);
    ASSERT_GT(quadCount, 0);
    EXPECT_EQ(getI32(d.header, 108), 100);
    EXPECT_EQ(getI32(d.header, 112), 100 + quadCount - 1);
    EXPECT_EQ(getI32(d.header, 116), 12); // electrodes
    EXPECT_EQ(getI32(d.header, 120), 5);
    EXPECT_EQ(getI32(d.header, 124), 16);
    // Nodes 0..lastNode, the slots below the first node empty.
    ASSERT_EQ(d.nodes.size(), 17u * 12u);
    for (size_t i = 12; i < 5 * 12; ++i)
        EXPECT_EQ(d.nodes[i], 0) << i;
    EXPECT_EQ(getF32(d.nodes, 6 * 12), 5.0f); // the second electrode, one spacing on

    c.writeByte('A');
    int expected = 100;
    std::vector<int> numbers;
    for (const BatchResult& b : readAll(c, false, 'A')) {
        EXPECT_EQ(b.firstIndex, expected);
        expected += b.count;
        for (const ReceivedRecord& r : b.records) {
            EXPECT_EQ(int16_t(getU16(r.bytes, 2)), r.index);
            const size_t q = size_t(r.index - 100) * 8;
            const int m = getU16(d.quads, q + 4);
            EXPECT_GE(m, 5);
            EXPECT_EQ(getF32(r.bytes, 96), getF32(d.nodes, size_t(m) * 12)); // M's x
            numbers.push_back(r.index);
        }
    }
    EXPECT_EQ(expected, 100 + quadCount);
    EXPECT_EQ(emu.waitForExit(kWait), 0);
    const TruthTable t = readTruth(truthPath);
    ASSERT_EQ(t.rows.size(), numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(int(t.number(i, "index")), numbers[i]);
}

TEST(EmulatorCases, WifiParameterBlockCountsFromOneAndNodesFromTheFirstNode) {
    {
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(
            fast({"--generation", "wifi", "--electrodes", "10", "--channels", "5", "--levels", "3",
                  "--first-node", "3", "--first-quadripole", "40", "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        const Downloads d = receiveStart(c, true);
        const ByteVec& p = d.parameters;
        ASSERT_EQ(p.size(), 2396u);
        const int quadCount = int(d.quads.size() / 8);
        EXPECT_EQ(getI32(p, 256), 41);
        EXPECT_EQ(getI32(p, 260), 40 + quadCount);
        EXPECT_EQ(int16_t(getU16(p, 268)), 3);
        EXPECT_EQ(int16_t(getU16(p, 272)), 12);
        // lastNode entries, the first one being the first node.
        ASSERT_EQ(d.nodes.size(), 12u * 12u);
        EXPECT_EQ(getF32(d.nodes, 0), 0.0f);
        EXPECT_EQ(getF32(d.nodes, 9 * 12), 45.0f);
        for (size_t i = 10 * 12; i < d.nodes.size(); ++i)
            EXPECT_EQ(d.nodes[i], 0) << i;
        c.writeByte('A');
        const std::vector<BatchResult> batches = readAll(c, true, 'A');
        ASSERT_FALSE(batches.empty());
        EXPECT_EQ(batches.front().firstIndex, 40);
        EXPECT_EQ(batches.back().firstIndex + batches.back().count, 40 + quadCount);
    }
    {
        // A moving array whose block leaves the first number at 0.
        EmulatorProcess emu;
        ASSERT_TRUE(
            emu.start(fast({"--generation", "wifi", "--moving-array", "--channels", "4",
                            "--positions", "3", "--first-quadripole", "-1", "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        const Downloads d = receiveStart(c, true, true);
        ASSERT_EQ(d.parameters.size(), 2396u);
        EXPECT_EQ(getI32(d.parameters, 256), 0);
        EXPECT_EQ(getI32(d.parameters, 260), 12);
        c.writeByte('C');
        const std::vector<BatchResult> batches = readAll(c, true, 'C');
        ASSERT_EQ(batches.size(), 3u);
        EXPECT_EQ(batches.front().firstIndex, 0);
    }
    EXPECT_FALSE(parses({"--first-quadripole", "-1"})); // the wired header counts from 0
    EXPECT_TRUE(parses({"--generation", "wifi", "--first-quadripole", "-1"}));
    EXPECT_FALSE(parses({"--generation", "wifi", "--moving-array", "--first-node", "2"}));
    EXPECT_FALSE(parses({"--first-node", "1990", "--electrodes", "12"}));
    EXPECT_FALSE(parses({"--alt-decoding"}));
    EXPECT_TRUE(parses({"--generation", "wifi", "--moving-array", "--positions", "1700"}));
}

TEST(EmulatorCases, EveryCopyOfABadRecordArrivesDamaged) {
    struct Case {
        const char* generation;
        char mode;
        int copies; // the monitor asks twice more in a checked mode
    };
    for (const Case& k : {Case{"wired", 'C', 3}, Case{"wired", 'A', 1}, Case{"wifi", 'A', 3}}) {
        SCOPED_TRACE(std::string(k.generation) + " " + k.mode);
        const bool wifi = std::string(k.generation) == "wifi";
        QTemporaryDir dir;
        const QString truthPath = dir.filePath("truth.csv");
        EmulatorProcess emu;
        ASSERT_TRUE(
            emu.start(fast({"--generation", k.generation, "--electrodes", "10", "--channels", "4",
                            "--bad-record", "5", "--truth", truthPath, "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        const Downloads d = receiveStart(c, wifi);
        const int quadCount = int(d.quads.size() / 8);
        c.writeByte(uint8_t(k.mode));
        int records = 0, refusals = 0;
        bool fiveSeen = false, sixSeen = false;
        for (const BatchResult& b : readAll(c, wifi, k.mode)) {
            records += int(b.records.size());
            refusals += b.refusals;
            for (const ReceivedRecord& r : b.records) {
                fiveSeen |= r.index == 5;
                sixSeen |= r.index == 6;
            }
        }
        EXPECT_EQ(records, quadCount - 1);
        EXPECT_FALSE(fiveSeen);
        EXPECT_TRUE(sixSeen); // the stream goes on with the next record
        EXPECT_EQ(refusals, k.mode == 'C' || wifi ? k.copies : 0);
        EXPECT_EQ(emu.waitForExit(kWait), 0);

        const TruthTable t = readTruth(truthPath);
        int copies = 0;
        for (size_t i = 0; i < t.rows.size(); ++i) {
            if (t.text(i, "index") != "5")
                continue;
            ++copies;
            EXPECT_EQ(t.text(i, "damaged"), "1");
            EXPECT_EQ(t.text(i, "attempt"), std::to_string(copies));
        }
        EXPECT_EQ(copies, k.copies);
    }
}

TEST(EmulatorCases, WifiRecordsOfTheOtherDecodingBranches) {
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "alternative" : "usual");
        QTemporaryDir dir;
        const QString truthPath = dir.filePath("truth.csv");
        QStringList args = {"--generation", "wifi",    "--electrodes",    "10", "--channels", "4",
                            "--truth",      truthPath, "--exit-when-done"};
        if (alt)
            args << "--alt-decoding";
        EmulatorProcess emu;
        ASSERT_TRUE(emu.start(fast(args)));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        receiveStart(c, true);
        c.writeByte('A');
        std::vector<ByteVec> records;
        for (const BatchResult& b : readAll(c, true, 'A'))
            for (const ReceivedRecord& r : b.records)
                records.push_back(r.bytes);
        EXPECT_EQ(emu.waitForExit(kWait), 0);
        const TruthTable t = readTruth(truthPath);
        ASSERT_EQ(t.rows.size(), records.size());
        ASSERT_FALSE(records.empty());
        for (size_t i = 0; i < records.size(); ++i) {
            const ByteVec& r = records[i];
            EXPECT_EQ((r[58] >> 6) == 1, !alt);
            EXPECT_EQ(((r[528] >> 1) & 7) == 4, !alt);
            EXPECT_EQ(float(getF64(r, alt ? 824 : 816)), float(t.number(i, "q")));
            EXPECT_NE(getF64(r, alt ? 816 : 824), getF64(r, alt ? 824 : 816));
            // What the monitor should keep of the extra values.
            EXPECT_EQ(float(t.number(i, "extra1")), alt ? 0.0f : float(getF64(r, 536)));
            EXPECT_EQ(float(t.number(i, "extra2")), alt ? 0.0f : float(getF64(r, 544)));
        }
    }
}

TEST(EmulatorCases, IdentityAtOnceFollowsTheStartAcknowledgementWithoutControls) {
    for (bool atOnce : {true, false}) {
        SCOPED_TRACE(atOnce ? "at once" : "after a pause");
        EmulatorProcess emu;
        ASSERT_TRUE(
            emu.start(fast({"--electrodes", "10", atOnce ? "--identity-at-once" : "--no-control",
                            "--exit-when-done"})));
        MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        const Downloads d = receiveStart(c, false);
        EXPECT_FALSE(d.controls);
        // The byte in the wait for 'X' is the identity's first one, or none.
        EXPECT_EQ(d.firstByte, atOnce ? 2 : -1);
        ASSERT_EQ(d.identity.size(), 15u);
        EXPECT_EQ(d.identity[0], 2);
        EXPECT_EQ(std::string(d.identity.begin() + 4, d.identity.begin() + 12), "EMULATOR");
        EXPECT_EQ(d.header.size(), 136u);
        c.writeByte('R');
        int records = 0;
        for (const BatchResult& b : readAll(c, false, 'R'))
            records += int(b.records.size());
        EXPECT_EQ(records, int(d.quads.size() / 8));
    }
}

TEST(EmulatorCases, StopAndPauseAnsweredAfterTheBatchAlreadyBegun) {
    QTemporaryDir dir;
    const QString eventsPath = dir.filePath("events.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(
        fast({"--electrodes", "24", "--channels", "4", "--cycle-ms", "150", "--batch-before-echo",
              "--pause-timeout", "60000", "--events", eventsPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    receiveStart(c, false);
    c.writeByte('A');
    ASSERT_EQ(readBatch(c, false, 'A', kWait).kind, BatchResult::Batch);

    c.writeByte('Z');
    EXPECT_GE(batchesBeforeEcho(c, 'Z', 'A'), 1);
    c.writeByte('Z');
    EXPECT_EQ(c.readByte(500), -1) << "a batch came during the pause";
    c.writeByte('Z'); // resume
    ASSERT_EQ(readBatch(c, false, 'A', kWait).kind, BatchResult::Batch);

    c.writeByte(0xA5);
    EXPECT_GE(batchesBeforeEcho(c, 0xA5, 'A'), 1);
    c.writeByte(0xA5);
    EXPECT_EQ(c.readByte(kWait), '$');
    EXPECT_EQ(emu.waitForExit(kWait), 0);
    const std::vector<std::string> expected = {
        "start-acknowledged", "echo-after-batch", "pause-echoed",   "pause-confirmed", "resumed",
        "echo-after-batch",   "stop-echoed",      "stop-confirmed", "stopped"};
    EXPECT_EQ(readEvents(eventsPath), expected);
}

TEST(EmulatorCases, EarlyEndMarkerHasTheNextBatchRightBehindIt) {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(fast({"--electrodes", "12", "--channels", "4", "--early-end-after", "2",
                                "--truth", truthPath, "--exit-when-done"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    const Downloads d = receiveStart(c, false);
    c.writeByte('C');
    int records = 0;
    for (int i = 0; i < 2; ++i) {
        const BatchResult b = readBatch(c, false, 'C', kWait);
        ASSERT_EQ(b.kind, BatchResult::Batch);
        records += int(b.records.size());
    }
    ASSERT_EQ(c.readByte(kWait), '$');
    ASSERT_EQ(c.readByte(200), '#'); // right behind it
    c.pushBack('#');
    for (const BatchResult& b : readAll(c, false, 'C'))
        records += int(b.records.size());
    EXPECT_EQ(records, int(d.quads.size() / 8));
    EXPECT_EQ(emu.waitForExit(kWait), 0);
    EXPECT_EQ(int(readTruth(truthPath).rows.size()), records);
}
