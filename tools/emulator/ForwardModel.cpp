#include "ForwardModel.h"

#include <numbers>

namespace varmexemu {

namespace {

// Distances below a millimetre are coincident electrodes: no finite answer.
constexpr double kMinDistance = 1e-3;

double distance(const EarthPoint& p, const EarthPoint& q) {
    return std::hypot(p.x - q.x, p.y - q.y);
}

// 1/r of a pair, 0 when either electrode is at infinity; -1 flags a
// coincident pair.
double inverseDistance(const EarthPoint& p, const EarthPoint& q) {
    if (p.atInfinity || q.atInfinity)
        return 0.0;
    const double r = distance(p, q);
    return r < kMinDistance ? -1.0 : 1.0 / r;
}

} // namespace

double pointSourcePotential(const TwoLayerEarth& earth, double r, double current) {
    const double k = earth.reflection();
    double series = 0.0;
    if (k != 0.0) {
        const double h = earth.thickness > 0.0 ? earth.thickness : 0.0;
        const double ak = std::fabs(k);
        double kn = 1.0;
        double akn = 1.0;
        // The terms fall like |k|^n and, once 2nh >> r, also like r / (2nh);
        // stop when the next one cannot matter at double precision.
        for (int n = 1; n <= 200000; ++n) {
            kn *= k;
            akn *= ak;
            const double q = 2.0 * n * h / r;
            series += kn / std::sqrt(1.0 + q * q);
            const double bound = akn * (q > 1.0 ? 1.0 / q : 1.0);
            if (bound < 1e-15 * (1.0 + std::fabs(series)))
                break;
        }
    }
    return earth.rho1 * current / (2.0 * std::numbers::pi * r) * (1.0 + 2.0 * series);
}

double geometricFactor(const EarthPoint& a, const EarthPoint& b, const EarthPoint& m,
                       const EarthPoint& n) {
    const double am = inverseDistance(a, m);
    const double bm = inverseDistance(b, m);
    const double an = inverseDistance(a, n);
    const double bn = inverseDistance(b, n);
    if (am < 0 || bm < 0 || an < 0 || bn < 0)
        return 0.0;
    const double denominator = am - bm - an + bn;
    if (std::fabs(denominator) < 1e-12)
        return 0.0;
    return 2.0 * std::numbers::pi / denominator;
}

double apparentResistivity(const TwoLayerEarth& earth, const EarthPoint& a, const EarthPoint& b,
                           const EarthPoint& m, const EarthPoint& n) {
    const double K = geometricFactor(a, b, m, n);
    if (K == 0.0)
        return 0.0;
    const double current = 1.0;
    auto v = [&](const EarthPoint& source, const EarthPoint& at) {
        if (source.atInfinity || at.atInfinity)
            return 0.0;
        return pointSourcePotential(earth, distance(source, at), current);
    };
    // +I at A, -I at B.
    const double dv = v(a, m) - v(a, n) - v(b, m) + v(b, n);
    return K * dv / current;
}

} // namespace varmexemu
