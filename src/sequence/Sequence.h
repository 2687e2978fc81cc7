#pragma once
// The in-memory acquisition: node table, quadripole table, the acquisition
// header and the measurement record, with the geometry operations the
// displays and the live panel use.
//
// Every record is a plain struct whose in-memory layout equals its byte
// layout in files and on the wire (checked by static_asserts below). The
// Encode/Decode members convert explicitly to and from little-endian bytes,
// so the code does not rely on the host byte order.
#include <cstddef>
#include <cstdint>

constexpr int kMaxNodes = 4096;
constexpr int kMaxQuadripoles = 16000;
constexpr int kMaxChannels = 20;
constexpr int kDipoleListSize = 23;
// The identity bytes an acquisition starts with (stored in the ".heq").
constexpr int kInstrumentWordSize = 4;
constexpr int kAcquisitionNameSize = 11;

// Coordinates of node 0, the electrode at infinity (bit pattern 0x47C34FFF).
constexpr float kInfinityCoordinate = 99999.99f;
// Any coordinate of this magnitude or more lies at infinity.
constexpr float kInfinityThreshold = 99999.0f;

struct NodeRecord {
    float x;
    float y;
    float z;
    int32_t number; // own node number when defined, 0 for an empty slot

    static constexpr size_t kSize = 16;
    void Encode(uint8_t* out) const;
    static NodeRecord Decode(const uint8_t* in);
};

struct QuadripoleRecord {
    int32_t a;
    int32_t b;
    int32_t m;
    int32_t n;
    int32_t gapFiller; // -1 gap filler, 0 otherwise

    static constexpr size_t kSize = 20;
    void Encode(uint8_t* out) const;
    static QuadripoleRecord Decode(const uint8_t* in);
};

struct AcquisitionHeader {
    int32_t channelCount;
    int32_t setting4;
    int32_t setting8;
    int32_t setting12;
    int32_t setting16;
    float setting20;
    uint8_t modeBytes[4];
    int32_t setting28;
    int16_t setting32;
    int16_t setting34;
    int16_t setting36;
    int16_t settingList[20];
    uint8_t reserved78[2];
    int32_t setting80;
    int32_t setting84;
    int32_t setting88;
    char headerName[10];
    uint8_t reserved102;
    uint8_t headerFlags;
    int32_t setting104;
    int32_t firstQuadripole;
    int32_t lastQuadripole;
    int32_t nodeCount;
    int32_t firstNode;
    int32_t lastNode;
    int32_t setting128;
    int32_t setting132;

    static constexpr size_t kSize = 136;
    void Encode(uint8_t* out) const;
    static AcquisitionHeader Decode(const uint8_t* in);

    // lastQuadripole - firstQuadripole + 1, computed without overflow.
    int64_t SequenceLength() const;
    // channelCount limited to 0..20: a header may claim more channels than
    // any batch buffer holds.
    int ChannelCountCapped() const;
};

struct MeasureRecord {
    int16_t configurationCode;
    int16_t recordVersion;
    float time1;
    float time2;
    int16_t recordOne;
    uint8_t reserved14[2];
    float x[4];
    float y[4];
    float z[4];
    float sp;
    float vp;
    float current;
    float rho;
    float chargeability;
    float q;
    float windowTimes[20];
    float windowValues[20];
    uint8_t channelByte;
    uint8_t recordFlags;
    int16_t quadripoleIndex;
    char recordName[12];
    float extra264;
    float extra268;
    float extra272;
    float extra276;
    float extra280;
    float txBattery;
    float rxBattery;
    float temperature;
    double timeStamp;

    static constexpr size_t kSize = 304;
    void Encode(uint8_t* out) const;
    static MeasureRecord Decode(const uint8_t* in);
};

// Bit 3 of MeasureRecord::recordFlags: the quadripole is a gap filler.
constexpr uint8_t kRecordFlagGapFiller = 0x08;

// A plain fixed-size object (no virtual members) so that its layout is the
// documented one; the device object derives from it.
class Sequence {
public:
    NodeRecord nodes[kMaxNodes];
    int32_t nodeCount;
    QuadripoleRecord quadripoles[kMaxQuadripoles];
    int32_t quadripoleCount;

    Sequence();

    // Fills coords with x, y, z of A, B, M, N (12 values, in that order).
    // Node numbers outside the table are taken as node 0 (at infinity); an
    // index outside the table gives all-zero coordinates.
    void QuadripoleCoordinates(int index, float coords[12]) const;

    // Mid point along one axis: axis 0 uses coords[0..3], 4 uses [4..7],
    // 8 uses [8..11].
    static float MidPoint(const float coords[12], int axis);

    // Pseudo-depth (report point) from the planar x and y distances.
    static float PseudoDepth(const float coords[12]);

    // How many consecutive quadripoles from `first` form one multi-channel
    // reading. `count` enters as the channel count (capped at 20) and leaves
    // as the group size; list receives A, B, M1, N1, ..., Nk, then zeros.
    void GroupDipoles(int first, int& count, int16_t list[kDipoleListSize]) const;

    // Node record for a node number; numbers outside 0..4095 map to node 0.
    const NodeRecord& NodeOrInfinity(int32_t number) const;
    // quadripoleCount limited to the table size.
    int QuadripoleCountCapped() const;
    // Clears both tables and counts.
    void Clear();
};

// Byte layout checks: the in-memory layout is the file and wire layout.
static_assert(sizeof(float) == 4 && sizeof(double) == 8);
static_assert(sizeof(NodeRecord) == 16);
static_assert(offsetof(NodeRecord, x) == 0 && offsetof(NodeRecord, y) == 4 &&
              offsetof(NodeRecord, z) == 8 && offsetof(NodeRecord, number) == 12);
static_assert(sizeof(QuadripoleRecord) == 20);
static_assert(offsetof(QuadripoleRecord, a) == 0 && offsetof(QuadripoleRecord, b) == 4 &&
              offsetof(QuadripoleRecord, m) == 8 && offsetof(QuadripoleRecord, n) == 12 &&
              offsetof(QuadripoleRecord, gapFiller) == 16);
static_assert(sizeof(AcquisitionHeader) == 136);
static_assert(offsetof(AcquisitionHeader, channelCount) == 0);
static_assert(offsetof(AcquisitionHeader, setting4) == 4);
static_assert(offsetof(AcquisitionHeader, setting8) == 8);
static_assert(offsetof(AcquisitionHeader, setting12) == 12);
static_assert(offsetof(AcquisitionHeader, setting16) == 16);
static_assert(offsetof(AcquisitionHeader, setting20) == 20);
static_assert(offsetof(AcquisitionHeader, modeBytes) == 24);
static_assert(offsetof(AcquisitionHeader, setting28) == 28);
static_assert(offsetof(AcquisitionHeader, setting32) == 32);
static_assert(offsetof(AcquisitionHeader, setting34) == 34);
static_assert(offsetof(AcquisitionHeader, setting36) == 36);
static_assert(offsetof(AcquisitionHeader, settingList) == 38);
static_assert(offsetof(AcquisitionHeader, reserved78) == 78);
static_assert(offsetof(AcquisitionHeader, setting80) == 80);
static_assert(offsetof(AcquisitionHeader, setting84) == 84);
static_assert(offsetof(AcquisitionHeader, setting88) == 88);
static_assert(offsetof(AcquisitionHeader, headerName) == 92);
static_assert(offsetof(AcquisitionHeader, reserved102) == 102);
static_assert(offsetof(AcquisitionHeader, headerFlags) == 103);
static_assert(offsetof(AcquisitionHeader, setting104) == 104);
static_assert(offsetof(AcquisitionHeader, firstQuadripole) == 108);
static_assert(offsetof(AcquisitionHeader, lastQuadripole) == 112);
static_assert(offsetof(AcquisitionHeader, nodeCount) == 116);
static_assert(offsetof(AcquisitionHeader, firstNode) == 120);
static_assert(offsetof(AcquisitionHeader, lastNode) == 124);
static_assert(offsetof(AcquisitionHeader, setting128) == 128);
static_assert(offsetof(AcquisitionHeader, setting132) == 132);
static_assert(sizeof(MeasureRecord) == 304);
static_assert(offsetof(MeasureRecord, configurationCode) == 0);
static_assert(offsetof(MeasureRecord, recordVersion) == 2);
static_assert(offsetof(MeasureRecord, time1) == 4);
static_assert(offsetof(MeasureRecord, time2) == 8);
static_assert(offsetof(MeasureRecord, recordOne) == 12);
static_assert(offsetof(MeasureRecord, reserved14) == 14);
static_assert(offsetof(MeasureRecord, x) == 16);
static_assert(offsetof(MeasureRecord, y) == 32);
static_assert(offsetof(MeasureRecord, z) == 48);
static_assert(offsetof(MeasureRecord, sp) == 64);
static_assert(offsetof(MeasureRecord, vp) == 68);
static_assert(offsetof(MeasureRecord, current) == 72);
static_assert(offsetof(MeasureRecord, rho) == 76);
static_assert(offsetof(MeasureRecord, chargeability) == 80);
static_assert(offsetof(MeasureRecord, q) == 84);
static_assert(offsetof(MeasureRecord, windowTimes) == 88);
static_assert(offsetof(MeasureRecord, windowValues) == 168);
static_assert(offsetof(MeasureRecord, channelByte) == 248);
static_assert(offsetof(MeasureRecord, recordFlags) == 249);
static_assert(offsetof(MeasureRecord, quadripoleIndex) == 250);
static_assert(offsetof(MeasureRecord, recordName) == 252);
static_assert(offsetof(MeasureRecord, extra264) == 264);
static_assert(offsetof(MeasureRecord, extra268) == 268);
static_assert(offsetof(MeasureRecord, extra272) == 272);
static_assert(offsetof(MeasureRecord, extra276) == 276);
static_assert(offsetof(MeasureRecord, extra280) == 280);
static_assert(offsetof(MeasureRecord, txBattery) == 284);
static_assert(offsetof(MeasureRecord, rxBattery) == 288);
static_assert(offsetof(MeasureRecord, temperature) == 292);
static_assert(offsetof(MeasureRecord, timeStamp) == 296);
static_assert(sizeof(Sequence) == 385544);
static_assert(offsetof(Sequence, nodes) == 0);
static_assert(offsetof(Sequence, nodeCount) == 65536);
static_assert(offsetof(Sequence, quadripoles) == 65540);
static_assert(offsetof(Sequence, quadripoleCount) == 385540);
