// The main window: its construction, the windows attached to it, the
// status strip's handlers, the session timer and closing. The engine's
// view (SessionView) is implemented in MainWindowView.cpp.
#include "ui/MainWindow.h"

#include "link/DeviceWatch.h"
#include "link/LinkFactory.h"
#include "link/UsbLink.h"
#include "ui/DistributionPage.h"
#include "ui/ExportDialog.h"
#include "ui/KeepAwake.h"
#include "ui/LivePanel.h"
#include "ui/ProgramFiles.h"
#include "ui/ProgressPage.h"
#include "ui/QualityDialog.h"
#include "ui/RangeDialog.h"
#include "ui/SectionPage.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusStrip.h"
#include "ui/WidgetAdapters.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 1040;
constexpr int kClientHeight = 700;

// A page that can leave its drawing to the window (SetDrawRequest and
// Draw) joins the schedule; one that cannot goes on drawing by itself.
template <typename Page>
void JoinSchedule(Page* page, PageDrawScheduler& schedule, int intervalMs = 0) {
    if constexpr (requires {
                      page->SetDrawRequest(std::function<void()>{});
                      page->Draw();
                  })
        page->SetDrawRequest(schedule.Register(
            page, [page] { page->Draw(); }, intervalMs));
}

// The 3D view draws every point again for each change: a few milliseconds
// for 16 000 points, painted or on a graphics card. Twice a second follows
// a run closely and keeps a slow run's window under 5 % of a core.
constexpr int kProgressDrawIntervalMs = 500;
// A full-size contour frame costs some 15 ms of pixel work: twice a second
// follows a run closely and keeps a slow run's window under 5 % of a core.
constexpr int kSectionDrawIntervalMs = 500;

} // namespace

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
    debugPage_ = new QWidget(pages_);
    debugPage_->setObjectName("DebugTb");
    debugLog_ = new QPlainTextEdit(debugPage_);
    debugLog_->setObjectName("Memo");
    (new QVBoxLayout(debugPage_))->addWidget(debugLog_);
    pages_->addTab(livePanel_, QIcon(QStringLiteral(":/pylorix/page-acquisition.png")),
                   QStringLiteral("  Acquisition"));
    pages_->addTab(progressPage_, QIcon(QStringLiteral(":/pylorix/page-progress.png")),
                   QStringLiteral(" Progress status"));
    pages_->addTab(sectionPage_, QIcon(QStringLiteral(":/pylorix/page-section.png")),
                   QStringLiteral(" Rho pseudo section"));
    pages_->addTab(distributionPage_, QIcon(QStringLiteral(":/pylorix/page-distribution.png")),
                   QStringLiteral("Rho distribution"));
    pages_->addTab(debugPage_, QStringLiteral("Debug"));
    pages_->setTabVisible(pages_->indexOf(debugPage_), false);
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
            [this] { Guarded([this] { OpenSettings(); }); });
    connect(strip_->resetBitBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { engine_->RequestReset(); }); });
    connect(strip_->exportBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { OpenExportDialog(); }); });
    connect(strip_->qcBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { OpenQualityDialog(); }); });
    auto quality = [this] { return &engine_->Quality(); };
    sectionPage_->SetQualitySource(quality);
    distributionPage_->SetQualitySource(quality);
    connect(strip_->stopBtn, &QPushButton::clicked, this, [this] { engine_->RequestStop(); });
    connect(strip_->pauseBtn, &QPushButton::clicked, this, [this] { engine_->RequestPause(); });
    connect(strip_->reStartBtn, &QPushButton::clicked, this, [this] { engine_->RequestRestart(); });
    connect(pages_, &QTabWidget::currentChanged, this, &MainWindow::OnPageChanged);
    // A batch changes the pages' data; each page is drawn when it is seen,
    // and the shown one at most about ten times a second. Made after the
    // page handler above, so that a page knows it is active before it is
    // drawn.
    pageDrawing_ = std::make_unique<PageDrawScheduler>(pages_);
    pageDrawing_->Register(livePanel_, [this] { livePanel_->ShowStoredValues(); });
    JoinSchedule(progressPage_, *pageDrawing_, kProgressDrawIntervalMs);
    JoinSchedule(sectionPage_, *pageDrawing_, kSectionDrawIntervalMs);
    JoinSchedule(distributionPage_, *pageDrawing_);

    sessionTimer_.setObjectName("Timer2");
    sessionTimer_.setSingleShot(true);
    sessionTimer_.setInterval(1000);
    connect(&sessionTimer_, &QTimer::timeout, this, &MainWindow::OnSessionTimer);
    retryTimer_.setSingleShot(true);
    retryTimer_.setInterval(kOpenRetryMs);
    connect(&retryTimer_, &QTimer::timeout, this, [this] {
        if (!engine_->sessionActive && !engine_->closing && !sessionTimer_.isActive())
            OnSessionTimer();
    });

    if (options.keepAwake)
        keepAwake_ = new KeepAwake(this);
    if (options.watchDevices) {
        deviceWatch_ = new DeviceWatch(this);
        connect(deviceWatch_, &DeviceWatch::DeviceChanged, this, [this] {
            if (!engine_->closing)
                Guarded([this] { engine_->DeviceChanged(); });
        });
    }
    // Stands in front of every event the window gets: a TCP/IP connection
    // always has a link object ready for the picture and the next session.
    installEventFilter(this);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { ShowHelp(kHelpContents); });

    ShowInitialState();
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
    // The schedule draws into the pages: it goes first.
    pageDrawing_.reset();
    delete takeCentralWidget();
}

void MainWindow::ShowInitialState() {
    engine_->sessionActive = false;
    SetReceiving(false);
    SetStatus("");
    // Found now rather than after the Start and three downloads.
    if (std::string reason; !settings_.rhoOnly && !engine_->DataFolderWritable(reason)) {
        SetStatus(reason);
        QTimer::singleShot(0, this, [this, reason] { ShowError(reason); });
    }
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
    rangeDialog_ = range;
    connect(range, &RangeDialog::choiceStored, sectionPage_, &SectionPage::UpdateColorScale);
    connect(range, &RangeDialog::colorRangeBoxRequested, distributionPage_,
            &DistributionPage::DrawColorRangeBox);
    connect(sectionPage_, &SectionPage::rangeRequested, range, [range] {
        range->show();
        range->raise();
    });
}

void MainWindow::AttachSettingsDialog(SettingsDialog* settingsDialog) {
    settingsDialog_ = settingsDialog;
    connect(settingsDialog, &SettingsDialog::replayRequested, this,
            [this](bool viewOnly) { Guarded([&] { ReplayRecordedFile(viewOnly); }); });
    connect(settingsDialog, &SettingsDialog::helpRequested, this, &MainWindow::ShowHelp);
    connect(settingsDialog, &SettingsDialog::aboutRequested, this, [this] {
        if (aboutBox_) {
            aboutBox_->show();
            aboutBox_->raise();
        }
    });
    connect(settingsDialog, &SettingsDialog::rhoOnlyChanged, strip_->rhoOnlyLbl,
            &QWidget::setVisible);
    connect(settingsDialog, &QDialog::finished, this, [this] {
        if (settingsDialog_->ConnectionIndex() == settingsItemBefore_ &&
            settings_.connectionCode == settingsCodeBefore_)
            return;
        settingsItemBefore_ = settingsDialog_->ConnectionIndex();
        settingsCodeBefore_ = settings_.connectionCode;
        if (runInProgress_) {
            // The instrument already started on the old link: its run goes
            // on, and the new connection is taken as soon as it ends.
            connectionResetPending_ = true;
            return;
        }
        Guarded([this] { engine_->RequestReset(); });
    });
    settingsItemBefore_ = settingsDialog->ConnectionIndex();
    settingsCodeBefore_ = settings_.connectionCode;
    strip_->rhoOnlyLbl->setVisible(settings_.rhoOnly);
    // The loaded connection may differ from the command line's: only now
    // may the event hook create a link object for it.
    connectionSettled_ = true;
    engine_->ShowPortImage(false);
}

void MainWindow::AttachAboutBox(QDialog* about) {
    aboutBox_ = about;
}

QualityDialog* MainWindow::OpenQualityDialog() {
    if (!qualityDialog_)
        qualityDialog_ = new QualityDialog(this);
    qualityDialog_->ShowQuality(&engine_->Quality());
    qualityDialog_->show();
    qualityDialog_->raise();
    return qualityDialog_;
}

void MainWindow::OpenExportDialog() {
    ExportOptions options;
    options.limits = engine_->QualityLimitsFromSettings();
    options.leaveOutFlagged = settings_.exportLeaveOutFlagged;
    ExportDialog::Open(this, engine_->ShownAcquisition(), options);
}

void MainWindow::OpenSettings() {
    if (!settingsDialog_)
        return;
    if (settingsDialog_->isVisible()) {
        settingsDialog_->reject();
        return;
    }
    settingsItemBefore_ = settingsDialog_->ConnectionIndex();
    settingsCodeBefore_ = settings_.connectionCode;
    // Window-modal but not a nested event loop: a session waiting below
    // keeps reading the instrument while the dialog is open.
    settingsDialog_->open();
}

template <typename F> void MainWindow::RunReplay(bool viewOnly, F&& replay) {
    strip_->resetBitBtn->setEnabled(false);
    // Read everything first, then draw the shown page once; the timed
    // simulation keeps drawing as it goes.
    if (viewOnly)
        pageDrawing_->SetHeld(true);
    try {
        replay();
    } catch (...) {
        pageDrawing_->SetHeld(false);
        throw;
    }
    if (viewOnly)
        pageDrawing_->SetHeld(false);
    strip_->resetBitBtn->setEnabled(true);
    if (!engine_->closing)
        SetSessionTimerEnabled(true);
}

void MainWindow::ReplayRecordedFile(bool viewOnly) {
    RunReplay(viewOnly, [&] { engine_->OpenRecordedAcquisition(viewOnly); });
}

void MainWindow::ViewRecording(const std::string& heqFile) {
    if (engine_->closing)
        return;
    // The dialog's own replay buttons wait, as they do for "View file".
    if (settingsDialog_)
        settingsDialog_->SetReplayButtonsEnabled(false);
    RunReplay(true, [&] { engine_->ReplayFile(heqFile, true); });
    if (settingsDialog_)
        settingsDialog_->SetReplayButtonsEnabled(true);
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
    PrepareToClose();
    event->accept();
}

void MainWindow::PrepareToClose() {
    if (engine_->closing)
        return;
    engine_->RequestClose();
    sessionTimer_.stop();
    retryTimer_.stop();
    SetStatus("Closing Pylorix...");
    std::string message;
    if (!settings_.SaveSettings(&message))
        ActiveUiHooks().ShowMessage(message);
    if (engine_->CurrentLink())
        engine_->CloseLink();
    for (QWidget* w : {static_cast<QWidget*>(rangeDialog_), static_cast<QWidget*>(settingsDialog_),
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
    // A link that failed to open (the Wi-Fi module still starting, the
    // adapter not yet plugged) is tried again, as the recorder does; the
    // status strip says why and when.
    if (engine_->RetryWanted() && !engine_->closing)
        retryTimer_.start();
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
