#pragma once
// Command exchanges that both protocol generations share: plain
// little-endian values on the link, the check run's token exchange, the
// electrode list, the mode and the GPS download. Internal to the instrument
// library.
#include "link/Link.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace protocol {

void SendInt16(Link& link, int16_t value);
void SendInt32(Link& link, int32_t value);
void SendFloat32(Link& link, float value);
int32_t ReadInt32(Link& link);
float ReadFloat32(Link& link);
double ReadFloat64(Link& link);

// SendCommand whose refusal is not acted upon: the transfer that follows
// then times out or fails in the link.
void StartCommand(Link& link, uint8_t code);

// How a check run treats its tokens.
struct CheckRunRules {
    int timeoutMs = 40000;
    int64_t progressMaximum = 0;
    // Wi-Fi: an unknown token inside a measurement ends the run with 0, and
    // "OK" advances the progress bar before its block.
    bool unknownTokenEnds = false;
    bool advanceBeforeBlock = false;
};

// The token exchange after command 32: "GO", a value, then "+-" (progress)
// and "OK" (a measurement block, received by receiveBlock) until a token
// other than "GO" ends it. Returns the value read last when that final
// token is "ST", else 0.
int32_t RunCheckTokens(Link& link, ProgressBar* bar, const CheckRunRules& rules,
                       const std::function<void()>& receiveBlock);

// int16 1, then `size` int16 electrodes from list (zero padded, extra ones
// ignored).
void SendElectrodeList(Link& link, std::span<const int16_t> list, int size);

// Command 37: the value, a 500 ms pause and, when sendOne, the int16 1.
void SendMode(Link& link, int32_t value, bool sendOne);

// Command 42 after asking the operator for the sentence name. position is
// cleared first; a cancelled question sends nothing.
void DownloadGps(Link& link, uint8_t position[4]);

// Creates the ".bin" file with its header; the comment is cut so that the
// date line, the comment and a terminating zero fit the text block. Raises
// FileError.
void CreateBinDataFile(const std::string& fileName, const std::string& comment);

// Command 44: one float32.
float ReadInstrumentValue(Link& link);

} // namespace protocol
