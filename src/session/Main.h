#pragma once
// TMainFrm, the program's main window: the acquisition, progress, pseudo-
// section and distribution pages, the status strip and the sequence
// progress bar. It is the acquisition engine's view, owns the engine (and
// with it the device object) for the program's lifetime, and forwards the
// engine's display calls to the imaging pages.
#include "ColorScale.h"
#include "ImagingOptions.h"
#include "SessionEngine.h"
#include "SessionView.h"
#include "Settings.h"

#include <QMainWindow>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TDeviceWatch;
class TDistributionPage;
class TKeepAwake;
class TLivePanel;
class TProgressPage;
class TRangeFrm;
class TSectionPage;
class TSettingsFrm;
class TStatusStrip;

// Topics of the manual (its anchors carry these numbers).
enum THelpContext {
    kHelpContents = -1,
    kHelpConnecting = 10,
    kHelpPages = 20,
    kHelpSettingsTopic = 30,
    kHelpFiles = 40,
    kHelpReplay = 50,
    kHelpTroubleshooting = 60,
};

// A file shipped with the program (the manual, the sample acquisition):
// beside the executable, in the installed data folder, or in the source
// tree for a program run from its build folder. Empty when none exists.
QString ProgramFile(const QString& relativePath);
// The folder that holds the sample acquisition "Pylorix - DEMO".
QString SampleFolder();
// The manual's address for a topic; empty when the manual is missing.
QUrl HelpUrl(int context);

struct TMainFrmOptions {
    // The connection code from the command line (99 when none was given).
    int connectionCode = 99;
    // Start the session timer (off in tests that drive the engine).
    bool startSessionTimer = true;
    // Keep the computer awake and raise the priority.
    bool keepAwake = true;
    // Watch for USB devices coming and going.
    bool watchDevices = true;
};

class TMainFrm : public QMainWindow, public TSessionView {
    Q_OBJECT
public:
    explicit TMainFrm(const TMainFrmOptions& options = {}, QWidget* parent = nullptr);
    ~TMainFrm() override;

    TSessionEngine& engine() { return *engine_; }
    TSettings& settings() { return settings_; }
    TColorScale& colorScale() { return colorScale_; }
    QTimer& timer2() { return timer2_; }

    // The windows created after this one (program entry order).
    void AttachRangeDialog(TRangeFrm* range);
    // Also settles the connection: the stored one replaces the command
    // line's, and from then on the event hook keeps a TCP/IP link ready.
    void AttachSettingsDialog(TSettingsFrm* settingsFrm);
    void AttachAboutBox(QDialog* about);

    // Opens the manual at a topic (kHelpContents: its first page).
    void ShowHelp(int context);
    // Enables or disables every control of a panel, and first their own
    // children when `nested`.
    static void EnablePanelControls(QWidget* panel, bool enabled, bool nested);

    // Handlers of the status strip.
    void SettingsSpdBtnClick();
    // The settings dialog's replay buttons.
    void ReplayRecordedFile(bool viewOnly);

    // Replaceable in tests: the open dialog of a replay and the browser.
    std::function<std::string(const std::string& folder, const std::string& fileName)>
        chooseRecordedFile;
    std::function<bool(const QUrl&)> openUrl;

    // ---- TSessionView -----------------------------------------------------
    void SetStatus(const std::string& caption) override;
    std::string Status() const override;
    void SetStatusHint(const std::string& hint) override;
    void SetReceiving(bool on) override;
    TIndicator* CrcIndicator() override;
    TProgressBar* ProgressBar1() override;
    TProgressBar* ProgressBar2() override;
    void SetButtonVisible(TButtonId id, bool visible) override;
    void SetButtonEnabled(TButtonId id, bool enabled) override;
    void FocusButton(TButtonId id) override;
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

    // The battery part of the live panel; false when a value is in the
    // alarm range.
    bool ApplyBatteryState(float temperature, float tx, float rx);

    // Components the tests and the imaging pages reach.
    QTabWidget* pageControl() const { return pageControl1_; }
    TLivePanel* livePanel() const { return livePanel_; }
    TStatusStrip* statusStrip() const { return strip_; }
    TSectionPage* sectionPage() const { return sectionPage_; }
    TProgressPage* progressPage() const { return progressPage_; }
    TDistributionPage* distributionPage() const { return distributionPage_; }
    QProgressBar* progressBar2() const { return progressBar2_; }
    // Set by the start-up benchmark.
    bool useCompareAbs() const { return colorScale_.useCompareAbs; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class TBarAdapter;
    class TLabelIndicator;

    void FormCreate();
    void FormCloseQuery();
    void OnTimer2();
    void OnPageChanged(int index);
    void SyncImagingOptions();
    QPushButton* ButtonFor(TButtonId id) const;

    TSettings settings_;
    TColorScale colorScale_;
    ImagingOptions imagingOptions_;
    std::unique_ptr<TSessionEngine> engine_;

    QTabWidget* pageControl1_ = nullptr;
    TLivePanel* livePanel_ = nullptr;
    TProgressPage* progressPage_ = nullptr;
    TSectionPage* sectionPage_ = nullptr;
    TDistributionPage* distributionPage_ = nullptr;
    QWidget* debugTb_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
    QProgressBar* progressBar2_ = nullptr;
    TStatusStrip* strip_ = nullptr;
    std::unique_ptr<TBarAdapter> bar1_;
    std::unique_ptr<TBarAdapter> bar2_;
    std::unique_ptr<TLabelIndicator> crcIndicator_;

    QTimer timer2_;
    TDeviceWatch* deviceWatch_ = nullptr;
    TKeepAwake* keepAwake_ = nullptr;
    TRangeFrm* rangeFrm_ = nullptr;
    TSettingsFrm* settingsFrm_ = nullptr;
    QDialog* aboutBox_ = nullptr;
    int settingsItemBefore_ = 0;
    bool runInProgress_ = false;
    // The connection is known (the settings are loaded).
    bool connectionSettled_ = false;
    // The connection changed while a run was starting: Reset once it ends.
    bool connectionResetPending_ = false;
};
