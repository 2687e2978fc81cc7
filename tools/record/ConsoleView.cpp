#include "ConsoleView.h"

#include "engine/Quietly.h"
#include "engine/SessionEngine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define PYLORIX_ISATTY _isatty
#define PYLORIX_FILENO _fileno
#else
#include <unistd.h>
#define PYLORIX_ISATTY isatty
#define PYLORIX_FILENO fileno
#endif

namespace {

// "f/N" and "f/N (note)": the per-batch captions, shown as progress rather
// than as lines of their own.
bool IsBatchCaption(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    if (i == 0 || i >= s.size() || s[i] != '/')
        return false;
    return s.find(" Stopped") == std::string::npos;
}

} // namespace

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err) : out_(out), err_(err) {
    timer_.setSingleShot(true);
    timer_.setInterval(1000);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (onTimer)
            onTimer();
    });
}

bool ConsoleView::Interactive() const {
    return PYLORIX_ISATTY(PYLORIX_FILENO(stdin)) != 0;
}

void ConsoleView::EndProgressLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
}

void ConsoleView::SetStatus(const std::string& caption) {
    status_ = caption;
    lastQuestion_.clear();
    if (caption.empty() || caption == lastPrinted_ || IsBatchCaption(caption))
        return;
    EndProgressLine();
    std::fprintf(out_, "%s\n", caption.c_str());
    std::fflush(out_);
    lastPrinted_ = caption;
}

void ConsoleView::ShowExportReport(const std::string& text, bool ok) {
    if (!ok) {
        ShowError(text);
        return;
    }
    EndProgressLine();
    std::fprintf(out_, "Export: %s", text.c_str());
    if (!text.empty() && text.back() != '\n')
        std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleView::ShowError(const std::string& text) {
    EndProgressLine();
    errors.push_back(text);
    std::string oneLine = text;
    for (char& c : oneLine)
        if (c == '\n')
            c = ' ';
    std::fprintf(err_, "Pylorix: %s\n", oneLine.c_str());
    std::fflush(err_);
}

bool ConsoleView::AskOkCancel(const std::string& caption, const std::string& text) {
    EndProgressLine();
    const std::string shown = caption.empty() ? text : caption + ": " + text;
    if (cancelRequested && cancelRequested())
        return false;
    if (yes) {
        // The same question again means the link is still waiting (a USB
        // cable not plugged in yet): ask once a second, say it once.
        if (shown == lastQuestion_) {
            ActiveUiHooks().SleepMs(1000);
            PumpMessages();
            return !(cancelRequested && cancelRequested());
        }
        lastQuestion_ = shown;
        std::fprintf(out_, "%s -> OK\n", shown.c_str());
        std::fflush(out_);
        return true;
    }
    if (!Interactive()) {
        std::fprintf(err_, "Pylorix: %s -> Cancel (no terminal; --yes answers OK)\n",
                     shown.c_str());
        return false;
    }
    std::fprintf(out_, "%s [Enter = OK, c = Cancel] ", shown.c_str());
    std::fflush(out_);
    std::string answer;
    std::getline(std::cin, answer);
    return answer.empty() || (answer[0] != 'c' && answer[0] != 'C');
}

bool ConsoleView::AskText(const std::string& caption, const std::string& prompt,
                          std::string& value) {
    EndProgressLine();
    if (yes || !Interactive()) {
        std::fprintf(out_, "%s: %s -> \"%s\"\n", caption.c_str(), prompt.c_str(), value.c_str());
        return true;
    }
    std::fprintf(out_, "%s [%s]: ", prompt.c_str(), value.c_str());
    std::fflush(out_);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    if (!answer.empty())
        value = answer;
    return true;
}

void ConsoleView::SetSessionTimerEnabled(bool on) {
    if (on)
        timer_.start();
    else
        timer_.stop();
}

void ConsoleView::BuildSectionGeometry(bool showGapFillers) {
    if (!engine)
        return;
    colors_.ResetForNewGeometry();
    Quietly([&] { section_.BuildSectionGeometry(engine->Device(), showGapFillers); });
}

void ConsoleView::SetupProgressView() {
    if (!engine)
        return;
    const Instrument& d = engine->Device();
    Quietly([&] {
        progress_.SetupProgressView(d, d.header.firstNode, d.header.lastNode,
                                    d.movingArrayMode != 0);
    });
}

void ConsoleView::ComputeColorRange(int mode) {
    Quietly([&] { colors_.ComputeOptimizedRange(mode != 0); });
}

void ConsoleView::PlotSectionData(const MeasureRecord* batch, int tableIndex, int count,
                                  bool showGapFillers, bool) {
    // The first plane holding sections, as the window shows it first.
    for (Plane p : {Plane::XZ, Plane::YZ, Plane::XY}) {
        if (section_.plane(p).sections.empty())
            continue;
        Quietly([&] {
            section_.PlotSectionData(batch, tableIndex, count, showGapFillers, p, 0, colors_.rhoMin,
                                     colors_.rhoMax);
        });
        return;
    }
}

void ConsoleView::MarkCurrentQuadripoles(int count, int tableIndex) {
    const bool moving = engine && engine->Device().movingArrayMode != 0;
    Quietly([&] { progress_.MarkCurrentQuadripoles(count, tableIndex, moving); });
}

void ConsoleView::AddDistributionPoints(const MeasureRecord* batch, int tableIndex,
                                        bool showGapFillers, bool, int count) {
    if (!engine)
        return;
    Quietly([&] {
        distribution_.AddDistributionPoints(engine->Device(), batch, tableIndex, showGapFillers,
                                            count);
    });
}

void ConsoleView::ClearCurrentQuadripoles() {
    const bool moving = engine && engine->Device().movingArrayMode != 0;
    Quietly([&] { progress_.ClearCurrentQuadripoles(moving); });
}

void ConsoleView::FinishViewRange(int quadripoleCount) {
    colors_.sampleLimit = uint32_t(quadripoleCount > 0 ? quadripoleCount : 0);
    Quietly([&] { colors_.ComputeOptimizedRange(false); });
}

void ConsoleView::RunStarted(const std::string& binFileName) {
    EndProgressLine();
    lastTenth_ = -1;
    std::fprintf(out_, "Recording to %s\n", binFileName.c_str());
    std::fflush(out_);
}

void ConsoleView::BatchCompleted(const BatchInfo& info) {
    batches.push_back(info);
    char line[256];
    std::snprintf(line, sizeof line,
                  "%lld/%lld quadripoles  skipped %d  crc unrecoverable %d recovered %d  "
                  "remaining %s",
                  static_cast<long long>(info.done), static_cast<long long>(info.total),
                  info.skippedCount, info.unrecoverableCount, info.recoveredCount,
                  estimate_.empty() ? "--:--:--" : estimate_.c_str());
    if (!qualityLine_.empty()) {
        const size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, "  %s", qualityLine_.c_str());
    }
    if (progressLine) {
        std::fprintf(out_, "\r%-100s", line);
        lineOpen_ = true;
        std::fflush(out_);
        return;
    }
    const int tenth = info.total > 0 ? int(info.done * 10 / info.total) : 0;
    if (tenth != lastTenth_) {
        lastTenth_ = tenth;
        std::fprintf(out_, "%s\n", line);
        std::fflush(out_);
    }
}

void ConsoleView::ShowQuality(const QualityControl& quality) {
    qualityLine_ = quality.SummaryLine();
    std::vector<int32_t> suspects = quality.SuspectElectrodes();
    std::sort(suspects.begin(), suspects.end());
    if (suspects != suspects_) {
        suspects_ = suspects;
        EndProgressLine();
        std::fprintf(out_, "%s\n", qualityLine_.c_str());
        std::fflush(out_);
    }
}

void ConsoleView::ShowQualitySummary(const QualityControl& quality) {
    EndProgressLine();
    std::fprintf(out_, "%s", quality.SummaryReport().c_str());
    std::fflush(out_);
    qualityLine_.clear();
    suspects_.clear();
}

void ConsoleView::RunFinished(int result) {
    EndProgressLine();
    results.push_back(result);
    std::string text = "Run " + std::to_string(results.size()) + ": " + RunResultName(result);
    if (!hint_.empty()) {
        std::string h = hint_;
        for (char& c : h)
            if (c == '\n')
                c = ',';
        text += " (" + h + ")";
    }
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    lastPrinted_.clear();
}
