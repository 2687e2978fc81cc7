// The emulated instrument's byte images: identity, parameter and
// configuration blocks, the header, the node and quadripole blocks, and the
// wired and raw Wi-Fi records.
#include "InstrumentModel.h"

#include "ByteImage.h"
#include "InstrumentSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varmexemu {

std::vector<uint8_t> InstrumentModel::identityWord() const {
    const bool wired = o_.generation == Generation::Wired;
    return {uint8_t(wired ? 2 : 3), uint8_t(wired ? 10 : 20), 0x05, 0x01};
}

std::vector<uint8_t> InstrumentModel::nameBytes() const {
    ByteImage b(11);
    b.putText(0, name_, 11);
    return b.bytes();
}

void InstrumentModel::fillParameters(std::vector<uint8_t>& bytes) const {
    ByteImage p;
    p.bytes() = bytes;
    p.bytes().resize(size_t(parameterSize()), 0);
    const int channels = s_.moving ? int(s_.movingDipoles.size()) : o_.channels;
    if (o_.generation == Generation::Wired) {
        p.putI32(0, channels);
        p.putI32(4, kInjectionTime);
        p.putI32(8, kDelayTime);
        p.putI32(12, kStacks);
        p.putI32(16, s_.lastNode); // electrodes to check
        p.putI32(20, int(kTxVoltage));
        p.putI32(24, arrayCode(o_.array));
        p.putI32(28, o_.levels);
        p.putI32(32, int(std::lround(o_.spacing * 100)));
        p.putI32(36, o_.lines);
    } else {
        p.putU8(49, 0x10);
        p.putU8(50, 0x11);
        p.putU8(51, 0x05);
        p.putU8(53, 0x03);
        p.putI32(56, kInjectionTime);
        p.putI32(60, kDelayTime);
        p.putI32(64, kWindowWidth);
        for (int i = 0; i < kWindowCount; ++i)
            p.putI32(68 + 4 * i, kWindowWidth);
        p.putI32(148, int(kTxVoltage));
        p.putF32(152, kHeaderByte27Source);
        p.putI32(156, channels);
        p.putI32(160, kStacks);
        p.putI32(164, s_.lastNode);
        p.putF64(168, kInjectionTime / 1000.0);
        p.putF64(176, kInjectionTime / 1000.0);
        p.putU16(240, uint16_t(channels));
        p.putI32(244, o_.levels);
        // Numbers counted from 1; the last one as unsigned, so that a
        // sequence ending at the top of the range stays exact.
        p.putU32(256, uint32_t(o_.firstQuadripole) + 1u);
        p.putU32(260, uint32_t(s_.firstQuadripole) + uint32_t(s_.recordCount()));
        p.putU16(264, uint16_t(s_.nodeCount));
        p.putI16(268, int16_t(s_.firstNode));
        p.putI16(272, int16_t(s_.lastNode));
        p.putI32(292, arrayCode(o_.array));
        // Array geometry: the dipoles of a moving array, otherwise the first
        // quadripoles of the sequence.
        constexpr size_t geometry = 320, dipoleSize = 168, electrodeSize = 40;
        for (size_t i = 0; i < 10 * dipoleSize; ++i)
            p.putU8(geometry + i, 0);
        for (int k = 0; k < 10; ++k) {
            MovingDipole d;
            bool gap = false;
            if (s_.moving) {
                if (size_t(k) >= s_.movingDipoles.size())
                    break;
                d = s_.movingDipoles[size_t(k)];
            } else {
                if (k >= channels || k >= s_.quadripoleCount())
                    break;
                const EmuQuad& q = s_.quads[size_t(k)];
                gap = q.gapFiller;
                const int nodes[4] = {q.a, q.b, q.m, q.n};
                for (int e = 0; e < 4; ++e) {
                    const EmuNode& n = s_.nodes[size_t(nodes[e])];
                    d.node[e] = nodes[e];
                    d.pos[e][0] = n.x;
                    d.pos[e][1] = n.y;
                    d.pos[e][2] = n.z;
                }
            }
            const size_t base = geometry + size_t(k) * dipoleSize;
            for (int e = 0; e < 4; ++e) {
                const size_t at = base + size_t(e) * electrodeSize;
                p.putF64(at + 0, d.pos[e][0]);
                p.putF64(at + 8, d.pos[e][1]);
                p.putF64(at + 16, d.pos[e][2]);
                p.putU8(at + 32, 0x02);
                p.putU32(at + 36, uint32_t(d.node[e]) & 0x1FFFF);
            }
            p.putU8(base + 160, uint8_t((gap ? 1 : 0) | 0x06));
        }
        p.putU8(2246, uint8_t((p.getU8(2246) & ~0x30) | (s_.moving ? 0x10 : 0x00)));
        p.putU8(2252, 0x05);
    }
    bytes = p.bytes();
}

void InstrumentModel::refreshParameters() {
    fillParameters(parameters_);
}

std::vector<uint8_t> InstrumentModel::wiredHeader() const {
    ByteImage h(kWiredHeaderSize);
    h.putI32(0, o_.channels);
    h.putI32(4, 1);
    h.putI32(8, 1);
    h.putI32(12, kStacks);
    h.putI32(16, s_.lastNode);
    h.putF32(20, kInjectionTime / 1000.0f);
    h.putU8(24, 0x45);
    h.putU8(25, 0x05);
    h.putU8(26, 0x28);
    h.putU8(27, uint8_t(kHeaderByte27Source / 10));
    h.putI32(28, 3);
    h.putI16(32, int16_t(kInjectionTime));
    h.putI16(34, int16_t(kDelayTime));
    h.putI16(36, int16_t(kWindowWidth));
    for (int i = 0; i < kWindowCount; ++i)
        h.putI16(38 + 2 * i, int16_t(kWindowWidth));
    h.putI32(80, 0);
    h.putI32(84, 0);
    h.putI32(88, int(kTxVoltage));
    h.putText(92, name_, 10);
    h.putU8(103, 0x11);
    h.putI32(104, o_.levels);
    h.putI32(108, s_.firstQuadripole);
    h.putI32(112, s_.number(s_.quadripoleCount() - 1));
    h.putI32(116, s_.nodeCount);
    h.putI32(120, s_.firstNode);
    h.putI32(124, s_.lastNode);
    h.putI32(128, arrayCode(o_.array));
    h.putI32(132, 0);
    return h.bytes();
}

std::vector<uint8_t> InstrumentModel::wiredNodeBlock() const {
    ByteImage b(size_t(s_.lastNode + 1) * 12);
    for (int k = 0; k <= s_.lastNode; ++k) {
        const EmuNode& n = s_.nodes[size_t(k)];
        b.putF32(size_t(k) * 12 + 0, n.x);
        b.putF32(size_t(k) * 12 + 4, n.y);
        b.putF32(size_t(k) * 12 + 8, n.z);
    }
    return b.bytes();
}

std::vector<uint8_t> InstrumentModel::wifiNodeBlock() const {
    // The block's length counts the nodes from 1 up to the last one, but
    // its entries start with the first node: behind the electrodes the
    // instrument fills the length with empty entries.
    ByteImage b(size_t(s_.lastNode) * 12);
    const int count = s_.lastNode - s_.firstNode + 1;
    for (int k = 0; k < count; ++k) {
        const EmuNode& n = s_.nodes[size_t(s_.firstNode + k)];
        b.putF32(size_t(k) * 12 + 0, n.x);
        b.putF32(size_t(k) * 12 + 4, n.y);
        b.putF32(size_t(k) * 12 + 8, n.z);
    }
    return b.bytes();
}

std::vector<uint8_t> InstrumentModel::auxBlock() const {
    ByteImage b(kAuxBlockSize);
    b.putI32(0, o_.electrodes);
    b.putI32(4, o_.lines);
    b.putI32(8, int(std::lround(o_.spacing * 100)));
    b.putI32(12, int(std::lround(o_.lineSpacing * 100)));
    b.putI32(16, arrayCode(o_.array));
    b.putI32(20, o_.levels);
    b.putI32(24, o_.channels);
    return b.bytes();
}

std::vector<uint8_t> InstrumentModel::quadripoleBlock() const {
    ByteImage b(size_t(s_.quadripoleCount()) * 8);
    for (int i = 0; i < s_.quadripoleCount(); ++i) {
        const EmuQuad& q = s_.quads[size_t(i)];
        const size_t at = size_t(i) * 8;
        b.putU16(at + 0, uint16_t((q.a & 0x7FFF) | (q.gapFiller ? 0x8000 : 0)));
        b.putU16(at + 2, uint16_t(q.b));
        b.putU16(at + 4, uint16_t(q.m));
        b.putU16(at + 6, uint16_t(q.n));
    }
    return b.bytes();
}

std::vector<uint8_t> InstrumentModel::wiredRecord(const EmuMeasurement& m) {
    ByteImage r(kWiredRecordSize);
    r.putU8(0, uint8_t(((std::min(m.channelCount, 15) & 15) << 4) | (m.channel & 15)));
    r.putU8(1, uint8_t(m.quad.gapFiller ? 0x08 : 0x00));
    r.putI16(2, int16_t(m.index));
    r.putI32(8, m.configurationCode);
    r.putU16(12, m.time1);
    r.putU16(16, m.time2);
    for (int j = 0; j < kWindowCount; ++j)
        r.putU16(18 + 2 * size_t(j), m.windowTimes[j]);
    r.putF32(60, 0.0f);
    r.putF32(64, 0.0f);
    for (int e = 0; e < 4; ++e) {
        r.putF32(72 + 12 * size_t(e) + 0, m.x[e]);
        r.putF32(72 + 12 * size_t(e) + 4, m.y[e]);
        r.putF32(72 + 12 * size_t(e) + 8, m.z[e]);
    }
    r.putF32(kWiredRhoOffset, m.rho);
    r.putF32(136, m.q);
    r.putF32(140, m.stacks);
    r.putF32(144, 0.0f);
    r.putF32(148, m.txVoltage);
    r.putF32(152, m.txBattery);
    r.putF32(156, m.rxBattery);
    r.putF32(160, m.temperature);
    r.putF32(164, m.sp);
    r.putF32(168, m.vp);
    r.putF32(172, m.current);
    r.putF32(176, m.chargeability);
    for (int j = 0; j < kWindowCount; ++j)
        r.putF32(180 + 4 * size_t(j), m.windowValues[j]);
    return r.bytes();
}

std::vector<uint8_t> InstrumentModel::rawRecord(const EmuMeasurement& m, const std::string& name) {
    ByteImage r(kRawRecordSize);
    r.putText(0, "NIMB", 4);
    r.putText(8, "Nimbo", 16);
    r.putText(24, name, 32);
    // The Q value sits at one of two offsets, the flag byte says which; the
    // other holds an unrelated value.
    r.putU8(58, m.altDecoding ? 0x80 : 0x40);
    r.putI32(64, m.time1);
    r.putI32(72, m.time2);
    for (int j = 0; j < kWindowCount; ++j)
        r.putI32(76 + 4 * size_t(j), m.windowTimes[j]);
    r.putI32(164, std::min(m.channelCount, 15));
    r.putF64(496, m.origin[0]);
    r.putF64(504, m.origin[1]);
    r.putF64(512, m.origin[2]);
    r.putF64(520, m.heading);
    // Bits 1-3 = 4: the two extra values below are present; otherwise they
    // are left over from elsewhere and mean nothing.
    r.putU8(528, m.altDecoding ? 0x02 : 0x08);
    r.putF64(536, m.extra[0]);
    r.putF64(544, m.extra[1]);
    r.putI32(584, m.channel & 15);
    r.putI32(588, 0);
    r.putI32(600, 1); // chargeability measured
    r.putI32(604, m.tripMetres > 0 ? m.tripMetres : int(m.stacks));
    r.putF64(608, double(m.sp) * 1000.0);
    r.putF64(616, double(m.vp) * 1000.0);
    r.putF64(624, double(m.current) * 1000.0);
    r.putF64(632, m.chargeability);
    for (int j = 0; j < kWindowCount; ++j)
        r.putF64(640 + 8 * size_t(j), m.windowValues[j]);
    r.putF64(kRawRhoOffset, m.rho);
    r.putF64(m.altDecoding ? 824 : 816, m.q);
    r.putF64(m.altDecoding ? 816 : 824, double(m.q) * 2.0);
    r.putF64(832, 0.0);
    r.putF64(840, m.txVoltage);
    r.putF32(848, m.txBattery);
    r.putF32(856, m.rxBattery);
    r.putF32(860, m.temperature);
    return r.bytes();
}

} // namespace varmexemu
