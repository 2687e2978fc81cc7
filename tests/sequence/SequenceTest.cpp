// The sequence store: byte layouts against hand-built images, and the
// geometry operations on realistic and degenerate quadripoles.
#include "sequence/Sequence.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using testsupport::Bytes;

namespace {

std::unique_ptr<Sequence> MakeLine(int electrodes, float spacing) {
    auto s = std::make_unique<Sequence>();
    s->nodes[0] = {kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate, 0};
    for (int i = 1; i <= electrodes; ++i)
        s->nodes[i] = {float(i - 1) * spacing, 0.0f, 0.0f, i};
    s->nodeCount = electrodes;
    return s;
}

void SetQuadripoles(Sequence& s, std::initializer_list<QuadripoleRecord> list) {
    int i = 0;
    for (const auto& q : list)
        s.quadripoles[i++] = q;
    s.quadripoleCount = i;
}

} // namespace

TEST(SequenceLayout, NodeAndQuadripoleRecordsMatchTheirByteImages) {
    const Bytes node = Bytes().f32(1.5f).f32(-2.25f).f32(100.0f).i32(42);
    const NodeRecord n = NodeRecord::Decode(node.data().data());
    EXPECT_EQ(n.x, 1.5f);
    EXPECT_EQ(n.y, -2.25f);
    EXPECT_EQ(n.z, 100.0f);
    EXPECT_EQ(n.number, 42);
    uint8_t out[16];
    n.Encode(out);
    EXPECT_EQ(0, std::memcmp(out, node.data().data(), 16));

    const Bytes quad = Bytes().i32(1).i32(0).i32(32767).i32(4).i32(-1);
    const QuadripoleRecord q = QuadripoleRecord::Decode(quad.data().data());
    EXPECT_EQ(q.a, 1);
    EXPECT_EQ(q.b, 0);
    EXPECT_EQ(q.m, 32767);
    EXPECT_EQ(q.n, 4);
    EXPECT_EQ(q.gapFiller, -1);
    uint8_t qout[20];
    q.Encode(qout);
    EXPECT_EQ(0, std::memcmp(qout, quad.data().data(), 20));
}

TEST(SequenceLayout, HeaderFieldsSitAtTheirOffsets) {
    Bytes b;
    b.i32(12).i32(1).i32(1).i32(3).i32(4).f32(2.5f);
    b.u8(0xA1).u8(0xB2).u8(0xC3).u8(0xD4);
    b.i32(28).i16(-32).i16(34).i16(36);
    for (int i = 0; i < 20; ++i)
        b.i16(int16_t(100 + i));
    b.u8(0xEE).u8(0xEF);
    b.i32(80).i32(84).i32(88);
    b.text("LINE1", 10);
    b.u8(0x77).u8(0x5A);
    b.i32(104).i32(5).i32(1204).i32(48).i32(1).i32(48).i32(128).i32(132);
    ASSERT_EQ(b.size(), 136u);

    const AcquisitionHeader h = AcquisitionHeader::Decode(b.data().data());
    EXPECT_EQ(h.channelCount, 12);
    EXPECT_EQ(h.setting20, 2.5f);
    EXPECT_EQ(h.modeBytes[3], 0xD4);
    EXPECT_EQ(h.setting32, -32);
    EXPECT_EQ(h.settingList[0], 100);
    EXPECT_EQ(h.settingList[19], 119);
    EXPECT_EQ(h.setting88, 88);
    EXPECT_STREQ(std::string(h.headerName, 5).c_str(), "LINE1");
    EXPECT_EQ(h.headerFlags, 0x5A);
    EXPECT_EQ(h.firstQuadripole, 5);
    EXPECT_EQ(h.lastQuadripole, 1204);
    EXPECT_EQ(h.nodeCount, 48);
    EXPECT_EQ(h.firstNode, 1);
    EXPECT_EQ(h.lastNode, 48);
    EXPECT_EQ(h.setting132, 132);
    EXPECT_EQ(h.SequenceLength(), 1200);

    // Fields the program does not interpret, reserved bytes included, come
    // back out unchanged.
    uint8_t out[136];
    h.Encode(out);
    EXPECT_EQ(0, std::memcmp(out, b.data().data(), 136));
}

TEST(SequenceLayout, HeaderChannelCountIsCappedAndLengthDoesNotOverflow) {
    AcquisitionHeader h{};
    h.channelCount = 64;
    EXPECT_EQ(h.ChannelCountCapped(), 20);
    h.channelCount = -3;
    EXPECT_EQ(h.ChannelCountCapped(), 0);
    h.firstQuadripole = INT32_MIN;
    h.lastQuadripole = INT32_MAX;
    EXPECT_GT(h.SequenceLength(), int64_t(INT32_MAX));
}

TEST(SequenceLayout, MeasureRecordMatchesItsByteImage) {
    Bytes b;
    b.i16(7).i16(3).f32(10.0f).f32(20.0f).i16(1).u8(0).u8(0);
    for (int i = 0; i < 12; ++i)
        b.f32(float(i) + 0.5f);
    b.f32(-1.0f).f32(250.0f).f32(100.0f).f32(123.25f).f32(8.5f).f32(0.3f);
    for (int i = 0; i < 20; ++i)
        b.f32(float(i * 10));
    for (int i = 0; i < 20; ++i)
        b.f32(float(-i));
    b.u8(0x53).u8(0x08).i16(15999);
    b.text("LINE1", 12);
    b.f32(264.0f).f32(268.0f).f32(272.0f).f32(276.0f).f32(280.0f);
    b.f32(12.6f).f32(12.1f).f32(31.5f).f64(45413.5);
    ASSERT_EQ(b.size(), 304u);

    const MeasureRecord r = MeasureRecord::Decode(b.data().data());
    EXPECT_EQ(r.configurationCode, 7);
    EXPECT_EQ(r.recordVersion, 3);
    EXPECT_EQ(r.recordOne, 1);
    EXPECT_EQ(r.x[0], 0.5f);
    EXPECT_EQ(r.y[0], 4.5f);
    EXPECT_EQ(r.z[3], 11.5f);
    EXPECT_EQ(r.rho, 123.25f);
    EXPECT_EQ(r.windowTimes[19], 190.0f);
    EXPECT_EQ(r.windowValues[19], -19.0f);
    EXPECT_EQ(r.channelByte & 0x0F, 3);
    EXPECT_EQ(r.recordFlags & kRecordFlagGapFiller, kRecordFlagGapFiller);
    EXPECT_EQ(r.quadripoleIndex, 15999);
    EXPECT_EQ(r.temperature, 31.5f);
    EXPECT_EQ(r.timeStamp, 45413.5);
    uint8_t out[304];
    r.Encode(out);
    EXPECT_EQ(0, std::memcmp(out, b.data().data(), 304));
}

TEST(SequenceGeometry, DipoleDipoleOnALine) {
    auto s = MakeLine(8, 1.0f);
    // Electrodes at 0, 1, 3 and 4 m.
    SetQuadripoles(*s, {{1, 2, 4, 5, 0}});
    float c[12];
    s->QuadripoleCoordinates(0, c);
    EXPECT_FLOAT_EQ(c[0], 0.0f);
    EXPECT_FLOAT_EQ(c[3], 4.0f);
    EXPECT_FLOAT_EQ(Sequence::MidPoint(c, 0), 2.0f);
    EXPECT_NEAR(Sequence::PseudoDepth(c), 0.76f, 1e-6);
}

TEST(SequenceGeometry, PoleDipoleIgnoresTheRemoteElectrode) {
    auto s = MakeLine(10, 2.0f);
    // A at 2 m, B at infinity, M at 4 m, N at 6 m.
    SetQuadripoles(*s, {{2, 0, 3, 4, 0}});
    float c[12];
    s->QuadripoleCoordinates(0, c);
    EXPECT_FLOAT_EQ(c[1], kInfinityCoordinate);
    // Current centre is A alone (2), potential centre 5: mid point 3.5.
    EXPECT_FLOAT_EQ(Sequence::MidPoint(c, 0), 3.5f);
    // Distances to B are huge, so the depth follows the closest pair AM.
    EXPECT_NEAR(Sequence::PseudoDepth(c), 0.19f * 2.0f, 1e-5);
}

TEST(SequenceGeometry, BothCurrentElectrodesAtInfinityGiveZeroCentre) {
    float c[12] = {};
    c[0] = c[1] = kInfinityCoordinate;
    c[2] = 10.0f;
    c[3] = 12.0f;
    // Current centre stays 0, potential centre 11: midpoint 5.5.
    EXPECT_FLOAT_EQ(Sequence::MidPoint(c, 0), 5.5f);
    // The same rule on the y axis with everything at 0.
    EXPECT_FLOAT_EQ(Sequence::MidPoint(c, 4), 0.0f);
}

TEST(SequenceGeometry, CoincidentCurrentElectrodesUseThePotentialDipoleLength) {
    float c[12] = {};
    c[0] = c[1] = 0.0f; // A = B
    c[2] = 5.0f;
    c[3] = 6.0f;
    // |AB| = 0 makes dmax = |MN| = 1; dmin = 5, so 10 dmin >= dmax.
    EXPECT_NEAR(Sequence::PseudoDepth(c), 0.19f, 1e-6);
}

TEST(SequenceGeometry, NodeNumbersOutsideTheTableCountAsInfinity) {
    auto s = MakeLine(4, 1.0f);
    SetQuadripoles(*s, {{1, 5000, -7, 2, 0}});
    float c[12];
    s->QuadripoleCoordinates(0, c);
    EXPECT_FLOAT_EQ(c[1], kInfinityCoordinate);
    EXPECT_FLOAT_EQ(c[2], kInfinityCoordinate);
    EXPECT_FLOAT_EQ(c[3], 1.0f);

    // A quadripole index outside the table gives no coordinates at all.
    s->QuadripoleCoordinates(16000, c);
    for (float v : c)
        EXPECT_EQ(v, 0.0f);
    s->QuadripoleCoordinates(-1, c);
    EXPECT_EQ(c[0], 0.0f);
}

TEST(SequenceGrouping, ChainedDipolesGroupUntilTheChainBreaks) {
    auto s = MakeLine(10, 1.0f);
    SetQuadripoles(*s, {{1, 2, 3, 4, 0}, {1, 2, 4, 5, 0}, {1, 2, 6, 7, 0}});
    int count = 8;
    int16_t list[23];
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 2);
    const int16_t expected[23] = {1, 2, 3, 4, 5};
    EXPECT_EQ(0, std::memcmp(list, expected, sizeof expected));

    // The third starts a group of its own, cut by the end of the sequence.
    count = 8;
    s->GroupDipoles(2, count, list);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[2], 6);
    EXPECT_EQ(list[3], 7);
}

TEST(SequenceGrouping, GroupEndsAtARepeatedElectrodeOrOtherCurrentPair) {
    auto s = MakeLine(10, 1.0f);
    SetQuadripoles(*s, {{1, 2, 3, 4, 0}, {1, 2, 4, 3, 0}});
    int count = 4;
    int16_t list[23];
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[4], 0);

    SetQuadripoles(*s, {{1, 2, 3, 4, 0}, {1, 9, 4, 5, 0}});
    count = 4;
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 1);

    // N = 0 (a remote potential electrode) may repeat.
    SetQuadripoles(*s, {{1, 2, 3, 0, 0}, {1, 2, 0, 0, 0}});
    count = 4;
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 2);
}

TEST(SequenceGrouping, FullGroupKeepsItsCountAndLimits) {
    auto s = MakeLine(40, 1.0f);
    for (int i = 0; i < 25; ++i)
        s->quadripoles[i] = {1, 2, 3 + i, 4 + i, 0};
    s->quadripoleCount = 25;
    int count = 3;
    int16_t list[23];
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(list[5], 6);
    EXPECT_EQ(list[6], 0);

    // More than 20 channels asked for: the list holds 20 dipoles at most.
    count = 99;
    s->GroupDipoles(0, count, list);
    EXPECT_EQ(count, 20);
    EXPECT_EQ(list[22], 23);

    // Past the end of the sequence: nothing.
    count = 8;
    s->GroupDipoles(25, count, list);
    EXPECT_EQ(count, 0);
    for (int16_t v : list)
        EXPECT_EQ(v, 0);
    count = 8;
    s->GroupDipoles(-1, count, list);
    EXPECT_EQ(count, 0);
}

TEST(SequenceGrouping, CorruptCountNeverReadsPastTheTable) {
    auto s = MakeLine(10, 1.0f);
    for (int i = 0; i < kMaxQuadripoles; ++i)
        s->quadripoles[i] = {1, 2, 3, 4, 0};
    s->quadripoleCount = 1 << 30;
    int count = 20;
    int16_t list[23];
    s->GroupDipoles(kMaxQuadripoles - 1, count, list);
    EXPECT_EQ(count, 1);
    count = 20;
    s->GroupDipoles(kMaxQuadripoles, count, list);
    EXPECT_EQ(count, 0);
}
