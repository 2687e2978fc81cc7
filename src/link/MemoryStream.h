#pragma once
// The buffer of one block transfer: appended to while blocks arrive, then
// read from the start.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A growable in-memory byte stream with a read position.
class MemoryStream {
public:
    void Clear() {
        data_.clear();
        position_ = 0;
    }
    void Write(const uint8_t* data, size_t count) {
        data_.insert(data_.end(), data, data + count);
        position_ = data_.size();
    }
    size_t Read(uint8_t* out, size_t count) {
        const size_t n = std::min(count, data_.size() - position_);
        if (n > 0)
            std::memcpy(out, data_.data() + position_, n);
        position_ += n;
        return n;
    }
    void Seek(size_t position) { position_ = position < data_.size() ? position : data_.size(); }
    size_t Size() const { return data_.size(); }
    size_t Position() const { return position_; }
    const uint8_t* Data() const { return data_.data(); }

private:
    std::vector<uint8_t> data_;
    size_t position_ = 0;
};
