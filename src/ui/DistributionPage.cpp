#include "ui/DistributionPage.h"

#include "quality/QualityControl.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

DistributionPage::DistributionPage(const ColorScale* colorScale, QWidget* parent)
    : QWidget(parent), colorScale_(colorScale) {
    setObjectName("DistributionTb");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    chart_ = new QCustomPlot(this);
    chart_->setObjectName("Chart1");
    chart_->setBackground(Qt::white);
    chart_->setCursor(Qt::CrossCursor);
    layout->addWidget(chart_);

    QCPAxis* top = chart_->xAxis2;
    QCPAxis* left = chart_->yAxis;
    chart_->xAxis->setVisible(false);
    chart_->xAxis->grid()->setVisible(false);
    chart_->yAxis2->setVisible(false);
    top->setVisible(true);
    top->setTickLabels(true);
    top->setScaleType(QCPAxis::stLogarithmic);
    QSharedPointer<QCPAxisTickerLog> log(new QCPAxisTickerLog);
    log->setSubTickCount(8);
    top->setTicker(log);
    top->setNumberFormat("gb");
    top->setNumberPrecision(9);
    top->setLabel("Rho (Ohm.m)");
    top->grid()->setVisible(true);
    top->grid()->setSubGridVisible(true);
    top->grid()->setSubGridPen(QPen(QColor(192, 192, 192), 0, Qt::DotLine));
    left->setRangeReversed(true);
    left->setLabel("report point (m)");
    left->ticker()->setTickCount(6);
    left->grid()->setSubGridVisible(true);
    left->grid()->setSubGridPen(QPen(QColor(128, 128, 128), 0, Qt::DashLine));

    blue_ = chart_->addGraph(top, left);
    blue_->setObjectName("Series1");
    blue_->setLineStyle(QCPGraph::lsNone);
    blue_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(0, 0, 255), 3));
    silver_ = chart_->addGraph(top, left);
    silver_->setObjectName("Series1Silver");
    silver_->setLineStyle(QCPGraph::lsNone);
    silver_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(192, 192, 192), 3));
    flagged_ = chart_->addGraph(top, left);
    flagged_->setObjectName("Series1Flagged");
    flagged_->setName("flagged");
    flagged_->setLineStyle(QCPGraph::lsNone);
    flagged_->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(220, 0, 0), QColor(220, 0, 0), 5));

    box_ = new QCPItemRect(chart_);
    box_->setObjectName("Series2");
    box_->topLeft->setAxes(top, left);
    box_->bottomRight->setAxes(top, left);
    box_->setPen(QPen(QColor(0, 0, 255)));
    box_->setBrush(Qt::NoBrush);
    box_->setVisible(false);

    // The box follows the range before every painting of the series.
    connect(chart_, &QCustomPlot::beforeReplot, this, &DistributionPage::UpdateBox);
    ApplyAxes();
    setEnabled(false); // until the first reset
}

void DistributionPage::ApplyAxes() {
    const AxisRange t = model_.topAxis();
    const AxisRange l = model_.leftAxis();
    // Both ends at once: no intermediate reversed range is ever refused.
    chart_->xAxis2->setRange(QCPRange(t.min, t.max));
    chart_->yAxis->setRange(QCPRange(l.min, l.max));
}

void DistributionPage::ResetDistributionChart() {
    model_.ResetDistributionChart();
    plotted_ = 0;
    blue_->data()->clear();
    silver_->data()->clear();
    flagged_->data()->clear();
    flaggedRevision_ = ~uint64_t{0};
    flaggedUpTo_ = 0;
    box_->setVisible(false);
    ApplyAxes();
    setEnabled(true);
    if (drawRequest_)
        drawRequest_();
    else
        chart_->replot(QCustomPlot::rpQueuedReplot);
}

void DistributionPage::AddDistributionPoints(const Sequence& sequence, const MeasureRecord* records,
                                             int firstIndex, bool showGapFillers, bool repaint,
                                             int count) {
    try {
        model_.AddDistributionPoints(sequence, records, firstIndex, showGapFillers, count);
    } catch (...) {
        // A drawing failure must never stop an acquisition.
        return;
    }
    if (drawRequest_)
        drawRequest_();
    else if (repaint)
        Draw();
}

void DistributionPage::Draw() {
    try {
        const auto& points = model_.points();
        if (plotted_ < points.size()) {
            // The chart keeps its points sorted by resistivity: one sorted
            // merge of all new points, not one sorted insertion each.
            QVector<QCPGraphData> blue;
            QVector<QCPGraphData> silver;
            blue.reserve(int(points.size() - plotted_));
            for (; plotted_ < points.size(); ++plotted_) {
                const DistributionPoint& p = points[plotted_];
                (p.silver ? silver : blue).append(QCPGraphData(p.x, p.y));
            }
            if (!blue.isEmpty())
                blue_->data()->add(blue, false);
            if (!silver.isEmpty())
                silver_->data()->add(silver, false);
        }
        MarkFlagged();
        ApplyAxes();
        UpdateBox();
        chart_->replot(QCustomPlot::rpQueuedReplot);
    } catch (...) {
        // A drawing failure must never stop an acquisition.
    }
}

void DistributionPage::MarkFlagged() {
    const QualityControl* quality = qualitySource_ ? qualitySource_() : nullptr;
    if (!quality)
        return;
    const auto& points = model_.points();
    // Flags change behind points already drawn (a neighbour or reciprocal
    // arrives later): the red points are set again, in one piece, whenever
    // a flag or the point count changed.
    if (quality->revision() == flaggedRevision_ && points.size() == flaggedUpTo_)
        return;
    flaggedRevision_ = quality->revision();
    flaggedUpTo_ = points.size();
    QVector<QCPGraphData> red;
    for (const DistributionPoint& p : points) {
        if (p.label >= 0 && p.label < quality->quadripoleCount() && quality->flags(p.label) != 0)
            red.append(QCPGraphData(p.x, p.y));
    }
    flagged_->data()->set(red, false);
}

void DistributionPage::DrawColorRangeBox() {
    if (drawRequest_) {
        drawRequest_();
        return;
    }
    UpdateBox();
    chart_->replot(QCustomPlot::rpQueuedReplot);
}

void DistributionPage::UpdateBox() {
    const auto box = model_.ColorRangeBox(colorScale_->ChartRange());
    if (!box) {
        box_->setVisible(false);
        return;
    }
    box_->topLeft->setCoords(box->left, box->top);
    box_->bottomRight->setCoords(box->right, box->bottom);
    box_->setVisible(true);
}
