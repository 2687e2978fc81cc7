#pragma once
// Little-endian reading and writing of wire and file fields. Every multi-byte
// value that crosses a link or lands in a file goes through these, so the
// byte order never depends on the host.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace le {

inline void put8(uint8_t* p, uint8_t v) {
    p[0] = v;
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putI16(uint8_t* p, int16_t v) {
    put16(p, uint16_t(v));
}
inline void putI32(uint8_t* p, int32_t v) {
    put32(p, uint32_t(v));
}
inline void putF32(uint8_t* p, float v) {
    put32(p, std::bit_cast<uint32_t>(v));
}
inline void putF64(uint8_t* p, double v) {
    put64(p, std::bit_cast<uint64_t>(v));
}

inline uint8_t get8(const uint8_t* p) {
    return p[0];
}
inline uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (uint16_t(p[1]) << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}
inline int16_t getI16(const uint8_t* p) {
    return int16_t(get16(p));
}
inline int32_t getI32(const uint8_t* p) {
    return int32_t(get32(p));
}
inline float getF32(const uint8_t* p) {
    return std::bit_cast<float>(get32(p));
}
inline double getF64(const uint8_t* p) {
    return std::bit_cast<double>(get64(p));
}

} // namespace le
