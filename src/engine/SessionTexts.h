#pragma once
// The texts the session shows: run results, batch status captions and
// hints, the quadripole range, the estimated time remaining and the
// connection picture. Kept apart so that the window, the console recorder
// and the tests all show exactly the same words.
#include <cstdint>
#include <string>

// Run results of one acquisition.
enum RunResult : int32_t {
    RunCompleted = 0,
    RunLinkLost = -1,
    RunHeaderError = -2,
    RunNodeSetError = -3,
    RunQuadripoleSetError = -4,
    // The link failed while the header or the sets came (closed, silent,
    // wedged); the engine keeps the fault in words.
    RunLinkFault = -5,
    RunFileMismatch = -10,
    RunFileError = -15,
    RunClosing = -20,
};

// The message box text for a result; empty when none is shown.
std::string RunResultMessage(int result);
// The message for a link fault during the start of a run: what was being
// received and what happened to the link, e.g. "Link fault while receiving
// the header: link closed".
std::string LinkFaultMessage(const std::string& stage, const std::string& fault);
// A short name for a result ("completed", "link lost", ...), for logs and
// exit codes of the recorder.
std::string RunResultName(int result);

struct BatchCounters {
    int32_t skippedCount = 0;
    int32_t unrecoverableCount = 0;
    int32_t recoveredCount = 0;
};

// "f/N" followed by the most important note in parentheses.
std::string BatchStatusCaption(int64_t done, int64_t total, const BatchCounters& counters);
// One line per non-zero counter; empty when all are 0.
std::string BatchStatusHint(const BatchCounters& counters);
// "f/N" for one record, "g .. f/N" for several.
std::string QuadripoleRangeText(int64_t firstDone, int64_t lastDone, int64_t total);

// The remaining time E (in days) as the status strip shows it.
std::string EstimatedTimeText(double days);
constexpr const char* kNoEstimate = "--:--:--";

// The picture index of the connection picture.
int ConnectionPictureIndex(int connectionCode, int usbDeviceCount);
