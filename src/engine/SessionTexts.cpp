#include "engine/SessionTexts.h"

#include <cmath>
#include <cstdio>

std::string RunResultMessage(int result) {
    switch (result) {
    case RunCompleted:
    case RunClosing:
        return {};
    case RunLinkLost:
        return "Sequence not ended !";
    case RunHeaderError:
        return "Error in header !";
    case RunNodeSetError:
        return "Error in node set !";
    case RunQuadripoleSetError:
        return "Error in quadripole set !";
    case RunLinkFault:
        return LinkFaultMessage("", "");
    case RunFileMismatch:
        return "Number of data points in the BIN file is different\nthan the one defined in the "
               "HEQ file !";
    case RunFileError:
        return "Can't write output files !";
    default:
        return "Error !";
    }
}

std::string LinkFaultMessage(const std::string& stage, const std::string& fault) {
    std::string text = "Link fault";
    if (!stage.empty())
        text += " while receiving the " + stage;
    return text + ": " + (fault.empty() ? std::string("link lost") : fault);
}

std::string RunResultName(int result) {
    switch (result) {
    case RunCompleted:
        return "completed";
    case RunLinkLost:
        return "link-lost";
    case RunHeaderError:
        return "header-error";
    case RunNodeSetError:
        return "node-set-error";
    case RunQuadripoleSetError:
        return "quadripole-set-error";
    case RunLinkFault:
        return "link-fault";
    case RunFileMismatch:
        return "file-mismatch";
    case RunFileError:
        return "file-error";
    case RunClosing:
        return "closing";
    default:
        return "error " + std::to_string(result);
    }
}

namespace {

std::string Plural(int32_t n) {
    return n > 1 ? "s" : "";
}

} // namespace

std::string BatchStatusCaption(int64_t done, int64_t total, const BatchCounters& c) {
    std::string text = std::to_string(done) + "/" + std::to_string(total);
    if (c.skippedCount > 0) {
        text += " (" + std::to_string(c.skippedCount) + " quadripole" + Plural(c.skippedCount) +
                " skipped)";
    } else if (c.unrecoverableCount > 0) {
        text += " (" + std::to_string(c.unrecoverableCount) + " unrecoverable crc error" +
                (c.unrecoverableCount > 1 ? "s)" : ")");
    } else if (c.recoveredCount > 0) {
        text += " (" + std::to_string(c.recoveredCount) + " crc error" + Plural(c.recoveredCount) +
                " recovered)";
    }
    return text;
}

std::string BatchStatusHint(const BatchCounters& c) {
    std::string hint;
    auto line = [&](const std::string& text) {
        if (!hint.empty())
            hint += "\n";
        hint += text;
    };
    if (c.skippedCount > 0)
        line(std::to_string(c.skippedCount) + " quadripole" + Plural(c.skippedCount) + " skipped");
    if (c.unrecoverableCount > 0)
        line(std::to_string(c.unrecoverableCount) + " unrecoverable crc error" +
             Plural(c.unrecoverableCount));
    if (c.recoveredCount > 0)
        line(std::to_string(c.recoveredCount) + " crc error" + Plural(c.recoveredCount) +
             " recovered");
    return hint;
}

std::string QuadripoleRangeText(int64_t firstDone, int64_t lastDone, int64_t total) {
    if (firstDone == lastDone)
        return std::to_string(lastDone) + "/" + std::to_string(total);
    return std::to_string(firstDone) + " .. " + std::to_string(lastDone) + "/" +
           std::to_string(total);
}

std::string EstimatedTimeText(double days) {
    if (!std::isfinite(days) || days < 0.0)
        return kNoEstimate;
    // Hours of the day, minutes and seconds: whole days are added in words.
    const double dayFraction = days - std::floor(days);
    // Rounded to the millisecond, then cut to whole seconds, as a clock reads.
    int64_t seconds = int64_t(std::llround(dayFraction * 86400000.0)) / 1000;
    if (seconds >= 86400)
        seconds = 86399;
    const int h = int(seconds / 3600);
    const int m = int(seconds / 60 % 60);
    const int s = int(seconds % 60);
    char text[32];
    if (days > 0.0020833333333333333)
        std::snprintf(text, sizeof text, "%02d:%02d:00", h, m);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
    std::string result = text;
    if (days > 1.0)
        result += " and " + std::to_string(int64_t(std::floor(days))) + " Day(s)";
    return result;
}

int ConnectionPictureIndex(int connectionCode, int usbDeviceCount) {
    if (connectionCode >= 1 && connectionCode <= 6)
        return connectionCode + 1;
    if (connectionCode == 99)
        return usbDeviceCount != 0 ? 1 : 0;
    if (connectionCode == 100 || connectionCode == 200)
        return 9;
    return 8;
}
