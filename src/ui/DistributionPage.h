#pragma once
// The "Rho distribution" page: apparent resistivity (logarithmic top axis)
// against report point (left axis, growing downward), one point per
// measurement, with the colour range outlined. The main window embeds it as
// its page DistributionTb.
#include "imaging/ColorScale.h"
#include "imaging/DistributionModel.h"

#include <QWidget>

class QCustomPlot;
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
    // at the end of viewing a file.
    void AddDistributionPoints(const Sequence& sequence, const MeasureRecord* records,
                               int firstIndex, bool showGapFillers, bool repaint, int count);
    // Redraws the box of the current colour range.
    void DrawColorRangeBox();

    const DistributionModel& model() const { return model_; }
    QCustomPlot* chart() const { return chart_; }
    QCPItemRect* rangeBox() const { return box_; }

private:
    void ApplyAxes();
    void UpdateBox();

    const ColorScale* colorScale_;
    DistributionModel model_;
    size_t plotted_ = 0;
    QCustomPlot* chart_;
    QCPGraph* blue_;
    QCPGraph* silver_;
    QCPItemRect* box_;
};
