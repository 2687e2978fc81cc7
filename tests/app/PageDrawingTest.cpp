// When the window's pages draw: a hidden page only marks itself stale and
// is drawn once when shown, the shown page is drawn at once and then at most
// once an interval, nothing is drawn while a recording is read at once, and
// after the last batch every page shows it. Also the pages' own drawing: the
// distribution chart holds every point, the 3D view moves only changed
// points and keeps one item per point, and the view is made when first seen,
// as a graph only where a graphics card draws it.
#include "AppHarness.h"
#include "SyntheticSequence.h"
#include "imaging/ImagingOptions.h"
#include "ui/DistributionPage.h"
#include "ui/LivePanel.h"
#include "ui/ProgressPage.h"
#include "ui/WidgetAdapters.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtDataVisualization/Q3DScatter>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>
#include <qcustomplot.h>

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

namespace {

// Pumps events until `done` or a generous limit; the result is what the
// test checks, never the time taken.
template <typename F> bool PumpUntil(F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct TwoPages {
    QTabWidget tabs;
    QWidget* first = new QWidget;
    QWidget* second = new QWidget;
    int firstDraws = 0;
    int secondDraws = 0;
    PageDrawScheduler schedule{&tabs};
    TwoPages() {
        tabs.addTab(first, "first");
        tabs.addTab(second, "second");
        schedule.Register(first, [this] { ++firstDraws; });
        schedule.Register(second, [this] { ++secondDraws; });
    }
};

} // namespace

TEST(PageDrawing, HiddenPageDrawsOnceWhenShown) {
    TwoPages p;
    for (int batch = 0; batch < 50; ++batch)
        p.schedule.MarkStale(p.second);
    EXPECT_EQ(p.secondDraws, 0);
    EXPECT_TRUE(p.schedule.IsStale(p.second));
    p.tabs.setCurrentWidget(p.second);
    EXPECT_EQ(p.secondDraws, 1);
    EXPECT_FALSE(p.schedule.IsStale(p.second));
    // Shown again with nothing new: not drawn again.
    p.tabs.setCurrentWidget(p.first);
    p.tabs.setCurrentWidget(p.second);
    EXPECT_EQ(p.secondDraws, 1);
    // A page nobody registered changes nothing.
    QWidget stranger;
    p.schedule.MarkStale(&stranger);
    EXPECT_FALSE(p.schedule.IsStale(&stranger));
}

TEST(PageDrawing, ShownPageIsCoalescedAndAlwaysDrawsTheLastChange) {
    TwoPages p;
    p.schedule.MarkStale(p.first);
    EXPECT_EQ(p.firstDraws, 1); // nothing drawn lately: at once
    for (int batch = 0; batch < 30; ++batch)
        p.schedule.MarkStale(p.first);
    EXPECT_EQ(p.firstDraws, 1); // the burst waits for the interval
    ASSERT_TRUE(PumpUntil([&] { return p.firstDraws == 2; }));
    EXPECT_FALSE(p.schedule.IsStale(p.first));
    // A quiet interval adds nothing.
    QApplication::processEvents();
    EXPECT_EQ(p.firstDraws, 2);
    // The end of a run draws what is pending without waiting.
    p.schedule.MarkStale(p.first);
    p.schedule.MarkStale(p.first);
    const int before = p.firstDraws;
    p.schedule.Flush();
    EXPECT_EQ(p.firstDraws, before + 1);
    EXPECT_FALSE(p.schedule.IsStale(p.first));
}

TEST(PageDrawing, NothingIsDrawnWhileHeldAndTheReleaseDrawsTheShownPage) {
    TwoPages p;
    p.schedule.SetHeld(true);
    for (int batch = 0; batch < 20; ++batch) {
        p.schedule.MarkStale(p.first);
        p.schedule.MarkStale(p.second);
    }
    QApplication::processEvents();
    EXPECT_EQ(p.firstDraws, 0);
    EXPECT_EQ(p.secondDraws, 0);
    p.schedule.SetHeld(false);
    EXPECT_EQ(p.firstDraws, 1);
    EXPECT_EQ(p.secondDraws, 0); // still hidden: drawn when shown
    p.tabs.setCurrentWidget(p.second);
    EXPECT_EQ(p.secondDraws, 1);
}

TEST(PageDrawing, LivePanelShowsTheLastBatchOfABurst) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    std::array<MeasureRecord, 20> records{};
    std::array<int16_t, 23> list{};
    // Batches of 10 and 2 records in turn, as a 10-channel sequence ends
    // its groups; the last one has 2.
    for (int batch = 0; batch < 40; ++batch) {
        const int count = batch % 2 == 0 ? 10 : 2;
        for (int k = 0; k < 20; ++k)
            records[size_t(k)].rho = float(batch * 100 + k);
        for (int e = 0; e < 23; ++e)
            list[size_t(e)] = int16_t(batch + e);
        w.ShowLiveValues(records.data(), list.data(), count);
        w.SetQuadripoleText("batch " + std::to_string(batch));
    }
    w.pageDrawing().Flush();
    // The range text belongs to the values shown.
    EXPECT_EQ(w.findChild<QLabel*>("QuadripoleLblx")->text(), "batch 39");
    auto text = [&](const char* name) { return w.findChild<QLabel*>(name)->text(); };
    EXPECT_EQ(text("Rho1Lblx"), FormatFixed(3900, 2));
    EXPECT_EQ(text("Rho2Lblx"), FormatFixed(3901, 2));
    EXPECT_EQ(text("NaLblx"), "39");
    EXPECT_FALSE(w.findChild<QWidget*>("Ch2Lbl")->isHidden());
    EXPECT_TRUE(w.findChild<QWidget*>("Ch3Lbl")->isHidden());
    EXPECT_TRUE(w.findChild<QWidget*>("P4Lbl")->isHidden());

    // Filled while another page is shown: drawn when the panel comes back.
    w.pageControl()->setCurrentWidget(w.distributionPage());
    records[0].rho = 12.5f;
    w.ShowLiveValues(records.data(), list.data(), 10);
    EXPECT_EQ(text("Rho1Lblx"), FormatFixed(3900, 2));
    w.pageControl()->setCurrentWidget(w.livePanel());
    EXPECT_EQ(text("Rho1Lblx"), FormatFixed(12.5, 2));
    EXPECT_FALSE(w.findChild<QWidget*>("Ch10Lbl")->isHidden());
    EXPECT_FALSE(w.findChild<QWidget*>("P11Lbl")->isHidden());
}

TEST(PageDrawing, ReceiveIndicatorEndsOnTheLastState) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    auto* on = w.findChild<QWidget*>("RsOnImg");
    auto* off = w.findChild<QWidget*>("RsOffImg");
    for (int batch = 0; batch < 25; ++batch) {
        w.SetReceiving(false);
        w.SetReceiving(true);
    }
    ASSERT_TRUE(PumpUntil([&] { return !on->isHidden(); }));
    EXPECT_TRUE(off->isHidden());
    w.SetReceiving(false);
    ASSERT_TRUE(PumpUntil([&] { return on->isHidden(); }));
    EXPECT_FALSE(off->isHidden());
}

// The bars follow the position to a thousandth, so that the many small
// steps of a long run leave the bar, and the screen, alone.
TEST(PageDrawing, ProgressBarsMoveOnlyWhenTheirFillWould) {
    QProgressBar bar;
    ProgressBarAdapter adapter(&bar);
    adapter.SetMinimum(0);
    adapter.SetMaximum(16000);
    adapter.SetPosition(8000);
    EXPECT_EQ(adapter.Position(), 8000);
    EXPECT_DOUBLE_EQ(double(bar.value() - bar.minimum()) / (bar.maximum() - bar.minimum()), 0.5);
    int changes = 0;
    QObject::connect(&bar, &QProgressBar::valueChanged, [&] { ++changes; });
    for (int p = 8001; p <= 8015; ++p)
        adapter.SetPosition(p); // less than a thousandth in all
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(adapter.Position(), 8015);
    adapter.SetPosition(16000);
    EXPECT_EQ(bar.value(), bar.maximum());
    // Out of range, and ranges far from zero or empty.
    adapter.SetPosition(-5);
    EXPECT_EQ(adapter.Position(), 0);
    EXPECT_EQ(bar.value(), bar.minimum());
    adapter.SetMaximum(std::numeric_limits<int>::max());
    adapter.SetMinimum(std::numeric_limits<int>::max() - 10);
    adapter.SetPosition(std::numeric_limits<int>::max());
    EXPECT_EQ(bar.value(), bar.maximum());
    adapter.SetMinimum(7);
    adapter.SetMaximum(7);
    EXPECT_EQ(bar.value(), bar.maximum()); // shown full, never spinning
    EXPECT_GT(bar.maximum(), bar.minimum());
}

TEST(DistributionDrawing, ChartHoldsEveryPointSortedAfterARun) {
    ColorScale cs;
    DistributionPage page(&cs);
    int requests = 0;
    page.SetDrawRequest([&] { ++requests; });
    auto s = synthetic::MakeLargeSequence();
    const int total = s->quadripoleCount;
    auto records = synthetic::MakeRecords(*s, 0, total);
    records[7].rho = -3; // silver
    records[8].rho = 0;  // silver
    page.ResetDistributionChart();
    for (int first = 0; first < total; first += 10)
        page.AddDistributionPoints(*s, &records[first], first, false, true, 10);
    // Requested, not drawn: the owner decides when.
    EXPECT_GT(requests, total / 10 - 1);
    EXPECT_EQ(page.plottedCount(), 0u);
    page.Draw();
    const auto* blue = page.chart()->graph(0)->data().data();
    const auto* silver = page.chart()->graph(1)->data().data();
    EXPECT_EQ(size_t(blue->size() + silver->size()), page.model().points().size());
    EXPECT_EQ(silver->size(), 2);
    EXPECT_EQ(page.plottedCount(), page.model().points().size());
    EXPECT_TRUE(
        std::is_sorted(blue->constBegin(), blue->constEnd(),
                       [](const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; }));
    // Drawn again with more points: only the new ones are added.
    auto extra = synthetic::MakeRecords(*s, 0, 10);
    page.AddDistributionPoints(*s, extra.data(), 0, false, true, 10);
    page.Draw();
    EXPECT_EQ(size_t(blue->size() + silver->size()), page.model().points().size());
    // A new run starts empty.
    page.ResetDistributionChart();
    page.Draw();
    EXPECT_EQ(blue->size() + silver->size(), 0);
}

TEST(ProgressDrawing, ViewChoiceFollowsThePlatformTheRendererAndTheOverride) {
    int asked = 0;
    auto renderer = [&](const char* name) {
        return [&asked, name] {
            ++asked;
            return QString::fromLatin1(name);
        };
    };
    const auto drawn = ProgressViewKind::Drawn;
    const auto graph = ProgressViewKind::Scatter3D;
    // No windows: never a graph, and no driver loaded to find out.
    EXPECT_EQ(ChooseProgressView("offscreen", "opengl", renderer("NVIDIA GeForce")), drawn);
    EXPECT_EQ(ChooseProgressView("minimal", "", renderer("NVIDIA GeForce")), drawn);
    EXPECT_EQ(ChooseProgressView("xcb", "drawn", renderer("NVIDIA GeForce")), drawn);
    EXPECT_EQ(asked, 0);
    // A graphics card draws the graph; a software rasteriser does not.
    EXPECT_EQ(ChooseProgressView("xcb", "", renderer("Mesa Intel(R) UHD Graphics 620")), graph);
    EXPECT_EQ(ChooseProgressView("windows", "", renderer("AMD Radeon(TM) Graphics")), graph);
    EXPECT_EQ(ChooseProgressView("xcb", "", renderer("llvmpipe (LLVM 15.0.6, 256 bits)")), drawn);
    EXPECT_EQ(ChooseProgressView("windows", "", renderer("GDI Generic")), drawn);
    EXPECT_EQ(ChooseProgressView("xcb", "", renderer("")), drawn); // no OpenGL
    // Asked for, the graph is made even in software, but not without OpenGL.
    EXPECT_EQ(ChooseProgressView("xcb", " OpenGL ", renderer("llvmpipe")), graph);
    EXPECT_EQ(ChooseProgressView("xcb", "opengl", renderer("")), drawn);
    for (const char* name : {"Microsoft Basic Render Driver", "SwiftShader Device (Subzero)",
                             "softpipe", "Software Rasterizer"})
        EXPECT_TRUE(IsSoftwareRenderer(name)) << name;
    for (const char* name :
         {"Apple M1", "NVIDIA GeForce GTX 1050/PCIe/SSE2", "Mesa DRI Intel(R) HD"})
        EXPECT_FALSE(IsSoftwareRenderer(name)) << name;
}

// The probe program's answers as the window reads them: stand-ins that
// answer, fail, crash or hang, and the real probe.
TEST(ProgressDrawing, TheOpenGLProbeIsAskedInAProcessOfItsOwn) {
#ifndef Q_OS_UNIX
    GTEST_SKIP() << "the stand-ins are shell scripts";
#endif
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto script = [&](const char* name, const char* body) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("#!/bin/sh\n") + body + "\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    };
    EXPECT_EQ(AskOpenGLProbe(script("card", "echo 'Mesa Intel(R) UHD Graphics 620'"), 5000),
              QString("Mesa Intel(R) UHD Graphics 620"));
    // Only the first line counts.
    EXPECT_EQ(AskOpenGLProbe(script("chatty", "echo llvmpipe; echo warning: x"), 5000),
              QString("llvmpipe"));
    // No OpenGL, a crash, a hang: drawn without OpenGL.
    EXPECT_EQ(AskOpenGLProbe(script("none", "exit 1"), 5000), QString());
    EXPECT_EQ(AskOpenGLProbe(script("crash", "kill -SEGV $$"), 5000), QString());
    EXPECT_EQ(AskOpenGLProbe(script("hang", "exec sleep 30"), 300), QString());
    // No program to ask: the caller asks by itself.
    EXPECT_FALSE(AskOpenGLProbe(dir.filePath("missing"), 1000).has_value());
    EXPECT_FALSE(AskOpenGLProbe(QString(), 1000).has_value());

    // The real probe answers with one name, or says there is no OpenGL.
    const auto real = AskOpenGLProbe(PYLORIX_GLPROBE_PROGRAM, 10000);
    ASSERT_TRUE(real.has_value());
    EXPECT_FALSE(real->contains('\n'));
}

TEST(ProgressDrawing, ViewIsMadeWhenThePageIsFirstShownAndShowsTheWholeRun) {
    ImagingOptions options;
    ProgressPage page(&options);
    page.SetDrawRequest([] {});
    auto s = synthetic::MakePolePole(12);
    page.SetupProgressView(*s, 0, 14);
    page.MarkCurrentQuadripoles(3, 0);
    page.Draw(); // hidden: nothing to draw into yet
    EXPECT_EQ(page.view(), nullptr);
    page.MarkCurrentQuadripoles(3, 3);
    page.SetSuspectElectrodes({4});
    page.resize(500, 400);
    page.show();
    ASSERT_NE(page.view(), nullptr);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        EXPECT_EQ(page.viewKind(), ProgressViewKind::Drawn);
    }
    // Everything that happened before is on it.
    const auto counts = page.view()->DrawnCounts();
    EXPECT_EQ(counts[size_t(ProgressState::QuadMeasured)], 3);
    EXPECT_EQ(counts[size_t(ProgressState::QuadMeasuring)], 3);
    EXPECT_EQ(page.view()->SuspectMarkCount(), 1);
    EXPECT_TRUE(page.view()->widget()->isVisible());
}

TEST(ProgressDrawing, GraphMovesChangedPointsAndMatchesTheModel) {
    ImagingOptions options;
    ProgressPage page(&options);
    // The OpenGL graph even where OpenGL is emulated, as under Xvfb.
    qputenv(kProgressViewVariable, "opengl");
    page.EnsureView();
    qunsetenv(kProgressViewVariable);
    if (page.viewKind() != ProgressViewKind::Scatter3D)
        GTEST_SKIP() << "no OpenGL graph on this platform";
    int requests = 0;
    page.SetDrawRequest([&] { ++requests; });
    synthetic::Layout l;
    l.electrodes = 40;
    l.channels = 6;
    auto s = synthetic::MakeDipoleDipole(l);
    s->quadripoles[9].gapFiller = -1;
    page.SetupProgressView(*s, 1, 40);
    page.Draw();

    // Every point once, in the series of its state, at its own place.
    auto check = [&] {
        using Key = std::tuple<int, float, float, float>;
        std::map<Key, int> want;
        std::map<Key, int> got;
        for (const auto* points :
             {&page.model().quadripolePoints(), &page.model().electrodePoints()}) {
            for (const ProgressPoint& p : *points) {
                if (!p.IsNull())
                    ++want[Key(int(p.state), p.x, p.y, p.z)];
            }
        }
        const auto series = page.scatter()->seriesList();
        for (int st = 0; st < int(series.size()); ++st) {
            const QScatterDataProxy* proxy = series[st]->dataProxy();
            for (int k = 0; k < proxy->itemCount(); ++k) {
                const QVector3D v = proxy->itemAt(k)->position();
                ++got[Key(st, v.x(), v.y(), v.z())];
            }
        }
        EXPECT_EQ(got, want);
    };
    check();
    const int total = s->quadripoleCount;
    // Drawn after each block, after a few blocks at once, and at the end.
    for (int first = 0, block = 0; first < total; first += 6, ++block) {
        page.MarkCurrentQuadripoles(6, first);
        if (block % 3 == 0)
            page.Draw();
        if (block == 6)
            check(); // drawn after several blocks at once
    }
    page.Draw();
    check();
    page.ClearCurrentQuadripoles();
    page.Draw();
    check();
    EXPECT_GT(requests, 0);
    // A new run rebuilds the view from its sequence.
    page.SetupProgressView(*s, 1, 40);
    page.Draw();
    check();
}

TEST(ProgressDrawing, PointsInMapOrientationWithPositiveDepth) {
    synthetic::Layout l;
    l.electrodes = 20;
    l.channels = 2;
    l.lines = 2;
    auto s = synthetic::MakeDipoleDipole(l);
    ProgressModel m;
    m.SetupProgressView(*s, 1, s->nodeCount, false);
    for (const ProgressPoint& p : m.quadripolePoints()) {
        EXPECT_GE(p.x, 0.0f);
        EXPECT_GT(p.y, 0.0f); // pseudo-depth below the surface
        EXPECT_GE(p.z, 0.0f);
    }
    // The second line lies at y = lineGap, on the far side of the first.
    EXPECT_FLOAT_EQ(m.manualMaxZ(), l.lineGap);
    EXPECT_FLOAT_EQ(m.manualMinZ(), 0.0f);
}
