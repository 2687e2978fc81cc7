#pragma once
// Little-endian byte images for everything the emulated instrument sends.
// Every field is written at an explicit offset so that a layout can be read
// against its table line by line; nothing is cast from a struct.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace varmexemu {

class ByteImage {
public:
    explicit ByteImage(size_t size = 0) : data_(size, 0) {}

    size_t size() const { return data_.size(); }
    const std::vector<uint8_t>& bytes() const { return data_; }
    std::vector<uint8_t>& bytes() { return data_; }

    void putU8(size_t off, uint8_t v) { at(off, 1)[0] = v; }
    void putU16(size_t off, uint16_t v) {
        uint8_t* p = at(off, 2);
        p[0] = uint8_t(v & 0xFF);
        p[1] = uint8_t(v >> 8);
    }
    void putI16(size_t off, int16_t v) { putU16(off, static_cast<uint16_t>(v)); }
    void putU32(size_t off, uint32_t v) {
        uint8_t* p = at(off, 4);
        for (int i = 0; i < 4; ++i)
            p[i] = uint8_t((v >> (8 * i)) & 0xFF);
    }
    void putI32(size_t off, int32_t v) { putU32(off, static_cast<uint32_t>(v)); }
    void putF32(size_t off, float v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        putU32(off, u);
    }
    void putF64(size_t off, double v) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        uint8_t* p = at(off, 8);
        for (int i = 0; i < 8; ++i)
            p[i] = uint8_t((u >> (8 * i)) & 0xFF);
    }
    // Text field of a fixed width: truncated, zero padded.
    void putText(size_t off, const std::string& s, size_t width) {
        uint8_t* p = at(off, width);
        for (size_t i = 0; i < width; ++i)
            p[i] = i < s.size() ? uint8_t(s[i]) : 0;
    }

    uint8_t getU8(size_t off) const { return data_.at(off); }
    uint16_t getU16(size_t off) const { return uint16_t(data_.at(off) | (data_.at(off + 1) << 8)); }
    uint32_t getU32(size_t off) const {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | data_.at(off + i);
        return v;
    }
    int32_t getI32(size_t off) const { return static_cast<int32_t>(getU32(off)); }

private:
    uint8_t* at(size_t off, size_t n) {
        if (off + n > data_.size())
            data_.resize(off + n, 0);
        return data_.data() + off;
    }
    std::vector<uint8_t> data_;
};

// 16-bit sum of the bytes taken as unsigned values, wrapping.
inline uint16_t checksum16(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += data[i];
    return uint16_t(sum & 0xFFFF);
}

inline uint16_t checksum16(const std::vector<uint8_t>& data) {
    return checksum16(data.data(), data.size());
}

inline void appendU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t(v >> 8));
}

inline void appendI32(std::vector<uint8_t>& out, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t((u >> (8 * i)) & 0xFF));
}

inline void appendF32(std::vector<uint8_t>& out, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    appendI32(out, static_cast<int32_t>(u));
}

inline void appendF64(std::vector<uint8_t>& out, double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        out.push_back(uint8_t((u >> (8 * i)) & 0xFF));
}

} // namespace varmexemu
