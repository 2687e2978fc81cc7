#include "instrument/SequenceSets.h"

#include "common/ByteOrder.h"
#include "instrument/Instrument.h"

#include <bit>
#include <vector>

bool NodeRangeValid(int32_t firstNode, int32_t lastNode) {
    return firstNode >= 0 && firstNode <= lastNode && lastNode <= sets::kHighestNode;
}

void StoreNodeBlock(Sequence& store, const uint8_t* block, int32_t firstNode, int32_t lastNode,
                    int32_t blockFirstNode) {
    if (!NodeRangeValid(firstNode, lastNode) || blockFirstNode > firstNode)
        return;
    for (int32_t k = 0; k < firstNode; ++k)
        store.nodes[k] = NodeRecord{};
    // The remote electrode; block entry 0 replaces it when firstNode is 0.
    const float infinity = std::bit_cast<float>(0x47C34FFFu);
    store.nodes[0] = {infinity, infinity, infinity, 0};
    for (int32_t k = firstNode; k <= lastNode; ++k) {
        const uint8_t* e = block + size_t(k - blockFirstNode) * sets::kNodeEntrySize;
        store.nodes[k] = {le::getF32(e), le::getF32(e + 4), le::getF32(e + 8), k};
    }
    for (int32_t k = lastNode + 1; k <= sets::kHighestNode; ++k)
        store.nodes[k] = NodeRecord{};
}

void StoreQuadripoleBlock(Sequence& store, const uint8_t* block, int32_t count) {
    for (int32_t i = 0; i < count && i < kMaxQuadripoles; ++i) {
        const uint8_t* e = block + size_t(i) * sets::kQuadripoleEntrySize;
        const uint16_t a = le::get16(e);
        store.quadripoles[i] = {a & 0x7FFF, le::get16(e + 2), le::get16(e + 4), le::get16(e + 6),
                                (a & 0x8000) ? -1 : 0};
    }
}

int32_t ReceiveQuadripoleSet(Link& link, Instrument& device) {
    ProtocolView& view = device.View();
    view.SetStatusCaption("Receiving quadripole set...");
    const int64_t count = device.header.SequenceLength();
    if (count > kMaxQuadripoles)
        return sets::kQuadripoleSetError;
    std::vector<uint8_t> block(sets::kQuadripoleBlockCapacity);
    int received = 0;
    try {
        received = link.ReceiveBlocks(block.data(), block.size(), view.MainProgressBar(),
                                      view.CrcErrorIndicator());
    } catch (const LinkError&) {
        return sets::kQuadripoleSetError;
    }
    if (received <= 0 || count < 1 || received / int(sets::kQuadripoleEntrySize) != count)
        return sets::kQuadripoleSetError;
    view.ShowReceiveIdle();
    PumpMessages();
    StoreQuadripoleBlock(device, block.data(), int32_t(count));
    return int32_t(count);
}
