#pragma once
// Everything the acquisition engine shows or asks goes through this view:
// the main window implements it with widgets, the console recorder with
// text on a terminal, and tests with recording fakes. No Qt Widgets here.
#include "link/Link.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <string>

class QualityControl;

enum class RunButton { Stop, Pause, ReStart, Reset };

// What one completed batch looked like, for views that log or test.
struct BatchInfo {
    int32_t firstIndex = 0;   // as the instrument numbered it
    int32_t tableIndex = 0;   // index of the first record in the quadripole table
    int32_t batchRecords = 0; // records kept for the sequence
    int64_t done = 0;         // quadripoles done so far
    int64_t total = 0;        // quadripoles of the sequence
    int32_t skippedCount = 0;
    int32_t unrecoverableCount = 0;
    int32_t recoveredCount = 0;
    std::string estimate;
    double completionMs = 0; // time spent completing the batch
};

class SessionView {
public:
    virtual ~SessionView() = default;

    // ---- status strip ----------------------------------------------------
    virtual void SetStatus(const std::string& caption) = 0;
    virtual std::string Status() const = 0;
    virtual void SetStatusHint(const std::string& hint) = 0;
    // The receive indicator: on while data may arrive, off when idle.
    virtual void SetReceiving(bool on) = 0;
    // The "Crc error" label, shown while blocks or records are resent.
    virtual Indicator* CrcIndicator() { return nullptr; }
    virtual ProgressBar* MainProgressBar() { return nullptr; }
    virtual ProgressBar* SequenceProgressBar() { return nullptr; }
    virtual void SetButtonVisible(RunButton, bool) {}
    virtual void SetButtonEnabled(RunButton, bool) {}
    virtual void FocusButton(RunButton) {}
    // The settings controls that must not change during a run.
    virtual void SetSettingsControlsEnabled(bool /*enabled*/) {}
    virtual void CloseSettingsDialog() {}
    virtual void SetBatteryPanelVisible(bool) {}
    virtual void SetQuadripoleText(const std::string&) {}
    virtual void SetEstimatedTime(const std::string&) {}
    // Value labels grey in rho-only mode, lime otherwise.
    virtual void SetValueLabelsRhoOnly(bool) {}
    // The " Progress status" and " Rho pseudo section" tabs.
    virtual void SetSectionTabsVisible(bool) {}
    virtual void ShowLiveValues(const MeasureRecord* /*batch*/, const int16_t* /*list23*/,
                                int /*count*/) {}
    virtual void ShowBatteryState(float /*temperature*/, float /*tx*/, float /*rx*/) {}
    // The battery and temperature values currently on screen.
    virtual void DisplayedBatteryState(float& tx, float& rx, float& temperature) {
        tx = rx = temperature = 0.0f;
    }
    // The connection picture and its hint.
    virtual void SetPortPicture(int /*index*/, const std::string& /*hint*/) {}
    virtual void BringToFront() {}

    // ---- dialogs -----------------------------------------------------------
    // An error box with the caption "Pylorix".
    virtual void ShowError(const std::string& text) = 0;
    // OK/Cancel question; true for OK.
    virtual bool AskOkCancel(const std::string& caption, const std::string& text) = 0;
    // Input box; false on Cancel.
    virtual bool AskText(const std::string& caption, const std::string& prompt,
                         std::string& value) = 0;
    // The open dialog for a recorded ".heq" file; empty when cancelled.
    virtual std::string ChooseRecordedFile(const std::string& folder,
                                           const std::string& fileName) = 0;

    // ---- the session timer (one-shot, 1 s) ---------------------------------
    virtual void SetSessionTimerEnabled(bool) = 0;
    virtual bool SessionTimerEnabled() const = 0;

    // ---- display models ------------------------------------------------------
    virtual void BuildSectionGeometry(bool /*showGapFillers*/) {}
    virtual void SetupProgressView() {}
    virtual void ResetDistributionChart() {}
    virtual void ResetRunStatistics() {}
    virtual void AdjustSampleLimit(uint32_t /*waitMs*/) {}
    virtual void AddDistributionValue(float /*rho*/) {}
    virtual void ComputeColorRange(int /*mode*/) {}
    virtual void PlotSectionData(const MeasureRecord* /*batch*/, int /*tableIndex*/, int /*count*/,
                                 bool /*showGapFillers*/, bool /*applyPalette*/) {}
    virtual void MarkCurrentQuadripoles(int /*count*/, int /*tableIndex*/) {}
    virtual void AddDistributionPoints(const MeasureRecord* /*batch*/, int /*tableIndex*/,
                                       bool /*showGapFillers*/, bool /*repaint*/, int /*count*/) {}
    virtual void SetUpdateGuiTime(int64_t /*ms*/) {}
    virtual void ClearCurrentQuadripoles() {}
    // The end of a "View file": the colour range from every value at once.
    virtual void FinishViewRange(int /*quadripoleCount*/) {}

    // ---- notifications -----------------------------------------------------
    virtual void BatchCompleted(const BatchInfo&) {}
    virtual void RunStarted(const std::string& /*binFileName*/) {}
    virtual void RunFinished(int /*result*/) {}
    // The export the settings ask for after each acquisition has run: what
    // it wrote and left out, ready to show. A failed export is no failed
    // run (the acquisition files are whole either way), but the operator
    // must hear of it: by default it becomes an error box.
    // The live quality checks after each batch (the model already holds
    // the batch), and their summary when a run ends.
    virtual void ShowQuality(const QualityControl&) {}
    virtual void ShowQualitySummary(const QualityControl&) {}
    virtual void ShowExportReport(const std::string& text, bool ok) {
        if (!ok)
            ShowError(text);
    }
};
