// The wired generation against a scripted instrument: header and set
// downloads, the checks that keep damaged blocks out of the store, the
// record decoding, the files and the control commands.
#include "instrument/WiredProtocol.h"
#include "InstrumentDouble.h"
#include "files/AcquisitionFiles.h"
#include "instrument/WifiProtocol.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>

using testsupport::Bytes;

namespace {

std::vector<uint8_t> WiredHeader(int firstNode, int lastNode, int firstQ, int lastQ) {
    Bytes b;
    b.i32(10).i32(4).i32(8).i32(12).i32(16).f32(20.5f).u8(0xA1).u8(0xA2).u8(0xA3).u8(0xA4);
    b.i32(28).i16(32).i16(34).i16(-36);
    for (int i = 0; i < 20; ++i)
        b.i16(int16_t(100 + i));
    b.u8(0x78).u8(0x79).i32(80).i32(84).i32(88).text("LINE1", 10).u8(0x66).u8(0x11);
    b.i32(104).i32(firstQ).i32(lastQ).i32(lastNode + 1).i32(firstNode).i32(lastNode);
    b.i32(128).i32(132);
    return b.data();
}

// Node entries 0 .. count - 1 at (10 k, 20 k, -k).
Bytes NodeEntries(int count) {
    Bytes b;
    for (int k = 0; k < count; ++k)
        b.f32(10.0f * k).f32(20.0f * k).f32(-1.0f * k);
    return b;
}

Bytes Quadripoles(std::initializer_list<std::array<uint16_t, 4>> quads) {
    Bytes b;
    for (const auto& q : quads)
        b.u16(q[0]).u16(q[1]).u16(q[2]).u16(q[3]);
    return b;
}

// Junk in every node slot, so that clearing is visible.
void Scribble(Sequence& store) {
    for (int k = 0; k < kMaxNodes; ++k)
        store.nodes[k] = {7.0f, 7.0f, 7.0f, 777};
}

struct WiredRig : ProtocolRig {
    WiredProtocol wired{*device, link};
};

} // namespace

TEST(WiredSets, HeaderNodesAndQuadripolesLandInTheStore) {
    WiredRig rig;
    rig.instrument.SendBlock(WiredHeader(3, 5, 0, 2));
    ASSERT_EQ(rig.wired.ReadHeader(rig.device->header), 136);
    // The header arrives verbatim.
    const AcquisitionHeader& h = rig.device->header;
    EXPECT_EQ(h.modeBytes[3], 0xA4);
    EXPECT_EQ(h.setting36, -36);
    EXPECT_EQ(h.lastQuadripole, 2);
    EXPECT_EQ(h.setting132, 132);

    // Nodes 0..5 plus five stray bytes: the length test divides by 12.
    Scribble(*rig.device);
    Bytes nodes = NodeEntries(6);
    nodes.zeros(5);
    rig.instrument.SendBlock(nodes.data()).SendBlock(Bytes().zeros(48).data());
    rig.instrument.SendBlock(
        Quadripoles({{0x8005, 2, 3, 4}, {1, 2, 4, 5}, {1, 0xFFFF, 5, 0x7FFF}}).data());
    EXPECT_EQ(rig.wired.ReadSequenceSets(), 3);
    EXPECT_TRUE(rig.instrument.Done());
    EXPECT_TRUE(rig.instrument.problems.empty());

    const NodeRecord* n = rig.device->nodes;
    EXPECT_EQ(std::bit_cast<uint32_t>(n[0].x), 0x47C34FFFu);
    EXPECT_EQ(std::bit_cast<uint32_t>(n[0].z), 0x47C34FFFu);
    EXPECT_EQ(n[0].number, 0);
    for (int k : {1, 2, 6, 1000, 2000}) {
        EXPECT_EQ(n[k].number, 0) << k;
        EXPECT_EQ(n[k].x, 0.0f) << k;
    }
    EXPECT_EQ(n[2001].number, 777); // beyond the download's slots
    for (int k = 3; k <= 5; ++k) {
        EXPECT_EQ(n[k].number, k);
        EXPECT_FLOAT_EQ(n[k].x, 10.0f * k); // block entry k, not entry k - 3
        EXPECT_FLOAT_EQ(n[k].y, 20.0f * k);
        EXPECT_FLOAT_EQ(n[k].z, -1.0f * k);
    }

    const QuadripoleRecord* q = rig.device->quadripoles;
    EXPECT_EQ(q[0].a, 5);
    EXPECT_EQ(q[0].gapFiller, -1);
    EXPECT_EQ(q[1].a, 1);
    EXPECT_EQ(q[1].n, 5);
    EXPECT_EQ(q[1].gapFiller, 0);
    // Node numbers the table cannot hold stay harmless: taken as node 0.
    EXPECT_EQ(q[2].b, 0xFFFF);
    float coords[12];
    rig.device->QuadripoleCoordinates(2, coords);
    EXPECT_EQ(std::bit_cast<uint32_t>(coords[1]), 0x47C34FFFu);
    EXPECT_FLOAT_EQ(coords[2], 50.0f);

    EXPECT_EQ(rig.view.captions,
              (std::vector<std::string>{"Receiving node set...", "Receiving quadripole set..."}));
    EXPECT_EQ(rig.view.idle, 1);
    EXPECT_EQ(rig.device->movingArrayMode, 0);
}

TEST(WiredSets, FirstNodeZeroOverwritesTheRemoteElectrode) {
    WiredRig rig;
    rig.device->header = AcquisitionHeader::Decode(WiredHeader(0, 2, 0, 0).data());
    rig.instrument.SendBlock(NodeEntries(3).data()).SendBlock(Bytes().zeros(48).data());
    rig.instrument.SendBlock(Quadripoles({{1, 2, 0, 0}}).data());
    EXPECT_EQ(rig.wired.ReadSequenceSets(), 1);
    EXPECT_EQ(rig.device->nodes[0].x, 0.0f);
    EXPECT_FLOAT_EQ(rig.device->nodes[2].y, 40.0f);
}

TEST(WiredSets, DamagedOrInconsistentSetsAreRefused) {
    struct Case {
        const char* what;
        int firstNode, lastNode, firstQ, lastQ;
        size_t nodeBytes, spareBytes, quadBytes;
        int expected;
    };
    const Case cases[] = {
        {"last node beyond the table", 0, 2001, 0, 0, 72, 48, 8, -3},
        {"negative first node", -1, 5, 0, 0, 72, 48, 8, -3},
        {"first node after last", 6, 5, 0, 0, 72, 48, 8, -3},
        {"node block one entry short", 0, 5, 0, 0, 60, 48, 8, -3},
        {"empty node block", 0, 5, 0, 0, 0, 48, 8, -3},
        {"node block over its 24012 bytes", 0, 2000, 0, 0, 24012 + 12, 48, 8, -3},
        {"second block not 48 bytes", 0, 5, 0, 0, 72, 47, 8, -3},
        {"more quadripoles than the table", 0, 5, 0, 16000, 72, 48, 8, -4},
        {"no quadripoles at all", 0, 5, 5, 4, 72, 48, 8, -4},
        {"quadripole block short", 0, 5, 0, 2, 72, 48, 16, -4},
        {"quadripole block over its 128000 bytes", 0, 5, 0, 15999, 72, 48, 128008, -4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WiredRig rig;
        rig.device->header = AcquisitionHeader::Decode(
            WiredHeader(c.firstNode, c.lastNode, c.firstQ, c.lastQ).data());
        Scribble(*rig.device);
        rig.device->quadripoles[0] = {9, 9, 9, 9, 0};
        rig.instrument.SendBlock(std::vector<uint8_t>(c.nodeBytes, 0x11))
            .SendBlock(std::vector<uint8_t>(c.spareBytes, 0))
            .SendBlock(std::vector<uint8_t>(c.quadBytes, 0x01));
        EXPECT_EQ(rig.wired.ReadSequenceSets(), c.expected);
        if (c.expected == -3) {
            for (int k = 0; k < kMaxNodes; ++k)
                ASSERT_EQ(rig.device->nodes[k].number, 777) << k;
        }
        EXPECT_EQ(rig.device->quadripoles[0].a, 9);
        EXPECT_EQ(rig.hooks.cursorDepth, 0);
    }

    // A link that fails in the middle of the node phase.
    WiredRig rig;
    rig.device->header = AcquisitionHeader::Decode(WiredHeader(0, 5, 0, 0).data());
    rig.link.Close();
    EXPECT_EQ(rig.wired.ReadSequenceSets(), -3);
}

TEST(WiredSets, HeaderMustArriveWhole) {
    for (size_t size : {size_t(100), size_t(137)}) {
        WiredRig rig;
        rig.device->header.lastNode = 42;
        rig.instrument.SendBlock(std::vector<uint8_t>(size, 0x5A));
        EXPECT_EQ(rig.wired.ReadHeader(rig.device->header), 0) << size;
        EXPECT_EQ(rig.device->header.lastNode, 42);
    }
}

TEST(WiredRecords, DecodingPlacesEveryField) {
    Bytes b;
    b.u8(0xA3).u8(0x05).i16(1234).zeros(4).i32(4).u16(150).zeros(2).u16(7);
    for (int i = 0; i < 20; ++i)
        b.u16(uint16_t(i + 1));
    b.zeros(2).u32(0x7FC00001).f32(64.0f).zeros(4);
    for (int i = 0; i < 12; ++i)
        b.f32(float(i) + 0.5f);
    b.zeros(12);
    b.f32(132.0f).f32(136.0f).f32(140.0f).f32(144.0f).f32(148.0f).f32(12.2f).f32(11.9f);
    b.f32(35.0f).f32(164.0f).f32(168.0f).f32(172.0f).f32(176.0f);
    for (int i = 0; i < 20; ++i)
        b.f32(-float(i));
    ASSERT_EQ(b.size(), 260u);

    MeasureRecord m;
    std::memset(&m, 0xEE, sizeof m);
    WiredProtocol::DecodeRecord(b.data().data(), "ACQUISITION", m);
    EXPECT_EQ(m.configurationCode, 6); // instrument code 4
    EXPECT_EQ(m.recordVersion, 3);
    EXPECT_EQ(m.recordOne, 1);
    EXPECT_EQ(m.reserved14[0], 0);
    EXPECT_EQ(m.reserved14[1], 0);
    EXPECT_FLOAT_EQ(m.time1, 1500.0f);
    EXPECT_FLOAT_EQ(m.time2, 70.0f);
    EXPECT_FLOAT_EQ(m.windowTimes[19], 200.0f);
    EXPECT_EQ(std::bit_cast<uint32_t>(m.extra264), 0x7FC00001u); // bit for bit
    EXPECT_FLOAT_EQ(m.extra268, 64.0f);
    EXPECT_FLOAT_EQ(m.x[0], 0.5f);
    EXPECT_FLOAT_EQ(m.y[0], 1.5f);
    EXPECT_FLOAT_EQ(m.z[0], 2.5f);
    EXPECT_FLOAT_EQ(m.x[3], 9.5f);
    EXPECT_FLOAT_EQ(m.z[3], 11.5f);
    EXPECT_FLOAT_EQ(m.rho, 132.0f);
    EXPECT_FLOAT_EQ(m.q, 136.0f);
    EXPECT_FLOAT_EQ(m.extra276, 144.0f);
    EXPECT_FLOAT_EQ(m.txBattery, 12.2f);
    EXPECT_FLOAT_EQ(m.temperature, 35.0f);
    EXPECT_FLOAT_EQ(m.sp, 164.0f);
    EXPECT_FLOAT_EQ(m.current, 172.0f);
    EXPECT_FLOAT_EQ(m.chargeability, 176.0f);
    EXPECT_FLOAT_EQ(m.windowValues[19], -19.0f);
    EXPECT_EQ(m.channelByte, 0xA3);
    EXPECT_EQ(m.recordFlags, 0x05);
    EXPECT_EQ(m.quadripoleIndex, 1234);
    EXPECT_EQ(std::string(m.recordName, 12), std::string("ACQUISITION\0", 12));
    EXPECT_NEAR(m.timeStamp, NowTimeStamp(), 1.0 / 1440);

    std::vector<uint8_t> raw = b.data();
    raw[8] = 9;
    WiredProtocol::DecodeRecord(raw.data(), "ACQUISITION", m);
    EXPECT_EQ(m.configurationCode, 10);

    // The check word: 16-bit sum of the 260 bytes, low byte first.
    uint16_t sum = 0;
    for (uint8_t v : raw)
        sum = uint16_t(sum + v);
    raw.push_back(uint8_t(sum));
    raw.push_back(uint8_t(sum >> 8));
    EXPECT_TRUE(WiredRecordCheckOk(raw.data()));
    raw[100] ^= 1;
    EXPECT_FALSE(WiredRecordCheckOk(raw.data()));
}

TEST(WiredFiles, BinFileGrowsByWholeRecords) {
    testsupport::TempRoot root;
    WiredRig rig;
    const std::string bin = root.path() + "/run.bin";
    rig.wired.CreateDataFile(bin, std::string(2000, 'c'));
    auto image = testsupport::readFile(bin);
    ASSERT_EQ(image.size(), 1029u);
    EXPECT_EQ(testsupport::le32(image, 0), 0x80000002u);
    EXPECT_EQ(image[4], 9);
    EXPECT_EQ(image[1028], 0); // an over-long comment still leaves the final zero

    MeasureRecord records[3] = {};
    records[2].rho = 42.0f;
    rig.wired.AppendRecords(bin, 3, 0, records);
    image = testsupport::readFile(bin);
    ASSERT_EQ(image.size(), 1029u + 3 * 304);
    EXPECT_FLOAT_EQ(testsupport::lef32(image, 1029 + 2 * 304 + 76), 42.0f);

    EXPECT_THROW(rig.wired.AppendRecords(root.path() + "/missing.bin", 1, 0, records), FileError);
}

TEST(WiredCommands, AcquisitionParametersAreCappedToTheChannelCount) {
    struct Case {
        int32_t w0, expected;
    };
    for (const Case c : {Case{12, 10}, Case{-1, 10}, Case{3, 3}}) {
        WiredRig rig;
        Bytes config;
        config.i32(10).zeros(43 * 4);
        Bytes params;
        for (int i = 0; i < 54; ++i)
            params.i32(1000 + i);
        rig.instrument.Command(30).SendBlock(config.data()).Prompt();
        rig.instrument.Command(28).SendBlock(params.data()).Prompt();
        rig.instrument.Command(29).ReceiveBlock().Prompt();
        std::vector<int32_t> words(23);
        words[0] = c.w0;
        for (int i = 1; i < 23; ++i)
            words[i] = -i;
        rig.wired.SetAcquisitionParameters(words);
        ASSERT_TRUE(rig.instrument.Done());
        ASSERT_TRUE(rig.instrument.problems.empty());
        const auto& sent = rig.instrument.blocksReceived.at(0);
        ASSERT_EQ(sent.size(), 216u);
        EXPECT_EQ(int32_t(testsupport::le32(sent, 0)), c.expected) << c.w0;
        EXPECT_EQ(int32_t(testsupport::le32(sent, 22 * 4)), -22);
        EXPECT_EQ(int32_t(testsupport::le32(sent, 23 * 4)), 1023);
        EXPECT_EQ(int32_t(testsupport::le32(sent, 53 * 4)), 1053);
        EXPECT_EQ(rig.hooks.cursorDepth, 0);
    }
}

TEST(WiredCommands, CheckRunFollowsTheTokens) {
    WiredRig rig;
    rig.wired.parameters[4] = 17;
    std::vector<uint8_t> record(260, 0x3C);
    rig.instrument.Command(32).Send(Bytes().text("GO", 2).i32(5));
    rig.instrument.Send(Bytes().text("+-", 2).text("+-", 2).text("OK", 2));
    rig.instrument.SendBlock(record);
    // An unknown token inside a measurement goes back to waiting for "GO".
    rig.instrument.Send(Bytes().text("GO", 2).i32(9).text("??", 2).text("ST", 2));
    EXPECT_EQ(rig.wired.RunCheck(), 9);
    EXPECT_TRUE(rig.instrument.Done());
    EXPECT_EQ(rig.view.barShown, 1);
    EXPECT_EQ(rig.view.bar.maximum, 20);
    EXPECT_EQ(rig.view.bar.highest, 2);
    EXPECT_EQ(rig.wired.lastMeasure[0][259], 0x3C);

    // Silence in the middle of a measurement ends the run with 0.
    rig.instrument.Command(32).Send(Bytes().text("GO", 2).i32(5).text("+-", 2));
    EXPECT_EQ(rig.wired.RunCheck(), 0);
}

TEST(WiredCommands, QuickMeasureFillsTheLastMeasureArea) {
    WiredRig rig;
    rig.wired.configuration[0] = 10;
    rig.device->header.setting80 = 80;
    QuickMeasureSettings& s = rig.device->quickMeasureSettings;
    s.voltage = 50.0f;
    s.time = 250;
    s.channelCount = 3;
    Bytes answer; // P[0..10] then P[11..21]
    for (int i = 0; i < 11; ++i)
        answer.f32(i == 10 ? 4.0f : float(i) + 3.0f);
    for (int i = 0; i < 11; ++i)
        answer.f32(i == 10 ? -2.0f : 1.0f);
    rig.instrument.Command(34).Expect(4 + 2 + 2 + 2 + 26 + 1).Send(answer).Expect(1).Prompt();
    const int16_t list[] = {1, 2, 3, 4, 5};
    rig.wired.QuickMeasure(list, true, 0, 0);
    ASSERT_TRUE(rig.instrument.Done());

    const auto& sent = rig.instrument.bytesReceived.at(0);
    EXPECT_FLOAT_EQ(testsupport::lef32(sent, 0), 50.0f);
    EXPECT_EQ(testsupport::le16(sent, 4), 250);
    EXPECT_EQ(testsupport::le16(sent, 6), 12);
    EXPECT_EQ(testsupport::le16(sent, 8), 1);
    EXPECT_EQ(testsupport::le16(sent, 10), 1);
    EXPECT_EQ(testsupport::le16(sent, 18), 5);
    EXPECT_EQ(testsupport::le16(sent, 34), 0);
    EXPECT_EQ(sent.back(), 'U');
    EXPECT_EQ(rig.instrument.bytesReceived.at(1), std::vector<uint8_t>{0});
    EXPECT_EQ(s.listFlag, 1);
    EXPECT_EQ(s.setting, 12);

    const std::vector<uint8_t> r2(rig.wired.lastMeasure[2], rig.wired.lastMeasure[2] + 260);
    EXPECT_EQ(r2[0], 0x32);
    EXPECT_EQ(r2[1], 2);
    EXPECT_EQ(testsupport::le32(r2, 60), 80u);
    EXPECT_EQ(testsupport::le16(r2, 12), 250);
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 164), 3.0f); // (5 + 1) / 2
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 168), 2.0f); // (5 - 1) / 2
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 172), 3.0f); // (4 + 2) / 2
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 132), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 148), 50.0f);
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 152), 12.5f);
    EXPECT_FLOAT_EQ(testsupport::lef32(r2, 160), 31.0f);
    EXPECT_EQ(rig.wired.lastMeasure[3][0], 0); // beyond the channel count
}

TEST(WiredCommands, GpsDownloadKeepsAtMostFourBytes) {
    struct Case {
        std::string answer;
        int32_t length;
        std::vector<uint8_t> name, stored;
    };
    const Case cases[] = {
        {"", 2, {0, 0, 0, 0, 0}, {'a', 'b', 0, 0}},
        {"GPRMCXYZ", 7, {'G', 'P', 'R', 'M', 'C'}, {'a', 'b', 'c', 'd'}},
        {"GP", -1, {'G', 'P', 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        WiredRig rig;
        rig.hooks.answer = c.answer;
        rig.instrument.Command(42).Expect(5);
        rig.instrument.Send(Bytes().i32(c.length).text("abcdefg", 7)).Prompt();
        uint8_t position[4] = {9, 9, 9, 9};
        rig.wired.DownloadGps(position);
        EXPECT_EQ(rig.hooks.caption, "GPS Download");
        EXPECT_EQ(rig.hooks.prompt, "Enter NMEA sentence");
        EXPECT_EQ(rig.hooks.offered, "GPGGA");
        EXPECT_EQ(rig.instrument.bytesReceived.at(0), c.name) << c.answer;
        EXPECT_EQ(std::vector<uint8_t>(position, position + 4), c.stored) << c.length;
        EXPECT_TRUE(rig.instrument.Done());
    }

    // A cancelled question sends nothing.
    WiredRig rig;
    rig.hooks.accept = false;
    uint8_t position[4] = {9, 9, 9, 9};
    rig.wired.DownloadGps(position);
    EXPECT_TRUE(rig.link.sent.empty());
    EXPECT_EQ(position[0], 0);
}

TEST(WiredCommands, CommandTableSizes) {
    WiredRig rig;
    rig.instrument.Command(37).Expect(4).Prompt(); // SetMode(0): no int16 1
    rig.instrument.Command(37).Expect(6).Prompt();
    rig.instrument.Command(41).Expect(2 + 26).Prompt();
    rig.instrument.Command(41).Expect(2 + 26).Prompt();
    for (int k = 0; k < 10; ++k)
        rig.instrument.Command(43).Expect(4).Send(Bytes().f32(float(k) + 0.25f)).Prompt();
    rig.instrument.Command(43).Expect(4).Send(Bytes().f32(12.75f)).Prompt();
    rig.instrument.Command(44).Send(Bytes().f32(-3.5f)).Prompt();
    rig.instrument.Command(45).Send(Bytes().f32(12.1f).f32(11.8f).f32(36.0f)).Prompt();
    rig.instrument.Command(31).SendBlock(std::vector<uint8_t>(2600 + 1, 1)).Prompt();
    rig.instrument.Command(27);

    rig.wired.SetMode(0);
    rig.wired.SetMode(3);
    const int16_t list[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    rig.wired.SwitchElectrodes(list);
    rig.wired.ReleaseElectrodes();
    rig.wired.ReadChannelValues();
    rig.wired.ReadBattery();
    EXPECT_FLOAT_EQ(rig.wired.ReadInstrumentValue(), -3.5f);
    const BatteryState battery = QueryBatteryState(rig.link);
    rig.wired.GetLastMeasure(); // one byte too many: refused
    rig.wired.Escape();
    EXPECT_TRUE(rig.instrument.Done());
    EXPECT_TRUE(rig.instrument.problems.empty());

    const auto& got = rig.instrument.bytesReceived;
    EXPECT_EQ(testsupport::le32(got[1], 0), 3u);
    EXPECT_EQ(testsupport::le16(got[1], 4), 1);
    EXPECT_EQ(testsupport::le16(got[2], 0), 1);
    EXPECT_EQ(testsupport::le16(got[2], 2 + 12 * 2), 13); // 13 electrodes, the rest cut
    EXPECT_EQ(got[3], Join({1, 0}, std::vector<uint8_t>(26, 0)));
    EXPECT_EQ(testsupport::le32(got[4 + 9], 0), 9u);
    const std::vector<uint8_t> r9(rig.wired.lastMeasure[9], rig.wired.lastMeasure[9] + 260);
    EXPECT_FLOAT_EQ(testsupport::lef32(r9, 144), 9.25f);
    EXPECT_EQ(testsupport::le32(got[14], 0), 0u);
    EXPECT_FLOAT_EQ(rig.device->batteryValue, 12.75f);
    EXPECT_FLOAT_EQ(battery.rxBattery, 11.8f);
    EXPECT_FLOAT_EQ(battery.temperature, 36.0f);
    EXPECT_EQ(rig.wired.lastMeasure[0][0], 0);
    EXPECT_EQ(rig.hooks.messages, std::vector<std::string>{"Err. Buffer"});
    EXPECT_EQ(rig.hooks.cursorDepth, 0);
}

TEST(DeviceObject, StartsInertAndPicksTheGenerationByConnection) {
    ProtocolRig rig;
    AcquisitionHeader h{};
    EXPECT_EQ(rig.device->protocol->ReadHeader(h), 0);
    EXPECT_EQ(rig.device->protocol->ReadSequenceSets(), 0);
    EXPECT_TRUE(rig.link.sent.empty());

    rig.device->SetProtocol(CreateProtocolGeneration(200, *rig.device, rig.link));
    EXPECT_NE(dynamic_cast<WifiProtocol*>(rig.device->protocol.get()), nullptr);
    for (int code : {99, 100, 3}) {
        rig.device->SetProtocol(CreateProtocolGeneration(code, *rig.device, rig.link));
        EXPECT_NE(dynamic_cast<WiredProtocol*>(rig.device->protocol.get()), nullptr);
    }
    rig.device->SetProtocol(nullptr);
    EXPECT_EQ(rig.device->protocol->ReadSequenceSets(), 0);
}
