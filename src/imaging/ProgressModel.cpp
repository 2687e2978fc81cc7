#include "imaging/ProgressModel.h"

#include <algorithm>
#include <cmath>

int ProgressPointType(ProgressState state) {
    switch (state) {
    case ProgressState::QuadNotMeasured:
    case ProgressState::ElectrodeIdle:
        return 0;
    case ProgressState::QuadMeasuring:
        return 5;
    case ProgressState::QuadMeasuringGapFiller:
        return 3;
    case ProgressState::QuadMeasured:
        return 2;
    case ProgressState::ElectrodeCurrent:
    case ProgressState::ElectrodePotential:
        return 11;
    }
    return 0;
}

const char* ProgressStateName(ProgressState state) {
    switch (state) {
    case ProgressState::QuadNotMeasured:
        return "Not measured";
    case ProgressState::QuadMeasuring:
        return "Measuring";
    case ProgressState::QuadMeasuringGapFiller:
        return "Measuring (gap filler)";
    case ProgressState::QuadMeasured:
        return "Measured";
    case ProgressState::ElectrodeIdle:
        return "Electrode";
    case ProgressState::ElectrodeCurrent:
        return "Current electrode";
    case ProgressState::ElectrodePotential:
        return "Potential electrode";
    }
    return "";
}

Rgb ProgressPointColor(ProgressState state) {
    switch (state) {
    case ProgressState::QuadNotMeasured:
    case ProgressState::ElectrodeIdle:
        return {192, 192, 192};
    case ProgressState::QuadMeasuring:
    case ProgressState::QuadMeasuringGapFiller:
        return {0, 0, 0};
    case ProgressState::QuadMeasured:
        return {128, 128, 128};
    case ProgressState::ElectrodeCurrent:
        return {255, 0, 0};
    case ProgressState::ElectrodePotential:
        return {0, 0, 128};
    }
    return {192, 192, 192};
}

void ProgressModel::SetupProgressView(const Sequence& sequence, int firstNode, int lastNode,
                                      bool movingArrayMode) {
    ++revision_;
    if (movingArrayMode)
        return;
    ++layoutRevision_;
    pendingCount_ = 0;
    const int count = sequence.QuadripoleCountCapped();
    quadripoles_.assign(sequence.quadripoles, sequence.quadripoles + count);
    quads_.assign(count, ProgressPoint{});
    electrodes_.assign(kMaxNodes, ProgressPoint{kProgressNull, kProgressNull, kProgressNull,
                                                ProgressState::ElectrodeIdle});

    double lowest = 9e30;
    double highest = -9e30;
    for (int i = 0; i < count; ++i) {
        float coords[12];
        sequence.QuadripoleCoordinates(i, coords);
        const float mx = Sequence::MidPoint(coords, 0);
        const float my = Sequence::MidPoint(coords, 4);
        // Map and section orientation: x grows to the right, y away from
        // the viewer, pseudo-depth positive and drawn downward by the view.
        ProgressPoint& p = quads_[i];
        p.x = mx;
        p.y = Sequence::PseudoDepth(coords);
        p.z = my;
        p.state = ProgressState::QuadNotMeasured;
        lowest = std::min(lowest, static_cast<double>(my));
        highest = std::max(highest, static_cast<double>(my));
    }

    // The header's node range comes from the instrument: keep it inside the
    // node table.
    const int from = std::max(firstNode, 0);
    const int to = std::min(lastNode, kMaxNodes - 1);
    for (int j = from; j <= to; ++j) {
        const NodeRecord& node = sequence.nodes[j];
        if (node.number != j)
            continue;
        // Electrodes at infinity are left out of the view.
        if (std::fabs(node.x) >= kInfinityThreshold || std::fabs(node.y) >= kInfinityThreshold)
            continue;
        ProgressPoint& p = electrodes_[j];
        p.x = node.x;
        p.y = 0;
        p.z = node.y;
    }

    if (count == 0) {
        lowest = 0;
        highest = 1;
    }
    if (highest - lowest < 1)
        highest += 1;
    manualMinZ_ = std::floor(lowest);
    manualMaxZ_ = std::ceil(highest);
}

void ProgressModel::SetElectrode(int32_t node, ProgressState state) {
    if (node >= 0 && node < static_cast<int32_t>(electrodes_.size()))
        electrodes_[node].state = state;
}

void ProgressModel::ReturnBlock(int start, int count) {
    const int total = static_cast<int>(quads_.size());
    if (start < 0 || start >= total)
        return;
    SetElectrode(quadripoles_[start].a, ProgressState::ElectrodeIdle);
    SetElectrode(quadripoles_[start].b, ProgressState::ElectrodeIdle);
    const int end = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(start) + count, total));
    for (int i = start; i < end; ++i) {
        SetElectrode(quadripoles_[i].m, ProgressState::ElectrodeIdle);
        SetElectrode(quadripoles_[i].n, ProgressState::ElectrodeIdle);
        quads_[i].state = ProgressState::QuadMeasured;
    }
}

void ProgressModel::MarkCurrentQuadripoles(int count, int start, bool movingArrayMode) {
    if (movingArrayMode)
        return;
    ++revision_;
    // Index 0 is a real block start, so the previous block is returned
    // whenever one is pending, wherever the new block starts.
    if (pendingCount_ > 0)
        ReturnBlock(highlightStart_, pendingCount_);
    highlightStart_ = start;
    highlightCount_ = count;
    const int total = static_cast<int>(quads_.size());
    if (start >= 0 && start < total) {
        SetElectrode(quadripoles_[start].a, ProgressState::ElectrodeCurrent);
        SetElectrode(quadripoles_[start].b, ProgressState::ElectrodeCurrent);
        const int end =
            static_cast<int>(std::min<int64_t>(static_cast<int64_t>(start) + count, total));
        for (int i = start; i < end; ++i) {
            SetElectrode(quadripoles_[i].m, ProgressState::ElectrodePotential);
            SetElectrode(quadripoles_[i].n, ProgressState::ElectrodePotential);
            quads_[i].state = quadripoles_[i].gapFiller < 0 ? ProgressState::QuadMeasuringGapFiller
                                                            : ProgressState::QuadMeasuring;
        }
    }
    pendingCount_ = count;
}

void ProgressModel::ClearCurrentQuadripoles(bool movingArrayMode) {
    if (movingArrayMode)
        return;
    ++revision_;
    if (highlightCount_ > 0)
        ReturnBlock(highlightStart_, highlightCount_);
    pendingCount_ = 0;
}
