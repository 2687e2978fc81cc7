#pragma once
// Pseudo-terminal and other POSIX-only calls of the emulator, kept in one
// place so that the rest of it builds anywhere Qt does. Where there are no
// pseudo-terminals the functions report that and do nothing.
#include <cstdint>
#include <string>

namespace varmexemu::pty {

struct PtyHandle {
    int fd = -1;           // the master side, kept by the emulator
    std::string slavePath; // the device the monitor opens
};

// Creates a pseudo-terminal in raw mode (no echo, no line editing, no
// character translation), so that bytes pass unchanged.
bool create(PtyHandle& handle, std::string& error);
void close(PtyHandle& handle);

enum class PollResult { Ready, Timeout, HungUp };

// Whether someone holds the slave side open.
bool peerAttached(const PtyHandle& handle);
// Waits until data can be read, the slave side is closed, or the time is up.
PollResult waitReadable(const PtyHandle& handle, int timeoutMs);
// Reads what has arrived; -1 when the slave side has gone.
int readSome(const PtyHandle& handle, uint8_t* buffer, int max);
// Writes everything within the time; false when the slave side has gone or
// the bytes could not be delivered in time.
bool writeAll(const PtyHandle& handle, const uint8_t* data, int count, int timeoutMs);
// Writes what the pseudo-terminal takes within timeoutMs: the bytes taken
// (0 when its queue stayed full), -1 when the slave side has gone.
int writeSome(const PtyHandle& handle, const uint8_t* data, int count, int timeoutMs);

// Waits (at most timeoutMs) until the monitor has read everything sent, so
// that closing the pseudo-terminal does not throw the last bytes away.
void drain(const PtyHandle& handle, int timeoutMs);

// A peer that disappears while the emulator writes must end the session,
// not the process.
void ignoreBrokenPipe();

} // namespace varmexemu::pty
