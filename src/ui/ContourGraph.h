#pragma once
// The contour graph of the pseudo-section on QCustomPlot: filled contour
// bands over a curvilinear grid whose nodes carry their own x, y and value,
// a band legend, report-point annotations, framed zoom, export, print and
// full screen.
#include "imaging/ColorScale.h"
#include "imaging/SectionGeometry.h"

#include <qcustomplot.h>

class QPrinter;

// Fills the bands of a row-by-column grid. Each grid cell is split into two
// triangles; inside a triangle the value is interpolated linearly and every
// pixel takes the colour of its band, so band borders are the true
// contours. Nodes whose x or y is the null value are missing: triangles
// touching them are not drawn. A triangle that touches a node not measured
// yet (-9e30) or measured without a value (-8e30) is shared out among its
// corners: the part nearest a not-measured corner stays empty, the part
// nearest a corner without value is drawn in neutral grey, and the part
// nearest a measured corner takes that corner's colour. A section of a
// single row comes as two identical rows; it is drawn as a strip a few
// pixels high around that row, so a line of measurements stays visible;
// a section of a single column likewise as a strip a few pixels wide.
class ContourBands : public QCPAbstractPlottable {
    Q_OBJECT
public:
    ContourBands(QCPAxis* keyAxis, QCPAxis* valueAxis);

    void SetGrid(const SectionGrid& grid);
    void SetScale(const ContourScale& scale, float valueFactor);
    void SetPalette(const Palette& palette);
    const SectionGrid& grid() const { return grid_; }
    const ContourScale& scale() const { return scale_; }
    float valueFactor() const { return valueFactor_; }
    const Palette& palette() const { return palette_; }

    // The colour a value is drawn in (display units already applied), and
    // the colour of band k of the scale.
    QRgb ColorOf(float value) const;
    QRgb BandColor(int band) const;
    // The band a value falls in (display units already applied).
    int BandOf(float value) const;
    // Pixels from..to of a row whose value is valueAt0 + valueSlope (x + 0.5).
    void FillBandRuns(QRgb* line, int from, int to, double valueAt0, double valueSlope) const;

    double selectTest(const QPointF& pos, bool onlySelectable,
                      QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

    static QRgb NoValueColor() { return qRgb(160, 160, 160); }

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    void UpdateBandColors();

    SectionGrid grid_;
    ContourScale scale_{10, 500, 10};
    float valueFactor_ = 1;
    double inverseStep_ = 0.1;
    Palette palette_{};
    std::vector<QRgb> bandColors_; // one per band of the scale
};

// The band legend: one box per band, labelled at the band borders.
class BandLegend : public QCPAbstractPlottable {
    Q_OBJECT
public:
    BandLegend(QCPAxis* keyAxis, QCPAxis* valueAxis, const ContourBands* bands);
    double selectTest(const QPointF&, bool, QVariant* = nullptr) const override { return -1; }
    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain = QCP::sdBoth,
                           const QCPRange& = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

private:
    const ContourBands* bands_;
};

class ContourGraph : public QCustomPlot {
    Q_OBJECT
public:
    explicit ContourGraph(QWidget* parent = nullptr);

    // Grid size, node positions and values, and the report-point
    // annotations of the section.
    void SetGrid(const SectionGrid& grid);
    // Manual axis ranges (x: mid point; y: negated vertical coordinate).
    void SetAxisRanges(double minX, double maxX, double minY, double maxY);
    void SetContourScale(const ContourScale& scale, float valueFactor);
    void SetSubsetColors(const Palette& palette);
    void SetXAxisTitle(const QString& title);
    // Plan view (a depth level seen from above): +y upward, titled as map
    // coordinates. Otherwise a section: depth downward, the report point.
    void SetPlanView(bool planView);
    bool planView() const { return planView_; }
    void ClearAnnotations();
    // Marks over the report points of flagged measurements (graph
    // coordinates, as the grid's annotations).
    void SetFlaggedPoints(const std::vector<AnnotationPoint>& points);
    int FlaggedPointCount() const;
    void SetAnnotationsVisible(bool visible);
    bool annotationsVisible() const;

    // Actions.
    void ReinitAndReset();
    void UndoZoom();
    bool ExportImage(const QString& fileName);
    void ExportDialog();
    bool PrintTo(QPrinter& printer);
    void PrintDialog();
    // Opens a maximised window showing a copy of the graph; returns it.
    QWidget* Maximize();

    ContourBands* bands() const { return bands_; }
    QCPAxisRect* sectionRect() const { return sectionRect_; }
    QCPAxisRect* legendRect() const { return legendRect_; }
    QCPGraph* annotations() const { return annotations_; }
    QCPAxis* keyAxis() const { return xAxis2; }
    QCPAxis* valueAxis() const { return yAxis; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CopyFrom(const ContourGraph& other);
    void UpdateLegendAxis();

    ContourBands* bands_ = nullptr;
    BandLegend* legend_ = nullptr;
    // The section's own axis rect: once the legend column is inserted,
    // axisRect() names the legend's, not this one.
    QCPAxisRect* sectionRect_ = nullptr;
    QCPAxisRect* legendRect_ = nullptr;
    QCPGraph* annotations_ = nullptr;
    QCPGraph* flagged_ = nullptr;
    QCPRange manualX_{0, 1};
    QCPRange manualY_{-1, 0};
    bool planView_ = false;
};
