#pragma once
// Hand-made sequences and measurement blocks for the imaging tests and
// benchmarks.
#include "sequence/Sequence.h"

#include <memory>
#include <vector>

namespace synthetic {

struct Layout {
    int lines = 1;              // parallel profiles along x
    int electrodes = 32;        // per profile
    int channels = 10;          // dipoles per injection
    float spacing = 1.0f;       // electrode spacing (m)
    float lineGap = 5.0f;       // distance between profiles (m)
    int quadripolesPerLine = 0; // 0: as many as the layout gives
};

// Dipole-dipole profiles along x at y = 0, lineGap, 2 lineGap, ...; node 0
// at infinity; node numbers from 1, line by line.
std::unique_ptr<Sequence> MakeDipoleDipole(const Layout& layout);

// The benchmark sequence: 20 profiles of 96 electrodes, 10 channels, 16000
// quadripoles.
std::unique_ptr<Sequence> MakeLargeSequence();

// A pole-pole profile: B and N at node 0 (infinity), plus two remote
// electrodes at 99999.99 m given their own node numbers.
std::unique_ptr<Sequence> MakePolePole(int electrodes);

// Smooth resistivities (about 20 to 400 ohm.m) for `count` quadripoles
// from `first`.
std::vector<MeasureRecord> MakeRecords(const Sequence& sequence, int first, int count);

} // namespace synthetic
