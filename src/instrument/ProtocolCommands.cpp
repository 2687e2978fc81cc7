#include "instrument/ProtocolCommands.h"

#include "common/ByteOrder.h"
#include "files/AcquisitionFiles.h"
#include "instrument/Instrument.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace protocol {

void SendInt16(Link& link, int16_t value) {
    uint8_t b[2];
    le::putI16(b, value);
    link.WriteBuffer(b, 2);
}

void SendInt32(Link& link, int32_t value) {
    uint8_t b[4];
    le::putI32(b, value);
    link.WriteBuffer(b, 4);
}

void SendFloat32(Link& link, float value) {
    uint8_t b[4];
    le::putF32(b, value);
    link.WriteBuffer(b, 4);
}

int32_t ReadInt32(Link& link) {
    uint8_t b[4];
    link.ReadBuffer(b, 4);
    return le::getI32(b);
}

float ReadFloat32(Link& link) {
    uint8_t b[4];
    link.ReadBuffer(b, 4);
    return le::getF32(b);
}

double ReadFloat64(Link& link) {
    uint8_t b[8];
    link.ReadBuffer(b, 8);
    return le::getF64(b);
}

void StartCommand(Link& link, uint8_t code) {
    (void)link.SendCommand(code, command::kTimeoutMs);
}

int32_t RunCheckTokens(Link& link, ProgressBar* bar, const CheckRunRules& rules,
                       const std::function<void()>& receiveBlock) {
    const int maximum = int(std::clamp<int64_t>(rules.progressMaximum, INT_MIN, INT_MAX));
    // A token that does not arrive whole is no token: a silent or closed
    // link then ends the run instead of repeating the previous token.
    auto readToken = [&]() -> std::string {
        uint8_t t[2] = {};
        if (link.ReadBufferTimed(t, 2, rules.timeoutMs) != 2)
            return {};
        return std::string{char(t[0]), char(t[1])};
    };
    auto advance = [&] {
        if (!bar)
            return;
        int position = bar->Position() + 1;
        if (position > bar->Maximum())
            position = 0;
        bar->SetPosition(position);
    };

    int32_t value = 0;
    std::string token;
    for (;;) {
        if (bar) {
            bar->SetMinimum(0);
            bar->SetMaximum(maximum);
            bar->SetPosition(0);
        }
        token = readToken();
        if (token != "GO")
            break;
        uint8_t v[4];
        value = link.ReadBufferTimed(v, 4, rules.timeoutMs) == 4 ? le::getI32(v) : 0;
        for (;;) {
            token = readToken();
            if (token == "+-") {
                advance();
                continue;
            }
            if (token == "OK") {
                if (rules.advanceBeforeBlock)
                    advance();
                receiveBlock();
            } else if (rules.unknownTokenEnds) {
                return 0;
            }
            break;
        }
    }
    return token == "ST" ? value : 0;
}

void SendElectrodeList(Link& link, std::span<const int16_t> list, int size) {
    SendInt16(link, 1);
    std::vector<uint8_t> bytes(size_t(std::max(size, 0)) * 2, 0);
    for (size_t i = 0; i < bytes.size() / 2 && i < list.size(); ++i)
        le::putI16(bytes.data() + 2 * i, list[i]);
    link.WriteBuffer(bytes.data(), int(bytes.size()));
}

void SendMode(Link& link, int32_t value, bool sendOne) {
    WaitCursor cursor;
    StartCommand(link, command::kSetMode);
    SendInt32(link, value);
    ActiveUiHooks().SleepMs(500);
    if (sendOne)
        SendInt16(link, 1);
    link.WaitPrompt();
}

void DownloadGps(Link& link, uint8_t position[4]) {
    std::memset(position, 0, 4);
    // Asked before the command, so the instrument never waits on the operator.
    std::string answer = "GPGGA";
    if (!ActiveUiHooks().InputText("GPS Download", "Enter NMEA sentence", answer))
        return;
    uint8_t name[5] = {};
    std::memcpy(name, answer.data(), std::min<size_t>(answer.size(), sizeof name));

    WaitCursor cursor;
    StartCommand(link, command::kDownloadGps);
    link.WriteBuffer(name, int(sizeof name));
    const int32_t length = ReadInt32(link);
    // Only what fits the caller's four bytes is kept; the prompt wait
    // discards the rest.
    link.ReadBuffer(position, std::clamp(length, 0, 4));
    link.WaitPrompt();
}

void CreateBinDataFile(const std::string& fileName, const std::string& comment) {
    const std::tm now = LocalTimeNow();
    uint8_t probe[kBinHeaderSize];
    MakeBinHeader(now, "", probe);
    const size_t used = strnlen(reinterpret_cast<const char*>(probe + 5), kBinTextBlockSize);
    const size_t room = used < kBinTextBlockSize ? kBinTextBlockSize - 1 - used : 0;
    if (FileStatus s = CreateBinFile(fileName, comment.substr(0, room), now); !s)
        throw FileError(s.message);
}

float ReadInstrumentValue(Link& link) {
    WaitCursor cursor;
    StartCommand(link, command::kReadInstrumentValue);
    const float value = ReadFloat32(link);
    link.WaitPrompt();
    return value;
}

} // namespace protocol
