#include "link/ModemDialler.h"

#include <array>

namespace {

constexpr int64_t kModemSilenceMs = 300000;

// Final result codes a Hayes modem gives instead of CONNECT.
constexpr std::array<const char*, 6> kDialFailures = {"NO CARRIER",   "BUSY",      "NO DIALTONE",
                                                      "NO DIAL TONE", "NO ANSWER", "ERROR"};

bool EndsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

} // namespace

ModemDialler::Result ModemDialler::Dial(const std::string& number, const std::string& init) {
    write_("ATZ\r\n");
    if (!link_.WaitForText("OK") || !link_.WaitForText("\n"))
        return Result::Failed;
    if (!init.empty()) {
        write_(init + "\r\n");
        if (!link_.WaitForText("OK") || !link_.WaitForText("\n"))
            return Result::Failed;
    }
    write_("ATDT" + number + "\r\n");
    const Result dial = WaitForDialResult();
    if (dial != Result::Connected)
        return dial;
    return link_.WaitForText("\n") ? Result::Connected : Result::Failed;
}

ModemDialler::Result ModemDialler::WaitForDialResult() {
    const int64_t start = ActiveUiHooks().TickMs();
    std::string collected;
    for (;;) {
        if (link_.InputCount() <= 0) {
            PumpMessages();
            if (link_.GetState() <= 0)
                return Result::Failed;
            if (ActiveUiHooks().TickMs() - start > kModemSilenceMs)
                return Result::Connected;
            continue;
        }
        const int b = link_.PollByte();
        if (b < 0)
            continue;
        collected.push_back(char(b));
        if (collected.size() > 32)
            collected.erase(0, collected.size() - 32);
        if (EndsWith(collected, "CONNECT"))
            return Result::Connected;
        for (const char* failure : kDialFailures)
            if (EndsWith(collected, failure))
                return Result::Refused;
    }
}
