// End to end: the emulator (no pacing) sends a 16 000-quadripole-class,
// 10-channel sequence over loopback TCP into the engine with the full plain
// display models. Reports the per-batch completion time (median, 99th
// percentile) and the whole acquisition's wall time beside the time the same
// bytes need on the wire at 273 000 baud.
#include "ConsoleView.h"
#include "engine/SessionEngine.h"
#include "link/LinkFactory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

void BM_EndToEndAcquisition(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir root;
        qputenv("PYLORIX_ROOT", root.path().toLocal8Bit());
        QProcess emulator;
        emulator.start(PYLORIX_EMULATOR,
                       {"--listen", "127.0.0.1:0", "--electrodes", "96", "--lines", "7", "--levels",
                        "8", "--channels", "10", "--cycle-ms", "0", "--start-delay-ms", "100",
                        "--exit-when-done", "--seed", "3"});
        if (!emulator.waitForStarted(10000) || !emulator.waitForReadyRead(10000)) {
            state.SkipWithError("the emulator did not start");
            return;
        }
        const std::string port = emulator.readLine().trimmed().toStdString();

        std::FILE* sink = std::fopen("/dev/null", "w");
        ConsoleView view(sink, sink);
        view.yes = true;
        SetUiHooks(&view);
        Settings settings;
        settings.connectionCode = 100;
        settings.ipAddress = "127.0.0.1:" + port;
        SessionEngine engine(view, settings);
        view.engine = &engine;
        engine.maxRuns = 1;
        engine.linkFactory = [](int c) { return CreateLink(c); };

        QElapsedTimer wall;
        wall.start();
        engine.OnSessionTimer();
        const double wallS = double(wall.nsecsElapsed()) / 1e9;
        SetUiHooks(nullptr);
        std::fclose(sink);
        emulator.waitForFinished(5000);

        std::vector<double> times;
        int64_t records = 0;
        for (const BatchInfo& b : view.batches) {
            times.push_back(b.completionMs);
            records += b.batchRecords;
        }
        if (times.empty() || engine.lastResult != RunCompleted) {
            state.SkipWithError("the acquisition did not complete");
            return;
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        const double p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
        // A wired record is 262 bytes, a batch adds 6; 10 bits per byte.
        const double wireBytes = double(records) * 262.0 + double(times.size()) * 6.0;
        state.counters["quadripoles"] = double(engine.quadripoleCount);
        state.counters["batches"] = double(times.size());
        state.counters["batch_median_ms"] = median;
        state.counters["batch_p99_ms"] = p99;
        state.counters["wall_s"] = wallS;
        state.counters["wire_s_at_273000"] = wireBytes * 10.0 / 273000.0;
    }
}
BENCHMARK(BM_EndToEndAcquisition)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
