#pragma once
// Buffered, blocking byte exchange over a transport. Reads that the
// conversation cannot do without throw on time-out; the peer going away
// throws everywhere, so that a session unwinds in one place.
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace varmexemu {

class EmuTransport;

class LinkLostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WireTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EmuWire {
public:
    EmuWire(EmuTransport& transport, int timeoutMs);

    int timeoutMs() const { return timeoutMs_; }

    // One byte, or -1 when none came within timeoutMs (0 only looks).
    int readByte(int timeoutMs);
    // Required input: throws WireTimeout after the wire's time-out.
    uint8_t needByte(const char* what);
    std::vector<uint8_t> needBytes(size_t count, const char* what);
    uint16_t needWord(const char* what);
    int32_t needLong(const char* what);
    // Puts a byte back to be read first.
    void unread(uint8_t b) { input_.push_front(b); }
    // Drops everything received so far.
    void discardInput();

    void write(const std::vector<uint8_t>& bytes);
    void write(const uint8_t* data, size_t count);
    void writeByte(uint8_t b);
    void writeWord(uint16_t w);
    void writeLong(int32_t v);
    void writeText(const std::string& s);

private:
    // Waits up to timeoutMs for more input; false when none came.
    bool fill(int timeoutMs);

    EmuTransport& transport_;
    int timeoutMs_;
    std::deque<uint8_t> input_;
};

} // namespace varmexemu
