// Arbitrary bytes as instrument records: the wired record decoder and the
// Wi-Fi raw-record completion must accept any content, in a normal or a
// moving-array acquisition, without reading or writing out of bounds.
#include "instrument/InstrumentRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "InstrumentRecordsFuzz: broken invariant: %s\n", what);
        std::abort();
    }
}

bool KnownConfigurationCode(int16_t code) {
    for (int16_t known : {0, 1, 2, 3, 4, 6, 10}) {
        if (code == known)
            return true;
    }
    return false;
}

} // namespace

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
    // Whatever the instrument sent, the stored record carries a code the
    // replay knows, this acquisition's name and clean reserved bytes.
    Require(KnownConfigurationCode(m.configurationCode), "configuration code outside the table");
    Require(std::memcmp(m.recordName, name, sizeof name) == 0, "record name not the acquisition's");
    Require(m.reserved14[0] == 0 && m.reserved14[1] == 0, "reserved bytes written");

    // Quadripole index and store content driven by the input as well.
    int32_t index;
    std::memcpy(&index, raw.data() + 4000, sizeof index);
    const int slot = int(uint32_t(index) % kMaxQuadripoles);
    store->quadripoles[slot] = QuadripoleRecord::Decode(raw.data() + 3000);
    store->nodes[raw[2999] % kMaxNodes] = NodeRecord::Decode(raw.data() + 3100);

    const std::string rppName(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
    StampRawRecord(raw.data(), rppName);
    // The ".rpp" name field is read back as a zero-terminated text.
    Require(std::memchr(raw.data() + wifi::kRppName, 0, 32) != nullptr,
            "file name in the raw record without its terminating zero");
    Require(std::memcmp(raw.data() + wifi::kRemoteText, "Remote", 7) == 0, "raw record not marked");
    DecodeRawRecord(raw.data(), *store, index, nullptr, 45000.5, m);
    DecodeRawRecord(raw.data(), *store, slot, raw.data() + 1000, 45000.5, m);
    const char noName[12] = {};
    Require(m.configurationCode == 10, "Wi-Fi record with a wired configuration code");
    Require(std::memcmp(m.recordName, noName, sizeof noName) == 0, "Wi-Fi record with a name");
    return 0;
}
