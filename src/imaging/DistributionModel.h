#pragma once
// Content of the distribution chart: one point per received measurement
// (apparent resistivity against report point), the axis ranges and the box
// of the colour range. Plain C++: the chart (ui/DistributionPage.h) draws it.
#include "imaging/ColorScale.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <optional>
#include <vector>

// Smallest resistivity the logarithmic axis shows; lower values are drawn
// here in silver.
constexpr float kDistributionMinimum = 0.001f;

struct DistributionPoint {
    float x;       // rho (ohm.m)
    float y;       // report point (m)
    bool silver;   // the value was 0 or below (or no value)
    int32_t label; // quadripole index
};

struct AxisRange {
    double min;
    double max;
};

struct RangeBox {
    double left, top, right, bottom; // (lo, left-axis min) to (hi, left-axis max)
};

class DistributionModel {
public:
    void ResetDistributionChart();
    // Adds the shown records of one block; with count 0 only the axes are
    // recomputed.
    void AddDistributionPoints(const Sequence& sequence, const MeasureRecord* records,
                               int firstIndex, bool showGapFillers, int count);
    // The box of a colour range (ohm.m) across the left axis, or none when
    // the range is empty or reversed.
    std::optional<RangeBox> ColorRangeBox(ValueRange range) const;

    const std::vector<DistributionPoint>& points() const { return points_; }
    AxisRange topAxis() const { return top_; }
    AxisRange leftAxis() const { return left_; }
    bool chartReset() const { return chartReset_; }
    bool enabled() const { return enabled_; }
    float chartMin() const { return chartMin_; }
    float chartMax() const { return chartMax_; }

private:
    std::vector<DistributionPoint> points_;
    AxisRange top_{0.001, 1000000};
    AxisRange left_{0.001, 1000000};
    bool chartReset_ = false;
    bool enabled_ = false;
    float chartMin_ = 1e8f;
    float chartMax_ = 0;
    double yMin_ = 0;
    double yMax_ = 0;
};
