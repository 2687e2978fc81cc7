// The Wi-Fi generation against a scripted instrument: the header built from
// the parameter block, normal and moving-array sets, raw-record reception,
// the ".bin"/".rpp" pair and the parameter-block commands.
#include "instrument/WifiProtocol.h"
#include "InstrumentDouble.h"
#include "files/AcquisitionFiles.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>

using testsupport::Bytes;

namespace {

std::vector<uint8_t> ParameterBlock() {
    std::vector<uint8_t> p(2396, 0);
    p[49] = 0x30;
    p[50] = 0x45;
    p[51] = 0xFF;
    p[53] = 0xC7;
    PutAt(p, 56, Bytes().i32(0x00011234).i32(-2).i32(36));
    for (int i = 0; i < 20; ++i)
        PutAt(p, 68 + 4 * size_t(i), Bytes().i32(100 + i));
    PutAt(p, 148, Bytes().i32(88).f32(127.0f).i32(0).i32(12).i32(16).f64(2.5).f64(7.5));
    PutAt(p, 240, Bytes().u16(10).zeros(2).i32(104));
    PutAt(p, 256, Bytes().i32(1).i32(120).u16(48).zeros(2).i16(1).zeros(2).i16(48));
    PutAt(p, 292, Bytes().i32(128));
    p[2252] = 0x05;
    return p;
}

// One electrode entry of the array geometry.
void PutElectrode(std::vector<uint8_t>& p, int dipole, int electrode, double x, double y,
                  double z) {
    PutAt(p, 320 + 168 * size_t(dipole) + 40 * size_t(electrode), Bytes().f64(x).f64(y).f64(z));
}

std::vector<uint8_t> RawRecord(uint8_t seed) {
    std::vector<uint8_t> r(4096);
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = uint8_t(seed + i * 7);
    r[58] = 0x40; // q from 816
    PutAt(r, 64, Bytes().i32(15).zeros(4).i32(-7));
    for (int j = 0; j < 20; ++j)
        PutAt(r, 76 + 4 * size_t(j), Bytes().i32(j));
    PutAt(r, 164, Bytes().i32(0x1A));
    PutAt(r, 496, Bytes().f64(100.0).f64(200.0).f64(10.0).f64(90.0));
    r[528] = 0x08; // bits 1-3 = 4: extra264/268 present
    PutAt(r, 536, Bytes().f64(5.25).f64(6.5));
    PutAt(r, 584, Bytes().i32(0x23).i32(1).zeros(8).i32(3).i32(-42));
    PutAt(r, 608, Bytes().f64(1500.0).f64(250.0).f64(-125.0).f64(8.5));
    for (int j = 0; j < 20; ++j)
        PutAt(r, 640 + 8 * size_t(j), Bytes().f64(0.5 * j));
    PutAt(r, 808, Bytes().f64(100.0 + seed).f64(0.75).f64(0.25).f64(9.0).f64(-1.5));
    PutAt(r, 848, Bytes().u32(0x7FC00002).zeros(4).f32(11.5f).f32(33.0f));
    return r;
}

std::vector<uint8_t> WithCheck(std::vector<uint8_t> raw, bool good) {
    uint16_t sum = 0;
    for (uint8_t v : raw)
        sum = uint16_t(sum + v);
    if (!good)
        sum = uint16_t(sum + 1);
    raw.push_back(uint8_t(sum));
    raw.push_back(uint8_t(sum >> 8));
    return raw;
}

struct WifiRig : ProtocolRig {
    WifiRig() { std::memcpy(device->acquisitionName, "LONGNAME123", 12); }
    std::unique_ptr<WifiProtocol> protocol = std::make_unique<WifiProtocol>(*device, link);
};

} // namespace

TEST(WifiHeader, BuiltFromTheParameterBlockBits) {
    WifiRig rig;
    AcquisitionHeader& h = rig.device->header;
    std::memset(&h, 0, sizeof h);
    h.modeBytes[0] = 0x10;
    h.modeBytes[1] = 0xC0;
    h.headerFlags = 0xFF;
    h.reserved102 = 0x66;
    rig.device->movingArrayMode = 1; // left from an earlier moving array
    rig.instrument.SendBlock(std::vector<uint8_t>(1068, 3)).SendBlock(ParameterBlock());
    ASSERT_EQ(rig.protocol->ReadHeader(h), 1);
    EXPECT_TRUE(rig.instrument.Done());

    EXPECT_EQ(h.channelCount, 10);
    EXPECT_EQ(h.setting4, 1);
    EXPECT_EQ(h.setting8, 1);
    EXPECT_EQ(h.setting12, 12);
    EXPECT_EQ(h.setting16, 16);
    EXPECT_FLOAT_EQ(h.setting20, 2.5f); // bit 6 of byte 50: offset 168
    // Byte 24: P.2252 bits 0, 2 -> bits 0, 3; bits 5-7 = 5 + 1. Bits the
    // block does not define are clear, whatever the header held before.
    EXPECT_EQ(h.modeBytes[0], 0x01 | 0x08 | (6 << 5));
    EXPECT_EQ(h.modeBytes[1], 0x3F);
    EXPECT_EQ(h.modeBytes[2], 0x49); // (3 + 1) << 4 | 8 | 1
    EXPECT_EQ(h.modeBytes[3], 12);   // 127 x 0.1, truncated
    EXPECT_EQ(h.setting28, 7);
    EXPECT_EQ(h.setting32, 0x1234);
    EXPECT_EQ(h.setting34, -2);
    EXPECT_EQ(h.setting36, 36);
    EXPECT_EQ(h.settingList[0], 100);
    EXPECT_EQ(h.settingList[19], 119);
    EXPECT_EQ(h.setting80, 0);
    EXPECT_EQ(h.setting88, 88);
    EXPECT_EQ(std::string(h.headerName, 10), "LONGNAME12");
    EXPECT_EQ(h.reserved102, 0);
    EXPECT_EQ(h.headerFlags, 0x11);
    EXPECT_EQ(h.setting104, 104);
    EXPECT_EQ(h.firstQuadripole, 0);
    EXPECT_EQ(h.lastQuadripole, 119);
    EXPECT_EQ(h.nodeCount, 48);
    EXPECT_EQ(h.firstNode, 1);
    EXPECT_EQ(h.lastNode, 48);
    EXPECT_EQ(h.setting128, 128);
    EXPECT_EQ(rig.device->movingArrayMode, 0);
    EXPECT_EQ(rig.protocol->configurationBlock[1067], 3);

    // Bit 6 clear: setting20 from offset 176. A moving array ends at 15999.
    auto p = ParameterBlock();
    p[50] = 0x05;
    p[2246] = 0x10;
    rig.instrument.SendBlock(std::vector<uint8_t>(1068, 3)).SendBlock(p);
    ASSERT_EQ(rig.protocol->ReadHeader(h), 1);
    EXPECT_FLOAT_EQ(h.setting20, 7.5f);
    EXPECT_EQ(h.lastQuadripole, 15999);
    EXPECT_EQ(rig.device->movingArrayMode, 1);
}

TEST(WifiHeader, OversizedBlocksAreRefused) {
    WifiRig rig;
    rig.protocol->parameterBlock[0] = 0x77;
    rig.instrument.SendBlock(std::vector<uint8_t>(1069, 3))
        .SendBlock(std::vector<uint8_t>(2397, 1));
    EXPECT_EQ(rig.protocol->ReadHeader(rig.device->header), 0);
    EXPECT_EQ(rig.protocol->configurationBlock[0], 0);
    EXPECT_EQ(rig.protocol->parameterBlock[0], 0x77);
    EXPECT_EQ(rig.hooks.messages.size(), 2u);

    rig.instrument.Command(31).SendBlock(std::vector<uint8_t>(81921, 1)).Prompt();
    rig.protocol->GetLastMeasure();
    EXPECT_EQ(rig.protocol->rawRecords[19][4095], 0);
    EXPECT_TRUE(rig.instrument.Done());
}

TEST(WifiSets, NormalAcquisitionNodesStartAtFirstNode) {
    WifiRig rig;
    std::memcpy(rig.protocol->parameterBlock, ParameterBlock().data(), 2396);
    AcquisitionHeader& h = rig.device->header;
    h.firstNode = 3;
    h.lastNode = 5;
    h.firstQuadripole = 0;
    h.lastQuadripole = 1;
    for (auto& n : rig.device->nodes)
        n = {7.0f, 7.0f, 7.0f, 777};
    Bytes nodes; // the instrument sends lastNode entries
    for (int k = 0; k < 5; ++k)
        nodes.f32(1.0f + k).f32(2.0f).f32(3.0f);
    rig.instrument.SendBlock(nodes.data()).SendBlock(Bytes().zeros(48).data());
    rig.instrument.SendBlock(
        Bytes().u16(3).u16(4).u16(5).u16(0).u16(0x8003).u16(4).u16(5).u16(0).data());
    EXPECT_EQ(rig.protocol->ReadSequenceSets(), 2);
    const NodeRecord* n = rig.device->nodes;
    EXPECT_EQ(std::bit_cast<uint32_t>(n[0].y), 0x47C34FFFu);
    EXPECT_EQ(n[1].number, 0);
    EXPECT_EQ(n[3].number, 3);
    EXPECT_FLOAT_EQ(n[3].x, 1.0f); // block entry 0
    EXPECT_FLOAT_EQ(n[5].x, 3.0f);
    EXPECT_EQ(n[6].number, 0);
    EXPECT_EQ(n[2000].number, 0);
    EXPECT_EQ(rig.device->quadripoles[1].a, 3);
    EXPECT_EQ(rig.device->quadripoles[1].gapFiller, -1);
    EXPECT_EQ(rig.device->movingArrayMode, 0);

    // A first node of 0 leaves the block (lastNode entries) one entry short.
    h.firstNode = 0;
    rig.instrument.SendBlock(nodes.data()).SendBlock(Bytes().zeros(48).data());
    EXPECT_EQ(rig.protocol->ReadSequenceSets(), -3);
    EXPECT_EQ(n[3].number, 3);
}

TEST(WifiSets, MovingArrayIsSynthesisedFromTheGeometry) {
    WifiRig rig;
    auto p = ParameterBlock();
    p[2246] = 0x20;
    PutAt(p, 240, Bytes().u16(4));
    for (int k = 0; k < 4; ++k) {
        PutElectrode(p, k, 0, -10.0, 0.0, 0.0);
        PutElectrode(p, k, 1, -20.0, 0.0, 0.0);
        PutElectrode(p, k, 2, k, 0.5, 0.1);
        PutElectrode(p, k, 3, k + 1, 0.5, 0.1);
    }
    std::memcpy(rig.protocol->parameterBlock, p.data(), p.size());
    rig.device->nodes[0] = {1.0f, 2.0f, 3.0f, 0};
    rig.device->nodes[8] = {7.0f, 7.0f, 7.0f, 8};
    rig.device->quadripoles[15999] = {9, 9, 9, 9, -1};  // the previous acquisition's
    EXPECT_EQ(rig.protocol->ReadSequenceSets(), 16000); // quadripoles 0 .. 15999
    EXPECT_TRUE(rig.link.sent.empty());
    EXPECT_EQ(rig.device->movingArrayMode, 1);
    EXPECT_EQ(rig.device->header.lastQuadripole, 15999);
    EXPECT_EQ(rig.view.idle, 1);

    const NodeRecord* n = rig.device->nodes;
    EXPECT_FLOAT_EQ(n[0].x, 1.0f); // untouched
    EXPECT_FLOAT_EQ(n[1].x, -10.0f);
    EXPECT_FLOAT_EQ(n[2].x, -20.0f);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(n[3 + k].number, 3 + k);
        EXPECT_FLOAT_EQ(n[3 + k].x, float(k));
        EXPECT_FLOAT_EQ(n[3 + k].z, 0.1f);
    }
    EXPECT_FLOAT_EQ(n[7].x, 4.0f);
    EXPECT_EQ(n[7].number, 7);
    EXPECT_EQ(n[8].number, 0);

    const QuadripoleRecord* q = rig.device->quadripoles;
    const int expectedM[] = {3, 4, 5, 6, 3};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(q[i].a, 1);
        EXPECT_EQ(q[i].b, 2);
        EXPECT_EQ(q[i].m, expectedM[i]);
        EXPECT_EQ(q[i].n, expectedM[i] + 1);
        EXPECT_EQ(q[i].gapFiller, 0);
    }
    EXPECT_EQ(q[15998].m, 5);
    EXPECT_EQ(q[15999].a, 1);
    EXPECT_EQ(q[15999].m, 6);
    EXPECT_EQ(q[15999].gapFiller, 0);
    rig.device->quadripoleCount = 15999;
    int count = 10;
    int16_t list[kDipoleListSize];
    rig.device->GroupDipoles(4, count, list);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::vector<int16_t>(list, list + 8), (std::vector<int16_t>{1, 2, 3, 4, 5, 6, 7, 0}));

    // Eleven dipoles do not fit the geometry table, none has no electrodes.
    for (uint16_t dipoles : {uint16_t(11), uint16_t(0)}) {
        PutAt(p, 240, Bytes().u16(dipoles));
        std::memcpy(rig.protocol->parameterBlock, p.data(), p.size());
        rig.device->nodes[1].x = 55.0f;
        EXPECT_EQ(rig.protocol->ReadSequenceSets(), -3);
        EXPECT_FLOAT_EQ(rig.device->nodes[1].x, 55.0f);
    }
}

TEST(WifiRecords, RawRecordGoodOnTheSecondAttempt) {
    WifiRig rig;
    MeasureRecord slot{};
    rig.instrument.Send(WithCheck(RawRecord(1), false)).Expect(1);
    rig.instrument.Send(WithCheck(RawRecord(1), true)).Expect(1);
    EXPECT_EQ(rig.protocol->ReadMeasure(4, slot), 1);
    EXPECT_EQ(rig.link.sent, (std::vector<uint8_t>{'X', 'U'}));
    EXPECT_EQ(rig.protocol->rawRecords[4][100], RawRecord(1)[100]);

    rig.link.sent.clear();
    for (int i = 0; i < 3; ++i)
        rig.instrument.Send(WithCheck(RawRecord(2), false)).Expect(1);
    EXPECT_EQ(rig.protocol->ReadMeasure(0, slot), 0);
    EXPECT_EQ(rig.link.sent, (std::vector<uint8_t>{'X', 'X', 'X'}));

    // A copy cut short is never good, even when its stale rest would sum up.
    rig.link.sent.clear();
    std::vector<uint8_t> shortCopy = WithCheck(RawRecord(2), true);
    shortCopy.erase(shortCopy.begin() + 10, shortCopy.begin() + 4096);
    rig.instrument.Send(shortCopy).Expect(1);
    rig.instrument.Send(WithCheck(RawRecord(2), true)).Expect(1);
    EXPECT_EQ(rig.protocol->ReadMeasure(0, slot), 1);
    EXPECT_EQ(rig.link.sent, (std::vector<uint8_t>{'X', 'U'}));

    EXPECT_EQ(rig.protocol->ReadMeasure(20, slot), 0);
    EXPECT_EQ(rig.protocol->ReadMeasure(-1, slot), 0);
}

TEST(WifiRecords, AppendCompletesRecordsAndKeepsTheRawPair) {
    testsupport::TempRoot root;
    WifiRig rig;
    const std::string bin = root.path() + "/Pylorix - run.bin";
    const std::string rpp = root.path() + "/Pylorix - run.rpp";
    // Another run's ".rpp" is never replaced, and no ".bin" is left without it.
    testsupport::writeFile(rpp, std::vector<uint8_t>(10, 1));
    EXPECT_THROW(rig.protocol->CreateDataFile(bin, ""), FileError);
    EXPECT_FALSE(std::filesystem::exists(bin));
    EXPECT_EQ(testsupport::readFile(rpp).size(), 10u);
    std::filesystem::remove(rpp);
    rig.protocol->CreateDataFile(bin, "");
    EXPECT_EQ(testsupport::readFile(bin).size(), 1029u);
    EXPECT_EQ(testsupport::readFile(rpp).size(), 0u);

    for (int k = 0; k <= 8; ++k)
        rig.device->nodes[k] = {float(k), float(10 * k), float(-k), k};
    rig.device->quadripoles[5] = {1, 2, 3, 4, 0};
    rig.device->quadripoles[6] = {1, 2, 4, 5, -1};
    rig.device->quadripoles[7] = {1, 2, 5, 6, 0};

    // Records 0 and 1 arrive good, record 2 is abandoned after three copies.
    MeasureRecord records[20] = {};
    rig.instrument.Send(WithCheck(RawRecord(0), true)).Expect(1);
    rig.instrument.Send(WithCheck(RawRecord(1), true)).Expect(1);
    for (int i = 0; i < 3; ++i)
        rig.instrument.Send(WithCheck(RawRecord(2), false)).Expect(1);
    for (int i = 0; i < 3; ++i)
        rig.protocol->ReadMeasure(i, records[i]);
    records[1].recordFlags = 0xF2;

    std::vector<float> offered;
    rig.device->recordCompleted = [&](const MeasureRecord& m) {
        offered.push_back(m.rho);
        throw std::runtime_error("statistics failure");
    };
    rig.protocol->AppendRecords(bin, 3, 5, records);

    const auto binImage = testsupport::readFile(bin);
    const auto rppImage = testsupport::readFile(rpp);
    ASSERT_EQ(binImage.size(), 1029u + 3 * 304);
    ASSERT_EQ(rppImage.size(), 3u * 4096);
    EXPECT_EQ(offered, (std::vector<float>{100.0f, 101.0f}));

    // The raw record as written: marked, named, per-channel value cleared.
    const std::vector<uint8_t> raw1(rppImage.begin() + 4096, rppImage.begin() + 8192);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw1[8]), 16),
              std::string("Remote\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw1[24])), "Pylorix - run.rpp");
    EXPECT_EQ(testsupport::lef64(raw1, 832), 0.0);
    EXPECT_EQ(raw1[3000], RawRecord(1)[3000]);

    // The measurement record in the ".bin" file.
    const size_t m1 = 1029 + 304;
    auto f32 = [&](size_t off) { return testsupport::lef32(binImage, m1 + off); };
    EXPECT_EQ(testsupport::le16(binImage, m1 + 0), 10);
    EXPECT_EQ(testsupport::le16(binImage, m1 + 2), 3);
    EXPECT_FLOAT_EQ(f32(4), 150.0f);
    EXPECT_FLOAT_EQ(f32(8), -70.0f);
    EXPECT_EQ(testsupport::le16(binImage, m1 + 12), 1);
    EXPECT_FLOAT_EQ(f32(16 + 4 * 3), 5.0f);  // x of N, node 5 of quadripole 6
    EXPECT_FLOAT_EQ(f32(32 + 4 * 2), 40.0f); // y of M, node 4
    EXPECT_FLOAT_EQ(f32(64), 1.5f);          // sp x 0.001
    EXPECT_FLOAT_EQ(f32(68), 0.25f);
    EXPECT_FLOAT_EQ(f32(72), -0.125f);
    EXPECT_FLOAT_EQ(f32(76), 101.0f);
    EXPECT_FLOAT_EQ(f32(80), 8.5f);
    EXPECT_FLOAT_EQ(f32(84), 0.75f); // byte 58 bits 6-7 = 1: offset 816
    EXPECT_FLOAT_EQ(f32(88 + 4 * 19), 190.0f);
    EXPECT_FLOAT_EQ(f32(168 + 4 * 19), 9.5f);
    EXPECT_EQ(binImage[m1 + 248], 0xA3);
    // Bits 0 (600 > 0), 2 (588 bit 0) and 3 (gap filler) set; 1 and 4-7 kept.
    EXPECT_EQ(binImage[m1 + 249], 0xF2 | 0x01 | 0x04 | 0x08);
    EXPECT_EQ(testsupport::le16(binImage, m1 + 250), 6);
    EXPECT_EQ(std::vector<uint8_t>(binImage.begin() + m1 + 252, binImage.begin() + m1 + 264),
              std::vector<uint8_t>(12, 0));
    EXPECT_FLOAT_EQ(f32(264), 5.25f);
    EXPECT_FLOAT_EQ(f32(268), 6.5f);
    EXPECT_FLOAT_EQ(f32(272), -42.0f);
    EXPECT_FLOAT_EQ(f32(276), 0.0f);
    EXPECT_FLOAT_EQ(f32(280), -1.5f);
    EXPECT_EQ(testsupport::le32(binImage, m1 + 284), 0x7FC00002u);
    EXPECT_FLOAT_EQ(f32(292), 33.0f);
    EXPECT_NEAR(testsupport::lef64(binImage, m1 + 296), NowTimeStamp(), 1.0 / 1440);

    // Record 0's flags: no gap filler; records keep the batch's time stamp.
    EXPECT_EQ(binImage[1029 + 249] & 0x08, 0);
    EXPECT_EQ(testsupport::lef64(binImage, 1029 + 296), testsupport::lef64(binImage, m1 + 296));

    // The offered flags are per batch: a second batch without reception offers nothing.
    offered.clear();
    rig.protocol->AppendRecords(bin, 1, 8, records);
    EXPECT_TRUE(offered.empty());
    EXPECT_EQ(testsupport::readFile(rpp).size(), 4u * 4096);

    std::filesystem::remove(rpp);
    EXPECT_THROW(rig.protocol->AppendRecords(bin, 1, 8, records), FileError);
    EXPECT_EQ(testsupport::readFile(bin).size(), 1029u + 4 * 304);
    EXPECT_THROW(rig.protocol->AppendRecords(bin, 21, 0, records), FileError);
}

TEST(WifiRecords, MovingArrayRecordsFollowOriginAndHeading) {
    testsupport::TempRoot root;
    WifiRig rig;
    const std::string bin = root.path() + "/m.bin";
    rig.protocol->CreateDataFile(bin, "");
    auto p = ParameterBlock();
    p[2246] = 0x10; // the acquisition's own block says: moving array
    PutElectrode(p, 1, 0, 1.0, 2.0, 0.5);
    std::memcpy(rig.protocol->parameterBlock, p.data(), p.size());

    auto place = [&](double heading) {
        auto raw = RawRecord(0);
        PutAt(raw, 496, Bytes().f64(100.0).f64(200.0).f64(10.0).f64(heading));
        std::memcpy(rig.protocol->rawRecords[1], raw.data(), raw.size());
        MeasureRecord records[2] = {};
        rig.protocol->AppendRecords(bin, 2, 0, records);
        return records[1];
    };
    // Heading 90: the array frame is only moved to the origin.
    MeasureRecord m = place(90.0);
    EXPECT_FLOAT_EQ(m.x[0], 101.0f);
    EXPECT_FLOAT_EQ(m.y[0], 202.0f);
    EXPECT_FLOAT_EQ(m.z[0], 10.5f);
    // Heading 0: the array's x axis turns onto the y axis.
    m = place(0.0);
    EXPECT_FLOAT_EQ(m.x[0], 98.0f);
    EXPECT_FLOAT_EQ(m.y[0], 201.0f);
    EXPECT_FLOAT_EQ(m.x[1], 100.0f); // B of dipole 1 is all zero: the origin
}

TEST(WifiCommands, AcquisitionParametersPackIntoTheBlock) {
    WifiRig rig;
    auto p = ParameterBlock();
    p[49] = 0x07;
    p[50] = 0x07;
    p[51] = 0x80;
    std::vector<uint8_t> config(1068, 0);
    PutAt(config, 4, Bytes().i32(8));
    std::vector<int32_t> w(20, 0);
    w[0] = 12;
    w[3] = 33;
    w[4] = 44;
    w[5] = int32_t(std::bit_cast<uint32_t>(2.5f));
    w[6] = int32_t(0x07520100u | 0xFF00u); // b0 0x00, b1 0xFF, b2 0x52, b3 7
    w[8] = int32_t(0x0002FFFEu);
    w[9] = int32_t(0x00070003u);
    w[19] = int32_t(0x11112222u);
    rig.instrument.Command(30).SendBlock(config).Prompt();
    rig.instrument.Command(28).SendBlock(p).Prompt();
    rig.instrument.Command(29).ReceiveBlock().Prompt();
    rig.protocol->SetAcquisitionParameters(w);
    ASSERT_TRUE(rig.instrument.Done());
    ASSERT_TRUE(rig.instrument.problems.empty());
    const auto& s = rig.instrument.blocksReceived.at(0);
    ASSERT_EQ(s.size(), 2396u);
    EXPECT_EQ(testsupport::le32(s, 156), 8u);
    EXPECT_EQ(testsupport::le32(s, 160), 33u);
    EXPECT_EQ(testsupport::le32(s, 164), 44u);
    EXPECT_EQ(testsupport::lef64(s, 168), 2.5);
    EXPECT_EQ(testsupport::lef64(s, 176), 2.5);
    EXPECT_EQ(s[51], 0x80 | 0x3F);
    EXPECT_EQ(s[49], 0x47);            // high nibble (5 - 1), low nibble kept
    EXPECT_EQ(s[50], 0x80 | 0x10 | 7); // bits 6-7 = 2, bits 3-5 = 010, bits 0-2 kept
    EXPECT_EQ(testsupport::lef32(s, 152), 70.0f);
    EXPECT_EQ(testsupport::le32(s, 56), 0xFFFFFFFEu);
    EXPECT_EQ(testsupport::le32(s, 60), 2u);
    EXPECT_EQ(testsupport::le32(s, 64), 3u);
    EXPECT_EQ(testsupport::le32(s, 68), 7u);
    EXPECT_EQ(testsupport::le32(s, 144), 0x2222u); // the low half of w19 is the last
    EXPECT_EQ(testsupport::le32(s, 148), 88u);     // and setting88 is left alone

    // Top bits of byte 0 set: the mode goes to bits 0-2 of byte 50.
    w[6] = 0x60;
    rig.instrument.Command(30).SendBlock(config).Prompt();
    rig.instrument.Command(28).SendBlock(p).Prompt();
    rig.instrument.Command(29).ReceiveBlock().Prompt();
    rig.protocol->SetAcquisitionParameters(w);
    const auto& s2 = rig.instrument.blocksReceived.at(1);
    EXPECT_EQ(s2[50], 0x02);
    EXPECT_EQ(s2[49], 0x07);
}

TEST(WifiCommands, QuickMeasureSelectsTheGeometryAndRunsTheCheck) {
    WifiRig rig;
    for (int k = 0; k <= 6; ++k)
        rig.device->nodes[k] = {float(k), 0.5f, 0.25f, k};
    rig.device->quadripoles[2] = {1, 2, 3, 4, 0};
    rig.device->quadripoles[3] = {1, 2, 4, 5, -1};
    rig.device->quadripoles[4] = {1, 2, 5, 6000, 0};
    std::memset(rig.protocol->parameterBlock + 320, 0xEE, 1680);
    std::memcpy(rig.protocol->parameterBlock + 164, Bytes().i32(7).data().data(), 4);
    QuickMeasureSettings& s = rig.device->quickMeasureSettings;
    s.voltage = 80.0f;
    s.time = 500;

    rig.instrument.Command(41).Expect(2 + 46).Prompt();
    rig.instrument.Command(29).ReceiveBlock().Prompt();
    rig.instrument.Command(34).Expect(6).Prompt();
    rig.instrument.Command(32).Send(Bytes().text("GO", 2).i32(4).text("+-", 2).text("OK", 2));
    rig.instrument.SendBlock(std::vector<uint8_t>(4096, 0x42));
    rig.instrument.Send(Bytes().text("GO", 2).i32(6).text("ST", 2));
    const int16_t list[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(rig.protocol->QuickMeasure(list, false, 3, 2), 0); // "ST" inside a measurement
    ASSERT_TRUE(rig.instrument.Done());
    EXPECT_EQ(rig.view.bar.maximum, 7);
    EXPECT_EQ(rig.view.bar.highest, 2); // "+-" and "OK" both advance
    EXPECT_EQ(rig.protocol->rawRecords[0][0], 0x42);

    const auto& electrodes = rig.instrument.bytesReceived.at(0);
    EXPECT_EQ(testsupport::le16(electrodes, 2 + 2 * 4), 5);
    EXPECT_EQ(testsupport::le16(electrodes, 2 + 2 * 22), 0);
    const auto& measure = rig.instrument.bytesReceived.at(1);
    EXPECT_EQ(testsupport::lef32(measure, 0), 0.0f);
    EXPECT_EQ(testsupport::le16(measure, 4), 500);

    const auto& g = rig.instrument.blocksReceived.at(0);
    EXPECT_EQ(testsupport::le32(g, 156), 3u);
    const size_t d1 = 320 + 168;                    // quadripole 3
    EXPECT_EQ(testsupport::lef64(g, d1 + 80), 4.0); // x of M
    EXPECT_EQ(testsupport::lef64(g, d1 + 80 + 8), 0.5);
    EXPECT_EQ(g[d1 + 80 + 32], 0x02);
    EXPECT_EQ(testsupport::le32(g, d1 + 120 + 36), 5u);
    EXPECT_EQ(g[d1 + 160], 0x07);
    const size_t d2 = 320 + 2 * 168; // N = 6000 is no node: taken as node 0
    EXPECT_EQ(testsupport::lef64(g, d2 + 120), 0.0);
    EXPECT_EQ(g[d2 + 160], 0x06);
    EXPECT_EQ(g[320 + 3 * 168], 0);
    EXPECT_EQ(g[2000 - 1], 0);
}

TEST(WifiCommands, CheckRunAndCommandTableSizes) {
    WifiRig rig;
    rig.instrument.Command(32).Send(Bytes().text("GO", 2).i32(4).text("OK", 2));
    rig.instrument.SendBlock(std::vector<uint8_t>(10, 1));
    rig.instrument.Send(Bytes().text("GO", 2).i32(6).text("+-", 2).text("ST", 2));
    EXPECT_EQ(rig.protocol->RunCheck(), 0); // an unknown inner token ends the run
    rig.instrument.Command(32).Send(Bytes().text("GO", 2).i32(4).text("OK", 2));
    rig.instrument.SendBlock(std::vector<uint8_t>(10, 1)).Send(Bytes().text("ST", 2));
    EXPECT_EQ(rig.protocol->RunCheck(), 4);

    rig.instrument.Command(37).Expect(6).Prompt(); // the int16 1 even for 0
    rig.instrument.Command(41).Expect(2 + 46).Prompt();
    for (int k = 0; k < 20; ++k)
        rig.instrument.Command(43).Expect(4).Send(Bytes().f64(k + 0.5)).Prompt();
    rig.instrument.Command(43).Expect(4).Send(Bytes().f64(12.25)).Prompt();
    rig.protocol->SetMode(0);
    rig.protocol->ReleaseElectrodes();
    rig.protocol->ReadChannelValues();
    rig.protocol->ReadBattery();
    EXPECT_TRUE(rig.instrument.Done());
    EXPECT_TRUE(rig.instrument.problems.empty());
    const auto& got = rig.instrument.bytesReceived;
    EXPECT_EQ(testsupport::le16(got[0], 4), 1);
    EXPECT_EQ(got[1], Join({1, 0}, std::vector<uint8_t>(46, 0)));
    EXPECT_EQ(testsupport::le32(got[2 + 19], 0), 19u);
    const std::vector<uint8_t> r19(rig.protocol->rawRecords[19],
                                   rig.protocol->rawRecords[19] + 4096);
    EXPECT_EQ(testsupport::lef64(r19, 832), 19.5);
    EXPECT_FLOAT_EQ(rig.device->batteryValue, 12.25f);
    EXPECT_EQ(rig.hooks.cursorDepth, 0);
}

// ---- nothing lost in a live run -----------------------------------------------------------

namespace {

// Sets the full-disk hook for one test and lifts it again.
class WriteBudget {
public:
    explicit WriteBudget(int64_t bytes) { SetDataWriteBudget(bytes); }
    ~WriteBudget() { SetDataWriteBudget(-1); }
    WriteBudget(const WriteBudget&) = delete;
    WriteBudget& operator=(const WriteBudget&) = delete;
};

std::vector<uint8_t> HeaderBytes(const AcquisitionHeader& h) {
    std::vector<uint8_t> image(AcquisitionHeader::kSize);
    h.Encode(image.data());
    return image;
}

} // namespace

TEST(WifiHeader, TheSameBlockGivesTheSameHeaderWhateverCameBefore) {
    WifiRig rig;
    // Whatever the header held before (a replayed file, a wired run), the
    // parameter block alone decides the ".heq" header.
    auto built = [&](uint8_t leftOver, const std::vector<uint8_t>& block) {
        AcquisitionHeader h;
        std::memset(&h, leftOver, sizeof h);
        rig.instrument.SendBlock(std::vector<uint8_t>(1068, 3)).SendBlock(block);
        EXPECT_EQ(rig.protocol->ReadHeader(h), 1);
        return HeaderBytes(h);
    };
    auto moving = ParameterBlock();
    moving[2246] = 0x10;
    for (const auto& block : {ParameterBlock(), moving}) {
        const auto clean = built(0x00, block);
        EXPECT_EQ(built(0xFF, block), clean);
        EXPECT_EQ(built(0xA5, block), clean);
        EXPECT_EQ(clean[78], 0);
        EXPECT_EQ(clean[79], 0);
        EXPECT_EQ(clean[102], 0);
    }
}

TEST(WifiHeader, AFirstQuadripoleNumberOfZeroStartsAtTheFirstQuadripole) {
    WifiRig rig;
    AcquisitionHeader& h = rig.device->header;
    auto read = [&](int32_t first, int32_t last, bool moving) {
        auto p = ParameterBlock();
        PutAt(p, 256, Bytes().i32(first).i32(last));
        p[2246] = moving ? 0x20 : 0x00;
        rig.instrument.SendBlock(std::vector<uint8_t>(1068, 3)).SendBlock(p);
        ASSERT_EQ(rig.protocol->ReadHeader(h), 1);
    };
    read(0, 120, false);
    EXPECT_EQ(h.firstQuadripole, 0);
    EXPECT_EQ(h.lastQuadripole, 119);
    // A moving array numbered from 0 still fits the table: 16 000 quadripoles.
    read(0, 5, true);
    EXPECT_EQ(h.firstQuadripole, 0);
    EXPECT_EQ(h.SequenceLength(), 16000);
    // Numbers from 1 keep their meaning.
    read(41, 120, false);
    EXPECT_EQ(h.firstQuadripole, 40);
    EXPECT_EQ(h.lastQuadripole, 119);
}

TEST(WifiRecords, StopDuringAMovingArrayBatchKeepsWorldCoordinates) {
    testsupport::TempRoot root;
    WifiRig rig;
    const std::string bin = root.path() + "/m.bin";
    rig.protocol->CreateDataFile(bin, "");
    auto p = ParameterBlock();
    p[2246] = 0x10;
    PutElectrode(p, 0, 0, 1.0, 2.0, 0.5);
    std::memcpy(rig.protocol->parameterBlock, p.data(), p.size());
    std::memcpy(rig.protocol->rawRecords[0], RawRecord(0).data(), 4096); // origin (100, 200, 10)
    for (int k = 0; k <= 4; ++k)
        rig.device->nodes[k] = {float(-k), float(-k), float(-k), k};
    rig.device->quadripoles[0] = {1, 2, 3, 4, 0};

    // The operator's Stop cleared the device's flag before the batch that
    // arrived in place of the echo was stored.
    rig.device->movingArrayMode = 0;
    MeasureRecord records[1] = {};
    rig.protocol->AppendRecords(bin, 1, 0, records);
    EXPECT_FLOAT_EQ(records[0].x[0], 101.0f);
    EXPECT_FLOAT_EQ(records[0].y[0], 202.0f);
    EXPECT_FLOAT_EQ(records[0].z[0], 10.5f);

    // A normal acquisition is never placed by a flag left from a moving array.
    p[2246] = 0x00;
    std::memcpy(rig.protocol->parameterBlock, p.data(), p.size());
    rig.device->movingArrayMode = 1;
    rig.protocol->AppendRecords(bin, 1, 0, records);
    EXPECT_FLOAT_EQ(records[0].x[0], -1.0f);
    EXPECT_FLOAT_EQ(records[0].x[3], -4.0f);
}

TEST(WifiRecords, RecordsCarryTheInstrumentsQuadripoleNumber) {
    testsupport::TempRoot root;
    WifiRig rig;
    const std::string bin = root.path() + "/q.bin";
    rig.protocol->CreateDataFile(bin, "");
    // The sequence starts at the instrument's quadripole 41 (number 40).
    rig.device->header.firstQuadripole = 40;
    rig.device->header.lastQuadripole = 159;
    for (int k = 0; k <= 8; ++k)
        rig.device->nodes[k] = {float(k), 0.0f, 0.0f, k};
    rig.device->quadripoles[5] = {1, 2, 3, 4, 0};
    rig.device->quadripoles[6] = {1, 2, 4, 5, -1};
    for (int i = 0; i < 2; ++i)
        std::memcpy(rig.protocol->rawRecords[i], RawRecord(uint8_t(i)).data(), 4096);

    // Table slots 5 and 6 hold the instrument's quadripoles 45 and 46.
    MeasureRecord records[2] = {};
    rig.protocol->AppendRecords(bin, 2, 5, records);
    EXPECT_EQ(records[0].quadripoleIndex, 45);
    EXPECT_EQ(records[1].quadripoleIndex, 46);
    // Coordinates and the gap-filler flag still come from the table slot.
    EXPECT_FLOAT_EQ(records[1].x[3], 5.0f);
    EXPECT_EQ(records[1].recordFlags & kRecordFlagGapFiller, kRecordFlagGapFiller);
    const auto image = testsupport::readFile(bin);
    EXPECT_EQ(testsupport::le16(image, 1029 + 304 + 250), 46);

    // A wired record of the same quadripole carries the same number.
    std::vector<uint8_t> wiredRecord(260, 0);
    PutAt(wiredRecord, 2, Bytes().i16(46));
    MeasureRecord wired{};
    DecodeWiredRecord(wiredRecord.data(), rig.device->acquisitionName, 0.0, wired);
    EXPECT_EQ(wired.quadripoleIndex, records[1].quadripoleIndex);
}

TEST(WifiRecords, AFullDiskKeepsBinAndRppInStep) {
    testsupport::TempRoot root;
    WifiRig rig;
    const std::string bin = root.path() + "/run.bin";
    const std::string rpp = root.path() + "/run.rpp";
    constexpr int64_t kRecordBytes = 304 + 4096;
    struct Case {
        int64_t budget;
        const char* fullFile;
    };
    // Room for 63.98 records of both files: the fourth batch of 16 fits the
    // ".bin" but not the ".rpp". With 1000 bytes left, not even the ".bin".
    for (const Case c :
         {Case{int64_t(63.98 * kRecordBytes), ".rpp"}, Case{48 * kRecordBytes + 1000, ".bin"}}) {
        std::filesystem::remove(bin);
        std::filesystem::remove(rpp);
        rig.protocol->CreateDataFile(bin, "");
        MeasureRecord records[20] = {};
        WriteBudget budget(c.budget);
        for (int b = 0; b < 3; ++b) {
            for (int i = 0; i < 16; ++i)
                std::memcpy(rig.protocol->rawRecords[i], RawRecord(uint8_t(i)).data(), 4096);
            ASSERT_NO_THROW(rig.protocol->AppendRecords(bin, 16, 16 * b, records)) << c.fullFile;
        }
        try {
            rig.protocol->AppendRecords(bin, 16, 48, records);
            ADD_FAILURE() << "a full disk went unnoticed (" << c.fullFile << ")";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Can't write file \"" + root.path() + "/run" +
                                                 c.fullFile + "\": No space left on device");
        }
        EXPECT_EQ(std::filesystem::file_size(bin), 1029u + 48 * 304) << c.fullFile;
        EXPECT_EQ(std::filesystem::file_size(rpp), 48u * 4096) << c.fullFile;
    }
}
