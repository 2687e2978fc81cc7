#include "instrument/InstrumentRecords.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// Truncation toward zero that never leaves the integer range: values the
// instrument could not mean (NaN, infinities, huge numbers) give 0.
int64_t TruncateToInt64(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= 9.2e18)
        return 0;
    return int64_t(v);
}

float Times10(double v) {
    return float(v * 10.0);
}

void CopyBits(float& dest, const uint8_t* p) {
    dest = le::getF32(p);
}

// One electrode of a DipoleGeometry: x, y, z in metres.
struct Point3 {
    double x, y, z;
};
Point3 ElectrodeAt(const uint8_t* geometry, int electrode) {
    const uint8_t* e = geometry + electrode * wifi::kElectrodeEntrySize;
    return {le::getF64(e + 0), le::getF64(e + 8), le::getF64(e + 16)};
}

void SetNode(Sequence& store, int slot, const Point3& p) {
    store.nodes[slot] = {float(p.x), float(p.y), float(p.z), slot};
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text;
    size_t end = limit;
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

// ---- wired generation ----------------------------------------------------------

int16_t WiredConfigurationCode(int32_t instrumentCode) {
    static constexpr int16_t kCodes[] = {10, 0, 1, 2, 6, 4, 3, 10, 10};
    if (instrumentCode < 0 || instrumentCode >= int32_t(std::size(kCodes)))
        return 10;
    return kCodes[instrumentCode];
}

bool WiredRecordCheckOk(const uint8_t record[wired::kRecordWireSize]) {
    uint16_t sum = 0;
    for (size_t i = 0; i < wired::kRecordSize; ++i)
        sum = uint16_t(sum + record[i]);
    return le::get16(record + wired::kRecordSize) == sum;
}

void DecodeWiredRecord(const uint8_t record[wired::kRecordSize], const char acquisitionName[11],
                       double timeStamp, MeasureRecord& out) {
    using namespace wired;
    out = MeasureRecord{};
    const uint8_t* r = record;
    out.configurationCode = WiredConfigurationCode(le::getI32(r + kConfigurationCode));
    out.recordVersion = 3;
    out.time1 = Times10(le::get16(r + kTime1));
    out.time2 = Times10(le::get16(r + kTime2));
    out.recordOne = 1;
    for (int e = 0; e < 4; ++e) {
        const uint8_t* c = r + kCoordinates + 12 * size_t(e);
        out.x[e] = le::getF32(c + 0);
        out.y[e] = le::getF32(c + 4);
        out.z[e] = le::getF32(c + 8);
    }
    CopyBits(out.sp, r + kSp);
    CopyBits(out.vp, r + kVp);
    CopyBits(out.current, r + kCurrent);
    CopyBits(out.rho, r + kRho);
    CopyBits(out.chargeability, r + kChargeability);
    CopyBits(out.q, r + kQ);
    for (int i = 0; i < 20; ++i) {
        out.windowTimes[i] = Times10(le::get16(r + kWindowTimes + 2 * size_t(i)));
        CopyBits(out.windowValues[i], r + kWindowValues + 4 * size_t(i));
    }
    out.channelByte = r[kChannelByte];
    out.recordFlags = r[kRecordFlags];
    out.quadripoleIndex = le::getI16(r + kQuadripoleIndex);
    std::memcpy(out.recordName, acquisitionName, 11);
    out.recordName[11] = '\0';
    CopyBits(out.extra264, r + kExtra264);
    CopyBits(out.extra268, r + kExtra268);
    CopyBits(out.extra272, r + kExtra272);
    CopyBits(out.extra276, r + kChannelValue);
    CopyBits(out.extra280, r + kExtra280);
    CopyBits(out.txBattery, r + kTxBattery);
    CopyBits(out.rxBattery, r + kRxBattery);
    CopyBits(out.temperature, r + kTemperature);
    out.timeStamp = timeStamp;
}

// ---- Wi-Fi generation: header and sets -------------------------------------------

bool IsMovingArray(const uint8_t parameterBlock[wifi::kParameterBlockSize]) {
    return (parameterBlock[wifi::kMovingArrayByte] & 0x30) != 0;
}

bool BuildWifiHeader(const uint8_t parameterBlock[wifi::kParameterBlockSize],
                     const char acquisitionName[11], AcquisitionHeader& h) {
    using namespace wifi;
    const uint8_t* p = parameterBlock;
    const bool moving = IsMovingArray(p);
    const uint8_t b49 = p[kModeHigh];
    const uint8_t b50 = p[kModeBits];
    // A clean start: bits inherited from the previous header (a replayed
    // file, a wired run) would make the same acquisition write a different
    // ".heq" header.
    h = AcquisitionHeader{};

    h.channelCount = le::get16(p + kReceiverDipoles);
    h.setting4 = 1;
    h.setting8 = 1;
    h.setting12 = le::getI32(p + kSetting12);
    h.setting16 = le::getI32(p + kSetting16);
    h.setting20 = float(le::getF64(p + ((b50 & 0x40) ? kSetting20A : kSetting20B)));

    // Byte 24: bits 0-1 as they are, bits 2 and 3 exchanged, bits 5-7 the
    // mode value.
    const uint8_t bits = p[kByte24Bits];
    h.modeBytes[0] = uint8_t((bits & 0x03) | ((bits >> 3) & 1) << 2 | ((bits >> 2) & 1) << 3 |
                             (((b50 & 7) + 1) & 7) << 5);
    h.modeBytes[1] = uint8_t(p[kByte25] & 0x3F);
    h.modeBytes[2] = uint8_t((((b49 >> 4) + 1) & 15) << 4 | 8 | (b50 >> 6));
    h.modeBytes[3] = uint8_t(TruncateToInt64(double(le::getF32(p + kByte27)) * 0.1));

    h.setting28 = p[kSetting28] & 0x3F;
    h.setting32 = int16_t(le::get16(p + kSetting32));
    h.setting34 = int16_t(le::get16(p + kSetting32 + 4));
    h.setting36 = int16_t(le::get16(p + kSetting32 + 8));
    for (int i = 0; i < 20; ++i)
        h.settingList[i] = int16_t(le::get16(p + kSettingList + 4 * size_t(i)));
    h.setting80 = 0;
    h.setting84 = 0;
    h.setting88 = le::getI32(p + kSetting88);

    for (size_t i = 0; i < sizeof h.headerName && acquisitionName[i] != '\0'; ++i)
        h.headerName[i] = acquisitionName[i];
    h.headerFlags = 0x11;

    h.setting104 = le::getI32(p + kSetting104);
    // Counted from 1 on the instrument. No quadripole has the number 0: an
    // instrument that leaves the field at 0 starts at the first one, and
    // reading it as -1 would refuse a full moving array (16 001 quadripoles).
    // Wrapping arithmetic keeps a damaged value from overflowing.
    const uint32_t first = le::get32(p + kFirstQuadripole);
    h.firstQuadripole = first == 0 ? 0 : int32_t(first - 1u);
    h.lastQuadripole =
        moving ? kMovingArrayLastQuadripole : int32_t(le::get32(p + kLastQuadripole) - 1u);
    h.nodeCount = le::get16(p + kNodeCount);
    h.firstNode = le::getI16(p + kFirstNode);
    h.lastNode = le::getI16(p + kLastNode);
    h.setting128 = le::getI32(p + kSetting128);
    h.setting132 = 0;
    return moving;
}

int32_t BuildMovingArraySets(const uint8_t parameterBlock[wifi::kParameterBlockSize],
                             Sequence& store) {
    using namespace wifi;
    const int dipoles = le::get16(parameterBlock + kReceiverDipoles);
    // The geometry table holds ten dipoles; an empty array has no electrodes.
    if (dipoles < 1 || dipoles > kGeometryDipoles)
        return -3;
    const uint8_t* geometry = parameterBlock + kGeometry;
    auto dipole = [&](int k) { return geometry + size_t(k) * kDipoleGeometrySize; };

    SetNode(store, 1, ElectrodeAt(dipole(0), 0));
    SetNode(store, 2, ElectrodeAt(dipole(0), 1));
    for (int k = 0; k < dipoles; ++k)
        SetNode(store, 3 + k, ElectrodeAt(dipole(k), 2));
    SetNode(store, dipoles + 3, ElectrodeAt(dipole(dipoles - 1), 3));
    for (int slot = dipoles + 4; slot <= 2000; ++slot)
        store.nodes[slot] = NodeRecord{};

    // The array measures dipole after dipole, over and over: every slot of
    // the table, so that none keeps an entry of the previous acquisition.
    for (int i = 0; i <= kMovingArrayLastQuadripole; ++i) {
        const int m = 3 + i % dipoles;
        store.quadripoles[i] = {1, 2, m, m + 1, 0};
    }
    return kMovingArrayLastQuadripole;
}

void WriteDipoleGeometry(uint8_t parameterBlock[wifi::kParameterBlockSize], const Sequence& store,
                         int32_t count, int32_t firstIndex) {
    using namespace wifi;
    le::putI32(parameterBlock + kDipoleCount, count);
    uint8_t* geometry = parameterBlock + kGeometry;
    std::memset(geometry, 0, kGeometryDipoles * kDipoleGeometrySize);
    const int n = std::clamp(count, 0, kGeometryDipoles);
    for (int i = 0; i < n; ++i) {
        const int64_t index = int64_t(firstIndex) + i;
        if (index < 0 || index >= kMaxQuadripoles)
            continue;
        const QuadripoleRecord& q = store.quadripoles[index];
        uint8_t* d = geometry + size_t(i) * kDipoleGeometrySize;
        const int32_t electrodes[4] = {q.a, q.b, q.m, q.n};
        for (int e = 0; e < 4; ++e) {
            const NodeRecord& node = store.NodeOrInfinity(electrodes[e]);
            uint8_t* entry = d + size_t(e) * kElectrodeEntrySize;
            le::putF64(entry + 0, node.x);
            le::putF64(entry + 8, node.y);
            le::putF64(entry + 16, node.z);
            entry[kElectrodeFlag] = uint8_t((entry[kElectrodeFlag] & ~0x0E) | 0x02);
            const uint32_t old = le::get32(entry + kElectrodeNode);
            le::put32(entry + kElectrodeNode,
                      (old & ~0x1FFFFu) | (uint32_t(node.number) & 0x1FFFFu));
        }
        d[kDipoleFlag] = uint8_t(0x06 | (q.gapFiller != 0 ? 1 : 0));
    }
}

// ---- Wi-Fi generation: raw records -------------------------------------------------

void StampRawRecord(uint8_t record[wifi::kRawRecordSize], const std::string& rppFileName) {
    using namespace wifi;
    static const char kRemote[] = "Remote";
    std::memset(record + kRemoteText, 0, 16);
    std::memcpy(record + kRemoteText, kRemote, sizeof kRemote - 1);
    const std::string name = CutUtf8(rppFileName, 31);
    std::memset(record + kRppName, 0, 32);
    std::memcpy(record + kRppName, name.data(), name.size());
    le::putF64(record + kRawChannelValue, 0.0);
}

void DecodeRawRecord(const uint8_t record[wifi::kRawRecordSize], const Sequence& store,
                     int32_t quadripoleIndex, const uint8_t* geometry, double timeStamp,
                     MeasureRecord& out) {
    using namespace wifi;
    const uint8_t* r = record;
    out.configurationCode = 10;
    out.time1 = Times10(le::getI32(r + kRawTime1));
    out.time2 = Times10(le::getI32(r + kRawTime2));
    out.recordOne = 1;
    out.sp = float(0.001 * le::getF64(r + kRawSp));
    out.vp = float(0.001 * le::getF64(r + kRawVp));
    out.current = float(0.001 * le::getF64(r + kRawCurrent));
    out.chargeability = float(le::getF64(r + kRawChargeability));
    out.q = float(le::getF64(r + (((r[kQSource] >> 6) & 3) == 1 ? kRawQA : kRawQB)));
    out.extra276 = 0.0f;

    if (geometry) {
        // The array's own frame, turned by the heading (degrees clockwise
        // from the y axis) and moved to the record's origin.
        const double theta = (90.0 - le::getF64(r + kHeading)) * std::numbers::pi / 180.0;
        const double ca = std::cos(theta);
        const double sa = std::sin(theta);
        const Point3 origin{le::getF64(r + kOriginX), le::getF64(r + kOriginX + 8),
                            le::getF64(r + kOriginX + 16)};
        for (int e = 0; e < 4; ++e) {
            const Point3 p = ElectrodeAt(geometry, e);
            out.x[e] = float(p.x * ca + origin.x - p.y * sa);
            out.y[e] = float(p.y * ca + origin.y + p.x * sa);
            out.z[e] = float(p.z + origin.z);
        }
    } else {
        float coords[12];
        store.QuadripoleCoordinates(quadripoleIndex, coords);
        for (int e = 0; e < 4; ++e) {
            out.x[e] = coords[e];
            out.y[e] = coords[4 + e];
            out.z[e] = coords[8 + e];
        }
    }

    out.rho = float(le::getF64(r + kRawRho));
    for (int j = 0; j < 20; ++j) {
        out.windowTimes[j] = Times10(le::getI32(r + kRawWindowTimes + 4 * size_t(j)));
        out.windowValues[j] = float(le::getF64(r + kRawWindowValues + 8 * size_t(j)));
    }
    out.recordVersion = 3;
    out.channelByte = uint8_t((r[kChannelField] & 15) << 4 | (r[kChannelIndex] & 15));
    const bool gapFiller = quadripoleIndex >= 0 && quadripoleIndex < kMaxQuadripoles &&
                           store.quadripoles[quadripoleIndex].gapFiller != 0;
    uint8_t flags = uint8_t(out.recordFlags & ~(0x01 | 0x04 | kRecordFlagGapFiller));
    if (le::getI32(r + kFlagBit0) > 0)
        flags |= 0x01;
    if (r[kFlagBit2] & 1)
        flags |= 0x04;
    if (gapFiller)
        flags |= kRecordFlagGapFiller;
    out.recordFlags = flags;
    out.quadripoleIndex = int16_t(uint16_t(uint32_t(quadripoleIndex)));
    std::memset(out.recordName, 0, sizeof out.recordName);

    if (((r[kExtraSource] >> 1) & 7) == 4) {
        out.extra264 = float(le::getF64(r + kRawExtra264));
        out.extra268 = float(le::getF64(r + kRawExtra268));
    } else {
        out.extra264 = 0.0f;
        out.extra268 = 0.0f;
    }
    out.extra272 = float(le::getI32(r + kRawExtra272));
    out.extra280 = float(le::getF64(r + kRawExtra280));
    CopyBits(out.txBattery, r + kRawTxBattery);
    CopyBits(out.rxBattery, r + kRawRxBattery);
    CopyBits(out.temperature, r + kRawTemperature);
    out.timeStamp = timeStamp;
}
