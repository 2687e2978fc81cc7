// Speed of the section imaging on the largest sequence the instrument
// holds: 20 parallel lines of 96 electrodes, 10 channels, 16000
// quadripoles.
#include "SyntheticSequence.h"
#include "imaging/ColorScale.h"
#include "imaging/SectionGeometry.h"

#include <benchmark/benchmark.h>

#ifdef PYLORIX_BENCH_GUI
#include "ui/ContourGraph.h"
#include <QApplication>
#endif

#include <memory>
#include <optional>

namespace {

struct LargeRun {
    std::unique_ptr<Sequence> sequence = synthetic::MakeLargeSequence();
    std::vector<MeasureRecord> records =
        synthetic::MakeRecords(*sequence, 0, sequence->quadripoleCount);
};

const LargeRun& Run() {
    static const LargeRun run;
    return run;
}

// The section with the most grid nodes (in one plane, or in any).
std::pair<Plane, int> LargestSection(const SectionGeometry& img,
                                     std::optional<Plane> only = std::nullopt) {
    std::pair<Plane, int> best{Plane::XZ, 0};
    long most = -1;
    for (Plane p : kBuildOrder) {
        if (only && p != *only)
            continue;
        const auto& sections = img.plane(p).sections;
        for (size_t s = 0; s < sections.size(); ++s) {
            const long nodes = static_cast<long>(sections[s].rowCount) * sections[s].columnCount;
            if (nodes > most) {
                most = nodes;
                best = {p, static_cast<int>(s)};
            }
        }
    }
    return best;
}

void BM_BuildSectionGeometry(benchmark::State& state) {
    const LargeRun& run = Run();
    for (auto _ : state) {
        SectionGeometry img;
        benchmark::DoNotOptimize(img.BuildSectionGeometry(*run.sequence, false));
    }
}
BENCHMARK(BM_BuildSectionGeometry)->Unit(benchmark::kMillisecond);

void BM_PlotSectionDataBatchOf20(benchmark::State& state) {
    const LargeRun& run = Run();
    SectionGeometry img;
    img.BuildSectionGeometry(*run.sequence, false);
    const auto [plane, section] = LargestSection(img);
    float lo = 9e30f, hi = -9e30f;
    img.PlotSectionData(nullptr, 0, 0, false, plane, section, lo, hi);
    int first = 0;
    for (auto _ : state) {
        auto out =
            img.PlotSectionData(&run.records[first], first, 20, false, plane, section, lo, hi);
        benchmark::DoNotOptimize(out);
        first = (first + 20) % (run.sequence->quadripoleCount - 20);
    }
}
BENCHMARK(BM_PlotSectionDataBatchOf20)->Unit(benchmark::kMicrosecond);

void BM_ComputeColorRange16000(benchmark::State& state) {
    const LargeRun& run = Run();
    ColorScale cs;
    for (const MeasureRecord& r : run.records) {
        cs.AddDistributionValue(r.rho);
        cs.rhoMin = std::min(cs.rhoMin, r.rho);
        cs.rhoMax = std::max(cs.rhoMax, r.rho);
    }
    cs.sampleLimit = 16000;
    for (auto _ : state)
        benchmark::DoNotOptimize(cs.ComputeOptimizedRange(true));
}
BENCHMARK(BM_ComputeColorRange16000)->Unit(benchmark::kMillisecond);

void BM_PairSumDirect2000(benchmark::State& state) {
    std::vector<float> p(2000);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = 1.0f + static_cast<float>((i * 7919) % 2000) / 1000.0f;
    for (auto _ : state)
        benchmark::DoNotOptimize(PairAbsSumDirect(p.data(), p.size(), false));
}
BENCHMARK(BM_PairSumDirect2000)->Unit(benchmark::kMillisecond);

#ifdef PYLORIX_BENCH_GUI
// A full repaint at a common window size: the largest section of all, and
// the largest plan-view level (rows far apart, drawn with +y upward).
void RepaintSection(benchmark::State& state, std::optional<Plane> only) {
    const LargeRun& run = Run();
    SectionGeometry img;
    img.BuildSectionGeometry(*run.sequence, false);
    const auto [plane, section] = LargestSection(img, only);
    float lo = 9e30f, hi = -9e30f;
    img.PlotSectionData(run.records.data(), 0, run.sequence->quadripoleCount, false, plane, section,
                        lo, hi);
    ContourGraph graph;
    graph.resize(1000, 650);
    graph.SetPlanView(plane == Plane::XY);
    graph.SetGrid(img.grid());
    const PlaneBounds& b = img.plane(plane).bounds;
    graph.SetAxisRanges(b.minH, b.maxH, -b.maxV, -b.minV);
    graph.SetContourScale(ComputeContourScale({lo, hi}), 1.0f);
    state.counters["nodes"] = img.grid().rows * img.grid().columns;
    for (auto _ : state) {
        QPixmap pixmap = graph.toPixmap(1000, 650);
        benchmark::DoNotOptimize(pixmap);
    }
}
void BM_RepaintLargestSection(benchmark::State& state) {
    RepaintSection(state, std::nullopt);
}
BENCHMARK(BM_RepaintLargestSection)->Unit(benchmark::kMillisecond);

void BM_RepaintLargestPlanLevel(benchmark::State& state) {
    RepaintSection(state, Plane::XY);
}
BENCHMARK(BM_RepaintLargestPlanLevel)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef PYLORIX_BENCH_GUI
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
