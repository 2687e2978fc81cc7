#pragma once
// The engine's view for a terminal: status captions and run results as
// lines of text, a one-line progress display on a terminal, prompts
// answered by --yes or typed, and the display models kept up to date as
// the window would (so that the recorder does the same work per batch).
#include "engine/SessionView.h"
#include "imaging/ColorScale.h"
#include "imaging/DistributionModel.h"
#include "imaging/ProgressModel.h"
#include "imaging/SectionGeometry.h"

#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class SessionEngine;

class ConsoleView : public SessionView, public UiHooks {
public:
    ConsoleView(std::FILE* out, std::FILE* err);

    // Answers every question with OK and keeps every proposed value.
    bool yes = false;
    // Draw the progress on one line (a terminal) or print a line per tenth.
    bool progressLine = false;
    // Called when the session timer fires.
    std::function<void()> onTimer;
    // True once the operator asked to stop (Ctrl+C): questions get Cancel.
    std::function<bool()> cancelRequested;
    // Results and errors of the runs so far.
    std::vector<int> results;
    std::vector<std::string> errors;
    std::vector<BatchInfo> batches;
    // The engine whose sequence the display models read.
    SessionEngine* engine = nullptr;

    // ---- SessionView ---------------------------------------------------
    void SetStatus(const std::string& caption) override;
    std::string Status() const override { return status_; }
    void SetStatusHint(const std::string& hint) override { hint_ = hint; }
    void SetReceiving(bool) override {}
    void ShowError(const std::string& text) override;
    bool AskOkCancel(const std::string& caption, const std::string& text) override;
    bool AskText(const std::string& caption, const std::string& prompt,
                 std::string& value) override;
    std::string ChooseRecordedFile(const std::string&, const std::string&) override { return {}; }
    void SetSessionTimerEnabled(bool on) override;
    bool SessionTimerEnabled() const override { return timer_.isActive(); }
    void SetEstimatedTime(const std::string& text) override { estimate_ = text; }
    void BuildSectionGeometry(bool showGapFillers) override;
    void SetupProgressView() override;
    void ResetDistributionChart() override { distribution_.ResetDistributionChart(); }
    void ResetRunStatistics() override { colors_.ResetRunStatistics(); }
    void AdjustSampleLimit(uint32_t waitMs) override { colors_.AdjustSampleLimit(waitMs); }
    void AddDistributionValue(float rho) override { colors_.AddDistributionValue(rho); }
    void ComputeColorRange(int mode) override;
    void PlotSectionData(const MeasureRecord* batch, int tableIndex, int count, bool showGapFillers,
                         bool applyPalette) override;
    void MarkCurrentQuadripoles(int count, int tableIndex) override;
    void AddDistributionPoints(const MeasureRecord* batch, int tableIndex, bool showGapFillers,
                               bool repaint, int count) override;
    void ClearCurrentQuadripoles() override;
    void FinishViewRange(int quadripoleCount) override;
    void BatchCompleted(const BatchInfo& info) override;
    void RunStarted(const std::string& binFileName) override;
    void RunFinished(int result) override;
    // The QC line goes with every progress line, and on a line of its own
    // whenever the suspect electrodes change; the summary ends each run.
    void ShowQuality(const QualityControl& quality) override;
    void ShowQualitySummary(const QualityControl& quality) override;
    // What the run-end export wrote, on the output; a failure as an error.
    void ShowExportReport(const std::string& text, bool ok) override;

    // ---- UiHooks (the links' own prompts) --------------------------------
    void ShowMessage(const std::string& text) override { ShowError(text); }
    bool Confirm(const std::string& caption, const std::string& text) override {
        return AskOkCancel(caption, text);
    }
    bool InputText(const std::string& caption, const std::string& prompt,
                   std::string& value) override {
        return AskText(caption, prompt, value);
    }

    const ColorScale& Colors() const { return colors_; }

private:
    void EndProgressLine();
    bool Interactive() const;

    std::FILE* out_;
    std::FILE* err_;
    std::string status_;
    std::string hint_;
    std::string estimate_;
    std::string lastPrinted_;
    std::string qualityLine_;
    std::vector<int32_t> suspects_;
    bool lineOpen_ = false;
    int lastTenth_ = -1;
    std::string lastQuestion_;
    QTimer timer_;
    SectionGeometry section_;
    ColorScale colors_;
    ProgressModel progress_;
    DistributionModel distribution_;
};
