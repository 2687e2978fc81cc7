#include "imaging/ProgressProjection.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Half extents of the unit box: the profile direction is drawn twice as
// long as depth and cross-line distance, as a section is read.
constexpr double kHalfX = 1.0;
constexpr double kHalfDepth = 0.5;
constexpr double kHalfY = 0.5;

} // namespace

void ProgressProjection::SetBox(const std::array<double, 3>& lo, const std::array<double, 3>& hi) {
    for (int i = 0; i < 3; ++i) {
        double a = lo[size_t(i)];
        double b = hi[size_t(i)];
        if (!std::isfinite(a) || !std::isfinite(b) || !(a <= b)) {
            a = 0;
            b = 1;
        }
        if (b - a < 1e-9) {
            a -= 0.5;
            b += 0.5;
        }
        lo_[size_t(i)] = a;
        hi_[size_t(i)] = b;
    }
    Fit();
}

void ProgressProjection::SetViewport(int width, int height, int margin) {
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
    margin_ = std::clamp(margin, 0, std::min(width_, height_) / 3);
    Fit();
}

void ProgressProjection::SetAngles(double yawDeg, double pitchDeg) {
    if (std::isfinite(yawDeg))
        yawDeg_ = std::remainder(yawDeg, 360.0);
    if (std::isfinite(pitchDeg))
        pitchDeg_ = std::clamp(pitchDeg, kMinPitchDeg, kMaxPitchDeg);
    Fit();
}

void ProgressProjection::SetZoom(double zoom) {
    if (std::isfinite(zoom))
        zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    Fit();
}

void ProgressProjection::Pan(double dx, double dy) {
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    // Never so far that the picture cannot be found again.
    const double limit = 4.0 * std::max(width_, height_) * zoom_;
    panX_ = std::clamp(panX_ + dx, -limit, limit);
    panY_ = std::clamp(panY_ + dy, -limit, limit);
    Fit();
}

void ProgressProjection::Reset() {
    yawDeg_ = kDefaultYawDeg;
    pitchDeg_ = kDefaultPitchDeg;
    zoom_ = 1;
    panX_ = panY_ = 0;
    Fit();
}

std::array<double, 3> ProgressProjection::View(double x, double y, double z) const {
    const double u = (x - (lo_[0] + hi_[0]) / 2) / ((hi_[0] - lo_[0]) / 2) * kHalfX;
    const double v = (y - (lo_[1] + hi_[1]) / 2) / ((hi_[1] - lo_[1]) / 2) * kHalfDepth;
    const double w = (z - (lo_[2] + hi_[2]) / 2) / ((hi_[2] - lo_[2]) / 2) * kHalfY;
    const double ut = u * cosYaw_ - w * sinYaw_;
    const double wt = u * sinYaw_ + w * cosYaw_;
    // Screen x, screen y (down), distance from the viewer.
    return {ut, v * cosPitch_ - wt * sinPitch_, wt * cosPitch_ + v * sinPitch_};
}

void ProgressProjection::Fit() {
    const double yaw = yawDeg_ * kPi / 180.0;
    const double pitch = pitchDeg_ * kPi / 180.0;
    cosYaw_ = std::cos(yaw);
    sinYaw_ = std::sin(yaw);
    cosPitch_ = std::cos(pitch);
    sinPitch_ = std::sin(pitch);
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (int c = 0; c < 8; ++c) {
        const auto v =
            View((c & 1) ? hi_[0] : lo_[0], (c & 2) ? hi_[1] : lo_[1], (c & 4) ? hi_[2] : lo_[2]);
        minX = std::min(minX, v[0]);
        maxX = std::max(maxX, v[0]);
        minY = std::min(minY, v[1]);
        maxY = std::max(maxY, v[1]);
    }
    const double spanX = std::max(maxX - minX, 1e-6);
    const double spanY = std::max(maxY - minY, 1e-6);
    const double room = std::max(1, width_ - 2 * margin_);
    const double roomY = std::max(1, height_ - 2 * margin_);
    scale_ = std::min(room / spanX, roomY / spanY) * zoom_;
    centreX_ = width_ / 2.0 - scale_ * (minX + maxX) / 2 + panX_;
    centreY_ = height_ / 2.0 - scale_ * (minY + maxY) / 2 + panY_;
}

ProjectedPoint ProgressProjection::Project(double x, double y, double z) const {
    const auto v = View(x, y, z);
    return {float(centreX_ + scale_ * v[0]), float(centreY_ + scale_ * v[1])};
}

std::array<ProjectedPoint, 8> ProgressProjection::Corners() const {
    std::array<ProjectedPoint, 8> out;
    for (int c = 0; c < 8; ++c)
        out[size_t(c)] = Project((c & 1) ? hi_[0] : lo_[0], (c & 2) ? hi_[1] : lo_[1],
                                 (c & 4) ? hi_[2] : lo_[2]);
    return out;
}

std::vector<double> ProgressProjection::TickValues(double lo, double hi, int most) {
    std::vector<double> ticks;
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi <= lo || most < 1)
        return ticks;
    const double rough = (hi - lo) / most;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (double m : {1.0, 2.0, 5.0}) {
        if (power * m >= rough) {
            step = power * m;
            break;
        }
    }
    const double first = std::ceil(lo / step - 1e-9) * step;
    for (int k = 0; k <= most + 1; ++k) {
        const double t = first + k * step;
        if (t > hi + step * 1e-9)
            break;
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    }
    return ticks;
}
