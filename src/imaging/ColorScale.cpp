#include "imaging/ColorScale.h"

#include <algorithm>
#include <chrono>
#include <cmath>

float ComputeUnitFactor(float rhoMin, float rhoMax) {
    const double spread = std::fabs(static_cast<double>(rhoMax) - rhoMin);
    if (spread >= 8.0)
        return 1.0f;
    if (std::fabs(rhoMax) >= 10.0f)
        return 1.0f;
    return 100.0f;
}

namespace {

// The smallest of 1, 2, 2.5, 5 x 10^k that is at least `atLeast` (> 0).
double ReadableStep(double atLeast) {
    const double decade = std::pow(10.0, std::floor(std::log10(atLeast)));
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
        if (m * decade >= atLeast * (1 - 1e-12))
            return m * decade;
    }
    return 10 * decade;
}

// Bands of width `step` between the step multiples around [lo, hi].
double BandsOver(double lo, double hi, double step) {
    const double first = std::floor(lo / step);
    const double last = std::max(std::ceil(hi / step), first + 1);
    return last - first;
}

} // namespace

ContourScale ComputeContourScale(ValueRange range) {
    double lo = range.lo;
    double hi = range.hi;
    // Before the first value the full range is reversed (+9e30 .. -9e30):
    // show a window of 50 around its centre rather than a reversed scale.
    if (lo - 50 > hi) {
        hi = (lo + hi) * 0.5 + 25;
        lo = hi - 50;
    }
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return ContourScale{0, 50, 1};
    lo = std::floor(lo);
    hi = std::max(std::ceil(hi), lo);
    double step = ReadableStep(std::max(1.0, (hi - lo) / kMaxContourBands));
    // Widening the ends to step multiples can add a band: then the next
    // readable step.
    while (BandsOver(lo, hi, step) > kMaxContourBands)
        step = ReadableStep(step * (1 + 1e-9));
    ContourScale s;
    s.zAxisLine = step;
    s.manualMinZ = std::floor(lo / step) * step;
    s.manualMaxZ = s.manualMinZ + BandsOver(lo, hi, step) * step;
    return s;
}

int ContourBandCount(const ContourScale& scale) {
    // Ends on step multiples: the quotient is whole up to rounding.
    const double bands = std::ceil((scale.manualMaxZ - scale.manualMinZ) / scale.zAxisLine - 1e-9);
    if (!(bands >= 1))
        return 1;
    return static_cast<int>(std::min<double>(bands, kPaletteSize));
}

int BandColorIndex(int band, int bandCount) {
    if (bandCount <= 1 || band <= 0)
        return 0;
    if (band >= bandCount - 1)
        return kPaletteSize - 1;
    const int last = bandCount - 1;
    return (band * (kPaletteSize - 1) + last / 2) / last;
}

int ContourBand(double value, const ContourScale& scale) {
    const double k = std::floor((value - scale.manualMinZ) / scale.zAxisLine);
    const int last = ContourBandCount(scale) - 1;
    if (!(k >= 0))
        return 0;
    return k >= last ? last : static_cast<int>(k);
}

Palette BuildPalette(int& lower, int& upper) {
    lower = std::clamp(lower, kLowerSliderMin, kLowerSliderMax);
    upper = std::clamp(upper, kUpperSliderMin, kUpperSliderMax);
    if (upper <= lower) {
        lower = std::clamp(upper - 2, kLowerSliderMin, kLowerSliderMax);
        upper = std::clamp(lower + 2, kUpperSliderMin, kUpperSliderMax);
    }
    const int b0 = lower;
    const int b4 = upper;
    const int step = (b4 - b0) / 4;
    const int b1 = b0 + step;
    const int b2 = b1 + step;
    const int b3 = b2 + step;
    Palette palette{};
    auto c = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    // Each branch divides only when its own interval is non-empty, so no
    // divisor can be zero.
    for (int i = 0; i < kPaletteSize; ++i) {
        Rgb& p = palette[i];
        if (i < b0)
            p = {0, 0, c(55 + 150 * i / b0)};
        else if (i < b1)
            p = {0, c(255 * (i - b0) / (b1 - b0)), 255};
        else if (i < b2)
            p = {0, 255, c(255 - 255 * (i - b1) / (b2 - b1))};
        else if (i < b3)
            p = {c(255 * (i - b2) / (b3 - b2)), 255, 0};
        else if (i < b4)
            p = {255, c(255 - 255 * (i - b3) / (b4 - b3)), 0};
        else
            p = {c(255 - 150 * (i - b4) / (51 - b4)), 0, 0};
    }
    return palette;
}

double PairAbsSumDirect(const float* p, size_t n, bool useCompareAbs) {
    double sum = 0;
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = k + 1; j < n; ++j) {
            double d = static_cast<double>(p[j]) - p[k];
            if (useCompareAbs) {
                if (!(d > 0))
                    d = -d;
            } else {
                d = std::fabs(d);
            }
            sum += d;
        }
    }
    return sum;
}

double PairAbsSumSorted(const float* p, size_t n) {
    std::vector<float> q(p, p + n);
    std::sort(q.begin(), q.end());
    // In sorted order q_i is the larger member of i pairs and the smaller of
    // n - 1 - i pairs.
    double sum = 0;
    const double last = static_cast<double>(n) - 1;
    for (size_t i = 0; i < n; ++i)
        sum += static_cast<double>(q[i]) * (2.0 * static_cast<double>(i) - last);
    return sum;
}

bool ChooseCompareAbs(std::string* report) {
    using Clock = std::chrono::steady_clock;
    auto tick = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
            .count();
    };
    auto nextTick = [&] {
        const auto start = tick();
        auto now = start;
        while (now == start)
            now = tick();
        return now;
    };
    volatile float sink = 0;
    auto countRounds = [&](bool compare) {
        const auto start = nextTick();
        long rounds = 0;
        while (tick() == start) {
            float sum = 0;
            for (int i = 0; i < 10000; ++i) {
                if (compare) {
                    float a = 5000.0f - static_cast<float>(i);
                    if (!(a > 0))
                        a = -a;
                    sum += a;
                } else {
                    sum += static_cast<float>(std::fabs(5000.0 - i));
                }
            }
            sink = sink + sum;
            ++rounds;
        }
        return rounds;
    };
    const long library = countRounds(false);
    const long compare = countRounds(true);
    const bool useCompare = compare > library;
    if (report) {
        *report = "Startup benchmark :      'a>0' VS 'fabs(a)'\t" + std::to_string(compare) +
                  " VS " + std::to_string(library) +
                  (useCompare ? "     'a>0' is faster" : "     'fabs(a)' is faster");
    }
    return useCompare;
}

void ColorScale::ResetForNewGeometry() {
    rhoMax = -9e30f;
    rhoMin = 9e30f;
}

ValueRange ColorScale::FullRange() const {
    const double f = UnitFactor();
    return {std::floor(static_cast<double>(rhoMin) * f),
            std::ceil(static_cast<double>(rhoMax) * f)};
}

ValueRange ColorScale::OptimizedRange() const {
    const double f = UnitFactor();
    if (optimizedFactor == static_cast<float>(f))
        return {optimizedMin, optimizedMax};
    return {optimizedMin * f / optimizedFactor, optimizedMax * f / optimizedFactor};
}

ValueRange ColorScale::CurrentRange() const {
    const double f = UnitFactor();
    switch (colorScaleMode) {
    case ColorScaleMode::Full:
        return FullRange();
    case ColorScaleMode::Optimized:
        return OptimizedRange();
    case ColorScaleMode::Manual:
        if (manualFactor == static_cast<float>(f))
            return {manualMin, manualMax};
        return {manualMin * f / manualFactor, manualMax * f / manualFactor};
    }
    return FullRange();
}

ValueRange ColorScale::ChartRange() const {
    const double f = UnitFactor();
    ValueRange r = FullRange();
    switch (colorScaleMode) {
    case ColorScaleMode::Full:
        break;
    case ColorScaleMode::Optimized:
        r = CurrentRange();
        break;
    case ColorScaleMode::Manual:
        if (typedMin && typedMax)
            r = {*typedMin * f / typedFactor, *typedMax * f / typedFactor};
        break;
    }
    return {std::trunc(r.lo) / f, std::trunc(r.hi) / f};
}

void ColorScale::AddDistributionValue(float v) {
    // Infinite values would turn the optimized bounds into infinities.
    if (!(v > kDistributionFloor) || !std::isfinite(v))
        return;
    // upper_bound keeps equal values together, as a bisection insert does.
    distributionValues.insert(
        std::upper_bound(distributionValues.begin(), distributionValues.end(), v), v);
}

namespace {

// Mean with the three previous values when smoothing, else restart the
// history from this value.
// A value in display units, rounded to single precision first: 1.15f
// ohm.m is 114.99999761 ohm.cm in double and would floor to 114.
double InUnit(double value, float factor) {
    return static_cast<float>(value * factor);
}

float Smooth(std::array<float, 3>& h, float x, bool smooth) {
    if (!smooth) {
        h.fill(x);
        return x;
    }
    const float mean = (x + h[0] + h[1] + h[2]) / 4;
    h[2] = h[1];
    h[1] = h[0];
    h[0] = x;
    return mean;
}

} // namespace

ColorScale::OptimizedResult ColorScale::ComputeOptimizedRange(bool smooth) {
    OptimizedResult result;
    const float f = UnitFactor();
    const size_t total = distributionValues.size();
    if (total < 16) {
        const ValueRange full = FullRange();
        optimizedMin = static_cast<float>(full.lo);
        optimizedMax = static_cast<float>(full.hi);
        optimizedFactor = f;
        return result;
    }
    const auto started = std::chrono::steady_clock::now();
    // At least 10 samples: the slope tests look two samples ahead and behind.
    const size_t n = std::clamp<size_t>(std::min<size_t>(total, sampleLimit), 10, total);
    samplesUsed = static_cast<uint32_t>(n);
    if (smoothingReset) {
        smooth = false;
        smoothingReset = false;
    }
    // Bound histories follow a change of display unit.
    if (historyFactor_ != f) {
        for (float& h : lowerHistory_)
            h = h * f / historyFactor_;
        for (float& h : upperHistory_)
            h = h * f / historyFactor_;
        historyFactor_ = f;
    }

    const float centre = distributionValues[total / 2];
    const float ref = Smooth(medianHistory_, centre, smooth);

    std::vector<float> sample(n);
    std::vector<float> p(n);
    const double s = n == total ? 1.0 : static_cast<double>(total - 1) / static_cast<double>(n - 1);
    for (size_t k = 0; k < n; ++k) {
        size_t index = k;
        if (n != total)
            index = std::min(total - 1, static_cast<size_t>(static_cast<double>(k) * s + 0.5));
        sample[k] = distributionValues[index];
        p[k] = k < n / 2 ? ref / sample[k] : sample[k] / ref;
    }

    const double spread = PairAbsSumSorted(p.data(), n);
    const double mean = spread / (static_cast<double>(n) * static_cast<double>(n - 1));

    // Each half looks for its cut on its own side of the median only, and
    // in its own ratio. Windows reaching across the median mix ref / sample
    // with sample / ref, which makes the middle of the distribution look
    // steep as soon as a smoothed reference lags a drifting median, and
    // could put the lower cut above the upper one.
    const double r = ref;
    auto below = [&](size_t k) { return r / sample[k]; };
    auto above = [&](size_t k) { return sample[k] / r; };
    constexpr double kSlopeWeight = 0.41666666666666667;
    const size_t middle = n / 2;
    // The bounds are samples themselves, never a ratio turned back into a
    // value: the round trip can land a whole number just below itself.
    double lo = sample[0];
    for (size_t k = 0; k + 2 < middle; ++k) {
        const double slope = ((below(k) - below(k + 1)) + (below(k) - below(k + 2)) +
                              (below(k + 1) - below(k + 2))) *
                             kSlopeWeight;
        // The bound is the first sample after the steep stretch, so that an
        // outlier is left out of the range rather than becoming its end.
        if (slope >= mean)
            lo = sample[k + 1];
    }
    double hi = sample[n - 1];
    for (size_t k = middle + 2; k < n; ++k) {
        const double slope = ((above(k) - above(k - 1)) + (above(k) - above(k - 2)) +
                              (above(k - 1) - above(k - 2))) *
                             kSlopeWeight;
        if (slope >= mean) {
            hi = sample[k - 1];
            break;
        }
    }

    optimizedMin = Smooth(lowerHistory_, static_cast<float>(std::floor(InUnit(lo, f))), smooth);
    optimizedMax = Smooth(upperHistory_, static_cast<float>(std::ceil(InUnit(hi, f))), smooth);
    optimizedFactor = f;

    result.computed = true;
    result.samples = static_cast<uint32_t>(n);
    result.elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    return result;
}

std::optional<size_t> ColorScale::OutOfScaleCount(std::optional<double> min,
                                                  std::optional<double> max) const {
    if (!min || !max || *min > *max)
        return std::nullopt;
    const double f = UnitFactor();
    const auto& v = distributionValues;
    // Values equal to a bound are inside the scale.
    const auto firstAbove = std::partition_point(
        v.begin(), v.end(), [&](float x) { return static_cast<double>(x) * f <= *max; });
    const auto firstInside = std::partition_point(
        v.begin(), v.end(), [&](float x) { return static_cast<double>(x) * f < *min; });
    return static_cast<size_t>(v.end() - firstAbove) + static_cast<size_t>(firstInside - v.begin());
}

void ColorScale::StoreRangeChoice(ColorScaleMode selected, std::optional<double> min,
                                  std::optional<double> max) {
    if (selected != ColorScaleMode::Manual) {
        colorScaleMode = selected;
        return;
    }
    const float f = UnitFactor();
    if (min && max && *min <= *max) {
        manualMin = static_cast<float>(*min);
        manualMax = static_cast<float>(*max);
    } else {
        const ValueRange full = FullRange();
        manualMin = static_cast<float>(full.lo);
        manualMax = static_cast<float>(full.hi);
    }
    manualFactor = f;
    colorScaleMode = ColorScaleMode::Manual;
}

void ColorScale::ResetRunStatistics() {
    smoothingReset = true;
    optimizedMin = 0;
    optimizedMax = 0;
    distributionValues.clear();
    sampleLimit = 10;
}

void ColorScale::AdjustSampleLimit(uint32_t idleMs) {
    // Signed arithmetic: a limit below the step must fall to the floor of
    // 10, not wrap around to a huge unsigned number.
    int64_t limit = sampleLimit;
    const int64_t cap = static_cast<int64_t>(samplesUsed) / 10 * 10;
    if (idleMs == 0)
        limit = std::min(limit - 200, cap);
    else if (idleMs <= 19)
        limit = std::min(limit - 50, cap);
    else if (idleMs <= 49)
        limit = std::min(limit - 10, cap);
    else if (idleMs <= 125)
        ;
    else if (idleMs <= 250)
        limit += 10;
    else if (idleMs <= 500)
        limit += 50;
    else
        limit += 200;
    sampleLimit = static_cast<uint32_t>(std::clamp<int64_t>(limit, 10, 1 << 30));
}
