#pragma once
// State of the 3D progress view: the report point of every quadripole and
// the position of every electrode, each with the state it is drawn in.
// Plain C++: the view (ui/ProgressPage.h) draws what this holds.
#include "imaging/ColorScale.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <vector>

// Coordinate of a point that has no data; such points are not drawn.
// Points are in metres as the 3D view's axes take them: x is the ground x,
// y the pseudo-depth (positive; the view draws it downward) and z the
// ground y.
constexpr float kProgressNull = 99999.0f;

enum class ProgressState : uint8_t {
    QuadNotMeasured,
    QuadMeasuring,
    QuadMeasuringGapFiller,
    QuadMeasured,
    ElectrodeIdle,
    ElectrodeCurrent,   // A or B of the block being measured
    ElectrodePotential, // M or N of the block being measured
};
constexpr int kProgressStateCount = 7;

// Symbol code (0, 1, 2, 3, 5 or 11) and colour of each state.
int ProgressPointType(ProgressState state);
Rgb ProgressPointColor(ProgressState state);
// The state as the view's legend names it.
const char* ProgressStateName(ProgressState state);

struct ProgressPoint {
    float x = kProgressNull;
    float y = kProgressNull;
    float z = kProgressNull;
    ProgressState state = ProgressState::QuadNotMeasured;

    bool IsNull() const { return x == kProgressNull && y == kProgressNull && z == kProgressNull; }
};

class ProgressModel {
public:
    // Rebuilds every point from the sequence. Node numbers firstNode to
    // lastNode (from the acquisition header) are the electrodes.
    void SetupProgressView(const Sequence& sequence, int firstNode, int lastNode,
                           bool movingArrayMode);
    // Highlights the block of `count` quadripoles from `start`, returning the
    // previous block to the measured state.
    void MarkCurrentQuadripoles(int count, int start, bool movingArrayMode);
    // Returns the highlighted block, if any, to the measured state.
    void ClearCurrentQuadripoles(bool movingArrayMode);

    // Subset 0: one point per quadripole. Subset 1: one point per node
    // number (0..4095); undefined nodes and electrodes at infinity are null.
    const std::vector<ProgressPoint>& quadripolePoints() const { return quads_; }
    const std::vector<ProgressPoint>& electrodePoints() const { return electrodes_; }
    double manualMinZ() const { return manualMinZ_; }
    double manualMaxZ() const { return manualMaxZ_; }
    int highlightStart() const { return highlightStart_; }
    int highlightCount() const { return highlightCount_; }
    int pendingCount() const { return pendingCount_; }
    // Bumped by every change, so a view knows when to refresh.
    uint64_t revision() const { return revision_; }
    // Bumped when the set of points is rebuilt: a view that follows the
    // states point by point must then start over.
    uint64_t layoutRevision() const { return layoutRevision_; }

private:
    void SetElectrode(int32_t node, ProgressState state);
    void ReturnBlock(int start, int count);

    // Electrodes and gap-filler flags of the quadripoles, copied at setup.
    std::vector<QuadripoleRecord> quadripoles_;
    std::vector<ProgressPoint> quads_;
    std::vector<ProgressPoint> electrodes_;
    double manualMinZ_ = 0;
    double manualMaxZ_ = 1;
    int highlightStart_ = 0;
    int highlightCount_ = 0;
    int pendingCount_ = 0;
    uint64_t revision_ = 0;
    uint64_t layoutRevision_ = 0;
};
