#pragma once
// The progress view drawn without OpenGL: the points projected onto the
// widget (imaging/ProgressProjection.h) and painted in state order, with
// the box's axes and a legend. Dragging turns the view, the right button or
// Shift moves it, the wheel zooms, a double click starts over, and a click
// on a point names it.
#include "imaging/ProgressProjection.h"
#include "ui/ProgressView.h"

#include <QPoint>
#include <QWidget>

class QPainter;

class ProgressPaintedView : public QWidget, public ProgressView {
    Q_OBJECT
public:
    explicit ProgressPaintedView(QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void Draw(const ProgressModel& model) override;
    void ShowSuspects(const ProgressModel& model, const std::vector<int32_t>& nodes) override;
    QImage Render(const QSize& size) override;
    std::array<int, kProgressStateCount> DrawnCounts() const override { return counts_; }
    int SuspectMarkCount() const override { return int(suspects_.size()); }

    const ProgressProjection& projection() const { return projection_; }
    // The projection the view uses when drawn at `size`.
    ProgressProjection ProjectionFor(const QSize& size) const;
    void SetAngles(double yawDeg, double pitchDeg);
    // What a click at `pos` names: the nearest point within a few pixels,
    // empty when there is none.
    QString Describe(const QPoint& pos) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Paint(QPainter& painter, const QSize& size, const ProgressProjection& projection);
    void PaintAxes(QPainter& painter, const ProgressProjection& projection);
    void PaintLegend(QPainter& painter);

    const ProgressModel* model_ = nullptr;
    uint64_t shownRevision_ = ~uint64_t{0};
    uint64_t shownLayout_ = ~uint64_t{0};
    ProgressProjection projection_;
    std::array<int, kProgressStateCount> counts_{};
    // Positions of the suspect electrodes' marks.
    std::vector<ProgressPoint> suspects_;
    QPoint pressAt_;
    QPoint lastAt_;
    bool dragging_ = false;
    bool panning_ = false;
};
