#include "imaging/DistributionModel.h"

#include <algorithm>
#include <cmath>

void DistributionModel::ResetDistributionChart() {
    chartReset_ = true;
    points_.clear();
    top_ = {0.001, 1000000};
    left_ = {0.001, 1000000};
    enabled_ = true;
}

void DistributionModel::AddDistributionPoints(const Sequence& sequence,
                                              const MeasureRecord* records, int firstIndex,
                                              bool showGapFillers, int count) {
    if (chartReset_) {
        chartMin_ = 1e8f;
        chartMax_ = 0;
        chartReset_ = false;
    }
    const int total = sequence.QuadripoleCountCapped();
    for (int k = 0; records != nullptr && k < count; ++k) {
        const int64_t i = static_cast<int64_t>(firstIndex) + k;
        if (i < 0 || i >= total)
            continue;
        if (sequence.quadripoles[i].gapFiller < 0 && !showGapFillers)
            continue;
        float x = records[k].rho;
        bool silver = false;
        // Not-a-number and infinite values are shown like missing ones: a
        // point off every axis would hide the others.
        if (!(x >= kDistributionMinimum) || !std::isfinite(x)) {
            x = kDistributionMinimum;
            silver = true;
        }
        float coords[12];
        sequence.QuadripoleCoordinates(static_cast<int>(i), coords);
        const float y = Sequence::PseudoDepth(coords);
        chartMin_ = std::min(chartMin_, x);
        chartMax_ = std::max(chartMax_, x);
        if (points_.empty()) {
            yMin_ = y;
            yMax_ = y;
        } else {
            yMin_ = std::min(yMin_, static_cast<double>(y));
            yMax_ = std::max(yMax_, static_cast<double>(y));
        }
        points_.push_back(DistributionPoint{x, y, silver, static_cast<int32_t>(i)});
    }
    // An empty chart keeps its reset axes: whole decades of nothing would
    // give a reversed axis.
    if (points_.empty())
        return;
    // Both ends are computed before either is set, so values of 10 000 000
    // ohm.m and more are shown as well.
    top_.min = std::max(std::pow(10.0, std::floor(std::log10(chartMin_))) - 0.0009, 0.0009);
    top_.max = std::pow(10.0, std::floor(std::log10(chartMax_)) + 1) + 0.01;
    double pad = (yMax_ - yMin_) * 0.1;
    // Every point at one report point: still give the axis some height.
    if (pad <= 0)
        pad = 0.5;
    left_ = {yMin_ - pad, yMax_ + pad};
}

std::optional<RangeBox> DistributionModel::ColorRangeBox(ValueRange range) const {
    if (!(range.lo < range.hi))
        return std::nullopt;
    return RangeBox{range.lo, left_.min, range.hi, left_.max};
}
