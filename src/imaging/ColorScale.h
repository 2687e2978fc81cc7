#pragma once
// The colour range of the pseudo-section (full, optimized or manual), the
// contour band spacing, the 51-colour palette and the statistics behind the
// optimized range. Plain C++: the range dialog (ui/RangeDialog.h) and the section
// page only display and edit what this holds.
//
// Units: values arrive in ohm.m and are stored in ohm.m. When every value is
// small (below 10 ohm.m and spread by less than 8) the display switches to
// ohm.cm (unit factor 100) so that the range still spans many bands; every
// range handed to a display is then in display units (value x factor), and
// the graph multiplies its values by the same factor.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ColorScaleMode : uint8_t { Full = 0, Optimized = 1, Manual = 2 };

constexpr int kPaletteSize = 51;
constexpr int kLowerSliderMin = 0;
constexpr int kLowerSliderMax = 48;
constexpr int kUpperSliderMin = 2;
constexpr int kUpperSliderMax = 50;
// Values at or below this are not sampled for the optimized range.
constexpr float kDistributionFloor = 0.00101f;

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
    bool operator==(const Rgb&) const = default;
};
using Palette = std::array<Rgb, kPaletteSize>;

struct ValueRange {
    double lo;
    double hi;
};

// What the contour graph needs: the value range and the band spacing.
struct ContourScale {
    double manualMinZ;
    double manualMaxZ;
    double zAxisLine;
};

// 1 for ohm.m, 100 for ohm.cm (see the file comment).
float ComputeUnitFactor(float rhoMin, float rhoMax);

// Most contour bands a scale is cut into: about one per palette colour.
constexpr int kMaxContourBands = 50;

// Range (lo, hi) in display units -> band range and spacing. The spacing is
// the finest of 1, 2, 2.5 or 5 x 10^k (never below 1) that cuts the range
// into at most kMaxContourBands bands, and the ends are widened to
// multiples of it, so every band edge is a number a person reads at a
// glance. A range reversed by more than 50 (no value yet) becomes a window
// of 50 around its centre.
ContourScale ComputeContourScale(ValueRange range);

// Number of contour bands of a scale (at least 1), and the band of a value:
// band k covers manualMinZ + k * zAxisLine up to the next step. Values
// outside the scale take the nearest end band.
int ContourBandCount(const ContourScale& scale);
int ContourBand(double value, const ContourScale& scale);
// Palette colour of band k out of `bandCount`: the bands are spread over the
// whole palette, so the lowest band always takes the first colour and the
// highest the last, however few bands the range holds.
int BandColorIndex(int band, int bandCount);

// Palette from the two slider positions. The sliders are corrected first
// when the upper one is not above the lower one; the corrected positions
// are written back.
Palette BuildPalette(int& lower, int& upper);

// Sum of |p_j - p_k| over all pairs j < k.
// Direct O(n^2) sum; the absolute value by comparison or by the library.
double PairAbsSumDirect(const float* p, size_t n, bool useCompareAbs);
// Same sum from the sorted values: sum of q_i (2i - n + 1), O(n log n).
double PairAbsSumSorted(const float* p, size_t n);

// Start-up benchmark: true when taking absolute values by comparison beat
// the library function over one clock tick. `report` receives the text of
// the comparison.
bool ChooseCompareAbs(std::string* report = nullptr);

class ColorScale {
public:
    // Colour-range state shared by the section page, the range dialog and
    // the distribution chart.
    ColorScaleMode colorScaleMode = ColorScaleMode::Optimized;
    float rhoMin = 9e30f;
    float rhoMax = -9e30f;
    // Optimized and manual bounds, in the display units of the factor they
    // were stored with.
    float optimizedMin = 0;
    float optimizedMax = 0;
    float optimizedFactor = 1;
    float manualMin = 0;
    float manualMax = 0;
    float manualFactor = 1;
    std::vector<float> distributionValues; // ascending, duplicates kept
    uint32_t sampleLimit = 10;
    uint32_t samplesUsed = 0;
    bool smoothingReset = true;
    bool useCompareAbs = false;
    // The numbers currently typed in the range dialog, in the display unit
    // of typedFactor, used by the distribution chart's range box in manual
    // mode.
    std::optional<double> typedMin;
    std::optional<double> typedMax;
    float typedFactor = 1;

    // A new geometry forgets the received values' extent.
    void ResetForNewGeometry();
    float UnitFactor() const { return ComputeUnitFactor(rhoMin, rhoMax); }
    // False before the first real value: rhoMin and rhoMax still hold their
    // start values and there is no range to show.
    bool HasValues() const { return rhoMin <= rhoMax; }

    ValueRange FullRange() const;      // floor/ceil of rhoMin/rhoMax, display units
    ValueRange OptimizedRange() const; // optimized bounds in today's display unit
    ValueRange CurrentRange() const;   // by colorScaleMode, display units
    ContourScale CurrentContourScale() const { return ComputeContourScale(CurrentRange()); }
    // The current range as whole display numbers, converted back to ohm.m:
    // what the distribution chart (in ohm.m) draws as its range box.
    ValueRange ChartRange() const;

    void AddDistributionValue(float v);

    struct OptimizedResult {
        bool computed = false; // false: fewer than 16 values, full range used
        uint32_t samples = 0;
        double elapsedMs = 0;
    };
    // The numeric part of ComputeColorRange for the "Optimized range" choice.
    OptimizedResult ComputeOptimizedRange(bool smooth);

    // Values outside [min, max] (display units); nullopt when a bound is
    // missing or the bounds are reversed.
    std::optional<size_t> OutOfScaleCount(std::optional<double> min,
                                          std::optional<double> max) const;

    // Stores the dialog's choice. A manual range whose bounds are missing or
    // reversed falls back to the full range.
    void StoreRangeChoice(ColorScaleMode selected, std::optional<double> min,
                          std::optional<double> max);

    void ResetRunStatistics();
    void AdjustSampleLimit(uint32_t idleMs);

private:
    std::array<float, 3> medianHistory_{};
    std::array<float, 3> lowerHistory_{};
    std::array<float, 3> upperHistory_{};
    float historyFactor_ = 1; // display unit of the bound histories
};
