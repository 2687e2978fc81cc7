// The whole monitor window against the emulator: a 16 000-quadripole-class,
// 10-channel acquisition over loopback TCP into the real MainWindow, once at
// full speed with each page shown and once switching pages, then the
// recording viewed at once ("View file"), then short runs at 200 ms a batch
// to read the window's CPU use. Prints one table: batch completion (median,
// 99th percentile, as the engine measures it), whole run against wire time,
// replay time, CPU and peak resident memory.
//
// Run under a display server (xvfb-run -a bench/window_bench); the 3D page
// needs OpenGL, which the offscreen platform does not give. Options:
// --quick leaves out the paced runs, --memory keeps only the run that visits
// every page and the views (for heaptrack), --paced only the paced runs.
#include "app/CommandLine.h"
#include "app/Program.h"
#include "ui/DistributionPage.h"
#include "ui/LivePanel.h"
#include "ui/ProgressPage.h"
#include "ui/SectionPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double CurrentRssMb() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    long pages = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(f);
    return double(resident) * 4096.0 / (1024.0 * 1024.0);
}

// The median time of 21 calls of `work`, in milliseconds.
template <typename Work> double MedianMs(Work work) {
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Resident memory split as the kernel counts it: anonymous (heaps, driver
// buffers), file-backed (library code and data touched) and shared memory.
std::string RssSplit() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return "";
    std::string out;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        long kb = 0;
        char name[64];
        if (std::sscanf(line, "%63[^:]: %ld kB", name, &kb) == 2 &&
            (std::string(name) == "RssAnon" || std::string(name) == "RssFile" ||
             std::string(name) == "RssShmem")) {
            out.append(" ").append(name).append(" ");
            out.append(std::to_string(kb / 1024)).append(" MB");
        }
    }
    std::fclose(f);
    return out;
}

// With PYLORIX_BENCH_SMAPS=FILE, the mappings are copied there for a
// closer look at what is resident.
void DumpMappings() {
    const QByteArray target = qgetenv("PYLORIX_BENCH_SMAPS");
    if (target.isEmpty())
        return;
    std::FILE* in = std::fopen("/proc/self/smaps", "r");
    std::FILE* out = std::fopen(target.constData(), "w");
    char buffer[4096];
    size_t n = 0;
    while (in && out && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        std::fwrite(buffer, 1, n, out);
    if (in)
        std::fclose(in);
    if (out)
        std::fclose(out);
}

// 7 profiles of 101 electrodes, 8 levels: 15 895 quadripoles, as near the
// instrument's 16 000 as the emulator's layouts come.
constexpr int kElectrodes = 101;
// The same layout with about a quarter of the quadripoles, for how the run
// time grows with the data.
constexpr int kQuarterElectrodes = 35;
// Batches over which a paced run's CPU is read: 20 s, long enough for the
// figure to settle.
constexpr int kPacedBatches = 100;

struct RunFigures {
    std::string label;
    int batches = 0;
    int64_t quadripoles = 0;
    double median = 0;
    double p99 = 0;
    double wallS = 0;
    double wireS = 0;
    double cpuPercent = -1;      // paced runs only
    double startCpuPercent = -1; // while waiting for Start
    bool completed = false;
};

struct Emulator {
    QProcess process;
    std::string port;
    bool Start(const QStringList& extra, int electrodes) {
        QStringList args{
            "--listen",         "127.0.0.1:0", "--electrodes", QString::number(electrodes),
            "--lines",          "7",           "--levels",     "8",
            "--channels",       "10",          "--seed",       "3",
            "--exit-when-done", "--quiet"};
        args << extra;
        process.start(PYLORIX_EMULATOR, args);
        if (!process.waitForStarted(10000) || !process.waitForReadyRead(10000))
            return false;
        port = process.readLine().trimmed().toStdString();
        return !port.empty();
    }
    ~Emulator() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

class Bench {
public:
    explicit Bench(Program& program) : program_(program), w_(program.mainWindow) {}

    // One acquisition. page: the page shown throughout, or null to switch
    // pages every 40 batches. pacedBatches > 0: the emulator takes 200 ms a
    // batch and the run is stopped after that many batches; CPU is read
    // over them.
    RunFigures Run(const std::string& label, QWidget* page, int pacedBatches = 0,
                   int electrodes = kElectrodes) {
        RunFigures f;
        f.label = label;
        Emulator emulator;
        QStringList extra{"--start-delay-ms", pacedBatches > 0 ? "3000" : "100"};
        extra << "--cycle-ms" << (pacedBatches > 0 ? "200" : "0");
        if (!emulator.Start(extra, electrodes)) {
            std::fprintf(stderr, "window_bench: the emulator did not start\n");
            return f;
        }
        w_.settings().connectionCode = 100;
        w_.settings().ipAddress = "127.0.0.1:" + emulator.port;
        QTabWidget* pages = w_.pageControl();
        const std::vector<QWidget*> cycle{w_.livePanel(), w_.progressPage(), w_.sectionPage(),
                                          w_.distributionPage()};
        pages->setCurrentWidget(page ? page : cycle[0]);

        std::vector<double> times;
        int64_t records = 0;
        double cpuAtFirst = 0;
        QElapsedTimer pace;
        w_.batchObserver = [&](const BatchInfo& b) {
            times.push_back(b.completionMs);
            records += b.batchRecords;
            f.quadripoles = b.total;
            const int n = int(times.size());
            if (!page && n % 40 == 0)
                pages->setCurrentWidget(cycle[(n / 40) % cycle.size()]);
            if (pacedBatches > 0) {
                // The first few batches still settle the window: read from
                // the fifth on.
                if (n == 5) {
                    cpuAtFirst = CpuSeconds();
                    pace.start();
                } else if (n == 5 + pacedBatches) {
                    f.cpuPercent =
                        100.0 * (CpuSeconds() - cpuAtFirst) / (double(pace.nsecsElapsed()) / 1e9);
                    w_.engine().RequestStop();
                }
            }
        };
        w_.runObserver = [&](const std::string& bin) { lastBin_ = bin; };

        // CPU while the instrument has not announced Start yet.
        double startCpu0 = 0;
        QElapsedTimer startWall;
        if (pacedBatches > 0) {
            QTimer::singleShot(500, [&] {
                startCpu0 = CpuSeconds();
                startWall.start();
            });
            QTimer::singleShot(2500, [&] {
                f.startCpuPercent =
                    100.0 * (CpuSeconds() - startCpu0) / (double(startWall.nsecsElapsed()) / 1e9);
            });
        }

        w_.engine().maxRuns = 1;
        QElapsedTimer wall;
        wall.start();
        w_.engine().OnSessionTimer();
        // Whatever the window still had to draw of the last batch.
        QApplication::processEvents();
        f.wallS = double(wall.nsecsElapsed()) / 1e9;
        w_.batchObserver = nullptr;
        w_.runObserver = nullptr;
        f.completed = w_.engine().lastResult == RunCompleted;
        f.batches = int(times.size());
        if (!times.empty()) {
            std::sort(times.begin(), times.end());
            f.median = times[times.size() / 2];
            f.p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
        }
        // A wired record is 262 bytes, a batch adds 6; 10 bits per byte.
        f.wireS = (double(records) * 262.0 + double(times.size()) * 6.0) * 10.0 / 273000.0;
        emulator.process.waitForFinished(5000);
        // Progress on standard error: a long run shows where it is.
        std::fprintf(stderr, "window_bench: %s: %d batches, median %.2f ms, p99 %.2f ms\n",
                     label.c_str(), f.batches, f.median, f.p99);
        return f;
    }

    // "View file" of the last full recording with `page` shown: the time
    // until the replay has returned and the page has been drawn.
    double View(QWidget* page) {
        if (lastBin_.empty())
            return -1;
        std::string heq = lastBin_;
        heq.replace(heq.size() - 4, 4, ".heq");
        w_.pageControl()->setCurrentWidget(page);
        QApplication::processEvents();
        QElapsedTimer wall;
        wall.start();
        w_.ViewRecording(heq);
        QApplication::processEvents();
        const double s = double(wall.nsecsElapsed()) / 1e9;
        w_.SetSessionTimerEnabled(false);
        return s;
    }

    std::string lastBin_;

private:
    Program& program_;
    MainWindow& w_;
};

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    qputenv("PYLORIX_ROOT", root.path().toLocal8Bit());
    QApplication app(argc, argv);
    // --quick: no paced runs; --memory: only the run that visits every
    // page and the views (for a heap profiler).
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool quick = mode == "--quick" || mode == "--memory";
    const bool memoryOnly = mode == "--memory";
    const bool pacedOnly = mode == "--paced";

    MainWindowOptions options;
    options.startSessionTimer = false;
    options.keepAwake = false;
    options.watchDevices = false;
    Program program(CommandLine{}, options);
    program.hooks.SetAutoConfirm(true);
    MainWindow& w = program.mainWindow;
    w.show();
    QApplication::processEvents();
    const double startRss = CurrentRssMb();
    const std::string startSplit = RssSplit();

    Bench bench(program);
    struct Page {
        const char* name;
        QWidget* widget;
    };
    const std::vector<Page> pages{{"Acquisition", w.livePanel()},
                                  {"3D progress", w.progressPage()},
                                  {"Section", w.sectionPage()},
                                  {"Distribution", w.distributionPage()}};

    std::vector<RunFigures> runs;
    if (!pacedOnly)
        runs.push_back(bench.Run("pages switched", nullptr));
    const std::string recording = bench.lastBin_;
    // The same with a quarter of the data: run time should grow with it,
    // no faster.
    RunFigures quarter;
    if (!pacedOnly && !memoryOnly)
        quarter = bench.Run("pages switched, quarter data", nullptr, 0, kQuarterElectrodes);
    for (size_t i = 0; i < pages.size() && !memoryOnly && !pacedOnly; ++i)
        runs.push_back(bench.Run(std::string(pages[i].name) + " shown", pages[i].widget));
    const double afterRunsRss = CurrentRssMb();
    const std::string afterSplit = RssSplit();
    DumpMappings();

    // One repaint of the 3D page with every point, as the window does it.
    double repaintMs = -1;
    if (!pacedOnly) {
        w.pageControl()->setCurrentWidget(w.progressPage());
        QApplication::processEvents();
        if (ProgressView* view = w.progressPage()->view()) {
            repaintMs = MedianMs([&] { view->widget()->repaint(); });
        }
    }

    // One drawing of the distribution chart with every point, as the
    // window does it after a batch.
    double chartMs = -1;
    if (!pacedOnly) {
        DistributionPage* chart = w.distributionPage();
        w.pageControl()->setCurrentWidget(chart);
        QApplication::processEvents();
        chartMs = MedianMs([&] {
            chart->Draw();
            QApplication::processEvents();
        });
    }

    std::vector<double> views;
    bench.lastBin_ = recording;
    for (size_t i = 0; i < pages.size() && !pacedOnly; ++i)
        views.push_back(bench.View(pages[i].widget));

    std::vector<RunFigures> paced;
    if (!quick) {
        for (const Page& p : pages)
            paced.push_back(bench.Run(std::string(p.name) + " shown", p.widget, kPacedBatches));
    }

    std::printf("\nwindow_bench: %lld quadripoles, 10 channels, emulator at full speed\n\n",
                static_cast<long long>(runs.empty() ? 0 : runs[0].quadripoles));
    std::printf("| run | batches | completion median (ms) | p99 (ms) | run / wire time | done |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const RunFigures& f : runs)
        std::printf("| %s | %d | %.2f | %.2f | %.3f | %s |\n", f.label.c_str(), f.batches, f.median,
                    f.p99, f.wireS > 0 ? f.wallS / f.wireS : 0.0, f.completed ? "yes" : "NO");
    if (quarter.completed && !runs.empty() && runs[0].completed && quarter.wallS > 0)
        std::printf("\nscaling: %lld -> %lld quadripoles (x%.2f data), run time %.2f -> %.2f s "
                    "(x%.2f)\n",
                    static_cast<long long>(quarter.quadripoles),
                    static_cast<long long>(runs[0].quadripoles),
                    double(runs[0].wireS) / quarter.wireS, quarter.wallS, runs[0].wallS,
                    runs[0].wallS / quarter.wallS);
    if (repaintMs >= 0)
        std::printf("3D page repaint, every point (%s view): %.1f ms\n",
                    w.progressPage()->viewKind() == ProgressViewKind::Drawn ? "painted" : "OpenGL",
                    repaintMs);
    if (chartMs >= 0)
        std::printf("Distribution chart drawn again, every point: %.1f ms\n", chartMs);
    std::printf("\n| View file, page shown | time to drawn page (s) |\n|---|---|\n");
    for (size_t i = 0; i < views.size(); ++i)
        std::printf("| %s | %.2f |\n", pages[i].name, views[i]);
    if (!paced.empty()) {
        std::printf("\n| paced run (200 ms a batch) | CPU (%% of a core) | CPU waiting for Start "
                    "(%%) |\n|---|---|---|\n");
        for (const RunFigures& f : paced)
            std::printf("| %s | %.1f | %.2f |\n", f.label.c_str(), f.cpuPercent, f.startCpuPercent);
    }
    std::printf("\nresident memory: %.0f MB after start, %.0f MB after every page's runs, "
                "peak %.0f MB\n",
                startRss, afterRunsRss, PeakRssMb());
    std::printf("  after start:%s\n  after the runs:%s\n", startSplit.c_str(), afterSplit.c_str());
    return 0;
}
