#include "ui/ContourGraph.h"

#include <QContextMenuEvent>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

enum class NodeKind { Real, NotMeasured, NoValue };

NodeKind KindOf(float v) {
    if (v == kNotMeasuredValue)
        return NodeKind::NotMeasured;
    if (v == kNoValueValue)
        return NodeKind::NoValue;
    return NodeKind::Real;
}

// The graph plots the negated vertical coordinate so that deeper points lie
// lower; the labels show the coordinate itself.
class NegatedTicker : public QCPAxisTicker {
protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override {
        const double v = tick == 0 ? 0.0 : -tick;
        return QCPAxisTicker::getTickLabel(v, locale, formatChar, precision);
    }
};

struct Vertex {
    double px;
    double py;
    float value;
};

QCPRange SaneRange(double lo, double hi) {
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return QCPRange(0, 1);
    if (hi - lo < 1e-6) {
        const double c = (lo + hi) / 2;
        return QCPRange(c - 0.5, c + 0.5);
    }
    return QCPRange(lo, hi);
}

} // namespace

// --- ContourBands ---------------------------------------------------------

ContourBands::ContourBands(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPAbstractPlottable(keyAxis, valueAxis) {
    int lower = 0, upper = 50;
    palette_ = BuildPalette(lower, upper);
    UpdateBandColors();
    setPen(Qt::NoPen);
    setSelectable(QCP::stNone);
}

void ContourBands::SetGrid(const SectionGrid& grid) {
    grid_ = grid;
}

void ContourBands::SetScale(const ContourScale& scale, float valueFactor) {
    scale_ = scale;
    valueFactor_ = valueFactor > 0 ? valueFactor : 1.0f;
    UpdateBandColors();
}

void ContourBands::SetPalette(const Palette& palette) {
    palette_ = palette;
    UpdateBandColors();
}

void ContourBands::UpdateBandColors() {
    // Looked up once per pixel while drawing, so worked out here once.
    const int count = ContourBandCount(scale_);
    inverseStep_ = 1.0 / scale_.zAxisLine;
    bandColors_.resize(count);
    for (int k = 0; k < count; ++k) {
        const Rgb c = palette_[BandColorIndex(k, count)];
        bandColors_[k] = qRgb(c.r, c.g, c.b);
    }
}

QRgb ContourBands::BandColor(int band) const {
    return bandColors_[std::clamp(band, 0, static_cast<int>(bandColors_.size()) - 1)];
}

int ContourBands::BandOf(float value) const {
    // ContourBand's rule, with the band count already known (it is the
    // size of bandColors_) and a multiplication for the division: this runs
    // once per pixel. Next to a band edge the division decides, so an edge
    // value lands where ContourBand puts it.
    const double offset = static_cast<double>(value) * valueFactor_ - scale_.manualMinZ;
    const double t = offset * inverseStep_;
    double k = std::floor(t);
    if (t - k < 1e-9 || k + 1 - t < 1e-9)
        k = std::floor(offset / scale_.zAxisLine);
    const int last = static_cast<int>(bandColors_.size()) - 1;
    if (!(k >= 0))
        return 0;
    return k >= last ? last : static_cast<int>(k);
}

void ContourBands::FillBandRuns(QRgb* line, int from, int to, double valueAt0,
                                double valueSlope) const {
    // The value is linear along the run: the band changes only where it
    // crosses an edge. One exact lookup starts each stretch; the stretch
    // stops a pixel short of the computed crossing, so the pixel at the
    // crossing is looked up itself.
    const int last = static_cast<int>(bandColors_.size()) - 1;
    const double scaleOf = valueFactor_;
    for (int x = from; x <= to;) {
        const double value = valueAt0 + valueSlope * (x + 0.5);
        const int band = BandOf(static_cast<float>(value));
        int end = to;
        const bool rising = valueSlope > 0;
        const bool falling = valueSlope < 0;
        if ((rising && band < last) || (falling && band > 0)) {
            // The edge the value is heading for, in the grid's own units.
            const int edgeBand = rising ? band + 1 : band;
            const double edge =
                (scale_.manualMinZ + edgeBand * scale_.zAxisLine) / static_cast<double>(scaleOf);
            const double crossing = (edge - valueAt0) / valueSlope - 0.5; // in pixels
            if (crossing < static_cast<double>(to))
                end = std::max(x, static_cast<int>(std::floor(crossing)) - 1);
        }
        std::fill(line + x, line + end + 1, bandColors_[band]);
        x = end + 1;
    }
}

QRgb ContourBands::ColorOf(float value) const {
    return bandColors_[BandOf(value)];
}

double ContourBands::selectTest(const QPointF&, bool, QVariant*) const {
    return -1;
}

QCPRange ContourBands::getKeyRange(bool& foundRange, QCP::SignDomain) const {
    foundRange = false;
    QCPRange r;
    for (size_t i = 0; i < grid_.x.size(); ++i) {
        if (grid_.x[i] == kGridNullValue || grid_.y[i] == kGridNullValue)
            continue;
        r = foundRange ? QCPRange(std::min<double>(r.lower, grid_.x[i]),
                                  std::max<double>(r.upper, grid_.x[i]))
                       : QCPRange(grid_.x[i], grid_.x[i]);
        foundRange = true;
    }
    return r;
}

QCPRange ContourBands::getValueRange(bool& foundRange, QCP::SignDomain, const QCPRange&) const {
    foundRange = false;
    QCPRange r;
    for (size_t i = 0; i < grid_.y.size(); ++i) {
        if (grid_.x[i] == kGridNullValue || grid_.y[i] == kGridNullValue)
            continue;
        r = foundRange ? QCPRange(std::min<double>(r.lower, grid_.y[i]),
                                  std::max<double>(r.upper, grid_.y[i]))
                       : QCPRange(grid_.y[i], grid_.y[i]);
        foundRange = true;
    }
    return r;
}

void ContourBands::draw(QCPPainter* painter) {
    if (grid_.rows < 2 || grid_.columns < 1 || !keyAxis() || !valueAxis())
        return;
    const QRect clip = clipRect();
    if (clip.isEmpty())
        return;
    // Vector output (PDF, printer) gets a finer raster than the screen.
    const double scale = painter->modes().testFlag(QCPPainter::pmVectorized)
                             ? 3.0
                             : std::max(1.0, painter->device()->devicePixelRatioF());
    QImage image(static_cast<int>(std::ceil(clip.width() * scale)),
                 static_cast<int>(std::ceil(clip.height() * scale)), QImage::Format_ARGB32);
    image.fill(0);
    const int w = image.width();
    const int h = image.height();

    // A section of a single column (one measurement per row) has cells of
    // no width: draw it on a copy with every node doubled, the two copies
    // pulled apart on screen below.
    SectionGrid doubled;
    const bool oneColumn = grid_.columns == 1;
    if (oneColumn) {
        doubled.rows = grid_.rows;
        doubled.columns = 2;
        for (int r = 0; r < grid_.rows; ++r) {
            for (int c = 0; c < 2; ++c) {
                doubled.x.push_back(grid_.x[r]);
                doubled.y.push_back(grid_.y[r]);
                doubled.z.push_back(grid_.z[r]);
            }
        }
    }
    const SectionGrid& g = oneColumn ? doubled : grid_;

    std::vector<Vertex> nodes(g.x.size());
    std::vector<char> present(g.x.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        present[i] = g.x[i] != kGridNullValue && g.y[i] != kGridNullValue;
        if (!present[i])
            continue;
        const QPointF p = coordsToPixels(g.x[i], g.y[i]);
        nodes[i] = Vertex{(p.x() - clip.left()) * scale, (p.y() - clip.top()) * scale, g.z[i]};
    }
    // A single row arrives as two identical rows, whose cells have no area
    // either. Pull the copies apart on screen only, so the row shows as a
    // strip centred on its true position (and a single column as a strip
    // across it).
    const double half = std::max(4.0 * scale, 0.04 * std::min(w, h));
    if (g.rows == 2) {
        bool collapsed = true;
        for (int c = 0; c < g.columns && collapsed; ++c) {
            const int i0 = g.Index(0, c);
            const int i1 = g.Index(1, c);
            collapsed = present[i0] == present[i1] &&
                        (!present[i0] || (g.x[i0] == g.x[i1] && g.y[i0] == g.y[i1]));
        }
        if (collapsed) {
            for (int c = 0; c < g.columns; ++c) {
                nodes[g.Index(0, c)].py -= half;
                nodes[g.Index(1, c)].py += half;
            }
        }
    }
    if (oneColumn) {
        for (int r = 0; r < g.rows; ++r) {
            nodes[g.Index(r, 0)].px -= half;
            nodes[g.Index(r, 1)].px += half;
        }
    }

    auto raster = [&](const Vertex& a, const Vertex& b, const Vertex& c) {
        const double area = (b.px - a.px) * (c.py - a.py) - (c.px - a.px) * (b.py - a.py);
        if (std::fabs(area) < 1e-9)
            return;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.px, b.px, c.px}))));
        const int x1 = std::min(w - 1, static_cast<int>(std::ceil(std::max({a.px, b.px, c.px}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.py, b.py, c.py}))));
        const int y1 = std::min(h - 1, static_cast<int>(std::ceil(std::max({a.py, b.py, c.py}))));
        if (x0 > x1 || y0 > y1)
            return;
        const Vertex* v[3] = {&a, &b, &c};
        NodeKind kind[3];
        QRgb corner[3];
        bool allReal = true;
        for (int k = 0; k < 3; ++k) {
            kind[k] = KindOf(v[k]->value);
            allReal = allReal && kind[k] == NodeKind::Real;
            corner[k] = kind[k] == NodeKind::Real      ? ColorOf(v[k]->value)
                        : kind[k] == NodeKind::NoValue ? NoValueColor()
                                                       : 0;
        }
        // A triangle whose corners share a band is that band throughout
        // (values between the corners' stay between their bands): one
        // colour, no per-pixel lookup. Most triangles of a smooth section
        // are such.
        const bool oneBand =
            allReal && BandOf(a.value) == BandOf(b.value) && BandOf(b.value) == BandOf(c.value);
        const double inv = 1.0 / area;
        constexpr double eps = -1e-9;
        for (int y = y0; y <= y1; ++y) {
            const double cy = y + 0.5;
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            // Each weight is linear along the row (p + q x): the pixels
            // inside form one span, found without visiting the others.
            // Pixels within two of its ends are still tested one by one,
            // so the span's rounding never moves an edge.
            const double pa = (b.px * (c.py - cy) - c.px * (b.py - cy)) * inv;
            const double qa = (b.py - c.py) * inv;
            const double pb = (c.px * (a.py - cy) - a.px * (c.py - cy)) * inv;
            const double qb = (c.py - a.py) * inv;
            const double pc = 1.0 - pa - pb;
            const double qc = -qa - qb;
            double lo = x0 + 0.5;
            double hi = x1 + 0.5;
            bool empty = false;
            for (const auto& [p0, q0] : {std::pair{pa, qa}, std::pair{pb, qb}, std::pair{pc, qc}}) {
                if (q0 > 0)
                    lo = std::max(lo, (eps - p0) / q0);
                else if (q0 < 0)
                    hi = std::min(hi, (eps - p0) / q0);
                else if (p0 < eps - 1e-6)
                    empty = true;
            }
            if (empty || !(lo <= hi + 2))
                continue;
            const int sx0 = std::max(x0, static_cast<int>(std::floor(lo - 0.5)) - 2);
            const int sx1 = std::min(x1, static_cast<int>(std::ceil(hi - 0.5)) + 2);
            // The value along the row, for the pixels inside the span.
            const double valueAt0 = pa * a.value + pb * b.value + pc * c.value;
            const double valueSlope = qa * a.value + qb * b.value + qc * c.value;
            const bool runs = (oneBand || allReal) && sx1 - sx0 > 8;
            if (runs && oneBand)
                std::fill(line + sx0 + 4, line + sx1 - 3, corner[0]);
            else if (runs)
                FillBandRuns(line, sx0 + 4, sx1 - 4, valueAt0, valueSlope);
            for (int x = sx0; x <= sx1; ++x) {
                const bool edge = x < sx0 + 4 || x > sx1 - 4;
                if (runs && !edge)
                    continue; // filled above
                const double cx = x + 0.5;
                const double wa = ((b.px - cx) * (c.py - cy) - (c.px - cx) * (b.py - cy)) * inv;
                const double wb = ((c.px - cx) * (a.py - cy) - (a.px - cx) * (c.py - cy)) * inv;
                const double wc = 1.0 - wa - wb;
                if (edge && (wa < eps || wb < eps || wc < eps))
                    continue;
                if (oneBand) {
                    line[x] = corner[0];
                } else if (allReal) {
                    const double value = edge ? wa * a.value + wb * b.value + wc * c.value
                                              : valueAt0 + valueSlope * cx;
                    line[x] = ColorOf(static_cast<float>(value));
                } else {
                    const int nearest = wa >= wb && wa >= wc ? 0 : wb >= wc ? 1 : 2;
                    if (kind[nearest] != NodeKind::NotMeasured)
                        line[x] = corner[nearest];
                }
            }
        }
    };

    for (int r = 0; r + 1 < g.rows; ++r) {
        for (int c = 0; c + 1 < g.columns; ++c) {
            const int i00 = g.Index(r, c);
            const int i01 = g.Index(r, c + 1);
            const int i10 = g.Index(r + 1, c);
            const int i11 = g.Index(r + 1, c + 1);
            if (present[i00] && present[i01] && present[i11])
                raster(nodes[i00], nodes[i01], nodes[i11]);
            if (present[i00] && present[i11] && present[i10])
                raster(nodes[i00], nodes[i11], nodes[i10]);
        }
    }
    painter->drawImage(QRectF(clip), image);
}

void ContourBands::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    const Rgb c = palette_[kPaletteSize / 2];
    painter->fillRect(rect, QColor(c.r, c.g, c.b));
}

// --- BandLegend -----------------------------------------------------------

BandLegend::BandLegend(QCPAxis* keyAxis, QCPAxis* valueAxis, const ContourBands* bands)
    : QCPAbstractPlottable(keyAxis, valueAxis), bands_(bands) {
    setSelectable(QCP::stNone);
}

QCPRange BandLegend::getKeyRange(bool& foundRange, QCP::SignDomain) const {
    foundRange = true;
    return QCPRange(0, 1);
}

QCPRange BandLegend::getValueRange(bool& foundRange, QCP::SignDomain, const QCPRange&) const {
    const ContourScale& s = bands_->scale();
    foundRange = true;
    return QCPRange(s.manualMinZ, s.manualMinZ + ContourBandCount(s) * s.zAxisLine);
}

void BandLegend::draw(QCPPainter* painter) {
    const ContourScale& s = bands_->scale();
    painter->setPen(Qt::NoPen);
    const int count = ContourBandCount(s);
    for (int k = 0; k < count; ++k) {
        const QPointF p0 = coordsToPixels(0, s.manualMinZ + k * s.zAxisLine);
        const QPointF p1 = coordsToPixels(1, s.manualMinZ + (k + 1) * s.zAxisLine);
        painter->fillRect(QRectF(p0, p1).normalized(), QColor(bands_->BandColor(k)));
    }
}

// --- ContourGraph ---------------------------------------------------------

ContourGraph::ContourGraph(QWidget* parent) : QCustomPlot(parent) {
    setObjectName("PESGraph1");
    setBackground(Qt::white);
    setAntialiasedElements(QCP::aeAll);
    setNotAntialiasedElements(QCP::aePlottables); // band borders stay crisp

    // Axes: mid point on top, vertical coordinate to the left, downward.
    xAxis->setVisible(false);
    xAxis->grid()->setVisible(false);
    yAxis2->setVisible(false);
    xAxis2->setVisible(true);
    xAxis2->setTickLabels(true);
    xAxis2->setLabel("mid point (m)");
    yAxis->setLabel("report point  (m)");
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new NegatedTicker));
    const QPen gridPen(QColor(192, 192, 192), 0, Qt::DotLine);
    for (QCPAxis* axis : {xAxis2, yAxis}) {
        axis->grid()->setVisible(true);
        axis->grid()->setPen(gridPen);
        axis->setTickLength(4, 0); // ticks inside
        axis->setSubTickLength(2, 0);
        QFont f = font();
        f.setPointSizeF(std::max(6.0, f.pointSizeF() * 0.85));
        axis->setTickLabelFont(f);
        axis->setLabelFont(f);
    }

    sectionRect_ = axisRect();
    bands_ = new ContourBands(xAxis2, yAxis);
    annotations_ = addGraph(xAxis2, yAxis);
    annotations_->setLineStyle(QCPGraph::lsNone);
    annotations_->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssDisc, Qt::black, Qt::black, 3));
    annotations_->setVisible(false); // report points on request only
    annotations_->setSelectable(QCP::stNone);
    // Measurements the quality checks flagged: always shown, a cross that
    // reads on every band colour.
    flagged_ = addGraph(xAxis2, yAxis);
    flagged_->setName("flagged");
    flagged_->setLineStyle(QCPGraph::lsNone);
    flagged_->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssCross, QPen(Qt::black, 2), Qt::NoBrush, 9));
    flagged_->setSelectable(QCP::stNone);

    // Band legend to the left of the graph.
    legendRect_ = new QCPAxisRect(this, true);
    legendRect_->setupFullAxesBox(false);
    legendRect_->axis(QCPAxis::atBottom)->setVisible(false);
    legendRect_->axis(QCPAxis::atTop)->setVisible(false);
    legendRect_->axis(QCPAxis::atRight)->setVisible(false);
    legendRect_->axis(QCPAxis::atLeft)->grid()->setVisible(false);
    legendRect_->axis(QCPAxis::atBottom)->grid()->setVisible(false);
    legendRect_->axis(QCPAxis::atLeft)->setTickLabelFont(xAxis2->tickLabelFont());
    legendRect_->axis(QCPAxis::atLeft)->setLabelFont(xAxis2->labelFont());
    legendRect_->axis(QCPAxis::atBottom)->setRange(0, 1);
    legendRect_->setMinimumSize(QSize(75, 50));
    legendRect_->setMaximumSize(QSize(75, QWIDGETSIZE_MAX));
    legendRect_->setRangeDrag(Qt::Orientations());
    legendRect_->setRangeZoom(Qt::Orientations());
    plotLayout()->insertColumn(0);
    plotLayout()->addElement(0, 0, legendRect_);
    // The legend's top and bottom follow the section's, so the colour
    // scale stands level with the picture it explains.
    auto* margins = new QCPMarginGroup(this);
    sectionRect_->setMarginGroup(QCP::msTop | QCP::msBottom, margins);
    legendRect_->setMarginGroup(QCP::msTop | QCP::msBottom, margins);
    legend_ = new BandLegend(legendRect_->axis(QCPAxis::atBottom),
                             legendRect_->axis(QCPAxis::atLeft), bands_);

    // Framed zoom and drag act on the axes the section is drawn on (the
    // bottom axis is hidden; mid points run along the top).
    sectionRect_->setRangeZoomAxes(xAxis2, yAxis);
    sectionRect_->setRangeDragAxes(xAxis2, yAxis);
    setSelectionRectMode(QCP::srmZoom);
    selectionRect()->setPen(QPen(Qt::black, 1, Qt::DashLine));

    SetContourScale(ContourScale{10, 500, 10}, 1);
    SetAxisRanges(0, 1, -1, 0);
}

void ContourGraph::SetGrid(const SectionGrid& grid) {
    bands_->SetGrid(grid);
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(static_cast<int>(grid.annotations.size()));
    values.reserve(static_cast<int>(grid.annotations.size()));
    for (const AnnotationPoint& a : grid.annotations) {
        keys.push_back(a.x);
        values.push_back(a.y);
    }
    annotations_->setData(keys, values);
}

void ContourGraph::SetAxisRanges(double minX, double maxX, double minY, double maxY) {
    manualX_ = SaneRange(minX, maxX);
    manualY_ = SaneRange(minY, maxY);
    xAxis2->setRange(manualX_);
    yAxis->setRange(manualY_);
}

void ContourGraph::SetContourScale(const ContourScale& scale, float valueFactor) {
    bands_->SetScale(scale, valueFactor);
    UpdateLegendAxis();
}

void ContourGraph::SetSubsetColors(const Palette& palette) {
    bands_->SetPalette(palette);
}

void ContourGraph::SetXAxisTitle(const QString& title) {
    xAxis2->setLabel(title);
}

void ContourGraph::SetPlanView(bool planView) {
    planView_ = planView;
    // The grid holds the negated vertical coordinate; reversing the axis
    // puts the largest y at the top, as on a map, while sections keep the
    // deepest point at the bottom.
    yAxis->setRangeReversed(planView);
    yAxis->setLabel(planView ? "y (m)" : "report point  (m)");
}

void ContourGraph::SetFlaggedPoints(const std::vector<AnnotationPoint>& points) {
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(qsizetype(points.size()));
    values.reserve(qsizetype(points.size()));
    for (const AnnotationPoint& p : points) {
        keys.push_back(p.x);
        values.push_back(p.y);
    }
    flagged_->setData(keys, values);
}

int ContourGraph::FlaggedPointCount() const {
    return flagged_->dataCount();
}

void ContourGraph::ClearAnnotations() {
    annotations_->data()->clear();
}

void ContourGraph::SetAnnotationsVisible(bool visible) {
    annotations_->setVisible(visible);
    replot(rpQueuedReplot);
}

bool ContourGraph::annotationsVisible() const {
    return annotations_->visible();
}

void ContourGraph::UpdateLegendAxis() {
    const ContourScale& s = bands_->scale();
    const int count = ContourBandCount(s);
    QCPAxis* axis = legendRect_->axis(QCPAxis::atLeft);
    axis->setRange(s.manualMinZ, s.manualMinZ + count * s.zAxisLine);
    // Label the band borders, at most about ten of them.
    const int every = std::max(1, (count + 9) / 10);
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int k = 0; k <= count; k += every) {
        const double v = s.manualMinZ + k * s.zAxisLine;
        ticker->addTick(v, QString::number(v, 'g', 7));
    }
    axis->setTicker(ticker);
    axis->setLabel(bands_->valueFactor() == 1.0f ? "Ohm.m" : "Ohm.cm");
}

void ContourGraph::ReinitAndReset() {
    replot(rpQueuedReplot);
}

void ContourGraph::UndoZoom() {
    xAxis2->setRange(manualX_);
    yAxis->setRange(manualY_);
    replot(rpQueuedReplot);
}

bool ContourGraph::ExportImage(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const int w = std::max(width(), 400);
    const int h = std::max(height(), 300);
    if (suffix == "png")
        return savePng(fileName, w, h);
    if (suffix == "jpg" || suffix == "jpeg")
        return saveJpg(fileName, w, h, 1.0, 92);
    if (suffix == "pdf")
        return savePdf(fileName, w, h);
    return false;
}

void ContourGraph::ExportDialog() {
    QString selected;
    QString name = QFileDialog::getSaveFileName(
        this, "Export", QString(),
        "PNG image (*.png);;JPEG image (*.jpg *.jpeg);;PDF document (*.pdf)", &selected);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += selected.startsWith("JPEG") ? ".jpg" : selected.startsWith("PDF") ? ".pdf" : ".png";
    if (!ExportImage(name))
        QMessageBox::critical(this, "Pylorix", "The picture could not be written to\n" + name);
}

bool ContourGraph::PrintTo(QPrinter& printer) {
    QCPPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const int w = std::max(width(), 400);
    const int h = std::max(height(), 300);
    const double s = std::min(page.width() / w, page.height() / h);
    painter.scale(s, s);
    toPainter(&painter, w, h);
    return painter.end();
}

void ContourGraph::PrintDialog() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!PrintTo(printer))
        QMessageBox::critical(this, "Pylorix", "The pseudo-section could not be printed.");
}

void ContourGraph::CopyFrom(const ContourGraph& other) {
    bands_->SetGrid(other.bands_->grid());
    bands_->SetScale(other.bands_->scale(), other.bands_->valueFactor());
    bands_->SetPalette(other.bands_->palette());
    annotations_->data()->set(*other.annotations_->data());
    annotations_->setVisible(other.annotations_->visible());
    flagged_->data()->set(*other.flagged_->data());
    xAxis2->setLabel(other.xAxis2->label());
    SetPlanView(other.planView_);
    manualX_ = other.manualX_;
    manualY_ = other.manualY_;
    xAxis2->setRange(other.xAxis2->range());
    yAxis->setRange(other.yAxis->range());
    UpdateLegendAxis();
}

QWidget* ContourGraph::Maximize() {
    auto* window = new QDialog(this->window(), Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle("Pylorix");
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* copy = new ContourGraph(window);
    copy->setObjectName("PESGraph1FullScreen");
    copy->CopyFrom(*this);
    layout->addWidget(copy);
    window->showMaximized();
    copy->replot();
    return window;
}

void ContourGraph::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* points = menu.addAction("Show report points");
    points->setCheckable(true);
    points->setChecked(annotationsVisible());
    menu.addSeparator();
    QAction* unzoom = menu.addAction("UnZoom");
    QAction* exportAction = menu.addAction("Export...");
    QAction* print = menu.addAction("Print...");
    QAction* full = menu.addAction("Full Screen");
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == points)
        SetAnnotationsVisible(points->isChecked());
    else if (chosen == unzoom)
        UndoZoom();
    else if (chosen == exportAction)
        ExportDialog();
    else if (chosen == print)
        PrintDialog();
    else if (chosen == full)
        Maximize();
}
