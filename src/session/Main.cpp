#include "Main.h"

#include "Devicewatch.h"
#include "DistributionChart.h"
#include "KeepAwake.h"
#include "Linkfactory.h"
#include "LivePanel.h"
#include "Portusb.h"
#include "ProgressView.h"
#include "Range.h"
#include "SectionPage.h"
#include "SettingsFrm.h"
#include "StatusStrip.h"

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
template <typename F> void Guarded(TMainFrm* window, F&& f) {
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
class TMainFrm::TBarAdapter : public TProgressBar {
public:
    explicit TBarAdapter(QProgressBar* bar) : bar_(bar) {}
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

class TMainFrm::TLabelIndicator : public TIndicator {
public:
    explicit TLabelIndicator(QWidget* label) : label_(label) {}
    void Show() override { label_->show(); }
    void Hide() override { label_->hide(); }

private:
    QWidget* label_;
};

TMainFrm::TMainFrm(const TMainFrmOptions& options, QWidget* parent) : QMainWindow(parent) {
    settings_.connectionCode = options.connectionCode;
    engine_ = std::make_unique<TSessionEngine>(*this, settings_);
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

    pageControl1_ = new QTabWidget(central);
    pageControl1_->setObjectName("PageControl1");
    pageControl1_->setDocumentMode(true);
    pageControl1_->setIconSize(QSize(18, 18));
    pageControl1_->tabBar()->setStyleSheet(
        QStringLiteral("QTabBar::tab { width: 190px; height: 28px; }"));
    livePanel_ = new TLivePanel(pageControl1_);
    progressPage_ = new TProgressPage(&imagingOptions_, pageControl1_);
    progressPage_->setObjectName("StateTb");
    sectionPage_ = new TSectionPage(&colorScale_, &imagingOptions_, pageControl1_);
    sectionPage_->setObjectName("RhoTb");
    distributionPage_ = new TDistributionPage(&colorScale_, pageControl1_);
    distributionPage_->setObjectName("DistributionTb");
    debugTb_ = new QWidget(pageControl1_);
    debugTb_->setObjectName("DebugTb");
    memo_ = new QPlainTextEdit(debugTb_);
    memo_->setObjectName("Memo");
    (new QVBoxLayout(debugTb_))->addWidget(memo_);
    pageControl1_->addTab(livePanel_, QIcon(QStringLiteral(":/pylorix/page-acquisition.png")),
                          QStringLiteral("  Acquisition"));
    pageControl1_->addTab(progressPage_, QIcon(QStringLiteral(":/pylorix/page-progress.png")),
                          QStringLiteral(" Progress status"));
    pageControl1_->addTab(sectionPage_, QIcon(QStringLiteral(":/pylorix/page-section.png")),
                          QStringLiteral(" Rho pseudo section"));
    pageControl1_->addTab(distributionPage_,
                          QIcon(QStringLiteral(":/pylorix/page-distribution.png")),
                          QStringLiteral("Rho distribution"));
    pageControl1_->addTab(debugTb_, QStringLiteral("Debug"));
    pageControl1_->setTabVisible(pageControl1_->indexOf(debugTb_), false);
    layout->addWidget(pageControl1_, 1);

    progressBar2_ = new QProgressBar(central);
    progressBar2_->setObjectName("ProgressBar2");
    progressBar2_->setTextVisible(false);
    progressBar2_->setFixedHeight(6);
    layout->addWidget(progressBar2_);

    strip_ = new TStatusStrip(central);
    layout->addWidget(strip_);
    setCentralWidget(central);

    bar1_ = std::make_unique<TBarAdapter>(strip_->progressBar1);
    bar2_ = std::make_unique<TBarAdapter>(progressBar2_);
    crcIndicator_ = std::make_unique<TLabelIndicator>(strip_->errorSetUp);
    sectionPage_->SetProgressFullQuery([this] { return bar2_->Position() == bar2_->Maximum(); });

    connect(strip_->settingsSpdBtn, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { SettingsSpdBtnClick(); }); });
    connect(strip_->resetBitBtn, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { engine_->ResetBitBtnClick(); }); });
    connect(strip_->stopBtn, &QPushButton::clicked, this, [this] { engine_->StopBtnClick(); });
    connect(strip_->pauseBtn, &QPushButton::clicked, this, [this] { engine_->PauseBtnClick(); });
    connect(strip_->reStartBtn, &QPushButton::clicked, this,
            [this] { engine_->ReStartBtnClick(); });
    connect(pageControl1_, &QTabWidget::currentChanged, this, &TMainFrm::OnPageChanged);

    timer2_.setObjectName("Timer2");
    timer2_.setSingleShot(true);
    timer2_.setInterval(1000);
    connect(&timer2_, &QTimer::timeout, this, &TMainFrm::OnTimer2);

    if (options.keepAwake)
        keepAwake_ = new TKeepAwake(this);
    if (options.watchDevices) {
        deviceWatch_ = new TDeviceWatch(this);
        connect(deviceWatch_, &TDeviceWatch::DeviceChanged, this, [this] {
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
        timer2_.start();
}

TMainFrm::~TMainFrm() {
    removeEventFilter(this);
    timer2_.stop();
    delete deviceWatch_;
    deviceWatch_ = nullptr;
    // Closing the link may pump events: the widgets are still there.
    engine_.reset();
    // The pages hold pointers to the colour scale and the options, which
    // are members: they go before them.
    delete takeCentralWidget();
}

void TMainFrm::FormCreate() {
    engine_->sessionActive = false;
    SetReceiving(false);
    SetStatus("");
    pageControl1_->setCurrentWidget(livePanel_);
    OnPageChanged(pageControl1_->currentIndex());
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

void TMainFrm::AttachRangeDialog(TRangeFrm* range) {
    rangeFrm_ = range;
    connect(range, &TRangeFrm::choiceStored, sectionPage_, &TSectionPage::UpdateColorScale);
    connect(range, &TRangeFrm::colorRangeBoxRequested, distributionPage_,
            &TDistributionPage::DrawColorRangeBox);
    connect(sectionPage_, &TSectionPage::rangeRequested, range, [range] {
        range->show();
        range->raise();
    });
}

void TMainFrm::AttachSettingsDialog(TSettingsFrm* settingsFrm) {
    settingsFrm_ = settingsFrm;
    connect(settingsFrm, &TSettingsFrm::replayRequested, this,
            [this](bool viewOnly) { Guarded(this, [&] { ReplayRecordedFile(viewOnly); }); });
    connect(settingsFrm, &TSettingsFrm::helpRequested, this, &TMainFrm::ShowHelp);
    connect(settingsFrm, &TSettingsFrm::aboutRequested, this, [this] {
        if (aboutBox_) {
            aboutBox_->show();
            aboutBox_->raise();
        }
    });
    connect(settingsFrm, &TSettingsFrm::rhoOnlyChanged, strip_->rhoOnlyLbl, &QWidget::setVisible);
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
        Guarded(this, [this] { engine_->ResetBitBtnClick(); });
    });
    settingsItemBefore_ = settingsFrm->ConnectionIndex();
    strip_->rhoOnlyLbl->setVisible(settings_.rhoOnly);
    // The loaded connection may differ from the command line's: only now
    // may the event hook create a link object for it.
    connectionSettled_ = true;
    engine_->ShowPortImage(false);
}

void TMainFrm::AttachAboutBox(QDialog* about) {
    aboutBox_ = about;
}

void TMainFrm::SettingsSpdBtnClick() {
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

void TMainFrm::ReplayRecordedFile(bool viewOnly) {
    strip_->resetBitBtn->setEnabled(false);
    engine_->OpenRecordedAcquisition(viewOnly);
    strip_->resetBitBtn->setEnabled(true);
    if (!engine_->closing)
        SetSessionTimerEnabled(true);
}

void TMainFrm::ShowHelp(int context) {
    const QUrl url = HelpUrl(context);
    if (url.isEmpty()) {
        ShowError("Can't find the manual (help/index.html) beside the program.");
        return;
    }
    const bool opened = openUrl ? openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened)
        ShowError("Can't open " + url.toString().toStdString());
}

void TMainFrm::EnablePanelControls(QWidget* panel, bool enabled, bool nested) {
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

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && connectionSettled_ && !engine_->closing)
        engine_->EnsureNetworkLink();
    return QMainWindow::eventFilter(watched, event);
}

void TMainFrm::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void TMainFrm::FormCloseQuery() {
    if (engine_->closing)
        return;
    engine_->RequestClose();
    timer2_.stop();
    SetStatus("Closing Pylorix...");
    std::string message;
    if (!settings_.SaveSettings(&message))
        UiHooks().ShowMessage(message);
    if (engine_->Link())
        engine_->CloseLink();
    for (QWidget* w : {static_cast<QWidget*>(rangeFrm_), static_cast<QWidget*>(settingsFrm_),
                       static_cast<QWidget*>(aboutBox_)}) {
        if (w)
            w->hide();
    }
}

void TMainFrm::OnTimer2() {
    if (engine_->closing)
        return;
    if (engine_->sessionActive) {
        // A session replaced by Reset is still unwinding below: start the
        // new one once it is gone rather than inside it.
        timer2_.start();
        return;
    }
    try {
        engine_->Timer2Timer();
    } catch (const std::exception& e) {
        engine_->sessionActive = false;
        ShowError(e.what());
    }
}

void TMainFrm::OnPageChanged(int index) {
    QWidget* page = pageControl1_->widget(index);
    sectionPage_->SetPageActive(page == sectionPage_);
    progressPage_->SetPageActive(page == progressPage_);
    sectionPage_->UpdateColorScale();
}

void TMainFrm::SyncImagingOptions() {
    imagingOptions_.showGapFillers = settings_.showGapFillers;
    imagingOptions_.movingArrayMode = engine_->Device().movingArrayMode != 0;
}

QPushButton* TMainFrm::ButtonFor(TButtonId id) const {
    switch (id) {
    case TButtonId::Stop:
        return strip_->stopBtn;
    case TButtonId::Pause:
        return strip_->pauseBtn;
    case TButtonId::ReStart:
        return strip_->reStartBtn;
    case TButtonId::Reset:
        return strip_->resetBitBtn;
    }
    return nullptr;
}

// ---- TSessionView -----------------------------------------------------------

void TMainFrm::SetStatus(const std::string& caption) {
    strip_->mainGB->setText(QString::fromStdString(caption));
}

std::string TMainFrm::Status() const {
    return strip_->mainGB->text().toStdString();
}

void TMainFrm::SetStatusHint(const std::string& hint) {
    strip_->mainGB->setToolTip(QString::fromStdString(hint));
}

void TMainFrm::SetReceiving(bool on) {
    strip_->SetReceiving(on);
}

TIndicator* TMainFrm::CrcIndicator() {
    return crcIndicator_.get();
}

TProgressBar* TMainFrm::ProgressBar1() {
    return bar1_.get();
}

TProgressBar* TMainFrm::ProgressBar2() {
    return bar2_.get();
}

void TMainFrm::SetButtonVisible(TButtonId id, bool visible) {
    ButtonFor(id)->setVisible(visible);
}

void TMainFrm::SetButtonEnabled(TButtonId id, bool enabled) {
    ButtonFor(id)->setEnabled(enabled);
}

void TMainFrm::FocusButton(TButtonId id) {
    QPushButton* button = ButtonFor(id);
    if (id == TButtonId::ReStart)
        button->raise();
    if (button->isVisible() && button->isEnabled())
        button->setFocus();
}

void TMainFrm::SetSettingsControlsEnabled(bool enabled) {
    runInProgress_ = !enabled;
    if (settingsFrm_)
        settingsFrm_->SetRunControlsEnabled(enabled);
    if (enabled && connectionResetPending_) {
        connectionResetPending_ = false;
        // After the run's report, from the event loop, like a click.
        QTimer::singleShot(0, this, [this] {
            if (!engine_->closing)
                Guarded(this, [this] { engine_->ResetBitBtnClick(); });
        });
    }
}

void TMainFrm::CloseSettingsDialog() {
    if (settingsFrm_ && settingsFrm_->isVisible())
        settingsFrm_->reject();
}

void TMainFrm::SetBatteryPanelVisible(bool visible) {
    strip_->batPannel->setVisible(visible);
}

void TMainFrm::SetQuadripoleText(const std::string& text) {
    livePanel_->SetQuadripoleText(QString::fromStdString(text));
}

void TMainFrm::SetEstimatedTime(const std::string& text) {
    livePanel_->SetEstimatedTime(QString::fromStdString(text));
}

void TMainFrm::SetValueLabelsRhoOnly(bool rhoOnly) {
    livePanel_->SetValueLabelsRhoOnly(rhoOnly);
}

void TMainFrm::SetSectionTabsVisible(bool visible) {
    SyncImagingOptions();
    pageControl1_->setTabVisible(pageControl1_->indexOf(progressPage_), visible);
    pageControl1_->setTabVisible(pageControl1_->indexOf(sectionPage_), visible);
}

void TMainFrm::ShowLiveValues(const MeasureRecord* batch, const int16_t* list23, int count) {
    livePanel_->ShowLiveValues(batch, list23, count);
}

bool TMainFrm::ApplyBatteryState(float temperature, float tx, float rx) {
    return strip_->ShowBatteryState(
        temperature, tx, rx, settings_.rhoOnly,
        [this](BatteryState& state) { return engine_->QueryBattery(state); });
}

void TMainFrm::ShowBatteryState(float temperature, float tx, float rx) {
    ApplyBatteryState(temperature, tx, rx);
}

void TMainFrm::DisplayedBatteryState(float& tx, float& rx, float& temperature) {
    tx = strip_->shownTx;
    rx = strip_->shownRx;
    temperature = strip_->shownTemperature;
}

void TMainFrm::SetPortPicture(int index, const std::string& hint) {
    strip_->SetPortPicture(index, QString::fromStdString(hint));
}

void TMainFrm::BringToFront() {
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

void TMainFrm::ShowError(const std::string& text) {
    if (engine_ && engine_->closing) {
        // The window is going away: the run ends quietly.
        std::fprintf(stderr, "Pylorix: %s\n", text.c_str());
        return;
    }
    UiHooks().ShowMessage(text);
}

bool TMainFrm::AskOkCancel(const std::string& caption, const std::string& text) {
    return UiHooks().Confirm(caption, text);
}

bool TMainFrm::AskText(const std::string& caption, const std::string& prompt, std::string& value) {
    return UiHooks().InputText(caption, prompt, value);
}

std::string TMainFrm::ChooseRecordedFile(const std::string& folder, const std::string& fileName) {
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

void TMainFrm::SetSessionTimerEnabled(bool enabled) {
    if (enabled && !engine_->closing)
        timer2_.start();
    else
        timer2_.stop();
}

bool TMainFrm::SessionTimerEnabled() const {
    return timer2_.isActive();
}

void TMainFrm::BuildSectionGeometry(bool showGapFillers) {
    bar2_->SetMinimum(0);
    bar2_->SetMaximum(1);
    bar2_->SetPosition(0);
    SyncImagingOptions();
    sectionPage_->BuildSectionGeometry(engine_->Device(), showGapFillers);
}

void TMainFrm::SetupProgressView() {
    SyncImagingOptions();
    const TVarmexPro& device = engine_->Device();
    progressPage_->SetupProgressView(device, device.header.firstNode, device.header.lastNode);
}

void TMainFrm::ResetDistributionChart() {
    distributionPage_->ResetDistributionChart();
}

void TMainFrm::ResetRunStatistics() {
    if (rangeFrm_)
        rangeFrm_->ResetRunStatistics();
    else
        colorScale_.ResetRunStatistics();
}

void TMainFrm::AdjustSampleLimit(uint32_t waitMs) {
    if (rangeFrm_)
        rangeFrm_->AdjustSampleLimit(waitMs);
    else
        colorScale_.AdjustSampleLimit(waitMs);
}

void TMainFrm::AddDistributionValue(float rho) {
    colorScale_.AddDistributionValue(rho);
}

void TMainFrm::ComputeColorRange(int mode) {
    if (rangeFrm_)
        rangeFrm_->ComputeColorRange(mode != 0);
    else
        colorScale_.ComputeOptimizedRange(mode != 0);
}

void TMainFrm::PlotSectionData(const MeasureRecord* batch, int tableIndex, int count,
                               bool showGapFillers, bool applyPalette) {
    SyncImagingOptions();
    sectionPage_->PlotSectionData(batch, tableIndex, count, showGapFillers, applyPalette);
}

void TMainFrm::MarkCurrentQuadripoles(int count, int tableIndex) {
    SyncImagingOptions();
    progressPage_->MarkCurrentQuadripoles(count, tableIndex);
}

void TMainFrm::AddDistributionPoints(const MeasureRecord* batch, int tableIndex,
                                     bool showGapFillers, bool repaint, int count) {
    distributionPage_->AddDistributionPoints(engine_->Device(), batch, tableIndex, showGapFillers,
                                             repaint, count);
}

void TMainFrm::SetUpdateGuiTime(int64_t ms) {
    if (rangeFrm_)
        rangeFrm_->ShowUpdateGuiTime(ms);
}

void TMainFrm::ClearCurrentQuadripoles() {
    progressPage_->ClearCurrentQuadripoles();
}

void TMainFrm::FinishViewRange(int quadripoleCount) {
    colorScale_.sampleLimit = uint32_t(std::max(quadripoleCount, 0));
    if (rangeFrm_) {
        rangeFrm_->ComputeColorRange(false);
        rangeFrm_->UpdateOutOfScaleCount();
        rangeFrm_->StoreRangeChoice();
    } else {
        colorScale_.ComputeOptimizedRange(false);
    }
}
