#pragma once
// The "Rho distribution" page: apparent resistivity (logarithmic top axis)
// against report point (left axis, growing downward), one point per
// measurement, with the colour range outlined. The main window embeds it as
// its page DistributionTb.
#include "imaging/ColorScale.h"
#include "imaging/DistributionModel.h"

#include <QWidget>

#include <functional>

class QCustomPlot;
class QualityControl;
class QCPGraph;
class QCPItemRect;

class DistributionPage : public QWidget {
    Q_OBJECT
public:
    // The colour-range state belongs to the main window and must outlive
    // the page.
    explicit DistributionPage(const ColorScale* colorScale, QWidget* parent = nullptr);

    // At every run start.
    void ResetDistributionChart();
    // For every received block, and once with no records and repaint true
    // at the end of viewing a file. The points join the model; the chart
    // takes them when it is drawn (at once when `repaint`, unless a draw
    // request is set).
    void AddDistributionPoints(const Sequence& sequence, const MeasureRecord* records,
                               int firstIndex, bool showGapFillers, bool repaint, int count);
    // Redraws the box of the current colour range.
    void DrawColorRangeBox();
    // When set, a change calls `request` instead of drawing, and the owner
    // calls Draw() when the page is to be seen.
    void SetDrawRequest(std::function<void()> request) { drawRequest_ = std::move(request); }
    // Brings the chart up to date with the model and repaints it. The
    // points not yet on the chart are added in one piece.
    void Draw();
    // Where the flags of the measurements come from (none: no marks).
    // Flagged measurements are drawn again in red over their point.
    void SetQualitySource(std::function<const QualityControl*()> source) {
        qualitySource_ = std::move(source);
    }
    QCPGraph* flaggedGraph() const { return flagged_; }
    // Points the chart holds.
    size_t plottedCount() const { return plotted_; }

    const DistributionModel& model() const { return model_; }
    QCustomPlot* chart() const { return chart_; }
    QCPItemRect* rangeBox() const { return box_; }

private:
    void ApplyAxes();
    void UpdateBox();

    const ColorScale* colorScale_;
    DistributionModel model_;
    size_t plotted_ = 0;
    std::function<void()> drawRequest_;
    QCustomPlot* chart_;
    QCPGraph* blue_;
    QCPGraph* silver_;
    QCPGraph* flagged_;
    std::function<const QualityControl*()> qualitySource_;
    uint64_t flaggedRevision_ = ~uint64_t{0};
    size_t flaggedUpTo_ = 0;
    void MarkFlagged();
    QCPItemRect* box_;
};
