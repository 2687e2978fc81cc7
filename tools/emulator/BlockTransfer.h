#pragma once
// The instrument's side of the numbered, checksummed block transfers: when
// the instrument sends, the monitor leads with its requests; when it
// receives, the instrument leads.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varmexemu {

class EmuWire;
class EmuRandom;

constexpr int kMaxBlockData = 528;

struct BlockFaults {
    double probability = 0.0; // a new block is damaged in transit
    EmuRandom* random = nullptr;
    int damaged = 0;    // blocks damaged so far
    bool wedge = false; // every block request gets a bad block, for ever
};

// Sends data (not empty) as one transfer. A damaged block keeps its
// checksum, so the monitor asks for it again and gets it intact. A wedged
// transfer never ends: it answers every request, whatever its number, with
// a block announced longer than kMaxBlockData and a block with a wrong
// check word in turn, until the monitor leaves.
void sendBlocks(EmuWire& wire, const std::vector<uint8_t>& data, BlockFaults* faults = nullptr);

// Receives one transfer of at most maxSize bytes; the rest of a larger
// transfer is still read from the link and dropped.
std::vector<uint8_t> receiveBlocks(EmuWire& wire, size_t maxSize);

} // namespace varmexemu
