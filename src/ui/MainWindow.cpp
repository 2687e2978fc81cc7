#include "ui/MainWindow.h"

#include "link/DeviceWatch.h"
#include "link/LinkFactory.h"
#include "link/UsbLink.h"
#include "ui/DistributionPage.h"
#include "ui/KeepAwake.h"
#include "ui/LivePanel.h"
#include "ui/ProgressPage.h"
#include "ui/RangeDialog.h"
#include "ui/SectionPage.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusStrip.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#ifndef PYLORIX_SOURCE_DIR
#define PYLORIX_SOURCE_DIR ""
#endif

namespace {

constexpr int kClientWidth = 1040;
constexpr int kClientHeight = 700;

// Event handlers must not let an error escape into the event loop: it is
// shown, and the program goes on.
template <typename F> void Guarded(MainWindow* window, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        window->ShowError(e.what());
    }
}

QString FirstExisting(const QStringList& candidates) {
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path))
            return QFileInfo(path).absoluteFilePath();
    }
    return {};
}

QStringList ProgramFolders() {
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        folders << dir << dir + QStringLiteral("/../share/pylorix");
    }
    return folders;
}

} // namespace

QString ProgramFile(const QString& relativePath) {
    QStringList candidates;
    for (const QString& folder : ProgramFolders())
        candidates << folder + QLatin1Char('/') + relativePath;
    return FirstExisting(candidates);
}

QString SampleFolder() {
    const QString sample = QStringLiteral("Pylorix - DEMO.heq");
    QString found = ProgramFile(sample);
    if (found.isEmpty() && *PYLORIX_SOURCE_DIR)
        found = FirstExisting({QStringLiteral(PYLORIX_SOURCE_DIR "/data/demo/") + sample});
    return found.isEmpty() ? QString() : QFileInfo(found).absolutePath();
}

QUrl HelpUrl(int context) {
    QString page = ProgramFile(QStringLiteral("help/index.html"));
    if (page.isEmpty() && *PYLORIX_SOURCE_DIR)
        page = FirstExisting({QStringLiteral(PYLORIX_SOURCE_DIR "/docs/help/index.html")});
    if (page.isEmpty())
        return {};
    QUrl url = QUrl::fromLocalFile(page);
    if (context >= 0)
        url.setFragment(QString::number(context));
    return url;
}

// ProgressBar1 and ProgressBar2 as the engine sees them. The engine may set
// a maximum below the position (the end of viewing a file sets 1 to show a
// full bar): the position follows it down, as a progress bar does, so that
// "full" stays position == maximum.
class MainWindow::ProgressBarAdapter : public ProgressBar {
public:
    explicit ProgressBarAdapter(QProgressBar* bar) : bar_(bar) {}
    void SetMinimum(int value) override {
        minimum_ = value;
        maximum_ = std::max(maximum_, minimum_);
        Apply();
    }
    void SetMaximum(int value) override {
        maximum_ = value;
        minimum_ = std::min(minimum_, maximum_);
        Apply();
    }
    int Maximum() const override { return maximum_; }
    int Position() const override { return position_; }
    void SetPosition(int value) override {
        position_ = value;
        Apply();
    }

private:
    void Apply() {
        position_ = std::clamp(position_, minimum_, maximum_);
        if (minimum_ == maximum_) {
            // An empty range would make the bar spin: show it full.
            bar_->setRange(0, 1);
            bar_->setValue(1);
            return;
        }
        bar_->setRange(minimum_, maximum_);
        bar_->setValue(position_);
    }

    QProgressBar* bar_;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
};

class MainWindow::LabelIndicator : public Indicator {
public:
    explicit LabelIndicator(QWidget* label) : label_(label) {}
    void Show() override { label_->show(); }
    void Hide() override { label_->hide(); }

private:
    QWidget* label_;
};

MainWindow::MainWindow(const MainWindowOptions& options, QWidget* parent) : QMainWindow(parent) {
    settings_.connectionCode = options.connectionCode;
    engine_ = std::make_unique<SessionEngine>(*this, settings_);
    engine_->linkFactory = [](int code) { return CreateLink(code); };
    engine_->usbDeviceCount = [] { return UsbDeviceCount(); };
    engine_->sampleFolderSource = SampleFolder().toStdString();

    setObjectName("MainFrm");
    setWindowTitle(QStringLiteral("Pylorix"));
    setWindowIcon(QIcon(QStringLiteral(":/pylorix/pylorix.png")));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    pages_ = new QTabWidget(central);
    pages_->setObjectName("PageControl1");
    pages_->setDocumentMode(true);
    pages_->setIconSize(QSize(18, 18));
    pages_->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { width: 190px; height: 28px; }"));
    livePanel_ = new LivePanel(pages_);
    progressPage_ = new ProgressPage(&imagingOptions_, pages_);
    progressPage_->setObjectName("StateTb");
    sectionPage_ = new SectionPage(&colorScale_, &imagingOptions_, pages_);
    sectionPage_->setObjectName("RhoTb");
    distributionPage_ = new DistributionPage(&colorScale_, pages_);
    distributionPage_->setObjectName("DistributionTb");
    debugTb_ = new QWidget(pages_);
    debugTb_->setObjectName("DebugTb");
    memo_ = new QPlainTextEdit(debugTb_);
    memo_->setObjectName("Memo");
    (new QVBoxLayout(debugTb_))->addWidget(memo_);
    pages_->addTab(livePanel_, QIcon(QStringLiteral(":/pylorix/page-acquisition.png")),
                   QStringLiteral("  Acquisition"));
    pages_->addTab(progressPage_, QIcon(QStringLiteral(":/pylorix/page-progress.png")),
                   QStringLiteral(" Progress status"));
    pages_->addTab(sectionPage_, QIcon(QStringLiteral(":/pylorix/page-section.png")),
                   QStringLiteral(" Rho pseudo section"));
    pages_->addTab(distributionPage_, QIcon(QStringLiteral(":/pylorix/page-distribution.png")),
                   QStringLiteral("Rho distribution"));
    pages_->addTab(debugTb_, QStringLiteral("Debug"));
    pages_->setTabVisible(pages_->indexOf(debugTb_), false);
    layout->addWidget(pages_, 1);

    sequenceBar_ = new QProgressBar(central);
    sequenceBar_->setObjectName("ProgressBar2");
    sequenceBar_->setTextVisible(false);
    sequenceBar_->setFixedHeight(6);
    layout->addWidget(sequenceBar_);

    strip_ = new StatusStrip(central);
    layout->addWidget(strip_);
    setCentralWidget(central);

    mainBarAdapter_ = std::make_unique<ProgressBarAdapter>(strip_->progressBar1);
    sequenceBarAdapter_ = std::make_unique<ProgressBarAdapter>(sequenceBar_);
    crcIndicator_ = std::make_unique<LabelIndicator>(strip_->errorSetUp);
    sectionPage_->SetProgressFullQuery(
        [this] { return sequenceBarAdapter_->Position() == sequenceBarAdapter_->Maximum(); });

    connect(strip_->settingsSpdBtn, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { OpenSettings(); }); });
    connect(strip_->resetBitBtn, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { engine_->RequestReset(); }); });
    connect(strip_->stopBtn, &QPushButton::clicked, this, [this] { engine_->RequestStop(); });
    connect(strip_->pauseBtn, &QPushButton::clicked, this, [this] { engine_->RequestPause(); });
    connect(strip_->reStartBtn, &QPushButton::clicked, this, [this] { engine_->RequestRestart(); });
    connect(pages_, &QTabWidget::currentChanged, this, &MainWindow::OnPageChanged);

    sessionTimer_.setObjectName("Timer2");
    sessionTimer_.setSingleShot(true);
    sessionTimer_.setInterval(1000);
    connect(&sessionTimer_, &QTimer::timeout, this, &MainWindow::OnSessionTimer);

    if (options.keepAwake)
        keepAwake_ = new KeepAwake(this);
    if (options.watchDevices) {
        deviceWatch_ = new DeviceWatch(this);
        connect(deviceWatch_, &DeviceWatch::DeviceChanged, this, [this] {
            if (!engine_->closing)
                Guarded(this, [this] { engine_->DeviceChanged(); });
        });
    }
    // Stands in front of every event the window gets: a TCP/IP connection
    // always has a link object ready for the picture and the next session.
    installEventFilter(this);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { ShowHelp(kHelpContents); });

    FormCreate();
    if (options.startSessionTimer)
        sessionTimer_.start();
}

MainWindow::~MainWindow() {
    removeEventFilter(this);
    sessionTimer_.stop();
    delete deviceWatch_;
    deviceWatch_ = nullptr;
    // Closing the link may pump events: the widgets are still there.
    engine_.reset();
    // The pages hold pointers to the colour scale and the options, which
    // are members: they go before them.
    delete takeCentralWidget();
}

void MainWindow::FormCreate() {
    engine_->sessionActive = false;
    SetReceiving(false);
    SetStatus("");
    pages_->setCurrentWidget(livePanel_);
    OnPageChanged(pages_->currentIndex());
    strip_->resetBitBtn->setEnabled(true);
    strip_->mainGB->setEnabled(true);
    engine_->ShowPortImage(false);
    strip_->progressGB->show();
    SetupProgressView();

    // The window never gets smaller than its first size, unless the screen
    // itself is smaller: a window larger than the screen could not be used.
    QSize minimum(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        minimum = minimum.boundedTo(screen->availableSize());
    resize(kClientWidth, kClientHeight);
    setMinimumSize(minimum);

    std::string report;
    colorScale_.useCompareAbs = ChooseCompareAbs(&report);
    setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::AttachRangeDialog(RangeDialog* range) {
    rangeFrm_ = range;
    connect(range, &RangeDialog::choiceStored, sectionPage_, &SectionPage::UpdateColorScale);
    connect(range, &RangeDialog::colorRangeBoxRequested, distributionPage_,
            &DistributionPage::DrawColorRangeBox);
    connect(sectionPage_, &SectionPage::rangeRequested, range, [range] {
        range->show();
        range->raise();
    });
}

void MainWindow::AttachSettingsDialog(SettingsDialog* settingsFrm) {
    settingsFrm_ = settingsFrm;
    connect(settingsFrm, &SettingsDialog::replayRequested, this,
            [this](bool viewOnly) { Guarded(this, [&] { ReplayRecordedFile(viewOnly); }); });
    connect(settingsFrm, &SettingsDialog::helpRequested, this, &MainWindow::ShowHelp);
    connect(settingsFrm, &SettingsDialog::aboutRequested, this, [this] {
        if (aboutBox_) {
            aboutBox_->show();
            aboutBox_->raise();
        }
    });
    connect(settingsFrm, &SettingsDialog::rhoOnlyChanged, strip_->rhoOnlyLbl, &QWidget::setVisible);
    connect(settingsFrm, &QDialog::finished, this, [this] {
        if (settingsFrm_->ConnectionIndex() == settingsItemBefore_)
            return;
        settingsItemBefore_ = settingsFrm_->ConnectionIndex();
        if (runInProgress_) {
            // The instrument already started on the old link: its run goes
            // on, and the new connection is taken as soon as it ends.
            connectionResetPending_ = true;
            return;
        }
        Guarded(this, [this] { engine_->RequestReset(); });
    });
    settingsItemBefore_ = settingsFrm->ConnectionIndex();
    strip_->rhoOnlyLbl->setVisible(settings_.rhoOnly);
    // The loaded connection may differ from the command line's: only now
    // may the event hook create a link object for it.
    connectionSettled_ = true;
    engine_->ShowPortImage(false);
}

void MainWindow::AttachAboutBox(QDialog* about) {
    aboutBox_ = about;
}

void MainWindow::OpenSettings() {
    if (!settingsFrm_)
        return;
    if (settingsFrm_->isVisible()) {
        settingsFrm_->reject();
        return;
    }
    settingsItemBefore_ = settingsFrm_->ConnectionIndex();
    // Window-modal but not a nested event loop: a session waiting below
    // keeps reading the instrument while the dialog is open.
    settingsFrm_->open();
}

void MainWindow::ReplayRecordedFile(bool viewOnly) {
    strip_->resetBitBtn->setEnabled(false);
    engine_->OpenRecordedAcquisition(viewOnly);
    strip_->resetBitBtn->setEnabled(true);
    if (!engine_->closing)
        SetSessionTimerEnabled(true);
}

void MainWindow::ShowHelp(int context) {
    const QUrl url = HelpUrl(context);
    if (url.isEmpty()) {
        ShowError("Can't find the manual (help/index.html) beside the program.");
        return;
    }
    const bool opened = openUrl ? openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened)
        ShowError("Can't open " + url.toString().toStdString());
}

void MainWindow::EnablePanelControls(QWidget* panel, bool enabled, bool nested) {
    if (!panel)
        return;
    for (QWidget* control : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (nested) {
            for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                child->setEnabled(enabled);
        }
        control->setEnabled(enabled);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && connectionSettled_ && !engine_->closing)
        engine_->EnsureNetworkLink();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void MainWindow::FormCloseQuery() {
    if (engine_->closing)
        return;
    engine_->RequestClose();
    sessionTimer_.stop();
    SetStatus("Closing Pylorix...");
    std::string message;
    if (!settings_.SaveSettings(&message))
        ActiveUiHooks().ShowMessage(message);
    if (engine_->CurrentLink())
        engine_->CloseLink();
    for (QWidget* w : {static_cast<QWidget*>(rangeFrm_), static_cast<QWidget*>(settingsFrm_),
                       static_cast<QWidget*>(aboutBox_)}) {
        if (w)
            w->hide();
    }
}

void MainWindow::OnSessionTimer() {
    if (engine_->closing)
        return;
    if (engine_->sessionActive) {
        // A session replaced by Reset is still unwinding below: start the
        // new one once it is gone rather than inside it.
        sessionTimer_.start();
        return;
    }
    try {
        engine_->OnSessionTimer();
    } catch (const std::exception& e) {
        engine_->sessionActive = false;
        ShowError(e.what());
    }
}

void MainWindow::OnPageChanged(int index) {
    QWidget* page = pages_->widget(index);
    sectionPage_->SetPageActive(page == sectionPage_);
    progressPage_->SetPageActive(page == progressPage_);
    sectionPage_->UpdateColorScale();
}

void MainWindow::SyncImagingOptions() {
    imagingOptions_.showGapFillers = settings_.showGapFillers;
    imagingOptions_.movingArrayMode = engine_->Device().movingArrayMode != 0;
}

QPushButton* MainWindow::ButtonFor(RunButton id) const {
    switch (id) {
    case RunButton::Stop:
        return strip_->stopBtn;
    case RunButton::Pause:
        return strip_->pauseBtn;
    case RunButton::ReStart:
        return strip_->reStartBtn;
    case RunButton::Reset:
        return strip_->resetBitBtn;
    }
    return nullptr;
}

// ---- SessionView -----------------------------------------------------------

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
    if (settingsFrm_)
        settingsFrm_->SetRunControlsEnabled(enabled);
    if (enabled && connectionResetPending_) {
        connectionResetPending_ = false;
        // After the run's report, from the event loop, like a click.
        QTimer::singleShot(0, this, [this] {
            if (!engine_->closing)
                Guarded(this, [this] { engine_->RequestReset(); });
        });
    }
}

void MainWindow::CloseSettingsDialog() {
    if (settingsFrm_ && settingsFrm_->isVisible())
        settingsFrm_->reject();
}

void MainWindow::SetBatteryPanelVisible(bool visible) {
    strip_->batPannel->setVisible(visible);
}

void MainWindow::SetQuadripoleText(const std::string& text) {
    livePanel_->SetQuadripoleText(QString::fromStdString(text));
}

void MainWindow::SetEstimatedTime(const std::string& text) {
    livePanel_->SetEstimatedTime(QString::fromStdString(text));
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
    livePanel_->ShowLiveValues(batch, list23, count);
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
    if (rangeFrm_)
        rangeFrm_->ResetRunStatistics();
    else
        colorScale_.ResetRunStatistics();
}

void MainWindow::AdjustSampleLimit(uint32_t waitMs) {
    if (rangeFrm_)
        rangeFrm_->AdjustSampleLimit(waitMs);
    else
        colorScale_.AdjustSampleLimit(waitMs);
}

void MainWindow::AddDistributionValue(float rho) {
    colorScale_.AddDistributionValue(rho);
}

void MainWindow::ComputeColorRange(int mode) {
    if (rangeFrm_)
        rangeFrm_->ComputeColorRange(mode != 0);
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
    if (rangeFrm_)
        rangeFrm_->ShowUpdateGuiTime(ms);
}

void MainWindow::ClearCurrentQuadripoles() {
    progressPage_->ClearCurrentQuadripoles();
}

void MainWindow::FinishViewRange(int quadripoleCount) {
    colorScale_.sampleLimit = uint32_t(std::max(quadripoleCount, 0));
    if (rangeFrm_) {
        rangeFrm_->ComputeColorRange(false);
        rangeFrm_->UpdateOutOfScaleCount();
        rangeFrm_->StoreRangeChoice();
    } else {
        colorScale_.ComputeOptimizedRange(false);
    }
}
