// The Qt-free test helpers (core/TestSupport.h) and the entry point of the
// data core's test programs in a build without Qt: a private data root for
// the whole run.
#include "TestEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

fs::path FromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string ToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path FreshFolder() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        const fs::path dir = fs::temp_directory_path() / ("pylorix-test-" + std::to_string(stamp) +
                                                          "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(dir, ec))
            return dir;
        if (ec)
            throw std::runtime_error("cannot create a temporary folder: " + ec.message());
    }
}

} // namespace

namespace testsupport {

TempRoot::TempRoot() : dir_(FreshFolder()) {
    const char* previous = std::getenv("PYLORIX_ROOT");
    hadPrevious_ = previous != nullptr;
    previous_ = previous ? previous : "";
    SetEnvironment("PYLORIX_ROOT", path());
}

TempRoot::~TempRoot() {
    if (hadPrevious_)
        SetEnvironment("PYLORIX_ROOT", previous_);
    else
        UnsetEnvironment("PYLORIX_ROOT");
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string TempRoot::path() const {
    return ToUtf8(dir_);
}

Bytes& Bytes::u8(uint8_t v) {
    data_.push_back(v);
    return *this;
}
Bytes& Bytes::i16(int16_t v) {
    return u16(static_cast<uint16_t>(v));
}
Bytes& Bytes::u16(uint16_t v) {
    return u8(uint8_t(v & 0xFF)).u8(uint8_t(v >> 8));
}
Bytes& Bytes::i32(int32_t v) {
    return u32(static_cast<uint32_t>(v));
}
Bytes& Bytes::u32(uint32_t v) {
    return u16(uint16_t(v & 0xFFFF)).u16(uint16_t(v >> 16));
}
Bytes& Bytes::f32(float v) {
    uint32_t u = 0;
    std::memcpy(&u, &v, 4);
    return u32(u);
}
Bytes& Bytes::f64(double v) {
    uint64_t u = 0;
    std::memcpy(&u, &v, 8);
    return u32(uint32_t(u & 0xFFFFFFFFu)).u32(uint32_t(u >> 32));
}
Bytes& Bytes::text(const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i)
        data_.push_back(i < s.size() ? uint8_t(s[i]) : 0);
    return *this;
}
Bytes& Bytes::zeros(size_t n) {
    data_.insert(data_.end(), n, 0);
    return *this;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(FromUtf8(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint16_t le16(const std::vector<uint8_t>& d, size_t off) {
    return uint16_t(d.at(off) | (d.at(off + 1) << 8));
}
uint32_t le32(const std::vector<uint8_t>& d, size_t off) {
    return uint32_t(le16(d, off)) | (uint32_t(le16(d, off + 2)) << 16);
}
float lef32(const std::vector<uint8_t>& d, size_t off) {
    const uint32_t u = le32(d, off);
    float f = 0;
    std::memcpy(&f, &u, 4);
    return f;
}
double lef64(const std::vector<uint8_t>& d, size_t off) {
    const uint64_t u = uint64_t(le32(d, off)) | (uint64_t(le32(d, off + 4)) << 32);
    double v = 0;
    std::memcpy(&v, &u, 8);
    return v;
}

} // namespace testsupport

int main(int argc, char** argv) {
    testsupport::TempRoot root;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
