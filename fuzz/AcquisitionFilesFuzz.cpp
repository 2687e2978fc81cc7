// Feeds arbitrary bytes to the ".heq" and ".bin" readers: a damaged or
// foreign file must be refused or read, never crash the program.
#include "files/AcquisitionFiles.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto sequence = std::make_unique<Sequence>();
    HeqContent content;
    // Small inputs are stretched to the full size so that the header checks
    // (not only the length check) get exercised.
    std::vector<uint8_t> image(data, data + size);
    if (image.size() < kHeqFileSize && !image.empty())
        image.resize(kHeqFileSize, image.back());
    (void)DecodeHeqImage(image.data(), image.size(), content, *sequence);
    if (sequence->quadripoleCount > 0) {
        int count = 20;
        int16_t list[kDipoleListSize];
        sequence->GroupDipoles(0, count, list);
        float coords[12];
        sequence->QuadripoleCoordinates(sequence->quadripoleCount - 1, coords);
        (void)Sequence::PseudoDepth(coords);
    }

    static const std::string path = "/tmp/pylorix-fuzz-" + std::to_string(getpid()) + ".bin";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    BinFileReader reader;
    if (reader.Open(path).ok) {
        MeasureRecord record;
        while (reader.Next(record)) {
        }
    }
    return 0;
}
