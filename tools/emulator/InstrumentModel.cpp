#include "InstrumentModel.h"

#include "ByteImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace varmexemu {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr uint16_t kInjectionTime = 500; // instrument time unit
constexpr uint16_t kDelayTime = 40;
constexpr uint16_t kWindowWidth = 20;
constexpr int kStacks = 3;
constexpr double kTxVoltage = 400.0;
constexpr float kHeaderByte27Source = 120.0f;

int arrayCode(ArrayType t) {
    switch (t) {
    case ArrayType::Wenner:
        return 1;
    case ArrayType::Schlumberger:
        return 2;
    case ArrayType::DipoleDipole:
        return 3;
    case ArrayType::PoleDipole:
        return 5;
    }
    return 0;
}

// Deterministic 0..1 value per electrode, for the contact resistance.
double electrodeHash(int number) {
    uint32_t h = uint32_t(number) * 2654435761u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    return double(h & 0xFFFF) / 65535.0;
}

double selfPotential(int number) {
    return number == 0 ? 0.0 : 12.0 * std::sin(number * 0.37) + 4.0 * std::cos(number * 1.9);
}

} // namespace

InstrumentModel::InstrumentModel(const EmuOptions& options, const EmuSurvey& survey)
    : o_(options), s_(survey), rng_(options.seed, 1) {
    name_ = options.name.toLatin1().left(11).toStdString();
    if (o_.generation == Generation::Wired) {
        ByteImage c(kWiredConfigurationSize);
        c.putI32(0, 10);     // receiver channels of the instrument
        c.putI32(4, 0x0105); // firmware
        c.putI32(8, 1207);   // serial number
        c.putI32(12, kMaxNodeNumber);
        c.putI32(16, kMaxQuadripoles);
        configuration_ = c.bytes();
        parameters_.assign(kWiredParameterSize, 0);
    } else {
        ByteImage c(kWifiConfigurationSize);
        c.putI32(0, 0x0301); // firmware
        c.putI32(4, 20);     // channel capacity
        c.putText(8, "NIMBO EMULATOR", 32);
        c.putI32(40, 3121); // serial number
        c.putI32(44, kMaxNodeNumber);
        c.putI32(48, kMaxQuadripoles);
        configuration_ = c.bytes();
        parameters_.assign(kWifiParameterSize, 0);
    }
    refreshParameters();
}

int InstrumentModel::parameterSize() const {
    return o_.generation == Generation::Wired ? kWiredParameterSize : kWifiParameterSize;
}

void InstrumentModel::beginAcquisition(int number) {
    acquisition_ = number;
    trackX_ = 0.0;
    trackY_ = 0.0;
    heading_ = 90.0;
    trackT_ = 0.0;
    refreshParameters();
}

void InstrumentModel::resetTripCounter() {
    trip_ = 0.0;
}

double InstrumentModel::thicknessAt(double x, double y) const {
    // The upper layer thickens and thins along the line (and a little
    // across the lines), so that the pseudo-section shows structure.
    const double lx = s_.moving ? 60.0 * o_.spacing : std::max(s_.xMax - s_.xMin, 20 * o_.spacing);
    const double ly = std::max(s_.yMax - s_.yMin, 20 * o_.spacing);
    const double u = (x - s_.xMin) / lx + 0.35 * (y - s_.yMin) / ly;
    return o_.thickness * (1.0 + 0.6 * std::sin(2.0 * std::numbers::pi * u));
}

double InstrumentModel::modelRho(const float x[4], const float y[4]) const {
    EarthPoint p[4];
    double mx = 0.0, my = 0.0;
    int finite = 0;
    for (int e = 0; e < 4; ++e) {
        p[e] = earthPoint(x[e], y[e]);
        if (!p[e].atInfinity) {
            mx += p[e].x;
            my += p[e].y;
            ++finite;
        }
    }
    if (finite > 0) {
        mx /= finite;
        my /= finite;
    }
    TwoLayerEarth earth;
    earth.rho1 = o_.rho1;
    earth.rho2 = o_.rho2;
    earth.thickness = thicknessAt(mx, my);
    return apparentResistivity(earth, p[0], p[1], p[2], p[3]);
}

void InstrumentModel::advanceTrack(double step) {
    // A gently winding track; heading in degrees clockwise from +y.
    trackT_ += step / o_.spacing;
    heading_ = 90.0 + 35.0 * std::sin(2.0 * std::numbers::pi * trackT_ / 150.0);
    trackX_ += step * std::sin(heading_ * kDegree);
    trackY_ += step * std::cos(heading_ * kDegree);
    trip_ += step;
}

EmuMeasurement InstrumentModel::measure(int index, int channel) {
    EmuMeasurement m;
    m.acquisition = acquisition_;
    m.index = index;
    m.channel = channel;
    m.channelCount = s_.moving ? int(s_.movingDipoles.size()) : o_.channels;
    m.quad = s_.quad(index);
    if (s_.moving) {
        const MovingDipole& d = s_.movingDipoles.at(size_t(channel) % s_.movingDipoles.size());
        m.origin[0] = trackX_;
        m.origin[1] = trackY_;
        m.origin[2] = 0.0;
        m.heading = heading_;
        m.tripMetres = int(std::lround(trip_));
        const double theta = (90.0 - m.heading) * kDegree;
        const double ca = std::cos(theta), sa = std::sin(theta);
        for (int e = 0; e < 4; ++e) {
            const double x = d.pos[e][0], y = d.pos[e][1], z = d.pos[e][2];
            m.x[e] = float(x * ca + m.origin[0] - y * sa);
            m.y[e] = float(y * ca + m.origin[1] + x * sa);
            m.z[e] = float(z + m.origin[2]);
        }
    } else {
        const int nodes[4] = {m.quad.a, m.quad.b, m.quad.m, m.quad.n};
        for (int e = 0; e < 4; ++e) {
            const EmuNode& n = s_.nodes.at(size_t(nodes[e]));
            m.x[e] = n.x;
            m.y[e] = n.y;
            m.z[e] = n.z;
        }
    }

    EarthPoint p[4];
    for (int e = 0; e < 4; ++e)
        p[e] = earthPoint(m.x[e], m.y[e]);
    const double k = geometricFactor(p[0], p[1], p[2], p[3]);
    const double truth = modelRho(m.x, m.y);

    double rho = truth * (1.0 + o_.noise * rng_.normal());
    bool outlier = false;
    if (rng_.chance(o_.outliers)) {
        outlier = true;
        const double factor = std::exp(rng_.uniform(1.0, 2.5));
        rho = rng_.chance(0.5) ? rho * factor : rho / factor;
    }

    // Current through the A-B circuit: the transmitter voltage over the
    // contact resistances of the two current electrodes.
    const double contact = 600.0 + 900.0 * electrodeHash(m.quad.a) +
                           (m.quad.b == 0 ? 150.0 : 900.0 * electrodeHash(m.quad.b));
    const double voltage = kTxVoltage * txBattery_ / 12.8;
    const double current = 1000.0 * voltage / contact * (1.0 + 0.002 * rng_.normal());
    m.current = float(current);
    m.rho = k != 0.0 ? float(rho) : 0.0f;
    m.vp = k != 0.0 ? float(double(m.rho) * current / k) : 0.0f;
    m.sp = float(selfPotential(m.quad.m) - selfPotential(m.quad.n) + 0.3 * rng_.normal());

    // Apparent chargeability: the lower layer polarises more; its weight
    // follows how far the reading sees into it.
    double w = 0.0;
    if (o_.rho2 != o_.rho1)
        w = std::clamp((truth - o_.rho1) / (o_.rho2 - o_.rho1), 0.0, 1.0);
    const double ma = (4.0 + 14.0 * w) * (1.0 + o_.noise * rng_.normal());
    m.chargeability = float(ma);
    double decay[kWindowCount];
    double sum = 0.0;
    for (int j = 0; j < kWindowCount; ++j) {
        const double t = kDelayTime + kWindowWidth * (j + 0.5);
        decay[j] = std::exp(-t / 250.0);
        sum += decay[j];
    }
    for (int j = 0; j < kWindowCount; ++j) {
        m.windowValues[j] = float(ma * decay[j] * kWindowCount / sum);
        m.windowTimes[j] = kWindowWidth;
    }
    m.q = float(0.05 + std::fabs(rng_.normal()) * o_.noise * 50.0 +
                (outlier ? rng_.uniform(5.0, 30.0) : 0.0));
    m.time1 = kInjectionTime;
    m.time2 = kDelayTime;
    m.configurationCode = arrayCode(o_.array);
    m.txBattery = float(txBattery_);
    m.rxBattery = float(rxBattery_);
    m.temperature = float(temperature_);
    m.txVoltage = float(voltage);
    m.stacks = float(kStacks);
    return m;
}

std::vector<EmuMeasurement> InstrumentModel::inject(const EmuBatch& batch) {
    std::vector<EmuMeasurement> out;
    double currentSum = 0.0;
    for (int k = 0; k < batch.count; ++k) {
        if (s_.moving)
            advanceTrack(0.5 * o_.spacing / batch.count);
        out.push_back(measure(batch.first + k, k));
        currentSum += out.back().current;
    }
    ++injections_;
    // The transmitter battery runs down with the current it delivers; the
    // receiver's slowly; the receiver warms up in the sun.
    const double meanCurrent = batch.count > 0 ? currentSum / batch.count : 0.0;
    txBattery_ = std::max(10.8, txBattery_ - 0.0008 - 0.000002 * meanCurrent);
    rxBattery_ = std::max(10.8, rxBattery_ - 0.0003);
    temperature_ += (34.0 - temperature_) * 0.002 + 0.02 * rng_.normal();
    last_ = out;
    return out;
}

std::vector<EmuMeasurement> InstrumentModel::lastMeasurements() {
    if (last_.empty() && !s_.batches.empty())
        inject(s_.batches.front());
    return last_;
}

std::vector<uint8_t> InstrumentModel::measurementBlock(size_t maxRecords) {
    std::vector<uint8_t> out;
    const std::vector<EmuMeasurement> records = lastMeasurements();
    for (size_t i = 0; i < records.size() && i < maxRecords; ++i) {
        const std::vector<uint8_t> r = o_.generation == Generation::Wired
                                           ? wiredRecord(records[i])
                                           : rawRecord(records[i], name_);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

double InstrumentModel::channelValue(int k) {
    if (k == 0)
        return txBattery_;
    return selfPotential(k) * 0.1 + 0.05 * rng_.normal();
}

std::vector<uint8_t> InstrumentModel::quickMeasureReply(const std::vector<int>& list) {
    // Two polarities of the ten channel inputs and the current input.
    const int channels = 10;
    std::vector<float> plus(channels + 1, 0.0f), minus(channels + 1, 0.0f);
    const double current = 500.0;
    auto nodeOk = [&](int n) { return n >= 0 && n <= s_.lastNode && size_t(n) < s_.nodes.size(); };
    const int a = list.size() > 0 ? list[0] : 0;
    const int b = list.size() > 1 ? list[1] : 0;
    for (int e = 0; e < channels; ++e) {
        const size_t mi = size_t(2 + e), ni = size_t(3 + e);
        double vp = 0.0;
        const int mn = mi < list.size() ? list[mi] : 0;
        const int nn = ni < list.size() ? list[ni] : 0;
        if (nn != 0 && nodeOk(a) && nodeOk(b) && nodeOk(mn) && nodeOk(nn) && a != 0) {
            float x[4], y[4];
            const int nodes[4] = {a, b, mn, nn};
            for (int i = 0; i < 4; ++i) {
                x[i] = s_.nodes[size_t(nodes[i])].x;
                y[i] = s_.nodes[size_t(nodes[i])].y;
            }
            EarthPoint p[4];
            for (int i = 0; i < 4; ++i)
                p[i] = earthPoint(x[i], y[i]);
            const double k = geometricFactor(p[0], p[1], p[2], p[3]);
            if (k != 0.0)
                vp = modelRho(x, y) * current / k;
        }
        const double sp = selfPotential(mn) - selfPotential(nn);
        plus[size_t(e)] = float(sp + vp);
        minus[size_t(e)] = float(sp - vp);
    }
    plus[channels] = float(current);
    minus[channels] = float(-current);
    std::vector<uint8_t> out;
    for (float v : plus)
        appendF32(out, v);
    for (float v : minus)
        appendF32(out, v);
    return out;
}

std::string InstrumentModel::gpsSentence(const std::string& name) const {
    // A fixed base position, shifted by the moving array's track.
    const double lat = 46.0 + 12.345 / 60.0 + trackY_ / 111320.0;
    const double lon = 6.0 + 8.765 / 60.0 + trackX_ / (111320.0 * std::cos(46.2 * kDegree));
    const long seconds = 8 * 3600 + injections_ * std::max(1, o_.cycleMs) / 1000;
    char time[16];
    std::snprintf(time, sizeof time, "%02ld%02ld%02ld.00", (seconds / 3600) % 24,
                  (seconds / 60) % 60, seconds % 60);
    auto degMin = [](double v, int degreeDigits) {
        const int d = int(v);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%0*d%07.4f", degreeDigits, d, (v - d) * 60.0);
        return std::string(buf);
    };
    std::string body;
    if (name == "GPGGA")
        body = "GPGGA," + std::string(time) + "," + degMin(lat, 2) + ",N," + degMin(lon, 3) +
               ",E,1,09,0.9,412.3,M,48.1,M,,";
    else if (name == "GPRMC")
        body = "GPRMC," + std::string(time) + ",A," + degMin(lat, 2) + ",N," + degMin(lon, 3) +
               ",E,0.8,90.0,010524,,,A";
    else
        return std::string();
    uint8_t sum = 0;
    for (char c : body)
        sum ^= uint8_t(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

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
    const int quadCount =
        s_.moving ? int(s_.batches.size() * s_.movingDipoles.size()) : s_.quadripoleCount();
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
        p.putI32(256, 1);
        p.putI32(260, quadCount);
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
    h.putI32(108, 0);
    h.putI32(112, s_.quadripoleCount() - 1);
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
    const int count = s_.lastNode - s_.firstNode + 1;
    ByteImage b(size_t(count) * 12);
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
    r.putF32(132, m.rho);
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
    r.putU8(58, 0x40); // quality value at 816
    r.putI32(64, m.time1);
    r.putI32(72, m.time2);
    for (int j = 0; j < kWindowCount; ++j)
        r.putI32(76 + 4 * size_t(j), m.windowTimes[j]);
    r.putI32(164, std::min(m.channelCount, 15));
    r.putF64(496, m.origin[0]);
    r.putF64(504, m.origin[1]);
    r.putF64(512, m.origin[2]);
    r.putF64(520, m.heading);
    r.putU8(528, 0x08); // the two extra values below are present
    r.putF64(536, 0.0);
    r.putF64(544, 0.0);
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
    r.putF64(808, m.rho);
    r.putF64(816, m.q);
    r.putF64(824, double(m.q) * 2.0);
    r.putF64(832, 0.0);
    r.putF64(840, m.txVoltage);
    r.putF32(848, m.txBattery);
    r.putF32(856, m.rxBattery);
    r.putF32(860, m.temperature);
    return r.bytes();
}

} // namespace varmexemu
