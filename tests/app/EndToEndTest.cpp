// The monitor against the instrument emulator over loopback TCP: a short
// acquisition from the Start handshake to "Sequence completed !", the files
// it leaves, and a picture of every page (the live panel and the progress
// view also a third of the way through). Needs a real display (xvfb-run);
// with PYLORIX_SCREENSHOT_DIR set the pictures are kept there.
#include "AppHarness.h"
#include "quality/QualityControl.h"
#include "ui/DistributionPage.h"
#include "ui/LivePanel.h"
#include "ui/ProgressPage.h"
#include "ui/QualityDialog.h"
#include "ui/SectionPage.h"
#include "ui/StatusStrip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtDataVisualization/Q3DScatter>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>
#include <qcustomplot.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The emulator on a free port; the port is its first line of output.
class Emulator {
public:
    explicit Emulator(const QStringList& extra) {
        process_.setProgram(QStringLiteral(VARMEX_EMULATOR_PATH));
        process_.setArguments(QStringList{"--listen", "127.0.0.1:0", "--quiet"} + extra);
        process_.start();
        if (!process_.waitForStarted(10000))
            return;
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < 10000)
            process_.waitForReadyRead(200);
        port_ = QString::fromLatin1(process_.readLine()).trimmed().toInt();
    }
    ~Emulator() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

// The monitor on the emulator's port over TCP/IP, answering prompts itself.
CommandLine EmulatorCommandLine(int port) {
    return ParseCommandLine(
        {"pylorix", "100", "--address", QStringLiteral("127.0.0.1:%1").arg(port), "--yes"});
}

// A window the test starts itself: no keep-awake, no device watch, no
// session timer until the test turns it on.
MainWindowOptions DrivenWindowOptions() {
    MainWindowOptions options;
    options.keepAwake = false;
    options.watchDevices = false;
    options.startSessionTimer = false;
    return options;
}

// Pumps events until the window's first run has ended, or a generous
// limit; the test then checks how it ended.
void WaitForTheRun(MainWindow& w) {
    QElapsedTimer clock;
    clock.start();
    while (w.engine().runsDone < 1 && clock.elapsed() < 90000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

QImage GrabWindow(QWidget& window) {
    QApplication::processEvents();
    QScreen* screen = window.screen();
    const QRect g = window.geometry();
    return screen->grabWindow(0, g.x(), g.y(), g.width(), g.height()).toImage();
}

} // namespace

TEST(MonitorEndToEnd, LiveAcquisitionFromTheEmulator) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    testsupport::TempRoot root;
    Emulator emulator({"--electrodes", "48", "--levels", "10", "--spacing", "2", "--cycle-ms", "5",
                       "--start-delay-ms", "200", "--seed", "7"});
    ASSERT_GT(emulator.port(), 0);

    CommandLine line =
        ParseCommandLine({"pylorix", "100", "--address",
                          QStringLiteral("127.0.0.1:%1").arg(emulator.port()), "--yes"});
    MainWindowOptions options;
    options.keepAwake = false;
    options.watchDevices = false;
    Program program(line, options);
    MainWindow& w = program.mainWindow;
    w.engine().maxRuns = 1; // one acquisition, then the session ends
    w.setWindowState(Qt::WindowNoState);
    w.move(0, 0);
    w.show();

    QString out = qEnvironmentVariable("PYLORIX_SCREENSHOT_DIR");
    QTemporaryDir scratch;
    if (out.isEmpty())
        out = scratch.path();
    QDir().mkpath(out);
    QTabWidget* pages = w.pageControl();

    // Pictures of the live and progress pages halfway through: taken from
    // a timer, which runs while the session pumps events.
    int liveShots = 0;
    QTimer midRun;
    QObject::connect(&midRun, &QTimer::timeout, [&] {
        const SessionEngine& e = w.engine();
        if (liveShots == 2 || e.quadripoleCount == 0 || e.batchesDone < 1 ||
            w.SequenceProgressBar()->Position() * 10 < w.SequenceProgressBar()->Maximum() * 3)
            return;
        pages->setCurrentIndex(liveShots == 0 ? 0 : 1);
        const QImage shot = GrabWindow(w);
        shot.save(out + (liveShots == 0 ? "/acquisition.png" : "/progress.png"));
        ++liveShots;
    });
    midRun.start(100);

    // The session runs inside the timer's event; it returns after the run.
    WaitForTheRun(w);
    ASSERT_EQ(w.engine().runsDone, 1) << "status: " << w.Status();
    EXPECT_EQ(w.engine().lastResult, RunCompleted);
    EXPECT_EQ(w.Status(), "Sequence completed !  ");
    EXPECT_EQ(w.findChild<QWidget*>("StopBtn")->isHidden(), true);

    const int quadripoles = w.engine().quadripoleCount;
    ASSERT_GT(quadripoles, 10);
    EXPECT_EQ(w.SequenceProgressBar()->Position(), w.SequenceProgressBar()->Maximum());
    const fs::path bin(w.engine().binFileName);
    const fs::path heq(w.engine().heqFileName);
    ASSERT_TRUE(fs::exists(bin)) << bin;
    ASSERT_TRUE(fs::exists(heq)) << heq;
    EXPECT_EQ(bin.parent_path(), DataFolder());
    EXPECT_EQ(fs::file_size(bin), 4u + 1 + 1024 + 304u * uint64_t(quadripoles));
    EXPECT_EQ(fs::file_size(heq), 4u + 11 + 136 + 65536 + 320000);

    midRun.stop();
    EXPECT_EQ(liveShots, 2);
    // A picture of every page.
    const char* files[] = {"acquisition-end.png", "progress-end.png", "section.png",
                           "distribution.png"};
    for (int i = 0; i < 4; ++i) {
        pages->setCurrentIndex(i);
        for (int k = 0; k < 10; ++k)
            QApplication::processEvents();
        const QImage shot = GrabWindow(w);
        ASSERT_FALSE(shot.isNull());
        EXPECT_GE(shot.width(), 1000);
        EXPECT_TRUE(shot.save(out + "/" + files[i])) << files[i];
    }
    w.close();
}

// A fast run with the acquisition page shown throughout: the hidden pages
// are not drawn batch by batch, yet each is current as soon as it is shown,
// and the live panel ends on the last batch.
TEST(MonitorEndToEnd, HiddenPagesAreCurrentWhenShownAfterTheRun) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    testsupport::TempRoot root;
    Emulator emulator({"--electrodes", "48", "--levels", "10", "--cycle-ms", "0",
                       "--start-delay-ms", "100", "--seed", "11", "--exit-when-done"});
    ASSERT_GT(emulator.port(), 0);
    Program program(EmulatorCommandLine(emulator.port()), DrivenWindowOptions());
    MainWindow& w = program.mainWindow;
    w.engine().maxRuns = 1;
    w.show();
    BatchInfo last;
    w.batchObserver = [&](const BatchInfo& b) { last = b; };
    w.SetSessionTimerEnabled(true);
    WaitForTheRun(w);
    ASSERT_EQ(w.engine().runsDone, 1) << "status: " << w.Status();
    ASSERT_EQ(w.engine().lastResult, RunCompleted);
    const int quadripoles = w.engine().quadripoleCount;
    ASSERT_GT(last.batchRecords, 0);
    EXPECT_EQ(last.done, quadripoles);

    // The live panel: the first record of the last batch.
    DistributionPage* distribution = w.distributionPage();
    const auto& points = distribution->model().points();
    ASSERT_EQ(int(points.size()), quadripoles);
    const DistributionPoint& first = points[size_t(last.tableIndex)];
    ASSERT_EQ(first.label, last.tableIndex);
    if (!first.silver) {
        EXPECT_EQ(w.findChild<QLabel*>("Rho1Lblx")->text(), FormatMeasured(first.x, 2));
    }
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("Ch%1Lbl").arg(last.batchRecords))->isHidden(),
              false);

    // The distribution chart: nothing drawn while hidden, every point once
    // shown.
    EXPECT_EQ(distribution->plottedCount(), 0u);
    w.pageControl()->setCurrentWidget(distribution);
    EXPECT_EQ(distribution->plottedCount(), points.size());
    EXPECT_EQ(distribution->chart()->graph(0)->dataCount() +
                  distribution->chart()->graph(1)->dataCount(),
              quadripoles);

    // The 3D view: every quadripole measured.
    ProgressPage* progress = w.progressPage();
    w.pageControl()->setCurrentWidget(progress);
    ASSERT_NE(progress->view(), nullptr);
    EXPECT_EQ(progress->view()->DrawnCounts()[size_t(ProgressState::QuadMeasured)], quadripoles);
    w.batchObserver = nullptr;
    w.close();
}

// The live quality checks in the window, against an emulator with a bad
// electrode: the status line names it, the list behind it holds it, the 3D
// view marks it, and the flagged measurements are marked on the section
// and in red on the distribution chart. With PYLORIX_SCREENSHOT_DIR set,
// the pages with their marks are kept as quality-*.png.
TEST(MonitorEndToEnd, QualityMarksFollowABadElectrode) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    testsupport::TempRoot root;
    Emulator emulator({"--electrodes", "48", "--levels", "10", "--spacing", "2", "--cycle-ms", "0",
                       "--start-delay-ms", "100", "--seed", "5", "--bad-electrode", "20",
                       "--exit-when-done"});
    ASSERT_GT(emulator.port(), 0);
    Program program(EmulatorCommandLine(emulator.port()), DrivenWindowOptions());
    MainWindow& w = program.mainWindow;
    w.engine().maxRuns = 1;
    w.setWindowState(Qt::WindowNoState);
    w.move(0, 0);
    w.show();
    w.SetSessionTimerEnabled(true);
    WaitForTheRun(w);
    ASSERT_EQ(w.engine().runsDone, 1) << "status: " << w.Status();
    ASSERT_EQ(w.engine().lastResult, RunCompleted);

    const QualityControl& quality = w.engine().Quality();
    ASSERT_EQ(quality.SuspectElectrodes(), std::vector<int32_t>{20});
    const QString line1 = w.statusStrip()->qcBtn->text();
    EXPECT_TRUE(line1.startsWith("QC: ")) << line1.toStdString();
    EXPECT_TRUE(line1.endsWith("electrode 20 suspect")) << line1.toStdString();

    QualityDialog* list = w.OpenQualityDialog();
    ASSERT_EQ(list->electrodesTable()->rowCount(), 1);
    EXPECT_EQ(list->electrodesTable()->item(0, 0)->text(), "20");
    EXPECT_EQ(list->worstTable()->rowCount(),
              std::min(quality.flaggedCount(), QualityDialog::kWorstShown));
    for (int k = 0; k < kQualityFlagKinds; ++k)
        EXPECT_EQ(list->flagsTable()->item(k, 1)->text().toInt(), quality.KindCount(k));

    QString out = qEnvironmentVariable("PYLORIX_SCREENSHOT_DIR");
    QTemporaryDir scratch;
    if (out.isEmpty())
        out = scratch.path();
    QDir().mkpath(out);
    list->move(w.width() - list->width(), 60);
    for (int k = 0; k < 10; ++k)
        QApplication::processEvents();
    list->grab().save(out + "/quality-list.png");
    list->hide();

    // The 3D view marks the suspect electrode.
    ProgressPage* progress = w.progressPage();
    w.pageControl()->setCurrentWidget(progress);
    EXPECT_EQ(progress->suspectElectrodes(), std::vector<int32_t>{20});
    ASSERT_NE(progress->view(), nullptr);
    EXPECT_EQ(progress->view()->SuspectMarkCount(), 1);

    // The distribution chart: every flagged measurement in red.
    DistributionPage* distribution = w.distributionPage();
    w.pageControl()->setCurrentWidget(distribution);
    int flaggedPoints = 0;
    for (const DistributionPoint& p : distribution->model().points())
        flaggedPoints += quality.flags(p.label) != 0 ? 1 : 0;
    EXPECT_GT(flaggedPoints, 0);
    EXPECT_EQ(distribution->flaggedGraph()->dataCount(), flaggedPoints);

    // The section: a mark over each flagged report point of the section
    // shown.
    SectionPage* section = w.sectionPage();
    w.pageControl()->setCurrentWidget(section);
    const SectionGeometry& geometry = section->imaging();
    ASSERT_GE(geometry.shownPlane(), 0);
    int inSection = 0;
    for (int32_t q :
         geometry.plane(Plane(geometry.shownPlane())).members[size_t(geometry.shownSection())])
        inSection += quality.flags(q) != 0 ? 1 : 0;
    EXPECT_GT(inSection, 0);
    EXPECT_EQ(section->graph()->FlaggedPointCount(), inSection);

    const char* files[] = {"quality-progress.png", "quality-section.png",
                           "quality-distribution.png"};
    QWidget* shown[] = {progress, section, distribution};
    for (int i = 0; i < 3; ++i) {
        w.pageControl()->setCurrentWidget(shown[i]);
        for (int k = 0; k < 10; ++k)
            QApplication::processEvents();
        EXPECT_TRUE(GrabWindow(w).save(out + "/" + files[i])) << files[i];
    }
    w.close();
}
