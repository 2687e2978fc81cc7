// The idle instrument: waiting for the operator's Start, serving the
// monitor's commands and check runs, and the start handshake of a run.
#include "EmuSession.h"

#include "BlockTransfer.h"
#include "ByteImage.h"
#include "Transport.h"

#include <QThread>
#include <algorithm>
#include <cstdio>

namespace varmexemu {

namespace {

// Byte codes of the start handshake and of the wake-up.
constexpr uint8_t kStart = 'S';
constexpr uint8_t kReady = 'U';
constexpr uint8_t kControlsOffered = 'X';
constexpr uint8_t kSync = '@';
constexpr uint8_t kRefused = 0xFF;
// The monitor answers 'S' 'U' with "VU" at once; a Start that went
// unanswered this long was lost (flushed by the monitor) and is repeated.
constexpr int kStartRepeatMs = 3000;
// Without 'X' the monitor still reads one byte about 150 ms after "VU":
// the identity must not come before that.
constexpr int kNoControlSilenceMs = 400;
// A second byte of a command comes 10 ms after the first.
constexpr int kCommandPairMs = 300;

bool knownCommand(uint8_t c) {
    switch (c) {
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 37:
    case 41:
    case 42:
    case 43:
    case 44:
    case 45:
        return true;
    default:
        return false;
    }
}

} // namespace

void EmuSession::waitForStartMoment(int quietMs) {
    if (!wired()) {
        // The Wi-Fi instrument answers the monitor's '@' wake-up first.
        bool woke = false;
        const qint64 deadline = now() + o_.idleTimeoutMs;
        while (!woke) {
            const int left = int(deadline - now());
            if (left <= 0)
                throw WireTimeout("the monitor sent no wake-up '@'");
            const int b = wire_.readByte(left);
            if (b >= 0)
                handleIdleByte(uint8_t(b), &woke);
        }
    }
    serveIdle(quietMs);
}

void EmuSession::serveIdle(int quietMs) {
    // Until quietMs pass without traffic; every exchange starts the wait anew.
    qint64 deadline = now() + quietMs;
    for (;;) {
        const int left = int(deadline - now());
        if (left <= 0)
            return;
        const int b = wire_.readByte(left);
        if (b < 0)
            return;
        handleIdleByte(uint8_t(b), nullptr);
        deadline = now() + quietMs;
    }
}

void EmuSession::handleIdleByte(uint8_t b, bool* woke) {
    if (b == kSync) {
        wire_.writeByte(kSync);
        if (woke)
            *woke = true;
        return;
    }
    // A command is its byte followed by the complement.
    const int next = wire_.readByte(kCommandPairMs);
    if (next < 0)
        return;
    if (next == (b ^ 0xFF)) {
        if (knownCommand(b))
            runCommand(b);
        else
            wire_.writeByte(kRefused);
        return;
    }
    if (knownCommand(b))
        wire_.writeByte(kRefused); // garbled: the monitor tries again
    wire_.unread(uint8_t(next));
}

void EmuSession::runCommand(uint8_t c) {
    wire_.writeByte(c);
    const bool w = wired();
    BlockFaults blockFaults{o_.corruptBlocks, &faults_.blockRandom, 0};
    switch (c) {
    case 27: // escape: nothing follows, not even the prompt
        return;
    case 28:
        sendBlocks(wire_, instrument_.parameters(), &blockFaults);
        break;
    case 29: {
        const std::vector<uint8_t> data = receiveBlocks(wire_, size_t(instrument_.parameterSize()));
        std::vector<uint8_t>& p = instrument_.parameters();
        std::copy(data.begin(), data.end(), p.begin());
        break;
    }
    case 30:
        sendBlocks(wire_, instrument_.configuration(), &blockFaults);
        break;
    case 31:
    case 33:
        sendBlocks(wire_, instrument_.measurementBlock(w ? 10 : 20), &blockFaults);
        break;
    case 32:
        runCheck();
        return;
    case 34:
        if (w) {
            // voltage, time, 12, 1, the 13 electrodes, 'U'
            const std::vector<uint8_t> in = wire_.needBytes(37, "quick measure settings");
            std::vector<int> list;
            for (size_t i = 0; i < 13; ++i)
                list.push_back(int16_t(in[10 + 2 * i] | (in[11 + 2 * i] << 8)));
            wire_.write(instrument_.quickMeasureReply(list));
            wire_.needByte("end of quick measure");
        } else {
            wire_.needBytes(6, "quick measure settings");
        }
        break;
    case 37: {
        const int32_t value = wire_.needLong("mode value");
        if (!w || value != 0)
            wire_.needWord("mode confirmation");
        break;
    }
    case 41:
        wire_.needBytes(w ? 28 : 48, "electrode list");
        break;
    case 42: {
        const std::vector<uint8_t> in = wire_.needBytes(5, "sentence name");
        std::string name;
        for (uint8_t ch : in)
            if (ch != 0)
                name.push_back(char(ch));
        const std::string sentence = instrument_.gpsSentence(name);
        wire_.writeLong(int32_t(sentence.size()));
        wire_.writeText(sentence);
        break;
    }
    case 43: {
        const int32_t k = wire_.needLong("channel number");
        std::vector<uint8_t> out;
        if (w)
            appendF32(out, float(instrument_.channelValue(k)));
        else
            appendF64(out, instrument_.channelValue(k));
        wire_.write(out);
        break;
    }
    case 44: {
        std::vector<uint8_t> out;
        appendF32(out, instrument_.temperature());
        wire_.write(out);
        break;
    }
    case 45: {
        std::vector<uint8_t> out;
        appendF32(out, instrument_.txBattery());
        appendF32(out, instrument_.rxBattery());
        appendF32(out, instrument_.temperature());
        wire_.write(out);
        break;
    }
    default:
        break;
    }
    wire_.writeText(":>");
}

void EmuSession::runCheck() {
    // Electrode check: "GO" and the number of faulty electrodes, one "+-"
    // per step of the monitor's progress bar, "OK" with the readings, "ST".
    const ByteImage p = [&] {
        ByteImage image;
        image.bytes() = instrument_.parameters();
        return image;
    }();
    const int steps = wired() ? p.getI32(16) + 3 : p.getI32(164);
    wire_.writeText("GO");
    // The check finds the electrodes whose contact is bad.
    wire_.writeLong(int32_t(o_.badElectrodes.size()));
    for (int i = 0; i < std::clamp(steps, 0, 4000); ++i)
        wire_.writeText("+-");
    wire_.writeText("OK");
    BlockFaults blockFaults{o_.corruptBlocks, &faults_.blockRandom, 0};
    sendBlocks(wire_, instrument_.measurementBlock(wired() ? 10 : 20), &blockFaults);
    wire_.writeText("ST");
}

void EmuSession::startHandshake() {
    const qint64 deadline = now() + o_.idleTimeoutMs;
    bool acknowledged = false;
    while (!acknowledged) {
        if (now() > deadline)
            throw WireTimeout("the monitor did not acknowledge Start");
        const uint8_t start[2] = {kStart, kReady};
        wire_.write(start, 2);
        const qint64 repeatAt = now() + kStartRepeatMs;
        while (!acknowledged) {
            const int left = int(repeatAt - now());
            if (left <= 0)
                break;
            const int b = wire_.readByte(left);
            if (b < 0)
                break;
            if (b == 'V') {
                const int n = wire_.readByte(1000);
                if (n == 'U')
                    acknowledged = true;
                else if (n >= 0)
                    wire_.unread(uint8_t(n));
            } else if (b == kSync) {
                wire_.writeByte(kSync);
            }
        }
    }
    note("start-acknowledged", acquisitionCounter_ + 1);
    if (o_.identityAtOnce)
        return; // the identity follows at once
    if (o_.noControl)
        QThread::msleep(kNoControlSilenceMs);
    else
        wire_.writeByte(kControlsOffered);
}

} // namespace varmexemu
