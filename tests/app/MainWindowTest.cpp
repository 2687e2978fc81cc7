// The main window's lifecycle: its pages, size, command line and stored
// connection, the settings button, a link that fails to open, replay, help,
// and closing while an acquisition runs.
#include "AppHarness.h"
#include "EngineHarness.h"
#include "ui/SectionPage.h"
#include "ui/StatusStrip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTcpServer>

namespace {

CommandLine Line(const QStringList& args) {
    return ParseCommandLine(QStringList{"pylorix"} + args);
}

} // namespace

TEST(CommandLine, ConnectionAndOptions) {
    EXPECT_EQ(Line({}).connectionCode, 99);
    EXPECT_EQ(Line({"3"}).connectionCode, 3);
    EXPECT_EQ(Line({"abc"}).connectionCode, 99);
    EXPECT_EQ(Line({"3x"}).connectionCode, 99);

    const CommandLine full = Line({"--address", "127.0.0.1:4000", "200", "7", "--yes",
                                   "--serial-device=/dev/ttyUSB0", "--data-root", "/tmp/x"});
    EXPECT_EQ(full.connectionCode, 200); // only the first plain argument counts
    EXPECT_EQ(full.address, "127.0.0.1:4000");
    EXPECT_EQ(full.serialDevice, "/dev/ttyUSB0");
    EXPECT_EQ(full.dataRoot, "/tmp/x");
    EXPECT_TRUE(full.yes);
    EXPECT_TRUE(full.error.isEmpty());

    EXPECT_TRUE(Line({"--help"}).help);
    EXPECT_FALSE(Line({"--adress", "x"}).error.isEmpty());
    EXPECT_FALSE(Line({"--address"}).error.isEmpty());
}

TEST(MainWindow, StartsOnTheAcquisitionPageWithItsComponents) {
    testsupport::TempRoot root;
    ProgramRig rig;
    MainWindow& w = rig.main();
    EXPECT_EQ(w.windowTitle(), "Pylorix");
    QTabWidget* pages = rig.Find<QTabWidget>("PageControl1");
    ASSERT_NE(pages, nullptr);
    const char* names[] = {"AcquisitonDataTb", "StateTb", "RhoTb", "DistributionTb", "DebugTb"};
    const char* captions[] = {"  Acquisition", " Progress status", " Rho pseudo section",
                              "Rho distribution", "Debug"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), names[i]);
        EXPECT_EQ(pages->tabText(i), captions[i]);
    }
    EXPECT_FALSE(pages->isTabVisible(4)); // the Debug page is never shown
    EXPECT_EQ(pages->currentWidget()->objectName(), "AcquisitonDataTb");

    for (const char* name :
         {"SettingsSpdBtn", "ResetBitBtn", "ProgressGB", "MainGB", "ProgressBar1", "ProgressBar2",
          "RsOffImg", "Image2", "DataGB", "SpacingPannel", "AcqPannel"})
        EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;
    for (const char* hidden : {"BatPannel", "ReStartBtn", "RhoOnlyLbl", "ErrorSetUp", "RsOnImg"})
        EXPECT_TRUE(rig.Find(hidden)->isHidden()) << hidden;
    EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(w.SessionTimerEnabled());
    EXPECT_EQ(rig.Find<QPushButton>("ResetBitBtn")->text(), " Reset  ");

    // Moving-array runs hide the progress and section pages.
    w.SetSectionTabsVisible(false);
    EXPECT_FALSE(pages->isTabVisible(1));
    EXPECT_FALSE(pages->isTabVisible(2));
    w.SetSectionTabsVisible(true);
    EXPECT_TRUE(pages->isTabVisible(2));
}

TEST(MainWindow, CannotBeMadeSmallerThanItsFirstSize) {
    testsupport::TempRoot root;
    ProgramRig rig;
    MainWindow& w = rig.main();
    QSize expected(1040, 700);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        expected = expected.boundedTo(screen->availableSize());
    EXPECT_EQ(w.minimumSize(), expected);
    w.setWindowState(Qt::WindowNoState);
    w.resize(300, 200);
    EXPECT_GE(w.width(), expected.width());
    EXPECT_GE(w.height(), expected.height());
}

TEST(MainWindow, FirstArgumentAndStoredConnection) {
    {
        testsupport::TempRoot root;
        ProgramRig rig(Line({"3"}));
        EXPECT_EQ(rig.main().settings().connectionCode, 3);
        EXPECT_EQ(rig.main().statusStrip()->portPictureIndex(), 4); // serial port 3
    }
    {
        testsupport::TempRoot root;
        ProgramRig rig(Line({"abc"}));
        EXPECT_EQ(rig.main().settings().connectionCode, 99);
    }
    {
        // Without an argument the stored connection is used.
        testsupport::TempRoot root;
        WriteSettingsFile("[Settings]\nConnection=3\nIPAddress=10.1.2.3\n");
        ProgramRig rig;
        EXPECT_EQ(rig.main().settings().connectionCode, 200);
        EXPECT_EQ(rig.main().settings().ipAddress, "10.1.2.3");
        EXPECT_EQ(rig.main().statusStrip()->portPictureIndex(), 9);
        // A TCP/IP connection keeps a link object ready for the next session.
        QEvent poke(QEvent::User);
        QCoreApplication::sendEvent(&rig.main(), &poke);
        EXPECT_NE(rig.main().engine().CurrentLink(), nullptr);
    }
    {
        // An address on the command line wins over the stored one.
        testsupport::TempRoot root;
        WriteSettingsFile("[Settings]\nConnection=4\nIPAddress=10.1.2.3\n");
        ProgramRig rig(Line({"--address", "127.0.0.1:4100"}));
        EXPECT_EQ(rig.main().settings().ipAddress, "127.0.0.1:4100");
    }
}

namespace {

// Closes the window as the operator does, which saves the settings.
void CloseWindow(ProgramRig& rig) {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    rig.main().show();
    rig.main().close();
}

QVariant StoredSetting(const char* key) {
    QSettings ini(QString::fromStdString(Settings::FilePath()), QSettings::IniFormat);
    return ini.value(QStringLiteral("Settings/") + key);
}

} // namespace

// What the command line names holds for that launch and is never saved:
// the file keeps the connection and address chosen in the dialog.
TEST(MainWindow, CommandLineValuesHoldForThatLaunchOnly) {
    {
        // "pylorix 3" twice: the first close must not turn the second
        // launch into USB.
        testsupport::TempRoot root;
        {
            ProgramRig first(Line({"3"}));
            EXPECT_EQ(first.main().settings().connectionCode, 3);
            CloseWindow(first);
        }
        ASSERT_TRUE(std::filesystem::exists(Settings::FilePath()));
        ProgramRig second(Line({"3"}));
        EXPECT_EQ(second.main().settings().connectionCode, 3);
        EXPECT_EQ(second.main().statusStrip()->portPictureIndex(), 4);
    }
    {
        // A serial port for one launch over a stored Wi-Fi choice: the
        // choice is still there for the next launch.
        testsupport::TempRoot root;
        WriteSettingsFile("[Settings]\nConnection=4\nIPAddress=10.1.2.3\n");
        {
            ProgramRig rig(Line({"3", "--address", "127.0.0.1:4100"}));
            EXPECT_EQ(rig.main().settings().connectionCode, 3);
            EXPECT_EQ(rig.main().settings().ipAddress, "127.0.0.1:4100");
            CloseWindow(rig);
        }
        EXPECT_EQ(StoredSetting("Connection").toInt(), 4);
        EXPECT_EQ(StoredSetting("IPAddress").toString(), "10.1.2.3");
        ProgramRig next;
        EXPECT_EQ(next.main().settings().connectionCode, 200);
        EXPECT_EQ(next.main().settings().ipAddress, "10.1.2.3");
    }
}

// The dialog shows the stored item while a launch's serial port is in
// force: choosing that same item is still a change of link.
TEST(MainWindow, ChoosingTheShownItemReplacesTheLaunchConnection) {
    testsupport::TempRoot root;
    ProgramRig rig(Line({"3"}));
    MainWindow& w = rig.main();
    w.show();
    ASSERT_EQ(rig.program.settingsDialog.ConnectionIndex(), 0);
    rig.Find<QPushButton>("SettingsSpdBtn")->click();
    rig.program.settingsDialog.findChild<QRadioButton*>("ConnectionItem0")->click();
    rig.program.settingsDialog.findChild<QPushButton*>("BitBtn1")->click();
    EXPECT_EQ(w.settings().connectionCode, 99);
    EXPECT_EQ(w.Status(), "Resetting...");
    EXPECT_TRUE(w.SessionTimerEnabled());
    w.SetSessionTimerEnabled(false);
}

TEST(MainWindow, StoredRhoOnlyShowsTheWarningLabel) {
    testsupport::TempRoot root;
    WriteSettingsFile("[Settings]\nRhoOnly=1\n");
    ProgramRig rig;
    EXPECT_FALSE(rig.Find("RhoOnlyLbl")->isHidden());
    rig.program.settingsDialog.findChild<QCheckBox*>("RhoOnlyCb")->setChecked(false);
    EXPECT_TRUE(rig.Find("RhoOnlyLbl")->isHidden());
}

TEST(MainWindow, SettingsButtonResetsOnlyWhenTheConnectionChanged) {
    testsupport::TempRoot root;
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.show();
    SettingsDialog& dialog = rig.program.settingsDialog;

    rig.Find<QPushButton>("SettingsSpdBtn")->click();
    ASSERT_TRUE(dialog.isVisible());
    dialog.findChild<QPushButton*>("BitBtn1")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(w.Status(), "");
    EXPECT_FALSE(w.SessionTimerEnabled());

    rig.Find<QPushButton>("SettingsSpdBtn")->click();
    ASSERT_TRUE(dialog.isVisible());
    dialog.findChild<QRadioButton*>("ConnectionItem3")->click(); // Wi-Fi access point
    dialog.findChild<QPushButton*>("BitBtn1")->click();
    EXPECT_EQ(w.Status(), "Resetting...");
    EXPECT_TRUE(w.SessionTimerEnabled());
    EXPECT_EQ(w.settings().connectionCode, 200);
    EXPECT_EQ(w.statusStrip()->portPictureIndex(), 9);
    w.SetSessionTimerEnabled(false);
}

TEST(MainWindow, ConnectionChangedAsARunStartsIsTakenAfterTheRun) {
    testsupport::TempRoot root;
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.show();
    rig.Find<QPushButton>("SettingsSpdBtn")->click();
    rig.program.settingsDialog.findChild<QRadioButton*>("ConnectionItem1")->click();
    // The instrument starts: the session closes the dialog.
    w.SetSettingsControlsEnabled(false);
    w.CloseSettingsDialog();
    EXPECT_FALSE(rig.program.settingsDialog.isVisible());
    EXPECT_NE(w.Status(), "Resetting...");
    w.SetSettingsControlsEnabled(true); // the run has ended
    QApplication::processEvents();
    EXPECT_EQ(w.Status(), "Resetting...");
    w.SetSessionTimerEnabled(false);
}

// A link that fails to open (a Wi-Fi module still starting) leaves its
// reason in the status strip and is tried again; one message box is enough.
// An address that cannot be meant is not retried.
TEST(MainWindow, LinkThatFailsToOpenIsRetriedWithItsReason) {
    testsupport::TempRoot root;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const std::string address = "127.0.0.1:" + std::to_string(probe.serverPort());
    probe.close(); // nobody listens there now
    WriteSettingsFile("[Settings]\nConnection=1\nIPAddress=" + address + "\n");
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.retryTimer().setInterval(10);
    auto waitFor = [&](auto done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    };

    w.SetSessionTimerEnabled(true);
    waitFor([&] { return w.engine().openFailures >= 2; });
    EXPECT_EQ(w.Status(), "No link: connection refused; trying again in 5 s");
    EXPECT_EQ(rig.hooks.messages,
              std::vector<std::string>{"Unable to connect to " + address + ": connection refused"});
    EXPECT_TRUE(w.engine().RetryWanted());

    w.retryTimer().stop();
    w.retryTimer().setInterval(5000);
    waitFor([&] { return !w.engine().sessionActive; });
    w.settings().ipAddress = "127.0.0.1:";
    w.engine().openFailures = 0;
    rig.hooks.messages.clear();
    w.SetSessionTimerEnabled(true);
    waitFor([&] { return !rig.hooks.messages.empty() && !w.engine().sessionActive; });
    EXPECT_EQ(w.Status(), "No link: malformed address: no port after ':'");
    EXPECT_FALSE(w.engine().RetryWanted());
    EXPECT_FALSE(w.retryTimer().isActive());
}

TEST(MainWindow, ViewFileReplaysTheSample) {
    testsupport::TempRoot root;
    if (SampleFolder().isEmpty())
        GTEST_SKIP() << "no sample acquisition in this tree";
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.show();
    std::string offered;
    w.chooseRecordedFile = [&](const std::string& folder, const std::string& name) {
        offered = name;
        return folder + "/" + name;
    };
    auto* view = rig.program.settingsDialog.findChild<QPushButton*>("ViewFileBitBtn");
    view->click();

    EXPECT_EQ(offered, "Pylorix - DEMO.heq");
    EXPECT_TRUE(std::filesystem::exists(DataFolder() / "Demo" / "Pylorix - DEMO.bin"));
    EXPECT_TRUE(rig.hooks.messages.empty()) << rig.hooks.messages.front();
    EXPECT_EQ(w.Status(), "Sequence simulation completed !  ");
    EXPECT_TRUE(rig.Find<QPushButton>("ResetBitBtn")->isEnabled());
    EXPECT_TRUE(view->isEnabled());
    EXPECT_TRUE(w.SessionTimerEnabled());
    // The bar reads full, so a new choice of section is drawn at once.
    EXPECT_EQ(w.SequenceProgressBar()->Position(), w.SequenceProgressBar()->Maximum());
    EXPECT_GT(w.colorScale().distributionValues.size(), 0u);
    w.SetSessionTimerEnabled(false);
}

// "pylorix FILE.heq", "pylorix --view FILE.heq" and a file manager's open:
// the recording is shown in the window once it is up, as "View file" does.
TEST(MainWindow, RecordingNamedOnTheCommandLineIsShown) {
    testsupport::TempRoot root;
    const std::filesystem::path demo = std::filesystem::path(PYLORIX_SOURCE_DIR) / "data/demo";
    if (!std::filesystem::exists(demo / "Pylorix - DEMO.heq"))
        GTEST_SKIP() << "no sample acquisition in this tree";
    const std::filesystem::path folder = std::filesystem::path(root.path()) / "field day";
    std::filesystem::create_directories(folder);
    for (const char* ext : {".heq", ".bin"})
        std::filesystem::copy_file(demo / (std::string("Pylorix - DEMO") + ext),
                                   folder / (std::string("Line 1") + ext));
    const QString heq = QString::fromStdString((folder / "Line 1.heq").string());
    auto waitUntilIdle = [](ProgramRig& rig) {
        QElapsedTimer t;
        t.start();
        while (!rig.main().SessionTimerEnabled() && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    };

    for (const QStringList& args : {QStringList{heq}, QStringList{"--view", heq}}) {
        ProgramRig rig(Line(args));
        MainWindow& w = rig.main();
        rig.program.Show();
        EXPECT_EQ(w.Status(), ""); // not before the event loop runs
        waitUntilIdle(rig);
        EXPECT_TRUE(rig.hooks.messages.empty()) << rig.hooks.messages.front();
        EXPECT_EQ(w.Status(), "Sequence simulation completed !  ");
        EXPECT_GT(w.colorScale().distributionValues.size(), 0u);
        EXPECT_TRUE(
            rig.program.settingsDialog.findChild<QPushButton*>("ViewFileBitBtn")->isEnabled());
        w.SetSessionTimerEnabled(false);
    }

    // A recording that is not there says so, and the window goes on to its
    // link.
    ProgramRig missing(Line({QString::fromStdString((folder / "Line 2.heq").string())}));
    missing.program.Show();
    waitUntilIdle(missing);
    ASSERT_EQ(missing.hooks.messages.size(), 1u);
    EXPECT_NE(missing.hooks.messages[0].find("Line 2.heq"), std::string::npos)
        << missing.hooks.messages[0];
    missing.main().SetSessionTimerEnabled(false);
}

TEST(MainWindow, HelpOpensTheManualAtTheDialogsTopic) {
    testsupport::TempRoot root;
    ProgramRig rig;
    MainWindow& w = rig.main();
    std::vector<QUrl> opened;
    w.openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    rig.program.settingsDialog.findChild<QPushButton*>("HelpBitBtn")->click();
    w.ShowHelp(kHelpContents);
    if (HelpUrl(kHelpContents).isEmpty())
        GTEST_SKIP() << "no manual in this tree";
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].fragment(), "30");
    EXPECT_TRUE(opened[0].toLocalFile().endsWith("help/index.html"));
    EXPECT_FALSE(opened[1].hasFragment());

    rig.program.settingsDialog.findChild<QPushButton*>("AboutBitBtn")->click();
    EXPECT_TRUE(rig.program.aboutDialog.isVisible());
}

TEST(MainWindow, EnablePanelControlsReachesNestedChildrenOnlyWhenAsked) {
    QWidget panel;
    auto* box = new QWidget(&panel);
    auto* inner = new QLabel(box);
    MainWindow::EnablePanelControls(&panel, false, false);
    EXPECT_FALSE(box->isEnabled());
    MainWindow::EnablePanelControls(&panel, true, false);
    inner->setEnabled(false);
    MainWindow::EnablePanelControls(&panel, true, false);
    EXPECT_FALSE(inner->isEnabled());
    MainWindow::EnablePanelControls(&panel, true, true);
    EXPECT_TRUE(inner->isEnabled());
}

TEST(MainWindow, ClosingDuringAnAcquisitionEndsTheRunQuietly) {
    testsupport::TempRoot root;
    QGuiApplication::setQuitOnLastWindowClosed(false);
    ProgramRig rig(Line({"3"}));
    MainWindow& w = rig.main();
    w.show();
    ScopedFakeHooks fake;
    FakeLink* link = nullptr;
    std::unique_ptr<WiredScript> script;
    AcquisitionHeader header{};
    header.channelCount = 4;
    header.firstQuadripole = 0;
    header.lastQuadripole = 39;
    header.nodeCount = 48;
    header.firstNode = 1;
    header.lastNode = 48;
    w.engine().linkFactory = [&](int) {
        auto l = std::make_unique<FakeLink>();
        l->Close();
        link = l.get();
        script = std::make_unique<WiredScript>(*l);
        script->batches = EngineRig::Regular(40, 4);
        script->idlePolls = 3;
        script->Start();
        return l;
    };
    w.engine().protocolFactory = [&](int, Instrument& d, Link&) {
        return std::make_unique<FakeProtocol>(d, header);
    };
    bool closed = false;
    fake.hooks.onPump = [&] {
        if (!closed && w.engine().batchesDone >= 2) {
            closed = true;
            w.close();
        }
    };
    fake.hooks.onLimit = [&] {
        if (link)
            link->Close();
    };
    w.engine().OnSessionTimer();

    ASSERT_TRUE(closed);
    EXPECT_EQ(w.Status(), "Closing Pylorix...");
    EXPECT_TRUE(fake.hooks.messages.empty()) << fake.hooks.messages.front();
    EXPECT_TRUE(rig.hooks.messages.empty());
    EXPECT_FALSE(w.engine().sessionActive);
    EXPECT_LT(w.engine().batchesDone, 10);
    EXPECT_EQ(w.engine().lastResult, RunClosing);
    EXPECT_TRUE(std::filesystem::exists(Settings::FilePath())); // saved on the way out
    EXPECT_FALSE(w.SessionTimerEnabled());
}
