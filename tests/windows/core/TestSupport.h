#pragma once
// The test helpers of tests/common/TestSupport.h without Qt, for the data
// core's tests where Qt is not built (the Windows cross build). Paths are
// UTF-8 text, as the file layer takes them.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh temporary folder that is also exported as PYLORIX_ROOT while the
// object lives, so that nothing a test writes lands in a real data folder.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    std::string path() const;

private:
    std::filesystem::path dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Little-endian byte image builder for hand-made wire and file images.
class Bytes {
public:
    Bytes& u8(uint8_t v);
    Bytes& i16(int16_t v);
    Bytes& u16(uint16_t v);
    Bytes& i32(int32_t v);
    Bytes& u32(uint32_t v);
    Bytes& f32(float v);
    Bytes& f64(double v);
    Bytes& text(const std::string& s, size_t width);
    Bytes& zeros(size_t n);
    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }

private:
    std::vector<uint8_t> data_;
};

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& data);

uint16_t le16(const std::vector<uint8_t>& d, size_t off);
uint32_t le32(const std::vector<uint8_t>& d, size_t off);
float lef32(const std::vector<uint8_t>& d, size_t off);
double lef64(const std::vector<uint8_t>& d, size_t off);

} // namespace testsupport
