#include "BlockTransfer.h"

#include "ByteImage.h"
#include "EmuRandom.h"
#include "EmuWire.h"

#include <algorithm>

namespace varmexemu {

namespace {

uint16_t nextSequence(uint16_t seq) {
    return seq >= 127 ? 1 : uint16_t(seq + 1);
}

// Checksum of a block: the two bytes of its length, then its data.
uint16_t blockSum(const std::vector<uint8_t>& data) {
    const uint16_t len = uint16_t(data.size());
    const uint8_t lenBytes[2] = {uint8_t(len & 0xFF), uint8_t(len >> 8)};
    return uint16_t(checksum16(lenBytes, 2) + checksum16(data));
}

// sumError, when not 0, is mixed into the check word: the block then
// arrives whole but fails its check.
void writeBlock(EmuWire& wire, const std::vector<uint8_t>& data, bool damage, EmuRandom* random,
                uint16_t sumError = 0) {
    // length word << 6, data, checksum word
    std::vector<uint8_t> out(data.size() + 4);
    const uint16_t lenWord = uint16_t(data.size() << 6);
    const uint16_t sum = uint16_t(blockSum(data) ^ sumError);
    out[0] = uint8_t(lenWord & 0xFF);
    out[1] = uint8_t(lenWord >> 8);
    std::copy(data.begin(), data.end(), out.begin() + 2);
    out[data.size() + 2] = uint8_t(sum & 0xFF);
    out[data.size() + 3] = uint8_t(sum >> 8);
    const size_t start = 2;
    if (damage && random && !data.empty()) {
        const size_t at = start + size_t(random->uniformInt(0, int(data.size()) - 1));
        out[at] ^= uint8_t(random->uniformInt(1, 255));
    }
    wire.write(out);
}

// Length of the over-long blocks of a wedged transfer: past the limit,
// and still a length the 10-bit length field can carry.
constexpr size_t kWedgeBlockLength = kMaxBlockData + 72;

[[noreturn]] void sendWedged(EmuWire& wire, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> block(
        data.begin(), data.begin() + std::ptrdiff_t(std::min<size_t>(kMaxBlockData, data.size())));
    std::vector<uint8_t> tooLong(kWedgeBlockLength);
    for (size_t i = 0; i < tooLong.size(); ++i)
        tooLong[i] = data[i % data.size()];
    for (bool longOne = true;; longOne = !longOne) {
        const uint16_t request = wire.needWord("block request");
        wire.writeWord(request);
        if (longOne) {
            // Its check word is right for what was sent: only the length
            // is wrong.
            writeBlock(wire, tooLong, false, nullptr);
            continue;
        }
        writeBlock(wire, block, false, nullptr, 0x5A5A);
    }
}

} // namespace

void sendBlocks(EmuWire& wire, const std::vector<uint8_t>& data, BlockFaults* faults) {
    // Synchronisation: echo whatever comes until the monitor's 0x00.
    for (;;) {
        const uint8_t e = wire.needByte("block synchronisation");
        wire.writeByte(e);
        if (e == 0x00)
            break;
    }
    wire.writeLong(int32_t(data.size()));
    if (faults && faults->wedge)
        sendWedged(wire, data);

    uint16_t seq = 1, prev = 1;
    size_t position = 0;
    std::vector<uint8_t> block;
    for (;;) {
        const uint16_t request = wire.needWord("block request");
        wire.writeWord(request);
        if (request == seq) {
            if (position >= data.size())
                return; // the request after the last block ends the transfer
            const size_t len = std::min<size_t>(kMaxBlockData, data.size() - position);
            block.assign(data.begin() + std::ptrdiff_t(position),
                         data.begin() + std::ptrdiff_t(position + len));
            position += len;
            prev = seq;
            seq = nextSequence(seq);
            const bool damage =
                faults && faults->random && faults->random->chance(faults->probability);
            if (damage)
                ++faults->damaged;
            writeBlock(wire, block, damage, faults ? faults->random : nullptr);
        } else if (request == prev && !block.empty()) {
            writeBlock(wire, block, false, nullptr);
        }
        // Any other request is answered by its echo only; the monitor asks
        // again.
    }
}

std::vector<uint8_t> receiveBlocks(EmuWire& wire, size_t maxSize) {
    wire.discardInput();
    wire.writeByte(0x00);
    // The monitor echoes every byte until it sees the 0x00.
    while (wire.needByte("block synchronisation echo") != 0x00) {
    }
    const int32_t total = wire.needLong("transfer length");
    std::vector<uint8_t> data;
    size_t received = 0;
    uint16_t seq = 1;
    int badInRow = 0;
    while (total > 0 && received < size_t(total)) {
        wire.writeWord(seq);
        if (wire.needWord("request echo") != seq) {
            if (++badInRow > 20)
                throw WireTimeout("the monitor does not answer block requests");
            wire.discardInput();
            continue;
        }
        const size_t len = wire.needWord("block length") >> 6;
        if (len == 0)
            break;
        if (len > size_t(kMaxBlockData))
            throw WireTimeout("block longer than 528 bytes");
        const std::vector<uint8_t> block = wire.needBytes(len, "block data");
        const uint16_t sum = wire.needWord("block checksum");
        if (sum != blockSum(block)) {
            if (++badInRow > 20)
                throw WireTimeout("too many damaged blocks");
            continue; // the same number again: the monitor repeats the block
        }
        badInRow = 0;
        received += len;
        for (uint8_t b : block)
            if (data.size() < maxSize)
                data.push_back(b);
        seq = nextSequence(seq);
    }
    // Asking for the block after the last one ends the transfer.
    wire.writeWord(seq);
    wire.needWord("closing echo");
    return data;
}

} // namespace varmexemu
