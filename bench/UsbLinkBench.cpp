// The USB link sending one 528-byte block (SendBlocks: the instrument's
// sync byte echoed, the total, the block with its length and check words)
// through the fake FTDI layer on the real clock, with the chip's 20 ms
// latency: a read or wait that finds nothing received lasts one latency
// period, and written bytes leave at 273000 baud.
//
// BM_UsbBlock/0: the transmit count comes from the clock, as the libftdi
// adapter now answers it. BM_UsbBlock/1: a status query on an empty
// receive queue waits one latency period, as the first adapter did; the
// link asks after every byte, so the block takes about 528 latency periods.
#include "FakeFtdi.h"
#include "link/UsbLink.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

int64_t SteadyMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void BM_UsbBlock(benchmark::State& state) {
    FakeFtdi ftdi;
    ftdi.clockUs = SteadyMicroseconds;
    UsbLink link(&ftdi);
    if (link.Open(99, 273000, "", false, "", 0) != 99) {
        state.SkipWithError("the fake device did not open");
        return;
    }
    link.SetLatency(20);
    ftdi.latencyMs = 20;
    ftdi.statusWaitsForChip = state.range(0) != 0;
    ftdi.logTimeouts = false;

    std::vector<uint8_t> data(528);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 3);
    const size_t afterTotal = 1 + 4;
    const size_t afterBlock = afterTotal + 2 + 2 + data.size() + 2;
    size_t heard = 0;
    ftdi.onWrite = [&](uint8_t) {
        ++heard;
        if (heard == afterTotal)
            ftdi.rx.insert(ftdi.rx.end(), {1, 0});
        else if (heard == afterBlock)
            ftdi.rx.insert(ftdi.rx.end(), {2, 0});
    };

    for (auto _ : state) {
        heard = 0;
        ftdi.rx = {0x00};
        ftdi.idleWaits = 0;
        link.SendBlocks(data.data(), int(data.size()), nullptr, nullptr);
        if (heard != afterBlock + 2) {
            state.SkipWithError("the block did not go through");
            break;
        }
    }
    state.counters["latency_waits"] = double(ftdi.idleWaits);
    link.Close();
}

} // namespace

BENCHMARK(BM_UsbBlock)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_UsbBlock)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
