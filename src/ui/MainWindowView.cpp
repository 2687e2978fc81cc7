// The main window as the engine's view: each SessionView call goes to the
// status strip, the live panel, the pages or the range dialog.
#include "ui/MainWindow.h"

#include "quality/QualityControl.h"

#include "ui/DistributionPage.h"
#include "ui/LivePanel.h"
#include "ui/ProgressPage.h"
#include "ui/QualityDialog.h"
#include "ui/RangeDialog.h"
#include "ui/SectionPage.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusStrip.h"
#include "ui/WidgetAdapters.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdio>

void MainWindow::SetStatus(const std::string& caption) {
    strip_->mainGB->setText(QString::fromStdString(caption));
}

std::string MainWindow::Status() const {
    return strip_->mainGB->text().toStdString();
}

void MainWindow::SetStatusHint(const std::string& hint) {
    strip_->mainGB->setToolTip(QString::fromStdString(hint));
}

void MainWindow::SetReceiving(bool on) {
    strip_->SetReceiving(on);
}

Indicator* MainWindow::CrcIndicator() {
    return crcIndicator_.get();
}

ProgressBar* MainWindow::MainProgressBar() {
    return mainBarAdapter_.get();
}

ProgressBar* MainWindow::SequenceProgressBar() {
    return sequenceBarAdapter_.get();
}

void MainWindow::SetButtonVisible(RunButton id, bool visible) {
    ButtonFor(id)->setVisible(visible);
}

void MainWindow::SetButtonEnabled(RunButton id, bool enabled) {
    ButtonFor(id)->setEnabled(enabled);
}

void MainWindow::FocusButton(RunButton id) {
    QPushButton* button = ButtonFor(id);
    if (id == RunButton::ReStart)
        button->raise();
    if (button->isVisible() && button->isEnabled())
        button->setFocus();
}

void MainWindow::SetSettingsControlsEnabled(bool enabled) {
    runInProgress_ = !enabled;
    if (settingsDialog_)
        settingsDialog_->SetRunControlsEnabled(enabled);
    if (enabled && connectionResetPending_) {
        connectionResetPending_ = false;
        // After the run's report, from the event loop, like a click.
        QTimer::singleShot(0, this, [this] {
            if (!engine_->closing)
                Guarded([this] { engine_->RequestReset(); });
        });
    }
}

void MainWindow::CloseSettingsDialog() {
    if (settingsDialog_ && settingsDialog_->isVisible())
        settingsDialog_->reject();
}

void MainWindow::SetBatteryPanelVisible(bool visible) {
    strip_->batPannel->setVisible(visible);
}

void MainWindow::SetQuadripoleText(const std::string& text) {
    livePanel_->StoreQuadripoleText(QString::fromStdString(text));
    pageDrawing_->MarkStale(livePanel_);
}

void MainWindow::SetEstimatedTime(const std::string& text) {
    livePanel_->StoreEstimatedTime(QString::fromStdString(text));
    pageDrawing_->MarkStale(livePanel_);
}

void MainWindow::SetValueLabelsRhoOnly(bool rhoOnly) {
    livePanel_->SetValueLabelsRhoOnly(rhoOnly);
}

void MainWindow::SetSectionTabsVisible(bool visible) {
    SyncImagingOptions();
    pages_->setTabVisible(pages_->indexOf(progressPage_), visible);
    pages_->setTabVisible(pages_->indexOf(sectionPage_), visible);
}

void MainWindow::ShowLiveValues(const MeasureRecord* batch, const int16_t* list23, int count) {
    livePanel_->StoreLiveValues(batch, list23, count);
    pageDrawing_->MarkStale(livePanel_);
}

bool MainWindow::ApplyBatteryState(float temperature, float tx, float rx) {
    return strip_->ShowBatteryState(
        temperature, tx, rx, settings_.rhoOnly,
        [this](BatteryState& state) { return engine_->QueryBattery(state); });
}

void MainWindow::ShowBatteryState(float temperature, float tx, float rx) {
    ApplyBatteryState(temperature, tx, rx);
}

void MainWindow::DisplayedBatteryState(float& tx, float& rx, float& temperature) {
    tx = strip_->shownTx;
    rx = strip_->shownRx;
    temperature = strip_->shownTemperature;
}

void MainWindow::SetPortPicture(int index, const std::string& hint) {
    strip_->SetPortPicture(index, QString::fromStdString(hint));
}

void MainWindow::BringToFront() {
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

void MainWindow::ShowError(const std::string& text) {
    if (engine_ && engine_->closing) {
        // The window is going away: the run ends quietly.
        std::fprintf(stderr, "Pylorix: %s\n", text.c_str());
        return;
    }
    ActiveUiHooks().ShowMessage(text);
}

bool MainWindow::AskOkCancel(const std::string& caption, const std::string& text) {
    return ActiveUiHooks().Confirm(caption, text);
}

bool MainWindow::AskText(const std::string& caption, const std::string& prompt,
                         std::string& value) {
    return ActiveUiHooks().InputText(caption, prompt, value);
}

std::string MainWindow::ChooseRecordedFile(const std::string& folder, const std::string& fileName) {
    if (chooseRecordedFile)
        return chooseRecordedFile(folder, fileName);
    QFileDialog dialog(this, QStringLiteral("Open"), QString::fromStdString(folder),
                       QStringLiteral("Acquisition data file (*.heq)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("heq"));
    dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
}

void MainWindow::SetSessionTimerEnabled(bool enabled) {
    if (enabled && !engine_->closing)
        sessionTimer_.start();
    else
        sessionTimer_.stop();
}

bool MainWindow::SessionTimerEnabled() const {
    return sessionTimer_.isActive();
}

void MainWindow::BuildSectionGeometry(bool showGapFillers) {
    sequenceBarAdapter_->SetMinimum(0);
    sequenceBarAdapter_->SetMaximum(1);
    sequenceBarAdapter_->SetPosition(0);
    SyncImagingOptions();
    sectionPage_->BuildSectionGeometry(engine_->Device(), showGapFillers);
}

void MainWindow::SetupProgressView() {
    SyncImagingOptions();
    const Instrument& device = engine_->Device();
    progressPage_->SetupProgressView(device, device.header.firstNode, device.header.lastNode);
}

void MainWindow::ResetDistributionChart() {
    distributionPage_->ResetDistributionChart();
}

void MainWindow::ResetRunStatistics() {
    if (rangeDialog_)
        rangeDialog_->ResetRunStatistics();
    else
        colorScale_.ResetRunStatistics();
}

void MainWindow::AdjustSampleLimit(uint32_t waitMs) {
    if (rangeDialog_)
        rangeDialog_->AdjustSampleLimit(waitMs);
    else
        colorScale_.AdjustSampleLimit(waitMs);
}

void MainWindow::AddDistributionValue(float rho) {
    colorScale_.AddDistributionValue(rho);
}

void MainWindow::ComputeColorRange(int mode) {
    if (rangeDialog_)
        rangeDialog_->ComputeColorRange(mode != 0);
    else
        colorScale_.ComputeOptimizedRange(mode != 0);
}

void MainWindow::PlotSectionData(const MeasureRecord* batch, int tableIndex, int count,
                                 bool showGapFillers, bool applyPalette) {
    SyncImagingOptions();
    sectionPage_->PlotSectionData(batch, tableIndex, count, showGapFillers, applyPalette);
}

void MainWindow::MarkCurrentQuadripoles(int count, int tableIndex) {
    SyncImagingOptions();
    progressPage_->MarkCurrentQuadripoles(count, tableIndex);
}

void MainWindow::AddDistributionPoints(const MeasureRecord* batch, int tableIndex,
                                       bool showGapFillers, bool repaint, int count) {
    distributionPage_->AddDistributionPoints(engine_->Device(), batch, tableIndex, showGapFillers,
                                             repaint, count);
}

void MainWindow::SetUpdateGuiTime(int64_t ms) {
    if (rangeDialog_)
        rangeDialog_->ShowUpdateGuiTime(ms);
}

void MainWindow::ClearCurrentQuadripoles() {
    progressPage_->ClearCurrentQuadripoles();
}

void MainWindow::FinishViewRange(int quadripoleCount) {
    colorScale_.sampleLimit = uint32_t(std::max(quadripoleCount, 0));
    if (rangeDialog_) {
        rangeDialog_->ComputeColorRange(false);
        rangeDialog_->UpdateOutOfScaleCount();
        rangeDialog_->StoreRangeChoice();
    } else {
        colorScale_.ComputeOptimizedRange(false);
    }
}

void MainWindow::ShowQuality(const QualityControl& quality) {
    strip_->SetQualityText(QString::fromStdString(quality.SummaryLine()));
    progressPage_->SetSuspectElectrodes(quality.SuspectElectrodes());
    if (qualityDialog_ && qualityDialog_->isVisible())
        qualityDialog_->ShowQuality(&quality);
}

void MainWindow::ShowExportReport(const std::string& text, bool ok) {
    if (!ok) {
        ShowError(text);
        return;
    }
    // A written export is news, not an alarm: it joins the status hint.
    const QString previous = strip_->mainGB->toolTip();
    const QString report = QString::fromStdString(text).trimmed();
    strip_->mainGB->setToolTip(previous.isEmpty() ? report : previous + "\n" + report);
}

void MainWindow::BatchCompleted(const BatchInfo& info) {
    if (batchObserver)
        batchObserver(info);
}

void MainWindow::RunStarted(const std::string& binFileName) {
    if (runObserver)
        runObserver(binFileName);
}

void MainWindow::RunFinished(int) {
    // The last batch is on the shown page before the run's report.
    pageDrawing_->Flush();
#ifdef __GLIBC__
    // A run leaves many freed blocks behind (batch copies, chart points of
    // the run before, the drawings' images): give the free ones back to
    // the system, so that a laptop running for days does not hold the
    // largest run's memory for ever.
    malloc_trim(0);
#endif
}
