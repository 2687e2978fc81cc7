// Arbitrary parameter blocks from a Wi-Fi instrument: the header built from
// them, the moving-array sets and the electrode geometry written back must
// stay inside their tables whatever the block holds.
#include "instrument/InstrumentRecords.h"
#include "instrument/SequenceSets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "WifiHeaderFuzz: broken invariant: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto store = std::make_unique<Sequence>();
    if (size == 0)
        return 0;
    std::vector<uint8_t> block(wifi::kParameterBlockSize);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = data[i % size];

    AcquisitionHeader header{};
    const char name[12] = "FUZZ0000001";
    const bool moving = BuildWifiHeader(block.data(), name, header);

    if (moving) {
        Require(header.lastQuadripole == wifi::kMovingArrayLastQuadripole,
                "moving array without its synthesised quadripoles");
        const int32_t built = BuildMovingArraySets(block.data(), *store);
        Require(built == wifi::kMovingArrayLastQuadripole || built == -3,
                "moving-array sets neither built nor refused");
    } else if (NodeRangeValid(header.firstNode, header.lastNode)) {
        // Only a range the download accepts reaches the table, with a block
        // holding every entry.
        std::vector<uint8_t> nodes(size_t(header.lastNode + 1) * sets::kNodeEntrySize);
        for (size_t i = 0; i < nodes.size(); ++i)
            nodes[i] = data[i % size];
        StoreNodeBlock(*store, nodes.data(), header.firstNode, header.lastNode, 0);
    }
    const int64_t count = header.SequenceLength();
    if (count >= 1 && count <= kMaxQuadripoles && size >= 8) {
        std::vector<uint8_t> quads(size_t(count) * sets::kQuadripoleEntrySize);
        for (size_t i = 0; i < quads.size(); ++i)
            quads[i] = data[i % size];
        StoreQuadripoleBlock(*store, quads.data(), int32_t(count));
    }

    int32_t selection[2];
    std::memcpy(selection, block.data() + 2300, sizeof selection);
    WriteDipoleGeometry(block.data(), *store, selection[0], selection[1]);
    return 0;
}
