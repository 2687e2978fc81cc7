#pragma once
// How the progress view's points reach the screen when the view draws them
// itself: an orthographic look at the survey's bounding box, turned about
// the vertical and tilted toward the viewer, fitted to the widget. Plain
// C++, so that the geometry is tested without a display.
#include <array>
#include <vector>

struct ProjectedPoint {
    float x = 0; // pixels, to the right
    float y = 0; // pixels, downward
};

// One labelled tick along an axis of the box.
struct AxisTick {
    double value = 0;
    ProjectedPoint at;
};

class ProgressProjection {
public:
    static constexpr double kDefaultYawDeg = -30.0;
    static constexpr double kDefaultPitchDeg = 30.0;
    static constexpr double kMinPitchDeg = 0.0;
    static constexpr double kMaxPitchDeg = 90.0;
    static constexpr double kMinZoom = 0.5;
    static constexpr double kMaxZoom = 40.0;

    // The box in model units: x the ground x, y the pseudo-depth (drawn
    // downward), z the ground y. Empty or flat ranges are widened to 1.
    void SetBox(const std::array<double, 3>& lo, const std::array<double, 3>& hi);
    const std::array<double, 3>& boxLow() const { return lo_; }
    const std::array<double, 3>& boxHigh() const { return hi_; }
    // The drawing area in pixels and the margin kept for the axis labels.
    void SetViewport(int width, int height, int margin);

    // Yaw turns the ground about the vertical; pitch 0 looks along the
    // ground, 90 straight down on it. Pitch is kept within its limits.
    void SetAngles(double yawDeg, double pitchDeg);
    double yawDeg() const { return yawDeg_; }
    double pitchDeg() const { return pitchDeg_; }
    void SetZoom(double zoom);
    double zoom() const { return zoom_; }
    // Moves the picture by a number of pixels.
    void Pan(double dx, double dy);
    void Reset();

    ProjectedPoint Project(double x, double y, double z) const;
    // The eight corners of the box, index bit 0 high x, bit 1 high y,
    // bit 2 high z.
    std::array<ProjectedPoint, 8> Corners() const;

    // Round tick values (1, 2 or 5 times a power of ten) inside [lo, hi],
    // at most about `most` of them.
    static std::vector<double> TickValues(double lo, double hi, int most);

private:
    void Fit();
    // Box coordinates scaled to the unit box: x spans 2, depth and ground
    // y span 1 each, centred on the origin, then turned and tilted.
    std::array<double, 3> View(double x, double y, double z) const;

    std::array<double, 3> lo_{0, 0, 0};
    std::array<double, 3> hi_{1, 1, 1};
    int width_ = 1;
    int height_ = 1;
    int margin_ = 0;
    double yawDeg_ = kDefaultYawDeg;
    double pitchDeg_ = kDefaultPitchDeg;
    double zoom_ = 1;
    double panX_ = 0;
    double panY_ = 0;
    // Fitted scale (pixels per unit-box unit) and the centre on screen.
    double scale_ = 1;
    double centreX_ = 0;
    double centreY_ = 0;
    double cosYaw_ = 1, sinYaw_ = 0, cosPitch_ = 1, sinPitch_ = 0;
};
