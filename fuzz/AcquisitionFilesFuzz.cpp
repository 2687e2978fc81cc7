// Feeds arbitrary bytes to the ".heq" and ".bin" readers: a damaged or
// foreign file must be refused or read, never crash the program, and what is
// read must go through the sequence walks a replay makes.
//
// An input that starts with the ".bin" header bytes is a ".bin" file image.
// Anything else is a ".heq" image without the unused ends of its tables: the
// identity word, the name, the header, node records 0 .. lastNode, then
// quadripole records from 0; the rest of the full-size image is zero, as in
// a file written for a short sequence. That keeps the inputs small while the
// header checks, the tables and the walks all stay within reach.
#include "common/ByteOrder.h"
#include "files/AcquisitionFiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kHeadSize = kInstrumentWordSize + kAcquisitionNameSize + AcquisitionHeader::kSize;
constexpr size_t kNodeTableSize = size_t(kMaxNodes) * NodeRecord::kSize;
constexpr size_t kQuadripoleTableSize = size_t(kMaxQuadripoles) * QuadripoleRecord::kSize;
constexpr size_t kLastNodeInHead =
    kInstrumentWordSize + kAcquisitionNameSize + offsetof(AcquisitionHeader, lastNode);
static_assert(kHeadSize + kNodeTableSize + kQuadripoleTableSize == kHeqFileSize);

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "AcquisitionFilesFuzz: broken invariant: %s\n", what);
        std::abort();
    }
}

// Fills image (kHeqFileSize bytes, kept between runs so that no run pays
// for a fresh large allocation) from a compact input.
void ExpandHeq(const uint8_t* data, size_t size, std::vector<uint8_t>& image) {
    image.assign(kHeqFileSize, 0);
    size_t used = std::min(size, kHeadSize);
    std::memcpy(image.data(), data, used);
    const int32_t lastNode = le::getI32(image.data() + kLastNodeInHead);
    const size_t nodes = lastNode < 0 ? 0 : std::min<size_t>(size_t(lastNode) + 1, kMaxNodes);
    const size_t nodeBytes = std::min(nodes * NodeRecord::kSize, size - used);
    std::memcpy(image.data() + kHeadSize, data + used, nodeBytes);
    used += nodeBytes;
    const size_t quadripoleBytes = std::min(kQuadripoleTableSize, size - used);
    std::memcpy(image.data() + kHeadSize + kNodeTableSize, data + used, quadripoleBytes);
}

// What a replay does with the sequence: group the dipoles batch by batch and
// place every quadripole.
void WalkSequence(const Sequence& sequence, const AcquisitionHeader& header) {
    const int total = sequence.QuadripoleCountCapped();
    Require(total >= 1 && total <= kMaxQuadripoles, "accepted sequence of no quadripoles");
    int first = 0;
    while (first < total) {
        int count = header.ChannelCountCapped();
        int16_t list[kDipoleListSize];
        sequence.GroupDipoles(first, count, list);
        Require(count >= 0 && count <= kMaxChannels, "group larger than a batch");
        first += std::max(count, 1);
    }
    for (int i = 0; i < total; ++i) {
        float coords[12];
        sequence.QuadripoleCoordinates(i, coords);
        (void)Sequence::PseudoDepth(coords);
        (void)Sequence::MidPoint(coords, 0);
    }
}

// The reader takes a path: every run writes its input to one scratch file,
// removed when the fuzzer exits. Memory-backed /dev/shm where there is one:
// rewriting a file on a disk file system costs a flush per run.
const std::string& ScratchPath() {
    static const std::string path = [] {
        std::string folder = "/tmp";
        if (access("/dev/shm", W_OK) == 0)
            folder = "/dev/shm";
        else if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
            folder = tmp;
        return folder + "/pylorix-fuzz-" + std::to_string(getpid()) + ".bin";
    }();
    static const int removal = std::atexit([] { std::remove(ScratchPath().c_str()); });
    (void)removal;
    return path;
}

void ReadBin(const uint8_t* data, size_t size) {
    const std::string& path = ScratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written)
        return;
    BinFileReader reader;
    if (!reader.Open(path).ok)
        return;
    Require(reader.RecordCount() == int64_t((size - kBinHeaderSize) / MeasureRecord::kSize),
            "record count differs from the file size");
    MeasureRecord record;
    uint8_t again[MeasureRecord::kSize];
    while (reader.Next(record)) {
        // The records are copied bit for bit: reading and writing one back
        // must give the very bytes of the file.
        const size_t at = kBinHeaderSize + size_t(reader.RecordsRead() - 1) * MeasureRecord::kSize;
        record.Encode(again);
        Require(std::memcmp(again, data + at, MeasureRecord::kSize) == 0,
                "a record does not read back bit for bit");
    }
    Require(reader.RecordsRead() == reader.RecordCount(), "records left unread");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    if (IsBinHeader(data, size)) {
        ReadBin(data, size);
        return 0;
    }
    static auto sequence = std::make_unique<Sequence>();
    static std::vector<uint8_t> image;
    HeqContent content;
    ExpandHeq(data, size, image);
    if (DecodeHeqImage(image.data(), image.size(), content, *sequence).ok)
        WalkSequence(*sequence, content.header);
    return 0;
}
