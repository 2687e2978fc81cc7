#include "sequence/Sequence.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- record encoding -------------------------------------------------------

void NodeRecord::Encode(uint8_t* out) const {
    le::putF32(out + 0, x);
    le::putF32(out + 4, y);
    le::putF32(out + 8, z);
    le::putI32(out + 12, number);
}

NodeRecord NodeRecord::Decode(const uint8_t* in) {
    NodeRecord r;
    r.x = le::getF32(in + 0);
    r.y = le::getF32(in + 4);
    r.z = le::getF32(in + 8);
    r.number = le::getI32(in + 12);
    return r;
}

void QuadripoleRecord::Encode(uint8_t* out) const {
    le::putI32(out + 0, a);
    le::putI32(out + 4, b);
    le::putI32(out + 8, m);
    le::putI32(out + 12, n);
    le::putI32(out + 16, gapFiller);
}

QuadripoleRecord QuadripoleRecord::Decode(const uint8_t* in) {
    QuadripoleRecord r;
    r.a = le::getI32(in + 0);
    r.b = le::getI32(in + 4);
    r.m = le::getI32(in + 8);
    r.n = le::getI32(in + 12);
    r.gapFiller = le::getI32(in + 16);
    return r;
}

void AcquisitionHeader::Encode(uint8_t* out) const {
    le::putI32(out + 0, channelCount);
    le::putI32(out + 4, setting4);
    le::putI32(out + 8, setting8);
    le::putI32(out + 12, setting12);
    le::putI32(out + 16, setting16);
    le::putF32(out + 20, setting20);
    std::memcpy(out + 24, modeBytes, 4);
    le::putI32(out + 28, setting28);
    le::putI16(out + 32, setting32);
    le::putI16(out + 34, setting34);
    le::putI16(out + 36, setting36);
    for (int i = 0; i < 20; ++i)
        le::putI16(out + 38 + 2 * i, settingList[i]);
    std::memcpy(out + 78, reserved78, 2);
    le::putI32(out + 80, setting80);
    le::putI32(out + 84, setting84);
    le::putI32(out + 88, setting88);
    std::memcpy(out + 92, headerName, 10);
    out[102] = reserved102;
    out[103] = headerFlags;
    le::putI32(out + 104, setting104);
    le::putI32(out + 108, firstQuadripole);
    le::putI32(out + 112, lastQuadripole);
    le::putI32(out + 116, nodeCount);
    le::putI32(out + 120, firstNode);
    le::putI32(out + 124, lastNode);
    le::putI32(out + 128, setting128);
    le::putI32(out + 132, setting132);
}

AcquisitionHeader AcquisitionHeader::Decode(const uint8_t* in) {
    AcquisitionHeader h;
    h.channelCount = le::getI32(in + 0);
    h.setting4 = le::getI32(in + 4);
    h.setting8 = le::getI32(in + 8);
    h.setting12 = le::getI32(in + 12);
    h.setting16 = le::getI32(in + 16);
    h.setting20 = le::getF32(in + 20);
    std::memcpy(h.modeBytes, in + 24, 4);
    h.setting28 = le::getI32(in + 28);
    h.setting32 = le::getI16(in + 32);
    h.setting34 = le::getI16(in + 34);
    h.setting36 = le::getI16(in + 36);
    for (int i = 0; i < 20; ++i)
        h.settingList[i] = le::getI16(in + 38 + 2 * i);
    std::memcpy(h.reserved78, in + 78, 2);
    h.setting80 = le::getI32(in + 80);
    h.setting84 = le::getI32(in + 84);
    h.setting88 = le::getI32(in + 88);
    std::memcpy(h.headerName, in + 92, 10);
    h.reserved102 = in[102];
    h.headerFlags = in[103];
    h.setting104 = le::getI32(in + 104);
    h.firstQuadripole = le::getI32(in + 108);
    h.lastQuadripole = le::getI32(in + 112);
    h.nodeCount = le::getI32(in + 116);
    h.firstNode = le::getI32(in + 120);
    h.lastNode = le::getI32(in + 124);
    h.setting128 = le::getI32(in + 128);
    h.setting132 = le::getI32(in + 132);
    return h;
}

int64_t AcquisitionHeader::SequenceLength() const {
    return int64_t(lastQuadripole) - int64_t(firstQuadripole) + 1;
}

int AcquisitionHeader::ChannelCountCapped() const {
    return std::clamp(channelCount, 0, kMaxChannels);
}

void MeasureRecord::Encode(uint8_t* out) const {
    le::putI16(out + 0, configurationCode);
    le::putI16(out + 2, recordVersion);
    le::putF32(out + 4, time1);
    le::putF32(out + 8, time2);
    le::putI16(out + 12, recordOne);
    std::memcpy(out + 14, reserved14, 2);
    for (int i = 0; i < 4; ++i) {
        le::putF32(out + 16 + 4 * i, x[i]);
        le::putF32(out + 32 + 4 * i, y[i]);
        le::putF32(out + 48 + 4 * i, z[i]);
    }
    le::putF32(out + 64, sp);
    le::putF32(out + 68, vp);
    le::putF32(out + 72, current);
    le::putF32(out + 76, rho);
    le::putF32(out + 80, chargeability);
    le::putF32(out + 84, q);
    for (int i = 0; i < 20; ++i) {
        le::putF32(out + 88 + 4 * i, windowTimes[i]);
        le::putF32(out + 168 + 4 * i, windowValues[i]);
    }
    out[248] = channelByte;
    out[249] = recordFlags;
    le::putI16(out + 250, quadripoleIndex);
    std::memcpy(out + 252, recordName, 12);
    le::putF32(out + 264, extra264);
    le::putF32(out + 268, extra268);
    le::putF32(out + 272, extra272);
    le::putF32(out + 276, extra276);
    le::putF32(out + 280, extra280);
    le::putF32(out + 284, txBattery);
    le::putF32(out + 288, rxBattery);
    le::putF32(out + 292, temperature);
    le::putF64(out + 296, timeStamp);
}

MeasureRecord MeasureRecord::Decode(const uint8_t* in) {
    MeasureRecord r;
    r.configurationCode = le::getI16(in + 0);
    r.recordVersion = le::getI16(in + 2);
    r.time1 = le::getF32(in + 4);
    r.time2 = le::getF32(in + 8);
    r.recordOne = le::getI16(in + 12);
    std::memcpy(r.reserved14, in + 14, 2);
    for (int i = 0; i < 4; ++i) {
        r.x[i] = le::getF32(in + 16 + 4 * i);
        r.y[i] = le::getF32(in + 32 + 4 * i);
        r.z[i] = le::getF32(in + 48 + 4 * i);
    }
    r.sp = le::getF32(in + 64);
    r.vp = le::getF32(in + 68);
    r.current = le::getF32(in + 72);
    r.rho = le::getF32(in + 76);
    r.chargeability = le::getF32(in + 80);
    r.q = le::getF32(in + 84);
    for (int i = 0; i < 20; ++i) {
        r.windowTimes[i] = le::getF32(in + 88 + 4 * i);
        r.windowValues[i] = le::getF32(in + 168 + 4 * i);
    }
    r.channelByte = in[248];
    r.recordFlags = in[249];
    r.quadripoleIndex = le::getI16(in + 250);
    std::memcpy(r.recordName, in + 252, 12);
    r.extra264 = le::getF32(in + 264);
    r.extra268 = le::getF32(in + 268);
    r.extra272 = le::getF32(in + 272);
    r.extra276 = le::getF32(in + 276);
    r.extra280 = le::getF32(in + 280);
    r.txBattery = le::getF32(in + 284);
    r.rxBattery = le::getF32(in + 288);
    r.temperature = le::getF32(in + 292);
    r.timeStamp = le::getF64(in + 296);
    return r;
}

// ---- the store ---------------------------------------------------------------

Sequence::Sequence() {
    Clear();
}

void Sequence::Clear() {
    std::memset(nodes, 0, sizeof nodes);
    std::memset(quadripoles, 0, sizeof quadripoles);
    nodeCount = 0;
    quadripoleCount = 0;
}

const NodeRecord& Sequence::NodeOrInfinity(int32_t number) const {
    // Node fields are up to 16 bits wide on the wire; anything that does not
    // address the table is treated as the remote electrode rather than read
    // out of bounds.
    if (number < 0 || number >= kMaxNodes)
        number = 0;
    return nodes[number];
}

int Sequence::QuadripoleCountCapped() const {
    return std::clamp(quadripoleCount, 0, kMaxQuadripoles);
}

void Sequence::QuadripoleCoordinates(int index, float coords[12]) const {
    if (index < 0 || index >= kMaxQuadripoles) {
        std::fill(coords, coords + 12, 0.0f);
        return;
    }
    const QuadripoleRecord& q = quadripoles[index];
    const int32_t electrodes[4] = {q.a, q.b, q.m, q.n};
    for (int e = 0; e < 4; ++e) {
        const NodeRecord& node = NodeOrInfinity(electrodes[e]);
        coords[e] = node.x;
        coords[4 + e] = node.y;
        coords[8 + e] = node.z;
    }
}

namespace {

bool Finite(float v) {
    return std::fabs(v) < kInfinityThreshold;
}

// Centre of a pair of electrodes, ignoring one at infinity (0 when both are).
float PairCentre(float p, float q) {
    float c = 0.0f;
    if (Finite(p))
        c += p;
    if (Finite(q))
        c += q;
    if (Finite(p) && Finite(q))
        c *= 0.5f;
    return c;
}

double Distance(const float coords[12], int i, int j) {
    const double dx = double(coords[i]) - double(coords[j]);
    const double dy = double(coords[4 + i]) - double(coords[4 + j]);
    return std::sqrt(dx * dx + dy * dy);
}

} // namespace

float Sequence::MidPoint(const float coords[12], int axis) {
    if (axis != 0 && axis != 4 && axis != 8)
        axis = 0;
    const float* v = coords + axis;
    const float c = PairCentre(v[0], v[1]);
    const float p = PairCentre(v[2], v[3]);
    return c + (p - c) * 0.5f;
}

float Sequence::PseudoDepth(const float coords[12]) {
    enum { A = 0, B = 1, M = 2, N = 3 };
    const double am = Distance(coords, A, M);
    const double bm = Distance(coords, B, M);
    const double an = Distance(coords, A, N);
    const double bn = Distance(coords, B, N);
    const double mn = Distance(coords, M, N);
    const double ab = Distance(coords, A, B);

    double dmin = am;
    for (double candidate : {bn, bm, an}) {
        if ((dmin > candidate || dmin == 0.0) && candidate != 0.0)
            dmin = candidate;
    }

    double dmax = am;
    if (dmax < bn || dmax == 0.0)
        dmax = bn;
    for (double candidate : {an, bm, ab, mn}) {
        if (candidate > dmax)
            dmax = candidate;
    }
    if (ab == 0.0)
        dmax = mn;

    if (10.0 * dmin >= dmax)
        return float(0.19 * dmax);
    return float(0.19 * dmin);
}

void Sequence::GroupDipoles(int first, int& count, int16_t list[kDipoleListSize]) const {
    std::fill(list, list + kDipoleListSize, int16_t(0));
    const int total = QuadripoleCountCapped();
    if (first < 0 || first >= total) {
        count = 0;
        return;
    }
    const int wanted = std::clamp(count, 0, kMaxChannels);
    // Compared as received (32 bits); the list itself is 16-bit.
    int32_t chain[kDipoleListSize] = {};
    int entries = 0;
    int i = 0;
    for (; i < wanted; ++i) {
        if (first + i >= total)
            break;
        const QuadripoleRecord& q = quadripoles[first + i];
        if (i == 0) {
            chain[entries++] = q.a;
            chain[entries++] = q.b;
            chain[entries++] = q.m;
            chain[entries++] = q.n;
            continue;
        }
        if (q.a != chain[0] || q.b != chain[1] || q.m != chain[entries - 1])
            break;
        if (q.n != 0 && std::find(chain, chain + entries, q.n) != chain + entries)
            break;
        chain[entries++] = q.n;
    }
    for (int k = 0; k < entries; ++k)
        list[k] = int16_t(chain[k]);
    count = i;
}
