#include "InstrumentModel.h"

#include "ByteImage.h"
#include "InstrumentSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace varmexemu {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
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
    : o_(options), s_(survey), rng_(options.seed, 1), badRng_(options.seed, 11) {
    name_ = options.name.toLatin1().left(11).toStdString();
    // A poorly planted electrode (dry ground, a stone, a loose clip) adds
    // some 400 kOhm to 1.1 MOhm: the transmitter then drives well under
    // 1 mA through it.
    for (int node : options.badElectrodes) {
        EmuRandom contact(options.seed, 1000 + uint64_t(node));
        badContacts_.push_back({node, contact.uniform(400e3, 1.1e6)});
    }
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

double InstrumentModel::badContactOhms(int node) const {
    for (const auto& [number, ohms] : badContacts_)
        if (number == node)
            return ohms;
    return 0.0;
}

EmuMeasurement InstrumentModel::measure(int position, int channel) {
    EmuMeasurement m;
    m.acquisition = acquisition_;
    m.index = s_.number(position);
    m.position = position;
    m.channel = channel;
    m.channelCount = s_.moving ? int(s_.movingDipoles.size()) : o_.channels;
    m.quad = s_.quad(position);
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
    const double jitter = 1.0 + 0.002 * rng_.normal();
    const double nominal = 1000.0 * voltage / contact * jitter;
    nominalCurrent_ = float(nominal);
    const double badOhms = badContactOhms(m.quad.a) + badContactOhms(m.quad.b);
    const double current =
        badOhms > 0.0 ? 1000.0 * voltage / (contact + badOhms) * jitter : nominal;
    // A bad contact anywhere in the array lets the reading wander: telluric
    // noise and polarisation swamp a small signal, and the receiver's
    // repeat stacks disagree.
    for (const int node : {m.quad.a, m.quad.b, m.quad.m, m.quad.n})
        m.badContact = m.badContact || badContactOhms(node) > 0.0;
    if (m.badContact)
        rho *= std::exp(badRng_.uniform(std::log(0.4), std::log(2.5)));
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
    if (m.badContact)
        m.q = float(badRng_.uniform(10.0, 40.0));
    m.trueRho = truth;
    m.partnerIndex = s_.partner(position) >= 0 ? s_.number(s_.partner(position)) : -1;
    m.reciprocal = s_.isReciprocal(position);
    m.time1 = kInjectionTime;
    m.time2 = kDelayTime;
    m.configurationCode = arrayCode(o_.array);
    m.txBattery = float(txBattery_);
    m.rxBattery = float(rxBattery_);
    m.temperature = float(temperature_);
    m.txVoltage = float(voltage);
    m.stacks = float(kStacks);
    if (o_.generation == Generation::Wifi) {
        m.extra[0] = m.stacks;
        m.extra[1] = m.txVoltage;
        m.altDecoding = o_.altDecoding;
    }
    return m;
}

std::vector<EmuMeasurement> InstrumentModel::inject(const EmuBatch& batch) {
    std::vector<EmuMeasurement> out;
    double currentSum = 0.0;
    for (int k = 0; k < batch.count; ++k) {
        if (s_.moving)
            advanceTrack(0.5 * o_.spacing / batch.count);
        out.push_back(measure(batch.first + k, k));
        currentSum += nominalCurrent_;
    }
    ++injections_;
    // The transmitter battery runs down with the current it delivers; the
    // receiver's slowly; the receiver warms up in the sun. The drain follows
    // the current sound contacts would draw: a bad contact is played on top
    // of the survey and leaves the rest of it reading exactly as without.
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

} // namespace varmexemu
