#include "link/Link.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSyncAttempts = 82;
constexpr int kSyncUnansweredLimit = 78;
constexpr int kCommandTries = 6;
constexpr int64_t kTextSilenceMs = 300000;
constexpr int kTotalLengthTimeoutMs = 300000;
constexpr int kIdentityLineTimeoutMs = 15000;
constexpr int64_t kIdentityPollLimitMs = 15000;
constexpr int kBadRequestsBeforeCursorRestore = 5;
constexpr int kSyncAnswersLimit = 100;
// Echoes of the instrument's bytes before its 0x00; more is a flood.
constexpr int kSyncEchoLimit = 4096;
constexpr int kDiscardWaitMs = 200;
// Longest a wait for input sleeps before it looks at the clock and the link
// again; input, a click or a disconnect wake it sooner.
constexpr int kAwaitSliceMs = 100;

uint16_t NextSequence(uint16_t seq) {
    return seq == 127 ? 1 : uint16_t(seq + 1);
}

void WriteWord(Link& port, uint16_t word) {
    uint8_t b[2];
    le::put16(b, word);
    port.WriteBuffer(b, 2);
}

uint16_t ReadWord(Link& port) {
    uint8_t b[2];
    port.ReadBuffer(b, 2);
    return le::get16(b);
}

// Advances a progress bar, wrapping to 0 when it passes its maximum.
void Advance(ProgressBar* bar, int by) {
    if (!bar)
        return;
    int position = bar->Position() + by;
    if (position > bar->Maximum())
        position = 0;
    bar->SetPosition(position);
}

} // namespace

int BaudRateForConnection(int connectionCode) {
    return connectionCode < kConnectionUsb ? 115200 : 273000;
}

Link::Link() = default;
Link::~Link() = default;

int Link::WriteBuffer(const uint8_t* data, int count) {
    for (int i = 0; i < count; ++i)
        WriteByte(data[i]);
    return 0;
}

void Link::Fail(const char* portText, const std::string& fault) {
    fault_ = fault;
    throw LinkError(portText);
}

void Link::SetState(int state) {
    state_ = state;
}
int Link::GetState() {
    return state_;
}
void Link::SetLatency(int) {}

void Link::AwaitInput(int) {
    PumpMessages();
}

bool Link::WaitForByte(uint8_t wanted, int timeoutMs) {
    const int64_t start = ActiveUiHooks().TickMs();
    for (;;) {
        // What is already here goes in one pass, without a wait per byte.
        for (int waiting = InputCount(); waiting > 0; --waiting) {
            const int b = PollByte();
            if (b == wanted)
                return true;
            if (b < 0)
                break;
        }
        const int64_t left = timeoutMs - (ActiveUiHooks().TickMs() - start);
        if (left < 0)
            return false;
        // The link's own timed read is the wait: it sleeps until a byte
        // comes, the link closes or the time is up.
        const int b = ReadByteTimed(int(left));
        if (b == wanted)
            return true;
        if (b < 0)
            return false;
    }
}

bool Link::WaitClosed() {
    return false;
}

bool Link::ReadLine(std::string& line, int maxChars, int timeoutMs) {
    line.clear();
    if (!IsOpen())
        Fail("Port err. getstring", kFaultClosed);
    while (int(line.size()) < maxChars) {
        uint8_t b = 0;
        if (ReadBufferTimed(&b, 1, timeoutMs) != 1) {
            line.clear();
            return false;
        }
        if (b == 0xFF && LineStopsOnFF()) {
            line.clear();
            return false;
        }
        if (b == '\n')
            return true;
        if (b != '\r')
            line.push_back(char(b));
    }
    return true;
}

bool Link::WaitPrompt() {
    return WaitForText(":>");
}

void Link::PutByteRetrying(uint8_t b) {
    while (PutByte(b) == -1) {
        PumpMessages();
        if (!IsOpen())
            Fail("Port err. Setcmd", kFaultClosed);
    }
}

bool Link::SendCommand(uint8_t command, int timeoutMs) {
    WaitCursor cursor;
    if (!IsOpen())
        Fail("Port err. Setcmd", kFaultClosed);
    FlushInput();

    // Wake the instrument: it echoes '@' once it listens.
    int unanswered = 0;
    for (int i = 0; i < kSyncAttempts; ++i) {
        WriteByte('@');
        if (ReadByteTimed(timeoutMs) == '@')
            break;
        ++unanswered;
    }
    ClearOutput();
    if (unanswered >= kSyncUnansweredLimit)
        return false;

    // The command and its complement; 0xFF or silence asks for another try.
    int reply = -1;
    for (int attempt = 0; attempt < kCommandTries; ++attempt) {
        FlushInput();
        PutByteRetrying(command);
        ActiveUiHooks().SleepMs(10);
        PutByteRetrying(uint8_t(command ^ 0xFF));
        reply = ReadByteTimed(timeoutMs);
        PumpMessages();
        if (reply != 0xFF && reply != -1)
            break;
    }
    cursor.Restore();
    if ((reply & 0xFF) != command)
        return false;
    ActiveUiHooks().SleepMs(20);
    return true;
}

bool Link::WaitPromptAndSend(uint8_t command, int timeoutMs) {
    if (!WaitForText(":>"))
        return false;
    return SendCommand(command, timeoutMs);
}

bool Link::WaitForText(const std::string& text) {
    const int64_t start = ActiveUiHooks().TickMs();
    std::string collected;
    for (;;) {
        if (InputCount() <= 0) {
            AwaitInput(kAwaitSliceMs);
            if (!IsOpen())
                return WaitClosed();
            // Silence for this long counts as the prompt: callers go on.
            if (ActiveUiHooks().TickMs() - start > kTextSilenceMs)
                return true;
            continue;
        }
        const int b = PollByte();
        if (b < 0)
            continue;
        // Only the last text.size() bytes can complete a match.
        collected.push_back(char(b));
        if (collected.size() > text.size())
            collected.erase(0, collected.size() - text.size());
        if (collected == text)
            return true;
    }
}

int Link::ReadBytes(uint8_t* buf, int count, int timeoutMs) {
    int got = 0;
    for (; got < count; ++got) {
        if (!IsOpen())
            Fail(ReadErrorText(), kFaultClosed);
        const int b = ReadByteTimed(timeoutMs);
        if (b < 0) {
            if (!IsOpen())
                Fail(ReadErrorText(), kFaultClosed);
            break;
        }
        buf[got] = uint8_t(b);
    }
    return got;
}

bool Link::ReadIdentity(std::string& second, std::string& first) {
    first.clear();
    second.clear();
    try {
        const int64_t start = ActiveUiHooks().TickMs();
        for (;;) {
            if (!IsOpen())
                Fail(ReadErrorText(), kFaultClosed);
            WriteByte('@');
            if (ReadByteTimed(IdentityPollMs()) == '@')
                break;
            PumpMessages();
            if (ActiveUiHooks().TickMs() - start > kIdentityPollLimitMs)
                return false;
        }
        if (!ReadLine(first, 40, kIdentityLineTimeoutMs))
            return false;
        return ReadLine(second, 40, kIdentityLineTimeoutMs);
    } catch (const LinkError&) {
        ActiveUiHooks().ShowMessage("Unknown Baudrate");
        return false;
    }
}

void Link::ReadBuffer(uint8_t* buf, int count) {
    for (int i = 0; i < count; ++i)
        buf[i] = uint8_t(ReadByte());
}

uint16_t Link::Checksum16(const uint8_t* data, size_t count) {
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = uint16_t(sum + data[i]);
    return sum;
}

void Link::SleepSeconds(int s) {
    ActiveUiHooks().SleepMs(s * 1000);
}

void Link::ReceiveToStream(ProgressBar* bar, Indicator* indicator) {
    WaitCursor cursor;
    transfer.Clear();
    if (!IsOpen())
        Fail("Port err. xbtCload", kFaultClosed);
    ClearOutput();

    // Synchronise on a 0x00 echo. A peer that never gives it (a flood, a
    // wrong device) must not hold the session for ever.
    for (int attempt = 1;; ++attempt) {
        FlushInput();
        WriteByte(0x00);
        const int e = ReadByte();
        if (e == 0x00)
            break;
        // A link that answers a lost connection with -1 rather than an
        // error (TCP/IP) would keep this loop spinning.
        if (e < 0)
            Fail(ReadErrorText(), LostOrTimedOut());
        if (attempt >= kSyncAnswersLimit)
            Fail("Port err. xbtCload", "the instrument did not synchronise (" +
                                           std::to_string(attempt) + " wrong answers)");
    }
    uint16_t seq = 1;

    uint8_t totalBytes[4];
    int32_t total = 0;
    if (ReadBufferTimed(totalBytes, 4, kTotalLengthTimeoutMs) >= 4)
        total = le::getI32(totalBytes);
    // A damaged or hostile total must not drive the arithmetic below. One
    // that is merely larger than the caller's buffer is still received, so
    // that the dialogue stays in step, and refused afterwards.
    if (total < 0 || size_t(total) > kTransferLimit)
        Fail("Port err. xbtCload",
             "the instrument announced a transfer of " + std::to_string(total) + " bytes");
    if (bar) {
        bar->SetMinimum(0);
        bar->SetMaximum(total == 0 ? kBlockMaxData : total);
        bar->SetPosition(0);
    }

    uint8_t block[kBlockMaxData];
    int badInARow = 0;
    auto countBad = [&] {
        if (indicator)
            indicator->Show();
        if (++badInARow >= kBadBlocksLimit)
            Fail("Port err. xbtCload",
                 "the instrument sent " + std::to_string(badInARow) + " bad blocks in a row");
    };
    for (;;) {
        // Ask for block seq until the instrument echoes the right number.
        for (;;) {
            FlushInput();
            WriteWord(*this, seq);
            if (ReadWord(*this) == seq)
                break;
            countBad();
        }
        const int len = ReadWord(*this) >> 6;
        if (len == 0)
            break;
        if (len > kBlockMaxData) {
            // No block is that long: the length word is damaged, and the
            // bytes that follow cannot be framed. Let what the instrument
            // sends for it go by, then ask for the same block again.
            uint8_t scratch[kBlockMaxData + 2];
            ReadBufferTimed(scratch, int(sizeof scratch), kDiscardWaitMs);
            countBad();
            if (total < 1)
                break;
            continue;
        }
        uint8_t lenBytes[2];
        le::put16(lenBytes, uint16_t(len));
        ReadBuffer(block, len);
        const uint16_t sum = uint16_t(Checksum16(lenBytes, 2) + Checksum16(block, size_t(len)));
        const uint16_t check = ReadWord(*this);
        if (check == sum) {
            badInARow = 0;
            if (indicator)
                indicator->Hide();
            seq = NextSequence(seq);
            Advance(bar, len);
            if (transfer.Size() + size_t(len) > kTransferLimit)
                Fail("Port err. xbtCload",
                     "the instrument sent more than " + std::to_string(kTransferLimit) + " bytes");
            transfer.Write(block, size_t(len));
            PumpMessages();
            total -= len;
        } else {
            // Same seq again: the instrument resends the block.
            countBad();
        }
        if (total < 1)
            break;
    }

    // Closing exchange.
    WriteWord(*this, seq);
    ReadWord(*this);
    if (bar)
        bar->SetPosition(0);
    cursor.Restore();
    PumpMessages();
}

int Link::ReceiveBlocks(uint8_t* dest, size_t capacity, ProgressBar* bar, Indicator* indicator) {
    ReceiveToStream(bar, indicator);
    if (!dest)
        return 0;
    if (transfer.Size() > capacity) {
        ActiveUiHooks().ShowMessage("Err. Buffer");
        return 0;
    }
    transfer.Seek(0);
    return int(transfer.Read(dest, transfer.Size()));
}

void Link::SendBlocks(const uint8_t* data, int count, ProgressBar* bar, Indicator* indicator) {
    if (data) {
        transfer.Clear();
        if (count > 0)
            transfer.Write(data, size_t(count));
    }
    if (transfer.Size() == 0) {
        ActiveUiHooks().ShowMessage("Err. Buffer");
        return;
    }
    SendFromStream(bar, indicator);
}

void Link::SendFromStream(ProgressBar* bar, Indicator* indicator) {
    WaitCursor cursor;
    if (bar) {
        bar->SetMinimum(0);
        bar->SetMaximum(int(std::min<size_t>(transfer.Size(), size_t(INT32_MAX))));
        bar->SetPosition(0);
    }
    transfer.Seek(0);
    int64_t remaining = int64_t(transfer.Size());

    // Echo everything until the instrument's 0x00.
    for (int echoed = 1;; ++echoed) {
        const int e = ReadByte();
        if (e < 0)
            Fail(ReadErrorText(), LostOrTimedOut());
        WriteByte(uint8_t(e));
        if (e == 0x00)
            break;
        if (echoed >= kSyncEchoLimit)
            Fail("Port err. xbtCload", "the instrument did not synchronise (" +
                                           std::to_string(echoed) + " bytes without its 0)");
    }
    uint16_t seq = 1;
    uint16_t prev = 1;
    int failures = 0;

    ActiveUiHooks().SleepMs(10);
    uint8_t totalBytes[4];
    le::putI32(totalBytes, int32_t(remaining));
    WriteBuffer(totalBytes, 4);

    uint8_t block[kBlockMaxData];
    int len = 0;
    uint16_t lenSum = 0;
    for (;;) {
        const uint16_t request = ReadWord(*this);
        FlushInput();
        WriteWord(*this, request);
        bool fresh = false;
        if (request == seq) {
            failures = 0;
            if (indicator)
                indicator->Hide();
            if (remaining <= 0)
                break;
            len = int(std::min<int64_t>(remaining, kBlockMaxData));
            uint8_t lenBytes[2];
            le::put16(lenBytes, uint16_t(len));
            lenSum = Checksum16(lenBytes, 2);
            transfer.Read(block, size_t(len));
            PumpMessages();
            remaining -= len;
            prev = seq;
            seq = NextSequence(seq);
            fresh = true;
        } else if (request == prev && len > 0) {
            // The instrument missed the last block: send it again as it was.
            failures = 0;
            if (indicator)
                indicator->Hide();
        } else {
            ++failures;
            if (failures >= kBadBlocksLimit)
                Fail("Port err. xbtCload", "the instrument sent " + std::to_string(failures) +
                                               " bad block requests in a row");
            if (failures >= kBadRequestsBeforeCursorRestore) {
                cursor.Restore();
                PumpMessages();
            }
            if (indicator)
                indicator->Show();
            continue;
        }

        WriteWord(*this, uint16_t(len << 6));
        ActiveUiHooks().SleepMs(10);
        if (fresh && bar) {
            for (int i = 0; i < len; ++i) {
                WriteByte(block[i]);
                Advance(bar, 1);
                PumpMessages();
            }
        } else {
            WriteBuffer(block, len);
        }
        WriteWord(*this, uint16_t(lenSum + Checksum16(block, size_t(len))));
    }

    if (bar)
        bar->SetPosition(0);
    cursor.Restore();
    PumpMessages();
}
