#include "TestSupport.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

TempRoot::TempRoot() {
    hadPrevious_ = qEnvironmentVariableIsSet("PYLORIX_ROOT");
    previous_ = qgetenv("PYLORIX_ROOT");
    qputenv("PYLORIX_ROOT", dir_.path().toLocal8Bit());
}

TempRoot::~TempRoot() {
    if (hadPrevious_)
        qputenv("PYLORIX_ROOT", previous_);
    else
        qunsetenv("PYLORIX_ROOT");
}

std::string TempRoot::path() const {
    return dir_.path().toStdString();
}

Bytes& Bytes::u8(uint8_t v) {
    data_.push_back(v);
    return *this;
}
Bytes& Bytes::i16(int16_t v) {
    return u16(static_cast<uint16_t>(v));
}
Bytes& Bytes::u16(uint16_t v) {
    data_.push_back(uint8_t(v & 0xFF));
    data_.push_back(uint8_t(v >> 8));
    return *this;
}
Bytes& Bytes::i32(int32_t v) {
    return u32(static_cast<uint32_t>(v));
}
Bytes& Bytes::u32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
        data_.push_back(uint8_t((v >> (8 * i)) & 0xFF));
    return *this;
}
Bytes& Bytes::f32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u32(u);
}
Bytes& Bytes::f64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        data_.push_back(uint8_t((u >> (8 * i)) & 0xFF));
    return *this;
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
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint16_t le16(const std::vector<uint8_t>& d, size_t off) {
    return uint16_t(d.at(off) | (d.at(off + 1) << 8));
}
uint32_t le32(const std::vector<uint8_t>& d, size_t off) {
    return uint32_t(d.at(off)) | (uint32_t(d.at(off + 1)) << 8) | (uint32_t(d.at(off + 2)) << 16) |
           (uint32_t(d.at(off + 3)) << 24);
}
float lef32(const std::vector<uint8_t>& d, size_t off) {
    uint32_t u = le32(d, off);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
double lef64(const std::vector<uint8_t>& d, size_t off) {
    uint64_t u = uint64_t(le32(d, off)) | (uint64_t(le32(d, off + 4)) << 32);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

} // namespace testsupport
