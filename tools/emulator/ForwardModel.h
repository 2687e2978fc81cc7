#pragma once
// Two-layer earth: apparent resistivity of a four-electrode array over a
// layer of resistivity rho1 and thickness h lying on a half-space rho2.
#include <cmath>

namespace varmexemu {

// A surface electrode; one at infinity (a remote pole) contributes nothing.
struct EarthPoint {
    double x = 0.0;
    double y = 0.0;
    bool atInfinity = false;
};

// Any coordinate of this magnitude or more marks an electrode at infinity.
constexpr double kInfinityCoordinate = 99999.0;

inline EarthPoint earthPoint(double x, double y) {
    EarthPoint p;
    p.x = x;
    p.y = y;
    p.atInfinity = std::fabs(x) >= kInfinityCoordinate || std::fabs(y) >= kInfinityCoordinate;
    return p;
}

struct TwoLayerEarth {
    double rho1 = 100.0;
    double rho2 = 100.0;
    double thickness = 10.0;
    double reflection() const { return (rho2 - rho1) / (rho2 + rho1); }
};

// Potential at distance r (> 0) from a surface point source of current I:
// V(r) = rho1 I / (2 pi r) [1 + 2 sum_{n>=1} k^n / sqrt(1 + (2 n h / r)^2)].
double pointSourcePotential(const TwoLayerEarth& earth, double r, double current);

// 2 pi / (1/AM - 1/BM - 1/AN + 1/BN), terms with an electrode at infinity
// dropped. Returns 0 when the array has no geometric factor (coincident
// electrodes or a zero denominator).
double geometricFactor(const EarthPoint& a, const EarthPoint& b, const EarthPoint& m,
                       const EarthPoint& n);

// K dV / I with dV = V(AM) - V(AN) - V(BM) + V(BN). Returns 0 when the
// geometric factor is 0.
double apparentResistivity(const TwoLayerEarth& earth, const EarthPoint& a, const EarthPoint& b,
                           const EarthPoint& m, const EarthPoint& n);

} // namespace varmexemu
