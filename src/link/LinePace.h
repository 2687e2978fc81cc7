#pragma once
// When the bytes handed to a UART bridge have left its transmitter, worked
// out from the line's rate and format. The bridge cannot say how much it
// still holds without a USB round trip that lasts up to one latency period,
// and the link asks after every byte.
#include <chrono>
#include <cstdint>

class LinePace {
public:
    using Clock = std::chrono::steady_clock;

    void SetBaudRate(uint32_t baud) { baud_ = baud; }
    // wordLength 7 or 8; stopBits 0 one, 1 one and a half, 2 two; parity 0
    // none, anything else one parity bit.
    void SetFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity);
    // Start bit, data bits, parity bit and stop bits: 10 for 8N1.
    double BitsPerByte() const { return bits_; }
    // count bytes handed over at now; they go out after those still queued.
    void Written(uint32_t count, Clock::time_point now);
    // Bytes not yet sent at now; a byte partly on the line counts.
    uint32_t Pending(Clock::time_point now) const;
    // The transmit queue was purged.
    void Clear() { idleAt_ = {}; }

private:
    double ByteNs() const { return bits_ * 1e9 / double(baud_); }

    uint32_t baud_ = 9600; // what the bridge runs at after it is opened
    double bits_ = 10;
    Clock::time_point idleAt_{};
};
