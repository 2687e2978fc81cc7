// The progress view painted without OpenGL, read back pixel by pixel: each
// point in its state's colour where the projection puts it, the suspect
// electrode marked, damaged coordinates left out, and a click naming the
// point under it.
#include "SyntheticSequence.h"
#include "ui/ProgressPaintedView.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QRgb ColourOf(ProgressState s) {
    const Rgb c = ProgressPointColor(s);
    return qRgb(c.r, c.g, c.b) & 0xffffff;
}

QRgb PixelAt(const QImage& image, const ProjectedPoint& p) {
    return image.pixel(int(p.x), int(p.y)) & 0xffffff;
}

struct SmallSurvey {
    std::unique_ptr<Sequence> sequence;
    ProgressModel model;
};

SmallSurvey SmallRun(int measuredBlocks) {
    synthetic::Layout l;
    l.electrodes = 24;
    l.channels = 4;
    SmallSurvey r;
    r.sequence = synthetic::MakeDipoleDipole(l);
    r.model.SetupProgressView(*r.sequence, 1, r.sequence->nodeCount, false);
    for (int b = 0; b < measuredBlocks; ++b)
        r.model.MarkCurrentQuadripoles(4, b * 4, false);
    return r;
}

} // namespace

TEST(ProgressPaintedViewTest, EachPointInItsStateColourWhereTheProjectionPutsIt) {
    SmallSurvey run = SmallRun(6); // blocks 0..4 measured, block 5 being measured
    ProgressPaintedView view;
    view.Draw(run.model);
    view.ShowSuspects(run.model, {3});
    const QSize size(900, 600);
    const QImage image = view.Render(size);
    const ProgressProjection at = view.ProjectionFor(size);
    const auto& quads = run.model.quadripolePoints();
    const auto& electrodes = run.model.electrodePoints();

    // The block being measured is drawn over everything but electrodes.
    for (int i = 20; i < 24; ++i)
        EXPECT_EQ(PixelAt(image, at.Project(quads[i].x, quads[i].y, quads[i].z)),
                  ColourOf(ProgressState::QuadMeasuring))
            << "quadripole " << i;
    // Measured and not-yet-measured report points: their own colour, save
    // where a later layer covers them.
    int measured = 0, measuredRight = 0, waiting = 0, waitingRight = 0;
    for (int i = 0; i < run.sequence->quadripoleCount; ++i) {
        const QRgb c = PixelAt(image, at.Project(quads[i].x, quads[i].y, quads[i].z));
        if (quads[i].state == ProgressState::QuadMeasured) {
            ++measured;
            measuredRight += c == ColourOf(ProgressState::QuadMeasured);
        } else if (quads[i].state == ProgressState::QuadNotMeasured) {
            ++waiting;
            waitingRight += c == ColourOf(ProgressState::QuadNotMeasured);
        }
    }
    EXPECT_EQ(measured, 20);
    EXPECT_GE(measuredRight, measured * 8 / 10);
    EXPECT_GE(waitingRight, waiting * 8 / 10);
    // The current electrodes of the block in red, the suspect one marked.
    const QuadripoleRecord& q = run.sequence->quadripoles[20];
    const ProgressPoint& a = electrodes[size_t(q.a)];
    EXPECT_EQ(PixelAt(image, at.Project(a.x, a.y, a.z)), ColourOf(ProgressState::ElectrodeCurrent));
    const ProgressPoint& suspect = electrodes[3];
    EXPECT_EQ(PixelAt(image, at.Project(suspect.x, suspect.y, suspect.z)),
              qRgb(230, 0, 0) & 0xffffffu);
    EXPECT_EQ(view.SuspectMarkCount(), 1);
    const auto counts = view.DrawnCounts();
    EXPECT_EQ(counts[size_t(ProgressState::QuadMeasured)], 20);
    EXPECT_EQ(counts[size_t(ProgressState::QuadMeasuring)], 4);

    // Nothing is painted outside the picture whatever the angle.
    for (double yaw : {-170.0, -45.0, 0.0, 60.0, 135.0}) {
        for (double pitch : {0.0, 30.0, 90.0}) {
            view.SetAngles(yaw, pitch);
            const ProgressProjection p = view.ProjectionFor(size);
            for (const ProgressPoint& pt : quads) {
                if (pt.IsNull())
                    continue;
                const ProjectedPoint s = p.Project(pt.x, pt.y, pt.z);
                ASSERT_TRUE(s.x >= 0 && s.x < size.width() && s.y >= 0 && s.y < size.height());
            }
        }
    }
}

TEST(ProgressPaintedViewTest, AClickNamesThePointUnderIt) {
    SmallSurvey run = SmallRun(2);
    ProgressPaintedView view;
    view.resize(800, 500);
    view.Draw(run.model);
    const ProgressProjection& at = view.projection();
    const ProgressPoint& q = run.model.quadripolePoints()[5];
    const ProjectedPoint s = at.Project(q.x, q.y, q.z);
    const QString text = view.Describe(QPoint(int(s.x), int(s.y)));
    EXPECT_TRUE(text.startsWith("Quadripole 6 (measuring)")) << text.toStdString();
    EXPECT_TRUE(text.contains("pseudo-depth")) << text.toStdString();
    const ProgressPoint& e = run.model.electrodePoints()[7];
    const ProjectedPoint es = at.Project(e.x, e.y, e.z);
    EXPECT_TRUE(view.Describe(QPoint(int(es.x), int(es.y))).startsWith("Electrode 7"));
    // Far from every point: nothing.
    EXPECT_TRUE(view.Describe(QPoint(2, 2)).isEmpty());
    // An empty view names nothing and still paints.
    ProgressPaintedView empty;
    EXPECT_TRUE(empty.Describe(QPoint(10, 10)).isEmpty());
    EXPECT_FALSE(empty.Render(QSize(300, 200)).isNull());
}

TEST(ProgressPaintedViewTest, ADamagedCoordinateIsLeftOutAndTheRestStillDrawn) {
    synthetic::Layout l;
    l.electrodes = 24;
    l.channels = 4;
    auto sequence = synthetic::MakeDipoleDipole(l);
    sequence->nodes[6].x = std::numeric_limits<float>::quiet_NaN();
    sequence->nodes[9].y = std::numeric_limits<float>::infinity();
    ProgressModel model;
    model.SetupProgressView(*sequence, 1, sequence->nodeCount, false);
    model.MarkCurrentQuadripoles(4, 0, false);
    ProgressPaintedView view;
    view.Draw(model);
    view.ShowSuspects(model, {6, 9, 10});
    const QSize size(600, 400);
    const QImage image = view.Render(size);
    const ProgressProjection at = view.ProjectionFor(size);
    for (const ProjectedPoint& c : at.Corners())
        ASSERT_TRUE(std::isfinite(c.x) && std::isfinite(c.y));
    // A sound electrode far from the damaged ones is where it belongs.
    const ProgressPoint& e = model.electrodePoints()[20];
    EXPECT_EQ(PixelAt(image, at.Project(e.x, e.y, e.z)), ColourOf(ProgressState::ElectrodeIdle));
    EXPECT_TRUE(view.Describe(QPoint(1, 1)).isEmpty());
}
