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

// One injection: `count` consecutive quadripoles from table position
// `first`, read on channels 0..count-1.
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
    std::vector<EmuQuad> quads; // by table position (empty for a moving array)
    std::vector<EmuBatch> batches;
    // The instrument's number of table position 0: records go out numbered
    // from it.
    int firstQuadripole = 0;
    int firstNode = 1;
    int lastNode = 0;
    int nodeCount = 0;
    bool usesRemote = false;
    std::vector<MovingDipole> movingDipoles; // moving array only
    // Quadripoles of the sequence proper; reciprocals follow them in the
    // table.
    int normalCount = 0;
    // Table position of each quadripole's partner (the reciprocal of a
    // normal quadripole, the normal of a reciprocal), -1 when it has none.
    // Empty for a moving array.
    std::vector<int> partners;
    double xMin = 0.0, xMax = 0.0, yMin = 0.0, yMax = 0.0;

    int quadripoleCount() const { return int(quads.size()); }
    // Records of the whole acquisition: the sequence, or every position of
    // a moving array.
    int recordCount() const;
    // Quadripole of a table position; a moving array repeats its dipoles
    // cyclically.
    EmuQuad quad(int position) const;
    // Table position of the partner of a table position, -1 for none.
    int partner(int position) const {
        return position >= 0 && size_t(position) < partners.size() ? partners[size_t(position)]
                                                                   : -1;
    }
    bool isReciprocal(int position) const { return !moving && position >= normalCount; }
    // The number a record at a table position goes out with.
    int number(int position) const { return firstQuadripole + position; }
};

// Removes the skipped quadripoles (by the numbers they go out with, position
// 0 being numbered firstNumber) from a batch plan; a batch that loses
// records in its middle is split in two.
std::vector<EmuBatch> applySkips(const std::vector<EmuBatch>& batches,
                                 const std::vector<SkipRange>& skips, int firstNumber = 0);

} // namespace varmexemu
