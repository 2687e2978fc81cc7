// The painted progress view's geometry: what is where on the screen for the
// usual angles, the box kept inside the widget whatever the user does, and
// readable axis ticks.
#include "imaging/ProgressProjection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

ProgressProjection Survey() {
    ProgressProjection p;
    // 470 m of profile, 20 m deep, lines 0 to 30 m apart.
    p.SetBox({0, 0, 0}, {470, 20, 30});
    p.SetViewport(800, 600, 50);
    return p;
}

void ExpectInside(const ProgressProjection& p, int width, int height, int margin) {
    for (const ProjectedPoint& c : p.Corners()) {
        EXPECT_GE(c.x, margin - 0.5f);
        EXPECT_LE(c.x, width - margin + 0.5f);
        EXPECT_GE(c.y, margin - 0.5f);
        EXPECT_LE(c.y, height - margin + 0.5f);
    }
}

} // namespace

TEST(ProgressProjectionTest, SeenFromAboveItIsAMapAndFromTheSideASection) {
    ProgressProjection p = Survey();
    p.SetAngles(0, 90);
    // Map: x to the right, ground y upward, depth gone.
    EXPECT_GT(p.Project(400, 0, 0).x, p.Project(100, 0, 0).x + 100);
    EXPECT_LT(p.Project(100, 0, 30).y, p.Project(100, 0, 0).y - 10);
    EXPECT_NEAR(p.Project(100, 20, 0).y, p.Project(100, 0, 0).y, 1e-3);
    // Section: depth downward, the lines behind one another.
    p.SetAngles(0, 0);
    EXPECT_GT(p.Project(100, 20, 0).y, p.Project(100, 0, 0).y + 10);
    EXPECT_NEAR(p.Project(100, 5, 30).y, p.Project(100, 5, 0).y, 1e-3);
    EXPECT_NEAR(p.Project(100, 5, 30).x, p.Project(100, 5, 0).x, 1e-3);
    // The default look: the surface above the depths, deeper lower.
    p.Reset();
    EXPECT_GT(p.Project(235, 20, 15).y, p.Project(235, 0, 15).y);
}

TEST(ProgressProjectionTest, TheBoxStaysInsideTheViewportAtEveryAngle) {
    ProgressProjection p = Survey();
    for (double yaw = -360; yaw <= 360; yaw += 15) {
        for (double pitch = -30; pitch <= 120; pitch += 15) {
            p.SetAngles(yaw, pitch);
            ASSERT_GE(p.pitchDeg(), ProgressProjection::kMinPitchDeg);
            ASSERT_LE(p.pitchDeg(), ProgressProjection::kMaxPitchDeg);
            ExpectInside(p, 800, 600, 50);
        }
    }
    // It fills the room along at least one direction.
    p.Reset();
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (const ProjectedPoint& c : p.Corners()) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    EXPECT_TRUE(maxX - minX > 699 || maxY - minY > 499);
    // Resized: fitted again.
    p.SetViewport(300, 200, 20);
    ExpectInside(p, 300, 200, 20);
}

TEST(ProgressProjectionTest, ZoomPanAndBadInputKeepTheViewUsable) {
    ProgressProjection p = Survey();
    const ProjectedPoint centre = p.Project(235, 10, 15);
    p.SetZoom(1e9);
    EXPECT_EQ(p.zoom(), ProgressProjection::kMaxZoom);
    p.SetZoom(0);
    EXPECT_EQ(p.zoom(), ProgressProjection::kMinZoom);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    p.SetZoom(nan);
    p.SetAngles(nan, std::numeric_limits<double>::infinity());
    p.Pan(nan, 5);
    EXPECT_EQ(p.zoom(), ProgressProjection::kMinZoom);
    EXPECT_TRUE(std::isfinite(p.yawDeg()) && std::isfinite(p.pitchDeg()));
    // Panned far: held within reach.
    p.Pan(1e12, -1e12);
    EXPECT_LT(std::fabs(p.Project(235, 10, 15).x), 1e5f);
    p.Reset();
    EXPECT_NEAR(p.Project(235, 10, 15).x, centre.x, 1e-3);
    EXPECT_NEAR(p.Project(235, 10, 15).y, centre.y, 1e-3);

    // A single electrode, a flat or reversed box: widened, never a division
    // by zero.
    ProgressProjection flat;
    flat.SetViewport(400, 300, 10);
    flat.SetBox({5, 0, 0}, {5, 0, 0});
    flat.SetBox({10, nan, 3}, {0, 1, 3});
    for (const ProjectedPoint& c : flat.Corners())
        EXPECT_TRUE(std::isfinite(c.x) && std::isfinite(c.y));
    ExpectInside(flat, 400, 300, 10);
}

TEST(ProgressProjectionTest, TicksAreRoundNumbersInsideTheRange) {
    auto ticks = ProgressProjection::TickValues(0, 470, 6);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front(), 0);
    EXPECT_EQ(ticks[1] - ticks[0], 100);
    EXPECT_EQ(ticks.back(), 400);
    ticks = ProgressProjection::TickValues(-3.7, 2.2, 6);
    EXPECT_EQ(ticks, (std::vector<double>{-3, -2, -1, 0, 1, 2}));
    ticks = ProgressProjection::TickValues(0.1, 0.35, 4);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_NEAR(ticks[0], 0.1, 1e-12);
    EXPECT_NEAR(ticks[2], 0.3, 1e-12);
    for (double lo : {-1e6, 0.0, 12345.6}) {
        ticks = ProgressProjection::TickValues(lo, lo + 999.0, 6);
        EXPECT_LE(ticks.size(), 8u);
        EXPECT_GE(ticks.size(), 2u);
        for (double t : ticks) {
            EXPECT_GE(t, lo);
            EXPECT_LE(t, lo + 999.0);
        }
    }
    EXPECT_TRUE(ProgressProjection::TickValues(5, 5, 6).empty());
    EXPECT_TRUE(ProgressProjection::TickValues(0, 1, 0).empty());
    EXPECT_TRUE(ProgressProjection::TickValues(std::nan(""), 1, 5).empty());
}
