#pragma once
// The survey laid out on the ground: electrodes (nodes), the quadripole
// sequence in measuring order, and the injections (batches) it is read in.
#include "EmuOptions.h"

#include <QString>
#include <vector>

namespace varmexemu {

// Coordinates of node 0, the remote electrode "at infinity".
constexpr float kRemoteCoordinate = 99999.99f;
constexpr int kMaxQuadripoles = 16000;
constexpr int kMaxNodeNumber = 2000;
// A moving-array acquisition always announces this sequence length.
constexpr int kMovingSequenceLength = 15999;
constexpr int kMaxMovingDipoles = 10;

struct EmuNode {
    int number = 0; // 0 for an unused slot
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct EmuQuad {
    int a = 0;
    int b = 0;
    int m = 0;
    int n = 0;
    bool gapFiller = false;
};

// One injection: `count` consecutive quadripoles from `first`, read on
// channels 0..count-1.
struct EmuBatch {
    int first = 0;
    int count = 0;
};

// Electrode positions of one dipole of a moving array, in the array's own
// frame (x along the array), with their node numbers A, B, M, N.
struct MovingDipole {
    double pos[4][3] = {};
    int node[4] = {};
};

class EmuSurvey {
public:
    // Lays out the survey for the options; false with error when the
    // sequence does not fit the instrument's tables.
    static bool build(const EmuOptions& options, EmuSurvey& out, QString& error);

    bool moving = false;
    std::vector<EmuNode> nodes; // indexed by node number, 0..lastNode
    std::vector<EmuQuad> quads; // indexed by quadripole index
    std::vector<EmuBatch> batches;
    int firstNode = 1;
    int lastNode = 0;
    int nodeCount = 0;
    bool usesRemote = false;
    std::vector<MovingDipole> movingDipoles; // moving array only
    double xMin = 0.0, xMax = 0.0, yMin = 0.0, yMax = 0.0;

    int quadripoleCount() const { return int(quads.size()); }
    // Quadripole of an index; a moving array repeats its dipoles cyclically.
    EmuQuad quad(int index) const;
};

// Removes the skipped indices from a batch plan; a batch that loses
// records in its middle is split in two.
std::vector<EmuBatch> applySkips(const std::vector<EmuBatch>& batches,
                                 const std::vector<SkipRange>& skips);

} // namespace varmexemu
