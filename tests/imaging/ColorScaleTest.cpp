#include "imaging/ColorScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

void Fill(ColorScale& cs, const std::vector<float>& values) {
    for (float v : values) {
        cs.AddDistributionValue(v);
        cs.rhoMin = std::min(cs.rhoMin, v);
        cs.rhoMax = std::max(cs.rhoMax, v);
    }
}

} // namespace

TEST(PaletteTest, DefaultSlidersMatchTheReferenceTable) {
    int lower = 0, upper = 50;
    const Palette p = BuildPalette(lower, upper);
    const std::vector<std::pair<int, Rgb>> table = {
        {0, {0, 0, 255}},   {6, {0, 127, 255}},  {12, {0, 255, 255}}, {18, {0, 255, 128}},
        {24, {0, 255, 0}},  {30, {127, 255, 0}}, {36, {255, 255, 0}}, {43, {255, 128, 0}},
        {49, {255, 19, 0}}, {50, {255, 0, 0}}};
    for (const auto& [i, c] : table)
        EXPECT_EQ(p[i], c) << "colour " << i;
}

TEST(PaletteTest, SlidersTenAndFortyAndCrossedSliders) {
    int lower = 10, upper = 40;
    const Palette p = BuildPalette(lower, upper);
    EXPECT_EQ(p[0], (Rgb{0, 0, 55}));
    EXPECT_EQ(p[9], (Rgb{0, 0, 190}));
    EXPECT_EQ(p[10], (Rgb{0, 0, 255}));
    EXPECT_EQ(p[17], (Rgb{0, 255, 255}));
    EXPECT_EQ(p[45], (Rgb{187, 0, 0}));

    // Upper not above lower: lower goes to upper - 2, upper follows it.
    int l2 = 30, u2 = 20;
    const Palette q = BuildPalette(l2, u2);
    EXPECT_EQ(l2, 18);
    EXPECT_EQ(u2, 20);
    EXPECT_EQ(q[50], (Rgb{110, 0, 0}));
    int l3 = 0, u3 = 2; // narrowest legal spread: no division by zero
    const Palette r = BuildPalette(l3, u3);
    EXPECT_EQ(r[1], (Rgb{255, 128, 0}));
}

TEST(UnitFactorTest, SmallValuesSwitchToOhmCentimetre) {
    ColorScale cs;
    EXPECT_EQ(cs.UnitFactor(), 1.0f); // before any value
    Fill(cs, {1.5f, 2.0f, 4.2f});
    EXPECT_EQ(cs.UnitFactor(), 100.0f);
    cs.colorScaleMode = ColorScaleMode::Full;
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 150);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 420);
    EXPECT_EQ(ComputeUnitFactor(3, 10.5f), 1.0f); // spread below 8 but not small
    EXPECT_EQ(ComputeUnitFactor(1, 9.0f), 1.0f);  // spread of 8
}

TEST(ContourScaleTest, BandsSpacingAndReversedRange) {
    const ContourScale design = ComputeContourScale({10, 500});
    EXPECT_EQ(design.manualMinZ, 10);
    EXPECT_EQ(design.manualMaxZ, 500);
    EXPECT_EQ(design.zAxisLine, 10);
    const ContourScale narrow = ComputeContourScale({12.25, 30.5});
    EXPECT_EQ(narrow.manualMinZ, 12);
    EXPECT_EQ(narrow.manualMaxZ, 31);
    EXPECT_EQ(narrow.zAxisLine, 1);
    // No value yet: a window of 50 around the centre, fifty bands of 1.
    const ContourScale empty = ComputeContourScale({9e30, -9e30});
    EXPECT_EQ(empty.manualMinZ, -25);
    EXPECT_EQ(empty.manualMaxZ, 25);
    EXPECT_EQ(empty.zAxisLine, 1);
}

TEST(ContourScaleTest, BandEdgesAreReadableAndAboutFiftyBands) {
    struct Case {
        double lo, hi;
        double min, max, step;
    };
    const Case cases[] = {
        {100, 150, 100, 150, 1},   {100, 400, 100, 400, 10},    {1, 10000, 0, 10000, 200},
        {236, 268.5, 236, 269, 1}, {0.2, 0.8, 0, 1, 1},         {-37, 512, -40, 520, 20},
        {150, 420, 150, 420, 10},  {1000, 1001, 1000, 1001, 1}, {77, 77, 77, 78, 1},
        {3, 130, 0, 130, 5},       {12, 9e6, 0, 9e6, 200000},
    };
    for (const Case& c : cases) {
        const ContourScale s = ComputeContourScale({c.lo, c.hi});
        EXPECT_DOUBLE_EQ(s.manualMinZ, c.min) << c.lo << ".." << c.hi;
        EXPECT_DOUBLE_EQ(s.manualMaxZ, c.max) << c.lo << ".." << c.hi;
        EXPECT_DOUBLE_EQ(s.zAxisLine, c.step) << c.lo << ".." << c.hi;
        EXPECT_LE(ContourBandCount(s), kMaxContourBands);
        EXPECT_LE(s.manualMinZ, c.lo);
        EXPECT_GE(s.manualMaxZ, c.hi);
        // Each band its own colour, from the first of the palette to the last.
        const int n = ContourBandCount(s);
        EXPECT_EQ(BandColorIndex(0, n), 0);
        EXPECT_EQ(BandColorIndex(n - 1, n), n > 1 ? kPaletteSize - 1 : 0);
        for (int k = 1; k < n; ++k)
            EXPECT_GT(BandColorIndex(k, n), BandColorIndex(k - 1, n));
    }
}

TEST(DistributionValuesTest, FloorAndOrdering) {
    ColorScale cs;
    cs.AddDistributionValue(0.001f);
    cs.AddDistributionValue(0.0011f);
    cs.AddDistributionValue(5);
    cs.AddDistributionValue(3);
    cs.AddDistributionValue(5);
    cs.AddDistributionValue(-2);
    cs.AddDistributionValue(NAN);
    cs.AddDistributionValue(INFINITY);
    EXPECT_EQ(cs.distributionValues, (std::vector<float>{0.0011f, 3, 5, 5}));
}

TEST(PairSumTest, SortedFormulaAgreesWithDirectSum) {
    std::mt19937 gen(7);
    std::lognormal_distribution<float> dist(0.0f, 1.0f);
    for (size_t n : {2u, 3u, 17u, 500u, 2000u}) {
        std::vector<float> p(n);
        for (float& v : p)
            v = dist(gen);
        const double direct = PairAbsSumDirect(p.data(), n, false);
        EXPECT_DOUBLE_EQ(direct, PairAbsSumDirect(p.data(), n, true));
        EXPECT_NEAR(PairAbsSumSorted(p.data(), n), direct, 1e-9 * direct) << n;
    }
}

TEST(OptimizedRangeTest, FewerThanSixteenValuesUseTheFullRange) {
    ColorScale cs;
    std::vector<float> v;
    for (int i = 0; i < 15; ++i)
        v.push_back(10.5f + i * 3);
    Fill(cs, v);
    const auto r = cs.ComputeOptimizedRange(true);
    EXPECT_FALSE(r.computed);
    EXPECT_EQ(cs.optimizedMin, 10);
    EXPECT_EQ(cs.optimizedMax, 53);
}

TEST(OptimizedRangeTest, CutsTheOutliersAndSmoothsFollowingBlocks) {
    ColorScale cs;
    cs.sampleLimit = 100000;
    std::vector<float> v;
    for (int i = 0; i < 400; ++i)
        v.push_back(80.0f + 40.0f * i / 399.0f);
    for (float o : {1.0f, 2.0f, 3.0f, 5000.0f, 20000.0f, 90000.0f})
        v.push_back(o);
    Fill(cs, v);
    const auto r = cs.ComputeOptimizedRange(true); // first of a run: not smoothed
    ASSERT_TRUE(r.computed);
    EXPECT_EQ(r.samples, 406u);
    // The outliers at both ends are left out, the flat central part kept.
    EXPECT_GE(cs.optimizedMin, 79.0f);
    EXPECT_LE(cs.optimizedMin, 80.0f);
    EXPECT_GE(cs.optimizedMax, 120.0f);
    EXPECT_LE(cs.optimizedMax, 121.0f);
    const float firstMin = cs.optimizedMin;
    const float firstMax = cs.optimizedMax;

    // Same data again, smoothed: the mean of four equal bounds.
    cs.ComputeOptimizedRange(true);
    EXPECT_EQ(cs.optimizedMin, firstMin);
    EXPECT_EQ(cs.optimizedMax, firstMax);

    // Sampling a window of the sorted values keeps both ends.
    cs.sampleLimit = 50;
    const auto sampled = cs.ComputeOptimizedRange(false);
    EXPECT_EQ(sampled.samples, 50u);
    EXPECT_LT(cs.optimizedMin, cs.optimizedMax);

    // A limit below the slope window is raised to 10 samples.
    cs.sampleLimit = 3;
    EXPECT_EQ(cs.ComputeOptimizedRange(false).samples, 10u);
}

TEST(OptimizedRangeTest, ASingleOutlierIsLeftOut) {
    ColorScale cs;
    cs.sampleLimit = 1000;
    std::vector<float> v;
    for (int i = 0; i < 200; ++i)
        v.push_back(50.0f + i * 0.5f);
    v.push_back(9000.0f);
    v.push_back(0.5f);
    Fill(cs, v);
    cs.ComputeOptimizedRange(false);
    EXPECT_EQ(cs.optimizedMin, 50.0f);
    EXPECT_EQ(cs.optimizedMax, 150.0f);
}

TEST(OptimizedRangeTest, BoundsFollowTheDisplayUnit) {
    ColorScale cs;
    cs.sampleLimit = 1000;
    std::vector<float> v;
    for (int i = 0; i < 40; ++i)
        v.push_back(1.5f + 2.7f * i / 39.0f);
    Fill(cs, v);
    ASSERT_EQ(cs.UnitFactor(), 100.0f);
    cs.ComputeOptimizedRange(false);
    EXPECT_EQ(cs.optimizedFactor, 100.0f);
    EXPECT_GE(cs.optimizedMin, 100.0f); // ohm.cm, not ohm.m
    EXPECT_LE(cs.optimizedMax, 430.0f);
    const ValueRange asCm = cs.CurrentRange();
    Fill(cs, {40.0f}); // spread now above 8: back to ohm.m
    const ValueRange asM = cs.CurrentRange();
    EXPECT_NEAR(asM.lo, asCm.lo / 100, 1e-6);
    EXPECT_NEAR(asM.hi, asCm.hi / 100, 1e-6);
}

TEST(RangeChoiceTest, OutOfScaleCountAndManualFallback) {
    ColorScale cs;
    Fill(cs, {5, 10, 10, 20, 30, 30, 40});
    EXPECT_EQ(cs.OutOfScaleCount(10.0, 30.0), 2u); // values on a bound are inside
    EXPECT_EQ(cs.OutOfScaleCount(0.0, 100.0), 0u);
    EXPECT_EQ(cs.OutOfScaleCount(50.0, 10.0), std::nullopt);
    EXPECT_EQ(cs.OutOfScaleCount(std::nullopt, 10.0), std::nullopt);

    cs.StoreRangeChoice(ColorScaleMode::Manual, 12.0, 35.0);
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Manual);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 12);
    // Reversed bounds: the full range is stored instead.
    cs.StoreRangeChoice(ColorScaleMode::Manual, 50.0, 10.0);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().lo, 5);
    EXPECT_DOUBLE_EQ(cs.CurrentRange().hi, 40);
    cs.StoreRangeChoice(ColorScaleMode::Full, std::nullopt, std::nullopt);
    EXPECT_EQ(cs.colorScaleMode, ColorScaleMode::Full);
}

TEST(RangeChoiceTest, ChartRangeIsWholeNumbersInOhmMetre) {
    ColorScale cs;
    Fill(cs, {2.345f, 4.2f});
    cs.colorScaleMode = ColorScaleMode::Full;
    const ValueRange r = cs.ChartRange();
    EXPECT_NEAR(r.lo, 2.34, 1e-9);
    EXPECT_NEAR(r.hi, 4.2, 1e-9);
    cs.colorScaleMode = ColorScaleMode::Manual;
    cs.typedMin = 250.7; // typed while the dialog showed ohm.cm
    cs.typedMax = 300.2;
    cs.typedFactor = 100;
    EXPECT_NEAR(cs.ChartRange().lo, 2.5, 1e-9);
    cs.typedMax.reset(); // not a number: the full range
    EXPECT_NEAR(cs.ChartRange().hi, 4.2, 1e-9);
}

TEST(SampleLimitTest, FollowsTheIdleTimeWithinItsFloor) {
    ColorScale cs;
    cs.ResetRunStatistics();
    cs.AdjustSampleLimit(600);
    EXPECT_EQ(cs.sampleLimit, 210u);
    cs.AdjustSampleLimit(300);
    cs.AdjustSampleLimit(200);
    cs.AdjustSampleLimit(100);
    EXPECT_EQ(cs.sampleLimit, 270u);
    cs.samplesUsed = 268;
    cs.AdjustSampleLimit(30);
    EXPECT_EQ(cs.sampleLimit, 260u);
    cs.AdjustSampleLimit(5);
    EXPECT_EQ(cs.sampleLimit, 210u);
    cs.AdjustSampleLimit(0);
    EXPECT_EQ(cs.sampleLimit, 10u);
    cs.AdjustSampleLimit(0); // never below 10, never wrapped around
    EXPECT_EQ(cs.sampleLimit, 10u);
    cs.distributionValues = {1, 2};
    cs.ResetRunStatistics();
    EXPECT_TRUE(cs.distributionValues.empty());
    EXPECT_TRUE(cs.smoothingReset);
}

// A survey whose resistivities climb along the line: each block of ten
// values sits a little higher than the last, so the smoothed median lags
// behind the true one. The range must still hold the bulk of the values
// received and the median itself.
TEST(OptimizedRangeTest, DriftingMedianWithSmoothingKeepsTheBulkOfTheValues) {
    for (float drift : {2.0f, 3.0f, 4.0f}) {
        ColorScale cs;
        cs.ResetRunStatistics();
        cs.sampleLimit = 100000;
        std::vector<float> all;
        for (int block = 0; block < 30; ++block) {
            std::vector<float> values;
            for (int k = 0; k < 10; ++k)
                values.push_back(150.0f + drift * block + 8.0f * k / 9.0f);
            Fill(cs, values);
            all.insert(all.end(), values.begin(), values.end());
            cs.ComputeOptimizedRange(true);
            if (all.size() < 16)
                continue;
            const auto inside = std::count_if(all.begin(), all.end(), [&](float v) {
                return v >= cs.optimizedMin && v <= cs.optimizedMax;
            });
            EXPECT_GE(static_cast<double>(inside), 0.6 * static_cast<double>(all.size()))
                << "drift " << drift << ", " << all.size() << " values: [" << cs.optimizedMin
                << ", " << cs.optimizedMax << "]";
            const float median = cs.distributionValues[cs.distributionValues.size() / 2];
            EXPECT_LE(cs.optimizedMin, median) << all.size();
            EXPECT_GE(cs.optimizedMax, median) << all.size();
        }
    }
}

// However the values fall, the cut below the median stays below the cut
// above it: a reversed range would leave nothing to colour.
TEST(OptimizedRangeTest, SparseNoisyValuesNeverGiveAReversedRange) {
    for (unsigned seed = 0; seed < 200; ++seed) {
        ColorScale cs;
        cs.sampleLimit = 100000;
        std::mt19937 gen(seed);
        std::uniform_real_distribution<float> noise(120.0f, 180.0f);
        std::vector<float> values(16 + seed % 30);
        for (float& v : values)
            v = noise(gen);
        Fill(cs, values);
        cs.ComputeOptimizedRange(false);
        EXPECT_LT(cs.optimizedMin, cs.optimizedMax) << "seed " << seed;
    }
}

// Unsmoothed bounds of whole-number data are values of the data
// themselves: the floor of a whole number is that number, not one below.
TEST(OptimizedRangeTest, BoundsOfWholeNumbersAreExactlyDataValues) {
    int checked = 0;
    for (unsigned seed = 0; seed < 150; ++seed) {
        ColorScale cs;
        cs.sampleLimit = 100000;
        std::mt19937 gen(seed);
        std::uniform_int_distribution<int> whole(20, 900);
        std::vector<float> values(16 + seed % 60);
        for (float& v : values)
            v = static_cast<float>(whole(gen));
        Fill(cs, values);
        ASSERT_TRUE(cs.ComputeOptimizedRange(false).computed);
        const auto has = [&](float b) {
            return std::find(values.begin(), values.end(), b) != values.end();
        };
        EXPECT_TRUE(has(cs.optimizedMin)) << "seed " << seed << ": " << cs.optimizedMin;
        EXPECT_TRUE(has(cs.optimizedMax)) << "seed " << seed << ": " << cs.optimizedMax;
        ++checked;
    }
    EXPECT_EQ(checked, 150);

    // In ohm.cm the same holds for values with two decimals: 1.15 ohm.m is
    // 115 ohm.cm, not 114.
    ColorScale cm;
    cm.sampleLimit = 1000;
    std::vector<float> small;
    std::vector<float> inCm;
    for (int i = 0; i < 40; ++i) {
        small.push_back(static_cast<float>(115 + 7 * i) / 100.0f); // 1.15 .. 3.88
        inCm.push_back(static_cast<float>(115 + 7 * i));
    }
    Fill(cm, small);
    ASSERT_EQ(cm.UnitFactor(), 100.0f);
    cm.ComputeOptimizedRange(false);
    EXPECT_NE(std::find(inCm.begin(), inCm.end(), cm.optimizedMin), inCm.end()) << cm.optimizedMin;
    EXPECT_NE(std::find(inCm.begin(), inCm.end(), cm.optimizedMax), inCm.end()) << cm.optimizedMax;
}
