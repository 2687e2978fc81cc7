// Arbitrary bytes as instrument records: the wired record decoder and the
// Wi-Fi raw-record completion must accept any content, in a normal or a
// moving-array acquisition, without reading or writing out of bounds.
#include "instrument/InstrumentRecords.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto store = std::make_unique<Sequence>();
    if (size == 0)
        return 0;

    // The input, repeated up to a whole raw record.
    std::vector<uint8_t> raw(wifi::kRawRecordSize);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = data[i % size];

    MeasureRecord m{};
    const char name[12] = "FUZZ0000001";
    DecodeWiredRecord(raw.data(), name, 45000.5, m);
    (void)WiredRecordCheckOk(raw.data());

    // Quadripole index and store content driven by the input as well.
    int32_t index;
    std::memcpy(&index, raw.data() + 4000, sizeof index);
    const int slot = int(uint32_t(index) % kMaxQuadripoles);
    store->quadripoles[slot] = QuadripoleRecord::Decode(raw.data() + 3000);
    store->nodes[raw[2999] % kMaxNodes] = NodeRecord::Decode(raw.data() + 3100);

    const std::string rppName(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
    StampRawRecord(raw.data(), rppName);
    DecodeRawRecord(raw.data(), *store, index, nullptr, 45000.5, m);
    DecodeRawRecord(raw.data(), *store, slot, raw.data() + 1000, 45000.5, m);
    return 0;
}
