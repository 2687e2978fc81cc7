#include "SyntheticSequence.h"
#include "ui/ContourGraph.h"
#include "ui/DistributionPage.h"
#include "ui/ProgressPage.h"
#include "ui/RangeDialog.h"
#include "ui/SectionPage.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QRgb Rgb32(const Rgb& c) {
    return qRgb(c.r, c.g, c.b);
}

// A 2 x 3 grid over x 0..20, y 0..-10 with values rising left to right.
SectionGrid SmallGrid(float left, float middle, float right) {
    SectionGrid g;
    g.rows = 2;
    g.columns = 3;
    const float xs[3] = {0, 10, 20};
    const float zs[3] = {left, middle, right};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            g.x.push_back(xs[c]);
            g.y.push_back(r == 0 ? 0.0f : -10.0f);
            g.z.push_back(zs[c]);
        }
    }
    return g;
}

QRgb PixelAt(ContourGraph& graph, const QImage& image, double x, double y) {
    const QPointF p = graph.bands()->coordsToPixels(x, y);
    return image.pixel(static_cast<int>(p.x()), static_cast<int>(p.y())) | 0xff000000u;
}

// The colour the graph gives a value: its band, spread over the palette.
QRgb BandRgb(const Palette& palette, const ContourScale& scale, double value) {
    return Rgb32(palette[BandColorIndex(ContourBand(value, scale), ContourBandCount(scale))]);
}

QImage Render(QCustomPlot& plot) {
    plot.replot();
    return plot.toPixmap(plot.width(), plot.height(), 1.0).toImage();
}

} // namespace

TEST(ContourGraphTest, BandsAndMarkersAreDrawnWhereTheGridSays) {
    ContourGraph graph;
    graph.resize(600, 400);
    graph.SetAxisRanges(0, 20, -10, 0);
    const ContourScale five{10, 60, 10};
    graph.SetContourScale(five, 1.0f);
    graph.SetGrid(SmallGrid(12, 30, 48));
    int lower = 0, upper = 50;
    const Palette palette = BuildPalette(lower, upper);
    graph.SetSubsetColors(palette);
    QImage image = Render(graph);
    // 12 -> band 0 of 5, the first colour; 48 -> band 3; halfway between 12
    // and 30 (21) -> band 1.
    EXPECT_EQ(PixelAt(graph, image, 0.3, -5), Rgb32(palette[0]));
    EXPECT_EQ(PixelAt(graph, image, 19.7, -5), BandRgb(palette, five, 48));
    EXPECT_EQ(PixelAt(graph, image, 5, -5), BandRgb(palette, five, 21));
    EXPECT_NE(BandRgb(palette, five, 21), BandRgb(palette, five, 12));

    // The unit factor multiplies the values: 12 ohm.m shown as 1200 ohm.cm.
    const ContourScale cm{1000, 6000, 100};
    graph.SetContourScale(cm, 100.0f);
    image = Render(graph);
    EXPECT_EQ(PixelAt(graph, image, 0.3, -5), BandRgb(palette, cm, 1200));
    EXPECT_NE(BandRgb(palette, cm, 1200), BandRgb(palette, cm, 1000));

    // Not measured: left empty; measured without value: neutral grey.
    graph.SetContourScale(five, 1.0f);
    graph.SetGrid(SmallGrid(kNotMeasuredValue, 30, kNoValueValue));
    image = Render(graph);
    EXPECT_EQ(PixelAt(graph, image, 0.5, -5), qRgb(255, 255, 255));
    EXPECT_EQ(PixelAt(graph, image, 19.5, -5), ContourBands::NoValueColor());
    EXPECT_EQ(PixelAt(graph, image, 10, -5), BandRgb(palette, five, 30));
}

TEST(ContourGraphTest, LegendShowsOneBoxPerBand) {
    ContourGraph graph;
    graph.resize(600, 400);
    const ContourScale scale = ComputeContourScale({100, 140}); // 40 bands of 1
    graph.SetContourScale(scale, 1.0f);
    int lower = 10, upper = 40;
    const Palette palette = BuildPalette(lower, upper);
    graph.SetSubsetColors(palette);
    const QImage image = Render(graph);
    QCPAxis* axis = graph.legendRect()->axis(QCPAxis::atLeft);
    const int x = graph.legendRect()->rect().center().x();
    for (int band : {0, 9, 20, 39}) {
        const int y = static_cast<int>(axis->coordToPixel(100 + band + 0.5));
        EXPECT_EQ(image.pixel(x, y) | 0xff000000u, BandRgb(palette, scale, 100 + band + 0.5))
            << band;
    }
    EXPECT_DOUBLE_EQ(axis->range().upper, 140);
}

TEST(ContourGraphTest, ExportWritesReadablePngJpegAndPdf) {
    QTemporaryDir dir;
    ContourGraph graph;
    graph.resize(500, 300);
    graph.SetAxisRanges(0, 20, -10, 0);
    graph.SetGrid(SmallGrid(20, 200, 480));
    graph.replot();
    const QString png = dir.filePath("section.png");
    const QString jpg = dir.filePath("section.jpg");
    const QString pdf = dir.filePath("section.pdf");
    ASSERT_TRUE(graph.ExportImage(png));
    ASSERT_TRUE(graph.ExportImage(jpg));
    ASSERT_TRUE(graph.ExportImage(pdf));
    EXPECT_FALSE(graph.ExportImage(dir.filePath("section.xyz")));
    const QImage read(png);
    ASSERT_FALSE(read.isNull());
    EXPECT_EQ(read.width(), 500);
    EXPECT_FALSE(QImage(jpg).isNull());
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_GT(bytes.size(), 2000);
}

TEST(SectionPageTest, BuildListsPlanesAndSectionsAndDrawsTheChoice) {
    ColorScale cs;
    ImagingOptions options;
    SectionPage page(&cs, &options);
    page.resize(900, 600);
    synthetic::Layout l;
    l.lines = 2;
    l.electrodes = 24;
    l.channels = 4;
    auto s = synthetic::MakeDipoleDipole(l);
    bool full = false;
    page.SetProgressFullQuery([&] { return full; });
    ASSERT_TRUE(page.BuildSectionGeometry(*s, false));

    auto* tabs = page.findChild<QTabBar*>("TabPlane");
    auto* list = page.findChild<QListWidget*>("SectionGroup");
    ASSERT_TRUE(tabs && list);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "XZ");
    EXPECT_EQ(tabs->tabText(1), "XY");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "Y 5");
    EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
    EXPECT_FALSE(page.findChild<QGroupBox*>("GroupBox3")->isVisibleTo(&page));
    EXPECT_EQ(page.findChild<QSlider*>("SMin")->value(), 0);
    EXPECT_EQ(page.findChild<QSlider*>("SMax")->value(), 50);
    for (const char* name : {"Panel2", "BitBtn1", "BitBtn2", "BitBtn4", "BitBtn5", "PESGraph1",
                             "BitBtnApplyColorScale", "BitBtnMaximize", "RangeBtn", "BitBtn3"})
        EXPECT_NE(page.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(cs.rhoMin, 9e30f);

    auto records = synthetic::MakeRecords(*s, 0, s->quadripoleCount);
    page.PlotSectionData(records.data(), 0, s->quadripoleCount, false, true);
    EXPECT_EQ(page.imaging().shownSection(), 0);
    EXPECT_GT(page.graph()->bands()->grid().columns, 1);
    EXPECT_LT(cs.rhoMin, cs.rhoMax);

    // During the run a new tab only changes the list.
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(list->item(0)->text().startsWith("Z "));
    EXPECT_EQ(page.imaging().shownPlane(), static_cast<int>(Plane::XZ));
    // After it, the choice is drawn at once.
    full = true;
    list->setCurrentRow(2);
    EXPECT_EQ(list->item(2)->checkState(), Qt::Checked);
    EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(page.imaging().shownPlane(), static_cast<int>(Plane::XY));
    EXPECT_EQ(page.imaging().shownSection(), 2);

    bool asked = false;
    QObject::connect(&page, &SectionPage::rangeRequested, [&] { asked = true; });
    page.findChild<QPushButton*>("BitBtn1")->click();
    EXPECT_TRUE(asked);

    Sequence empty;
    EXPECT_FALSE(page.BuildSectionGeometry(empty, false));
    EXPECT_EQ(tabs->count(), 0);
    EXPECT_EQ(list->count(), 0);
    page.PlotSectionData(records.data(), 0, 4, false, true); // no tab: nothing happens
}

TEST(SectionPageTest, SmallValuesAreShownInOhmCentimetre) {
    ColorScale cs;
    SectionPage page(&cs, nullptr);
    synthetic::Layout l;
    l.electrodes = 16;
    l.channels = 2;
    auto s = synthetic::MakeDipoleDipole(l);
    ASSERT_TRUE(page.BuildSectionGeometry(*s, false));
    auto records = synthetic::MakeRecords(*s, 0, s->quadripoleCount);
    for (size_t k = 0; k < records.size(); ++k)
        records[k].rho = 1.5f + 2.7f * k / (records.size() - 1);
    cs.colorScaleMode = ColorScaleMode::Full;
    page.PlotSectionData(records.data(), 0, s->quadripoleCount, false, true);
    EXPECT_EQ(page.graph()->keyAxis()->label(), "mid point (m)     (Ohm.cm)");
    EXPECT_EQ(page.graph()->bands()->valueFactor(), 100.0f);
    EXPECT_EQ(page.graph()->bands()->scale().manualMinZ, 150);
    EXPECT_EQ(page.graph()->bands()->scale().manualMaxZ, 420);
}

TEST(RangeDialogTest, ReversedManualBoundsAreRefusedAndFallBackToTheFullRange) {
    ColorScale cs;
    for (float v : {12.0f, 20.0f, 35.0f, 80.0f}) {
        cs.AddDistributionValue(v);
        cs.rhoMin = std::min(cs.rhoMin, v);
        cs.rhoMax = std::max(cs.rhoMax, v);
    }
    RangeDialog dialog(&cs);
    EXPECT_EQ(dialog.windowTitle(), "Rho display options");
    auto* manual = dialog.findChild<QRadioButton*>("ManualAutoScaleRB");
    auto* minEdt = dialog.findChild<QLineEdit*>("MinEdt");
    auto* maxEdt = dialog.findChild<QLineEdit*>("MaxEdt");
    auto* ok = dialog.findChild<QPushButton*>("BitBtn1");
    auto* rejected = dialog.findChild<QLabel*>("LabelOutOfScale");
    ASSERT_TRUE(manual && minEdt && maxEdt && ok && rejected);
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Optimized);

    manual->click();
    EXPECT_TRUE(minEdt->isEnabled());
    // Choosing "Manual range:" alone keeps the previous mode.
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Optimized);

    maxEdt->setText("10");
    minEdt->setText("50");
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_EQ(rejected->text(), "-");
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Manual);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 12);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 80);

    minEdt->setText("15");
    maxEdt->setText("50");
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(rejected->text(), "2");
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 15);
    maxEdt->setText("abc");
    EXPECT_FALSE(ok->isEnabled());
}

TEST(RangeDialogTest, OptimizedAndFullChoicesFillTheBounds) {
    ColorScale cs;
    RangeDialog dialog(&cs);
    int stored = 0;
    QObject::connect(&dialog, &RangeDialog::choiceStored, [&] { ++stored; });
    auto* sampled = dialog.findChild<QLabel*>("LabelSampleCount");
    auto* cpu = dialog.findChild<QLabel*>("LabelComputeTime");
    auto* minEdt = dialog.findChild<QLineEdit*>("MinEdt");
    auto* maxEdt = dialog.findChild<QLineEdit*>("MaxEdt");
    cs.sampleLimit = 1000;
    for (int i = 0; i < 30; ++i) {
        const float v = 100.0f + i;
        cs.AddDistributionValue(v);
        cs.rhoMin = std::min(cs.rhoMin, v);
        cs.rhoMax = std::max(cs.rhoMax, v);
    }
    dialog.ComputeColorRange(true);
    EXPECT_EQ(sampled->text(), "30");
    EXPECT_TRUE(cpu->text().endsWith(" ms"));
    EXPECT_EQ(minEdt->text().toDouble(), cs.optimizedMin);
    EXPECT_GT(stored, 0);

    // Fewer than 16 values: full range, "-" for the time, sample count kept.
    cs.ResetRunStatistics();
    for (int i = 0; i < 15; ++i)
        cs.AddDistributionValue(100.0f + i);
    dialog.ComputeColorRange(true);
    EXPECT_EQ(cpu->text(), "-");
    EXPECT_EQ(sampled->text(), "30");
    EXPECT_EQ(minEdt->text(), "100");
    EXPECT_EQ(maxEdt->text(), "129");

    dialog.findChild<QRadioButton*>("FullAutoScaleRB")->click();
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Full);
    EXPECT_FALSE(minEdt->isEnabled());
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelOutOfScale")->text(), "-");
    dialog.AdjustSampleLimit(300);
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelAvailableTime")->text(), "300 ms");
}

TEST(DistributionPageTest, PointsAxesAndRangeBox) {
    ColorScale cs;
    DistributionPage page(&cs);
    page.resize(600, 400);
    EXPECT_FALSE(page.isEnabled());
    synthetic::Layout l;
    l.electrodes = 20;
    l.channels = 3;
    auto s = synthetic::MakeDipoleDipole(l);
    page.ResetDistributionChart();
    EXPECT_TRUE(page.isEnabled());
    auto records = synthetic::MakeRecords(*s, 0, 12);
    records[3].rho = -1;
    for (const MeasureRecord& r : records) {
        cs.rhoMin = std::min(cs.rhoMin, r.rho);
        cs.rhoMax = std::max(cs.rhoMax, r.rho);
    }
    cs.colorScaleMode = ColorScaleMode::Full;
    page.AddDistributionPoints(*s, records.data(), 0, false, true, 12);
    EXPECT_TRUE(page.chart()->yAxis->rangeReversed());
    EXPECT_EQ(page.chart()->xAxis2->scaleType(), QCPAxis::stLogarithmic);
    EXPECT_DOUBLE_EQ(page.chart()->xAxis2->range().lower, page.model().topAxis().min);
    EXPECT_EQ(page.chart()->graph(0)->dataCount() + page.chart()->graph(1)->dataCount(), 12);
    EXPECT_EQ(page.chart()->graph(1)->dataCount(), 1);
    page.DrawColorRangeBox();
    EXPECT_TRUE(page.rangeBox()->visible());
    EXPECT_DOUBLE_EQ(page.rangeBox()->bottomRight->coords().x(), cs.ChartRange().hi);
}

TEST(ProgressPageTest, PolePoleSequenceWithoutRemoteElectrodes) {
    ImagingOptions options;
    ProgressPage page(&options);
    auto s = synthetic::MakePolePole(12);
    page.SetupProgressView(*s, 0, 14);
    page.MarkCurrentQuadripoles(3, 0);
    EXPECT_TRUE(page.model().electrodePoints()[13].IsNull());
    page.resize(500, 400);
    page.show();
    ASSERT_NE(page.view(), nullptr); // made when first shown
    const QImage image = page.RenderImage(QSize(400, 300));
    EXPECT_FALSE(image.isNull());
    // The remote electrode is not drawn; the others are.
    const auto counts = page.view()->DrawnCounts();
    EXPECT_EQ(counts[size_t(ProgressState::ElectrodeIdle)] +
                  counts[size_t(ProgressState::ElectrodeCurrent)] +
                  counts[size_t(ProgressState::ElectrodePotential)],
              12);
    options.movingArrayMode = true;
    const uint64_t rev = page.model().revision();
    page.MarkCurrentQuadripoles(3, 3);
    EXPECT_EQ(page.model().revision(), rev);
}

// Pictures of every page with the benchmark sequence, for a person to look
// at: written only when PYLORIX_SCREENSHOT_DIR names a folder.
TEST(ScreenshotTest, EveryPageWithARealisticSequence) {
    const QString out = qEnvironmentVariable("PYLORIX_SCREENSHOT_DIR");
    if (out.isEmpty())
        GTEST_SKIP() << "PYLORIX_SCREENSHOT_DIR not set";
    QDir().mkpath(out);
    auto s = synthetic::MakeLargeSequence();
    const int total = s->quadripoleCount;
    const int measured = total * 3 / 4;
    auto records = synthetic::MakeRecords(*s, 0, total);
    records[40].rho = 9000; // an outlier the optimized range leaves out
    records[41].rho = 0.5f;
    ColorScale cs;
    ImagingOptions options;
    RangeDialog range(&cs);
    SectionPage section(&cs, &options);
    DistributionPage distribution(&cs);
    ProgressPage progress(&options);
    QObject::connect(&range, &RangeDialog::choiceStored, &section, &SectionPage::UpdateColorScale);
    QObject::connect(&range, &RangeDialog::colorRangeBoxRequested, &distribution,
                     &DistributionPage::DrawColorRangeBox);
    section.BuildSectionGeometry(*s, false);
    progress.SetupProgressView(*s, 1, s->nodeCount);
    distribution.ResetDistributionChart();
    range.ResetRunStatistics();
    cs.sampleLimit = 2000;
    for (int first = 0; first < measured; first += 10) {
        for (int k = 0; k < 10; ++k)
            cs.AddDistributionValue(records[first + k].rho);
        progress.MarkCurrentQuadripoles(10, first);
        section.PlotSectionData(&records[first], first, 10, false, true);
        distribution.AddDistributionPoints(*s, &records[first], first, false, false, 10);
        range.ComputeColorRange(true);
    }
    distribution.AddDistributionPoints(*s, nullptr, 0, false, true, 0);
    for (QWidget* w : std::initializer_list<QWidget*>{&section, &distribution, &progress}) {
        w->resize(1100, 650);
        w->show();
    }
    range.show();
    QCoreApplication::processEvents();
    section.grab().save(out + "/section.png");
    distribution.grab().save(out + "/distribution.png");
    range.grab().save(out + "/range.png");
    progress.RenderImage(QSize(1100, 650)).save(out + "/progress.png");
    // The plan view of the first level.
    section.findChild<QTabBar*>("TabPlane")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    section.grab().save(out + "/section-xy.png");
    section.graph()->SetAnnotationsVisible(true);
    section.findChild<QTabBar*>("TabPlane")->setCurrentIndex(0);
    section.findChild<QListWidget*>("SectionGroup")->setCurrentRow(3);
    QCoreApplication::processEvents();
    section.grab().save(out + "/section-points.png");
}
