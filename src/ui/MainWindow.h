#pragma once
// MainWindow, the program's main window: the acquisition, progress, pseudo-
// section and distribution pages, the status strip and the sequence
// progress bar. It is the acquisition engine's view, owns the engine (and
// with it the device object) for the program's lifetime, and forwards the
// engine's display calls to the imaging pages.
#include "engine/SessionEngine.h"
#include "engine/SessionView.h"
#include "imaging/ColorScale.h"
#include "imaging/ImagingOptions.h"
#include "settings/Settings.h"
#include "ui/ProgramFiles.h"

#include <QMainWindow>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class DeviceWatch;
class DistributionPage;
class PageDrawScheduler;
class KeepAwake;
class LabelIndicator;
class LivePanel;
class ProgressBarAdapter;
class ProgressPage;
class QualityDialog;
class RangeDialog;
class SectionPage;
class SettingsDialog;
class StatusStrip;

struct MainWindowOptions {
    // The connection code from the command line (99 when none was given).
    int connectionCode = 99;
    // Start the session timer (off in tests that drive the engine).
    bool startSessionTimer = true;
    // Keep the computer awake and raise the priority.
    bool keepAwake = true;
    // Watch for USB devices coming and going.
    bool watchDevices = true;
};

class MainWindow : public QMainWindow, public SessionView {
    Q_OBJECT
public:
    explicit MainWindow(const MainWindowOptions& options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    SessionEngine& engine() { return *engine_; }
    Settings& settings() { return settings_; }
    ColorScale& colorScale() { return colorScale_; }
    QTimer& sessionTimer() { return sessionTimer_; }
    QTimer& retryTimer() { return retryTimer_; }

    // The windows created after this one (program entry order).
    void AttachRangeDialog(RangeDialog* range);
    // Also settles the connection: the stored one replaces the command
    // line's, and from then on the event hook keeps a TCP/IP link ready.
    void AttachSettingsDialog(SettingsDialog* settingsDialog);
    void AttachAboutBox(QDialog* about);

    // Opens the manual at a topic (kHelpContents: its first page).
    void ShowHelp(int context);
    // Enables or disables every control of a panel, and first their own
    // children when `nested`.
    static void EnablePanelControls(QWidget* panel, bool enabled, bool nested);

    // Handlers of the status strip.
    void OpenSettings();
    // The status strip's QC line: the flagged measurements and the suspect
    // electrodes of the acquisition on screen, kept current while open.
    QualityDialog* OpenQualityDialog();
    // The status strip's "Export...".
    void OpenExportDialog();
    // The settings dialog's replay buttons.
    void ReplayRecordedFile(bool viewOnly);
    // Shows a recording named outside the dialog (the command line, a file
    // manager) as "View file" does, then goes back to the link.
    void ViewRecording(const std::string& heqFile);

    // Replaceable in tests: the open dialog of a replay and the browser.
    std::function<std::string(const std::string& folder, const std::string& fileName)>
        chooseRecordedFile;
    std::function<bool(const QUrl&)> openUrl;
    // Told of every completed batch and of every run's data file, for the
    // benchmark and the tests that follow a run.
    std::function<void(const BatchInfo&)> batchObserver;
    std::function<void(const std::string& binFileName)> runObserver;

    // ---- SessionView -----------------------------------------------------
    void SetStatus(const std::string& caption) override;
    std::string Status() const override;
    void SetStatusHint(const std::string& hint) override;
    void SetReceiving(bool on) override;
    Indicator* CrcIndicator() override;
    ProgressBar* MainProgressBar() override;
    ProgressBar* SequenceProgressBar() override;
    void SetButtonVisible(RunButton id, bool visible) override;
    void SetButtonEnabled(RunButton id, bool enabled) override;
    void FocusButton(RunButton id) override;
    void SetSettingsControlsEnabled(bool enabled) override;
    void CloseSettingsDialog() override;
    void SetBatteryPanelVisible(bool visible) override;
    void SetQuadripoleText(const std::string& text) override;
    void SetEstimatedTime(const std::string& text) override;
    void SetValueLabelsRhoOnly(bool rhoOnly) override;
    void SetSectionTabsVisible(bool visible) override;
    void ShowLiveValues(const MeasureRecord* batch, const int16_t* list23, int count) override;
    void ShowBatteryState(float temperature, float tx, float rx) override;
    void DisplayedBatteryState(float& tx, float& rx, float& temperature) override;
    void SetPortPicture(int index, const std::string& hint) override;
    void BringToFront() override;
    void ShowError(const std::string& text) override;
    bool AskOkCancel(const std::string& caption, const std::string& text) override;
    bool AskText(const std::string& caption, const std::string& prompt,
                 std::string& value) override;
    std::string ChooseRecordedFile(const std::string& folder, const std::string& fileName) override;
    void SetSessionTimerEnabled(bool enabled) override;
    bool SessionTimerEnabled() const override;
    void BuildSectionGeometry(bool showGapFillers) override;
    void SetupProgressView() override;
    void ResetDistributionChart() override;
    void ResetRunStatistics() override;
    void AdjustSampleLimit(uint32_t waitMs) override;
    void AddDistributionValue(float rho) override;
    void ComputeColorRange(int mode) override;
    void PlotSectionData(const MeasureRecord* batch, int tableIndex, int count, bool showGapFillers,
                         bool applyPalette) override;
    void MarkCurrentQuadripoles(int count, int tableIndex) override;
    void AddDistributionPoints(const MeasureRecord* batch, int tableIndex, bool showGapFillers,
                               bool repaint, int count) override;
    void SetUpdateGuiTime(int64_t ms) override;
    void ClearCurrentQuadripoles() override;
    void FinishViewRange(int quadripoleCount) override;
    void ShowQuality(const QualityControl& quality) override;
    void ShowExportReport(const std::string& text, bool ok) override;
    void BatchCompleted(const BatchInfo& info) override;
    void RunStarted(const std::string& binFileName) override;
    void RunFinished(int result) override;

    // The battery part of the live panel; false when a value is in the
    // alarm range.
    bool ApplyBatteryState(float temperature, float tx, float rx);

    // Components the tests and the imaging pages reach.
    QTabWidget* pageControl() const { return pages_; }
    LivePanel* livePanel() const { return livePanel_; }
    StatusStrip* statusStrip() const { return strip_; }
    SectionPage* sectionPage() const { return sectionPage_; }
    ProgressPage* progressPage() const { return progressPage_; }
    DistributionPage* distributionPage() const { return distributionPage_; }
    QProgressBar* sequenceProgressBar() const { return sequenceBar_; }
    // When the pages draw what the batches changed.
    PageDrawScheduler& pageDrawing() { return *pageDrawing_; }
    // Set by the start-up benchmark.
    bool useCompareAbs() const { return colorScale_.useCompareAbs; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Event handlers must not let an error escape into the event loop: it is
    // shown, and the program goes on.
    template <typename F> void Guarded(F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            ShowError(e.what());
        }
    }
    // The state of a freshly opened window: live page, idle strip, size.
    void ShowInitialState();
    // The window is closing: the session ends, the settings are saved.
    void PrepareToClose();
    void OnSessionTimer();
    void OnPageChanged(int index);
    void SyncImagingOptions();
    QPushButton* ButtonFor(RunButton id) const;
    // Runs a replay with Reset disabled, then lets the session timer bring
    // the link back. A recording viewed at once is read whole before the
    // shown page is drawn.
    template <typename F> void RunReplay(bool viewOnly, F&& replay);

    Settings settings_;
    ColorScale colorScale_;
    ImagingOptions imagingOptions_;
    std::unique_ptr<SessionEngine> engine_;

    QTabWidget* pages_ = nullptr;
    LivePanel* livePanel_ = nullptr;
    ProgressPage* progressPage_ = nullptr;
    SectionPage* sectionPage_ = nullptr;
    DistributionPage* distributionPage_ = nullptr;
    QWidget* debugPage_ = nullptr;
    QPlainTextEdit* debugLog_ = nullptr;
    QProgressBar* sequenceBar_ = nullptr;
    StatusStrip* strip_ = nullptr;
    std::unique_ptr<ProgressBarAdapter> mainBarAdapter_;
    std::unique_ptr<ProgressBarAdapter> sequenceBarAdapter_;
    std::unique_ptr<LabelIndicator> crcIndicator_;
    std::unique_ptr<PageDrawScheduler> pageDrawing_;

    QTimer sessionTimer_;
    // Tries a link that failed to open again after a pause.
    QTimer retryTimer_;
    DeviceWatch* deviceWatch_ = nullptr;
    KeepAwake* keepAwake_ = nullptr;
    RangeDialog* rangeDialog_ = nullptr;
    QualityDialog* qualityDialog_ = nullptr;
    SettingsDialog* settingsDialog_ = nullptr;
    QDialog* aboutBox_ = nullptr;
    // The connection when the settings dialog opened: a different item, or
    // the same item standing in for a launch's own connection, resets.
    int settingsItemBefore_ = 0;
    int settingsCodeBefore_ = 0;
    bool runInProgress_ = false;
    // The connection is known (the settings are loaded).
    bool connectionSettled_ = false;
    // The connection changed while a run was starting: Reset once it ends.
    bool connectionResetPending_ = false;
};
