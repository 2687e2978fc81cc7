#pragma once
// Reproducible random numbers. The engine's output is fixed by the C++
// standard, but the standard distributions are not, so the few shapes the
// emulator needs are computed here: a run with the same --seed produces the
// same bytes with any standard library.
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

namespace varmexemu {

class EmuRandom {
public:
    // stream separates independent uses of one seed (values, faults, ...),
    // so that switching a fault on does not change the measured values.
    explicit EmuRandom(uint64_t seed, uint64_t stream = 0) : engine_(mix(seed, stream)) {}

    // Uniform in [0, 1).
    double uniform() { return double(engine_() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform integer in [lo, hi].
    int uniformInt(int lo, int hi) {
        if (hi <= lo)
            return lo;
        const uint64_t span = uint64_t(int64_t(hi) - int64_t(lo)) + 1;
        return int(int64_t(lo) + int64_t(engine_() % span));
    }
    bool chance(double p) { return p > 0.0 && uniform() < p; }
    // Standard normal (Box-Muller).
    double normal() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u1 = uniform();
        while (u1 <= 1e-300)
            u1 = uniform();
        const double u2 = uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2.0 * std::numbers::pi * u2);
        haveSpare_ = true;
        return r * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    static uint64_t mix(uint64_t seed, uint64_t stream) {
        // splitmix64 of the pair, so that neighbouring seeds give unrelated streams
        uint64_t z = seed + 0x9E3779B97F4A7C15ull * (stream + 1);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::mt19937_64 engine_;
    double spare_ = 0.0;
    bool haveSpare_ = false;
};

} // namespace varmexemu
