#include "EmuWire.h"

#include "ByteImage.h"
#include "Transport.h"

#include <QElapsedTimer>

namespace varmexemu {

EmuWire::EmuWire(EmuTransport& transport, int timeoutMs)
    : transport_(transport), timeoutMs_(timeoutMs) {}

bool EmuWire::fill(int timeoutMs) {
    uint8_t buffer[4096];
    const int n = transport_.read(buffer, int(sizeof buffer), timeoutMs);
    if (n < 0)
        throw LinkLostError("the monitor closed the link");
    input_.insert(input_.end(), buffer, buffer + n);
    return n > 0;
}

int EmuWire::readByte(int timeoutMs) {
    if (input_.empty()) {
        QElapsedTimer timer;
        timer.start();
        // A read may return without data before the time is up (a signal,
        // a socket notice); keep waiting for the rest of the time.
        for (;;) {
            const int left = timeoutMs - int(timer.elapsed());
            if (fill(left > 0 ? left : 0))
                break;
            if (left <= 0)
                return -1;
        }
    }
    const uint8_t b = input_.front();
    input_.pop_front();
    return b;
}

uint8_t EmuWire::needByte(const char* what) {
    const int b = readByte(timeoutMs_);
    if (b < 0)
        throw WireTimeout(std::string("no answer from the monitor: ") + what);
    return uint8_t(b);
}

std::vector<uint8_t> EmuWire::needBytes(size_t count, const char* what) {
    QElapsedTimer timer;
    timer.start();
    while (input_.size() < count) {
        const int left = timeoutMs_ - int(timer.elapsed());
        if (left <= 0)
            throw WireTimeout(std::string("no answer from the monitor: ") + what);
        fill(left);
    }
    std::vector<uint8_t> out(input_.begin(), input_.begin() + std::ptrdiff_t(count));
    input_.erase(input_.begin(), input_.begin() + std::ptrdiff_t(count));
    return out;
}

uint16_t EmuWire::needWord(const char* what) {
    const std::vector<uint8_t> b = needBytes(2, what);
    return uint16_t(b[0] | (b[1] << 8));
}

int32_t EmuWire::needLong(const char* what) {
    const std::vector<uint8_t> b = needBytes(4, what);
    return int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
                   (uint32_t(b[3]) << 24));
}

void EmuWire::discardInput() {
    input_.clear();
    while (fill(0)) {
    }
    input_.clear();
}

void EmuWire::write(const uint8_t* data, size_t count) {
    if (count == 0)
        return;
    if (!transport_.write(data, int(count), timeoutMs_))
        throw LinkLostError("the monitor closed the link");
}

void EmuWire::write(const std::vector<uint8_t>& bytes) {
    write(bytes.data(), bytes.size());
}

void EmuWire::writeByte(uint8_t b) {
    write(&b, 1);
}

void EmuWire::writeWord(uint16_t w) {
    std::vector<uint8_t> b;
    appendU16(b, w);
    write(b);
}

void EmuWire::writeLong(int32_t v) {
    std::vector<uint8_t> b;
    appendI32(b, v);
    write(b);
}

void EmuWire::writeText(const std::string& s) {
    write(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

} // namespace varmexemu
