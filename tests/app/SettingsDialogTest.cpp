// The settings dialog over the settings file, and the about box.
#include "ui/SettingsDialog.h"
#include "AppHarness.h"
#include "ui/AboutDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>

namespace {

// A dialog the operator is working in (the window manager's activation is
// not what is under test).
class ActiveSettingsDialog : public SettingsDialog {
public:
    using SettingsDialog::SettingsDialog;
    bool active = true;
    bool IsDialogActive() const override { return active; }
};

struct DialogRig {
    testsupport::TempRoot root;
    ScriptedHooks hooks;
    Settings settings;
    std::unique_ptr<ActiveSettingsDialog> dialog;

    explicit DialogRig(const char* file = nullptr, int commandLineCode = 3) {
        SetUiHooks(&hooks);
        if (file)
            WriteSettingsFile(file);
        settings.connectionCode = commandLineCode;
        dialog = std::make_unique<ActiveSettingsDialog>(settings);
    }
    ~DialogRig() { SetUiHooks(nullptr); }

    QCheckBox* Box(const char* name) { return dialog->findChild<QCheckBox*>(name); }
    void ClickItem(int item) {
        dialog->findChild<QRadioButton*>(QStringLiteral("ConnectionItem%1").arg(item))->click();
    }
    QVariant Stored(const char* key) {
        QSettings ini(QString::fromStdString(Settings::FilePath()), QSettings::IniFormat);
        return ini.value(QStringLiteral("Settings/") + key);
    }
};

} // namespace

TEST(SettingsDialog, DefaultsWithoutFile) {
    DialogRig rig;
    EXPECT_EQ(rig.dialog->windowTitle(), "Settings");
    EXPECT_FALSE(rig.Box("RhoOnlyCb")->isChecked());
    EXPECT_TRUE(rig.Box("ActiveCRCChkCb")->isChecked());
    EXPECT_FALSE(rig.Box("ShowGapFillersCb")->isChecked());
    EXPECT_EQ(rig.dialog->ConnectionIndex(), 0);
    EXPECT_EQ(rig.settings.connectionCode, 3); // the command line's code stays
    EXPECT_EQ(rig.Box("RhoOnlyCb")->text(), "Rho display only");
    EXPECT_EQ(rig.dialog->findChild<QPushButton*>("HelpBitBtn")->text(), "  Help    ");
    EXPECT_EQ(rig.dialog->findChild<QRadioButton*>("ConnectionItem2")->text(),
              "Wiconnect WIFI client");
}

TEST(SettingsDialog, StoredConnectionEdgeCases) {
    {
        DialogRig rig("[Settings]\nConnection=2\n");
        EXPECT_EQ(rig.dialog->ConnectionIndex(), 1); // a client without address
        EXPECT_EQ(rig.settings.connectionCode, 100);
    }
    {
        DialogRig rig("[Settings]\nConnection=4\nIPAddress=\n");
        EXPECT_EQ(rig.dialog->ConnectionIndex(), 4);
        EXPECT_EQ(rig.settings.connectionCode, 200);
    }
    {
        DialogRig rig("[Settings]\nConnection=9\n");
        EXPECT_EQ(rig.dialog->ConnectionIndex(), 4);
        EXPECT_EQ(rig.settings.connectionCode, 200);
    }
    {
        DialogRig rig("[Settings]\nConnection=-2\n");
        EXPECT_EQ(rig.dialog->ConnectionIndex(), -1);
        for (QAbstractButton* b : rig.dialog->findChildren<QRadioButton*>())
            EXPECT_FALSE(b->isChecked());
        EXPECT_EQ(rig.settings.connectionCode, 100);
        ASSERT_TRUE(rig.settings.SaveSettings());
        EXPECT_EQ(rig.Stored("Connection").toInt(), -1);
    }
    {
        DialogRig rig("[Settings]\nRhoOnly=-1\nActiveCRCCheck=0\nShowGapFillers=1\n");
        EXPECT_FALSE(rig.Box("RhoOnlyCb")->isChecked());
        EXPECT_FALSE(rig.Box("ActiveCRCChkCb")->isChecked());
        EXPECT_TRUE(rig.Box("ShowGapFillersCb")->isChecked());
    }
}

TEST(SettingsDialog, RhoOnlyGreysTheChecksumOption) {
    DialogRig rig;
    QSignalSpy changed(rig.dialog.get(), &SettingsDialog::rhoOnlyChanged);
    rig.Box("RhoOnlyCb")->click();
    EXPECT_TRUE(rig.settings.rhoOnly);
    EXPECT_FALSE(rig.Box("ActiveCRCChkCb")->isEnabled());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_TRUE(changed.front().front().toBool());
    rig.Box("RhoOnlyCb")->click();
    EXPECT_TRUE(rig.Box("ActiveCRCChkCb")->isEnabled());

    // Loaded from the file, the box acts as if clicked.
    DialogRig loaded("[Settings]\nRhoOnly=1\n");
    EXPECT_TRUE(loaded.Box("RhoOnlyCb")->isChecked());
    EXPECT_FALSE(loaded.Box("ActiveCRCChkCb")->isEnabled());
}

TEST(SettingsDialog, ConnectionClicksSettleTheAddressAndSave) {
    DialogRig rig("[Settings]\nConnection=4\nIPAddress=10.0.0.7\n");
    rig.ClickItem(3); // Wi-Fi access point: no address, saved at once
    EXPECT_EQ(rig.settings.connectionCode, 200);
    EXPECT_EQ(rig.settings.ipAddress, "");
    EXPECT_EQ(rig.Stored("Connection").toInt(), 3);
    EXPECT_EQ(rig.Stored("IPAddress").toString(), "");

    rig.hooks.inputAnswers.push_back({true, "192.168.1.15"});
    rig.ClickItem(2);
    ASSERT_EQ(rig.hooks.prompts.size(), 1u);
    EXPECT_EQ(rig.hooks.prompts[0],
              "IP address ex:192.168.1.15 | Enter IP address for WIFI client");
    EXPECT_EQ(rig.settings.connectionCode, 100);
    EXPECT_EQ(rig.Stored("IPAddress").toString(), "192.168.1.15");

    rig.hooks.inputAnswers.push_back({false, "ignored"}); // Cancel keeps the address
    rig.ClickItem(4);
    EXPECT_EQ(rig.settings.ipAddress, "192.168.1.15");
    EXPECT_EQ(rig.Stored("Connection").toInt(), 4);

    rig.ClickItem(0); // USB leaves the address alone
    EXPECT_EQ(rig.settings.ipAddress, "192.168.1.15");
    EXPECT_EQ(rig.settings.connectionCode, 99);

    // While the operator is elsewhere only the code follows.
    rig.dialog->active = false;
    rig.ClickItem(1);
    EXPECT_EQ(rig.settings.connectionCode, 100);
    EXPECT_EQ(rig.Stored("Connection").toInt(), 0);
    EXPECT_EQ(rig.hooks.prompts.size(), 2u);
}

TEST(SettingsDialog, SaveFailureIsReported) {
    DialogRig rig;
    // A file where the data folder should be: nothing can be saved.
    std::filesystem::remove_all(DataFolder());
    std::ofstream(DataFolder()) << "x";
    rig.ClickItem(1);
    ASSERT_EQ(rig.hooks.messages.size(), 1u);
    EXPECT_EQ(rig.hooks.messages[0].rfind("Can't create directory \"", 0), 0u);
}

TEST(SettingsDialog, RunControlsAndReplayButtons) {
    DialogRig rig;
    rig.dialog->SetRunControlsEnabled(false);
    for (const char* name : {"RhoOnlyCb", "ActiveCRCChkCb", "ShowGapFillersCb", "ViewFileBitBtn",
                             "SimulateFileBitBtn", "ConnectionRdBtn"})
        EXPECT_FALSE(rig.dialog->findChild<QWidget*>(name)->isEnabled()) << name;
    EXPECT_TRUE(rig.dialog->findChild<QWidget*>("HelpBitBtn")->isEnabled());
    rig.dialog->SetRunControlsEnabled(true);

    bool buttonsOffDuringReplay = false;
    std::vector<bool> requested;
    QObject::connect(rig.dialog.get(), &SettingsDialog::replayRequested, [&](bool viewOnly) {
        requested.push_back(viewOnly);
        buttonsOffDuringReplay =
            !rig.dialog->findChild<QWidget*>("ViewFileBitBtn")->isEnabled() &&
            !rig.dialog->findChild<QWidget*>("SimulateFileBitBtn")->isEnabled();
    });
    rig.dialog->findChild<QPushButton*>("ViewFileBitBtn")->click();
    rig.dialog->findChild<QPushButton*>("SimulateFileBitBtn")->click();
    EXPECT_EQ(requested, (std::vector<bool>{true, false}));
    EXPECT_TRUE(buttonsOffDuringReplay);
    EXPECT_TRUE(rig.dialog->findChild<QWidget*>("ViewFileBitBtn")->isEnabled());
}

// ---- about box ---------------------------------------------------------------

TEST(SettingsDialog, ExportAfterEachAcquisitionShowsAndEditsTheSetting) {
    DialogRig rig("[Settings]\nConnection=0\nExportAfterRun=csv,ohm\n");
    EXPECT_TRUE(rig.Box("ExportOhmCb")->isChecked());
    EXPECT_FALSE(rig.Box("ExportRes2dinvCb")->isChecked());
    EXPECT_TRUE(rig.Box("ExportCsvCb")->isChecked());
    rig.Box("ExportRes2dinvCb")->click();
    rig.Box("ExportOhmCb")->click();
    EXPECT_EQ(rig.settings.exportAfterRun, "res2dinv,csv");
    ASSERT_TRUE(rig.settings.SaveSettings());
    EXPECT_EQ(rig.Stored("ExportAfterRun").toString(), "res2dinv,csv");
    rig.Box("ExportRes2dinvCb")->click();
    rig.Box("ExportCsvCb")->click();
    EXPECT_EQ(rig.settings.exportAfterRun, "");
    // Showing the store's values does not write them back half-way.
    rig.settings.exportAfterRun = "ohm,res2dinv,csv";
    rig.dialog->SyncFromSettings();
    EXPECT_EQ(rig.settings.exportAfterRun, "ohm,res2dinv,csv");
    EXPECT_TRUE(rig.Box("ExportRes2dinvCb")->isChecked());
}

TEST(AboutDialog, VersionProductNameAndComments) {
    QGuiApplication::setApplicationDisplayName("Pylorix");
    struct Case {
        std::array<uint16_t, 4> version;
        const char* shown;
    } cases[] = {{{2, 0, 2, 0}, "V02.00.02"}, {{10, 3, 7, 1}, "V10.03.07"}};
    for (const Case& c : cases) {
        VersionInfo resource;
        resource.fileVersion = c.version;
        AboutDialog about(nullptr, resource);
        EXPECT_EQ(about.version()->text(), c.shown);
        EXPECT_EQ(about.productName()->text(), "Pylorix"); // no ProductName: the title
        EXPECT_TRUE(about.memo()->toPlainText().isEmpty());
        EXPECT_EQ(about.windowTitle(), "About");
    }

    VersionInfo two;
    two.translations.push_back({QString("First comment"), std::nullopt});
    two.translations.push_back({QString("Second comment"), QString("Pylorix Field")});
    AboutDialog about(nullptr, two);
    EXPECT_EQ(about.productName()->text(), "Pylorix Field");
    EXPECT_EQ(about.memo()->toPlainText(), "First comment\nSecond comment");

    EXPECT_EQ(ParseVersion("0.1.0"), (std::array<uint16_t, 4>{0, 1, 0, 0}));
    EXPECT_EQ(ParseVersion("3.2.1.9.9"), (std::array<uint16_t, 4>{3, 2, 1, 9}));
    AboutDialog program(nullptr);
    EXPECT_EQ(program.version()->text(), VersionText(ParseVersion(PYLORIX_VERSION)));
    EXPECT_FALSE(program.memo()->toPlainText().isEmpty());
}
