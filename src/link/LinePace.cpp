#include "link/LinePace.h"

#include <algorithm>
#include <cmath>

void LinePace::SetFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity) {
    const double stop = stopBits == 2 ? 2.0 : stopBits == 1 ? 1.5 : 1.0;
    bits_ = 1.0 + (wordLength == 7 ? 7.0 : 8.0) + (parity != 0 ? 1.0 : 0.0) + stop;
}

void LinePace::Written(uint32_t count, Clock::time_point now) {
    if (baud_ == 0 || count == 0)
        return;
    const auto start = std::max(now, idleAt_);
    idleAt_ = start + std::chrono::nanoseconds(std::llround(double(count) * ByteNs()));
}

uint32_t LinePace::Pending(Clock::time_point now) const {
    if (baud_ == 0 || now >= idleAt_)
        return 0;
    const double ns =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(idleAt_ - now).count());
    // The tolerance absorbs the rounding to whole nanoseconds.
    return uint32_t(std::ceil(ns / ByteNs() - 1e-3));
}
