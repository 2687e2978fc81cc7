// The live quality checks on the largest sequence: the set-up once per
// acquisition, and the cost each batch adds (judging its records, then the
// status line with the suspect electrodes, as the window asks for it).
#include "quality/QualityControl.h"

#include "SyntheticSequence.h"

#include <benchmark/benchmark.h>

namespace {

std::vector<MeasureRecord> FieldRecords(const Sequence& s) {
    auto records = synthetic::MakeRecords(s, 0, s.quadripoleCount);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].q = (i % 97 == 0) ? 9.0f : 0.5f;
        records[i].current = 100.0f;
        records[i].vp = 20.0f;
        // One electrode of every profile has a poor contact.
        const QuadripoleRecord& q = s.quadripoles[i];
        if (q.a % 96 == 17 || q.m % 96 == 17)
            records[i].current = 0.3f;
    }
    return records;
}

void BM_QualityBuild(benchmark::State& state) {
    auto s = synthetic::MakeLargeSequence();
    for (auto _ : state) {
        QualityControl qc;
        qc.Build(*s, {}, false);
        benchmark::DoNotOptimize(qc.quadripoleCount());
    }
}
BENCHMARK(BM_QualityBuild)->Unit(benchmark::kMillisecond);

// Per batch of 10 records, over the whole acquisition: the mean is the
// figure to hold against the window's per-batch budget.
void BM_QualityPerBatch(benchmark::State& state) {
    auto s = synthetic::MakeLargeSequence();
    const auto records = FieldRecords(*s);
    QualityControl qc;
    qc.Build(*s, {}, false);
    int first = 0;
    for (auto _ : state) {
        if (first >= s->quadripoleCount) {
            state.PauseTiming();
            qc.Build(*s, {}, false);
            first = 0;
            state.ResumeTiming();
        }
        const int count = std::min(10, s->quadripoleCount - first);
        qc.AddRecords(records.data() + first, first, count);
        benchmark::DoNotOptimize(qc.SummaryLine());
        first += count;
    }
}
BENCHMARK(BM_QualityPerBatch)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
