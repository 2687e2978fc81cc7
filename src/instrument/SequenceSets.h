#pragma once
// Receiving the node and quadripole sets into the sequence store: the checks
// and the table filling that both protocol generations share.
#include "link/Link.h"
#include "sequence/Sequence.h"

#include <cstddef>
#include <cstdint>

class Instrument;

namespace sets {
constexpr int kHighestNode = 2000;    // node slots a download fills
constexpr size_t kNodeEntrySize = 12; // float32 x, y, z
constexpr size_t kNodeBlockCapacity = 24012;
constexpr size_t kQuadripoleEntrySize = 8; // uint16 A, B, M, N
constexpr size_t kQuadripoleBlockCapacity = 128000;
constexpr size_t kSpareBlockSize = 48;
constexpr int32_t kNodeSetError = -3;
constexpr int32_t kQuadripoleSetError = -4;
} // namespace sets

// True when first .. last is a node range the table can take.
bool NodeRangeValid(int32_t firstNode, int32_t lastNode);

// Fills node slots 0 .. 2000 from a node block: slots below firstNode
// cleared, node 0 the remote electrode, node k (firstNode .. lastNode) from
// block entry k - blockFirstNode, slots after lastNode cleared. The caller
// has checked the range and that the block holds every entry needed.
void StoreNodeBlock(Sequence& store, const uint8_t* block, int32_t firstNode, int32_t lastNode,
                    int32_t blockFirstNode);

// Quadripoles 0 .. count - 1 from a block of count 8-byte entries; bit 15
// of A marks a gap filler.
void StoreQuadripoleBlock(Sequence& store, const uint8_t* block, int32_t count);

// Receives the quadripole set for device.header into the store (status
// caption, count checks, block, idle indicator). Returns the count or -4.
int32_t ReceiveQuadripoleSet(Link& link, Instrument& device);
