// What an operator sees of a section: framed zoom, thin sections, the use of
// the palette, the orientation of the plan view and the range dialog's
// bounds and units. Drawn off-screen and checked on the pixels.
#include "SyntheticSequence.h"
#include "ui/ContourGraph.h"
#include "ui/RangeDialog.h"
#include "ui/SectionPage.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTabBar>
#include <gtest/gtest.h>

namespace {

QImage Render(QCustomPlot& plot) {
    plot.replot();
    return plot.toPixmap(plot.width(), plot.height(), 1.0).toImage();
}

QRgb Opaque(QRgb c) {
    return c | 0xff000000u;
}

QRgb PixelAt(ContourGraph& graph, const QImage& image, double x, double y) {
    const QPointF p = graph.bands()->coordsToPixels(x, y);
    return Opaque(image.pixel(static_cast<int>(p.x()), static_cast<int>(p.y())));
}

QRgb PaletteRgb(const Palette& palette, int index) {
    return qRgb(palette[index].r, palette[index].g, palette[index].b);
}

Palette DefaultPalette() {
    int lower = kLowerSliderMin, upper = kUpperSliderMax;
    return BuildPalette(lower, upper);
}

// Pixels of the section's rect that are neither white background nor the
// grey of the dotted grid.
int ColouredPixels(ContourGraph& graph, const QImage& image) {
    const QRect r = graph.sectionRect()->rect();
    int count = 0;
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        for (int x = r.left() + 1; x < r.right(); ++x) {
            const QColor c(image.pixel(x, y));
            if (c.saturation() > 60)
                ++count;
        }
    }
    return count;
}

// One row of three nodes at depth -4, copied to a second row at the same
// place: how a section of a single row arrives.
SectionGrid SingleRowGrid(float left, float middle, float right) {
    SectionGrid g;
    g.rows = 2;
    g.columns = 3;
    const float xs[3] = {0, 10, 20};
    const float zs[3] = {left, middle, right};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            g.x.push_back(xs[c]);
            g.y.push_back(-4.0f);
            g.z.push_back(zs[c]);
        }
    }
    return g;
}

void Drag(QWidget& widget, QPoint from, QPoint to) {
    QMouseEvent press(QEvent::MouseButtonPress, from, widget.mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
    QMouseEvent move(QEvent::MouseMove, to, widget.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, widget.mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &release);
}

} // namespace

TEST(SectionZoomTest, FramedZoomNarrowsBothAxesAndUnZoomRestoresThem) {
    ContourGraph graph;
    graph.resize(700, 450);
    graph.SetAxisRanges(0, 40, -10, 0);
    graph.replot();
    QCPAxisRect* section = graph.sectionRect();
    ASSERT_NE(section, graph.legendRect());

    // The legend stands level with the section.
    EXPECT_NEAR(graph.legendRect()->rect().top(), section->rect().top(), 1);
    EXPECT_NEAR(graph.legendRect()->rect().bottom(), section->rect().bottom(), 1);

    const QRect r = section->rect();
    const QPoint from(r.left() + r.width() / 4, r.top() + r.height() / 4);
    const QPoint to(r.left() + r.width() / 2, r.top() + r.height() / 2);
    const double x0 = graph.keyAxis()->pixelToCoord(from.x());
    const double x1 = graph.keyAxis()->pixelToCoord(to.x());
    Drag(graph, from, to);
    const QCPRange x = graph.keyAxis()->range();
    const QCPRange y = graph.valueAxis()->range();
    EXPECT_NEAR(x.lower, std::min(x0, x1), 0.2);
    EXPECT_NEAR(x.upper, std::max(x0, x1), 0.2);
    EXPECT_LT(x.size(), 15);
    EXPECT_LT(y.size(), 4);
    EXPECT_GT(y.lower, -10);
    EXPECT_LT(y.upper, 0);

    graph.UndoZoom();
    EXPECT_DOUBLE_EQ(graph.keyAxis()->range().lower, 0);
    EXPECT_DOUBLE_EQ(graph.keyAxis()->range().upper, 40);
    EXPECT_DOUBLE_EQ(graph.valueAxis()->range().lower, -10);
    EXPECT_DOUBLE_EQ(graph.valueAxis()->range().upper, 0);
}

TEST(SectionBandsTest, LowestAndHighestBandsTakeTheEndsOfThePalette) {
    const Palette palette = DefaultPalette();
    for (const auto& [lo, hi] : {std::pair{100.0, 150.0}, {100.0, 400.0}, {1.0, 10000.0}}) {
        ContourGraph graph;
        graph.resize(600, 400);
        graph.SetAxisRanges(0, 20, -10, 0);
        const ContourScale scale = ComputeContourScale({lo, hi});
        graph.SetContourScale(scale, 1.0f);
        graph.SetSubsetColors(palette);
        // The lowest value over the left quarter, the highest over the right.
        SectionGrid g;
        g.rows = 2;
        g.columns = 4;
        const float xs[4] = {0, 5, 15, 20};
        const float zs[4] = {static_cast<float>(lo), static_cast<float>(lo), static_cast<float>(hi),
                             static_cast<float>(hi)};
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 4; ++c) {
                g.x.push_back(xs[c]);
                g.y.push_back(r == 0 ? 0.0f : -10.0f);
                g.z.push_back(zs[c]);
            }
        }
        graph.SetGrid(g);
        const QImage image = Render(graph);
        EXPECT_EQ(PixelAt(graph, image, 17.5, -5), PaletteRgb(palette, kPaletteSize - 1))
            << lo << ".." << hi;
        EXPECT_EQ(PixelAt(graph, image, 2.5, -5), PaletteRgb(palette, 0)) << lo << ".." << hi;

        // The legend's top box is the last colour, its bottom box the first.
        QCPAxis* axis = graph.legendRect()->axis(QCPAxis::atLeft);
        const int x = graph.legendRect()->rect().center().x();
        const double half = scale.zAxisLine / 2;
        EXPECT_EQ(
            Opaque(image.pixel(x, static_cast<int>(axis->coordToPixel(scale.manualMaxZ - half)))),
            PaletteRgb(palette, kPaletteSize - 1))
            << lo << ".." << hi;
        EXPECT_EQ(
            Opaque(image.pixel(x, static_cast<int>(axis->coordToPixel(scale.manualMinZ + half)))),
            PaletteRgb(palette, 0))
            << lo << ".." << hi;
    }
}

TEST(SectionBandsTest, ASingleRowIsDrawnAsAVisibleStrip) {
    ContourGraph graph;
    graph.resize(600, 400);
    graph.SetAxisRanges(0, 20, -8, 0);
    graph.SetContourScale(ComputeContourScale({10, 60}), 1.0f);
    graph.SetSubsetColors(DefaultPalette());
    graph.SetGrid(SingleRowGrid(12, 30, 58));
    QImage image = Render(graph);
    // The strip lies on the row, with the row's own colours along it: low
    // (blue) on the left, high (red) on the right.
    EXPECT_EQ(PixelAt(graph, image, 10, -4), graph.bands()->ColorOf(30));
    const QColor left(PixelAt(graph, image, 1, -4));
    const QColor right(PixelAt(graph, image, 19, -4));
    EXPECT_GT(left.blue(), left.red());
    EXPECT_GT(right.red(), right.blue());
    EXPECT_EQ(PixelAt(graph, image, 7, -1.5), qRgb(255, 255, 255));
    EXPECT_GT(ColouredPixels(graph, image), 2000);

    // Two rows that really differ are left as they are.
    SectionGrid two = SingleRowGrid(12, 30, 58);
    for (int c = 0; c < 3; ++c)
        two.y[two.Index(1, c)] = -6;
    graph.SetGrid(two);
    image = Render(graph);
    EXPECT_EQ(PixelAt(graph, image, 7, -3.5), qRgb(255, 255, 255));
    EXPECT_NE(PixelAt(graph, image, 7, -5), qRgb(255, 255, 255));

    // One measurement per row (a deep level seen from above), and a lone
    // measurement: strips across the rows, a small square.
    SectionGrid column;
    column.rows = 3;
    column.columns = 1;
    column.x = {7, 7, 7};
    column.y = {-1, -4, -7};
    column.z = {12, 30, 58};
    graph.SetGrid(column);
    image = Render(graph);
    EXPECT_EQ(PixelAt(graph, image, 7, -4), graph.bands()->ColorOf(30));
    EXPECT_EQ(PixelAt(graph, image, 9, -4), qRgb(255, 255, 255));
    SectionGrid lone = SingleRowGrid(30, 30, 30);
    lone.columns = 1;
    lone.x = {7, 7};
    lone.y = {-4, -4};
    lone.z = {30, 30};
    graph.SetGrid(lone);
    image = Render(graph);
    EXPECT_EQ(PixelAt(graph, image, 7, -4), graph.bands()->ColorOf(30));
}

TEST(SectionBandsTest, PlanViewsOfASingleLineShowTheirValues) {
    ColorScale cs;
    ImagingOptions options;
    SectionPage page(&cs, &options);
    page.graph()->resize(800, 500); // the page is never shown: size the graph itself
    synthetic::Layout l;
    l.electrodes = 24;
    l.channels = 4;
    auto s = synthetic::MakeDipoleDipole(l);
    ASSERT_TRUE(page.BuildSectionGeometry(*s, false));
    auto records = synthetic::MakeRecords(*s, 0, s->quadripoleCount);
    page.PlotSectionData(records.data(), 0, s->quadripoleCount, false, true);

    auto* tabs = page.findChild<QTabBar*>("TabPlane");
    auto* list = page.findChild<QListWidget*>("SectionGroup");
    ASSERT_EQ(tabs->tabText(1), "XY");
    tabs->setCurrentIndex(1);
    ASSERT_GT(list->count(), 3);
    for (int row : {0, list->count() / 2, list->count() - 1}) {
        list->setCurrentRow(row);
        ASSERT_EQ(page.imaging().shownSection(), row);
        ASSERT_EQ(page.graph()->bands()->grid().rows, 2); // a single row, copied
        const QImage image = Render(*page.graph());
        EXPECT_GT(ColouredPixels(*page.graph(), image), 1000)
            << list->item(row)->text().toStdString();
    }
}

TEST(SectionOrientationTest, PlanViewHasYUpwardAndSectionsKeepDepthDownward) {
    ColorScale cs;
    ImagingOptions options;
    SectionPage page(&cs, &options);
    page.graph()->resize(800, 500); // the page is never shown: size the graph itself
    synthetic::Layout l;
    l.lines = 2;
    l.lineGap = 6;
    l.electrodes = 20;
    l.channels = 3;
    auto s = synthetic::MakeDipoleDipole(l);
    ASSERT_TRUE(page.BuildSectionGeometry(*s, false));
    // The far line (y = 6) reads high, the near one (y = 0) low.
    auto records = synthetic::MakeRecords(*s, 0, s->quadripoleCount);
    for (size_t k = 0; k < records.size(); ++k)
        records[k].rho = page.imaging().placements()[k].my > 3 ? 400.0f : 20.0f;
    cs.colorScaleMode = ColorScaleMode::Full;
    page.PlotSectionData(records.data(), 0, s->quadripoleCount, false, true);
    ContourGraph* graph = page.graph();
    EXPECT_FALSE(graph->planView());
    EXPECT_EQ(graph->valueAxis()->label(), "report point  (m)");
    EXPECT_TRUE(graph->keyAxis()->label().startsWith("mid point (m)"));
    // Section: the shallow report points above the deep ones.
    Render(*graph); // lays the graph out at its size
    EXPECT_LT(graph->valueAxis()->coordToPixel(-0.5), graph->valueAxis()->coordToPixel(-2));

    page.findChild<QTabBar*>("TabPlane")->setCurrentIndex(1);
    ASSERT_EQ(page.imaging().shownPlane(), static_cast<int>(Plane::XY));
    EXPECT_TRUE(graph->planView());
    EXPECT_EQ(graph->valueAxis()->label(), "y (m)");
    EXPECT_EQ(graph->keyAxis()->label(), "x (m)     (Ohm.m)");
    const QImage image = Render(*graph);
    const QRect r = graph->sectionRect()->rect();
    const QPointF centre = graph->bands()->coordsToPixels(9, -3);
    const int x = static_cast<int>(centre.x());
    // +y upward: the far line at the top in its high colour, the near line
    // at the bottom in its low one.
    EXPECT_EQ(Opaque(image.pixel(x, r.top() + 5)), graph->bands()->ColorOf(400));
    EXPECT_EQ(Opaque(image.pixel(x, r.bottom() - 5)), graph->bands()->ColorOf(20));
    // Full screen keeps the orientation.
    QWidget* full = graph->Maximize();
    auto* copy = full->findChild<ContourGraph*>("PESGraph1FullScreen");
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->planView());
    EXPECT_TRUE(copy->valueAxis()->rangeReversed());
    full->close();

    // Back to the section: depth downward again.
    page.findChild<QTabBar*>("TabPlane")->setCurrentIndex(0);
    EXPECT_FALSE(graph->planView());
    EXPECT_FALSE(graph->valueAxis()->rangeReversed());
    EXPECT_EQ(graph->valueAxis()->label(), "report point  (m)");
}

TEST(RangeDialogUnitsTest, BoundsAreShownTypedAndConvertedInTheDisplayUnit) {
    ColorScale cs;
    auto add = [&](float v) {
        cs.AddDistributionValue(v);
        cs.rhoMin = std::min(cs.rhoMin, v);
        cs.rhoMax = std::max(cs.rhoMax, v);
    };
    for (float v : {1.5f, 2.2f, 3.1f, 4.2f})
        add(v);
    ASSERT_EQ(cs.UnitFactor(), 100.0f);
    RangeDialog dialog(&cs);
    auto* minEdt = dialog.findChild<QLineEdit*>("MinEdt");
    auto* maxEdt = dialog.findChild<QLineEdit*>("MaxEdt");
    auto* minUnit = dialog.findChild<QLabel*>("LabelMinUnit");
    auto* maxUnit = dialog.findChild<QLabel*>("LabelMaxUnit");
    ASSERT_TRUE(minEdt && maxEdt && minUnit && maxUnit);
    EXPECT_EQ(minUnit->text(), "Ohm.cm");
    EXPECT_EQ(maxUnit->text(), "Ohm.cm");

    // Full range in ohm.cm.
    dialog.findChild<QRadioButton*>("FullAutoScaleRB")->click();
    EXPECT_EQ(minEdt->text(), "150");
    EXPECT_EQ(maxEdt->text(), "420");

    // Typed bounds are read in the unit shown beside them.
    dialog.findChild<QRadioButton*>("ManualAutoScaleRB")->click();
    minEdt->setText("200");
    maxEdt->setText("350");
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Manual);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 200);
    EXPECT_NEAR(cs.ChartRange().lo, 2.0, 1e-9); // the chart is in ohm.m
    EXPECT_NEAR(cs.ChartRange().hi, 3.5, 1e-9);
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelOutOfScale")->text(), "2");

    // A large value arrives: the unit becomes ohm.m and the boxes follow it.
    add(40.0f);
    dialog.ComputeColorRange(true);
    EXPECT_EQ(minUnit->text(), "Ohm.m");
    EXPECT_EQ(minEdt->text(), "2");
    EXPECT_EQ(maxEdt->text(), "3.5");
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 2);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 3.5);
    EXPECT_NEAR(cs.ChartRange().lo, 2.0, 1e-9);
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelOutOfScale")->text(), "3");

    // Typed now, the bounds are ohm.m.
    maxEdt->setText("30");
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 30);
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelOutOfScale")->text(), "2");

    // A new acquisition of small values: back to ohm.cm, numbers converted.
    cs.ResetForNewGeometry();
    cs.ResetRunStatistics();
    for (float v : {1.5f, 4.2f})
        add(v);
    dialog.UpdateOutOfScaleCount();
    EXPECT_EQ(maxUnit->text(), "Ohm.cm");
    EXPECT_EQ(minEdt->text(), "200");
    EXPECT_EQ(maxEdt->text(), "3000");
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 3000);
}

TEST(RangeDialogUnitsTest, NoNumbersBeforeTheFirstValue) {
    ColorScale cs;
    RangeDialog dialog(&cs);
    auto* minEdt = dialog.findChild<QLineEdit*>("MinEdt");
    auto* maxEdt = dialog.findChild<QLineEdit*>("MaxEdt");
    dialog.findChild<QRadioButton*>("FullAutoScaleRB")->click();
    EXPECT_EQ(minEdt->text(), "");
    EXPECT_EQ(maxEdt->text(), "");
    dialog.ComputeColorRange(true);
    EXPECT_EQ(minEdt->text(), "");

    dialog.findChild<QRadioButton*>("SmartAutoScaleRB")->click();
    EXPECT_EQ(minEdt->text(), "");
    EXPECT_EQ(maxEdt->text(), "");
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelOutOfScale")->text(), "-");
    // The section still gets a scale to draw with.
    const ContourScale scale = cs.CurrentContourScale();
    EXPECT_LT(scale.manualMinZ, scale.manualMaxZ);

    // The first values bring numbers.
    cs.rhoMin = 20;
    cs.rhoMax = 80;
    cs.AddDistributionValue(20);
    cs.AddDistributionValue(80);
    dialog.ComputeColorRange(true);
    EXPECT_EQ(minEdt->text(), "20");
    EXPECT_EQ(maxEdt->text(), "80");
}
