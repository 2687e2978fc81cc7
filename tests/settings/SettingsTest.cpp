// The settings file: defaults, the item-to-code mapping, fallbacks for odd
// stored values, and saving (including the failure messages).
#include "settings/Settings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using testsupport::TempRoot;

namespace {

void WriteIni(const std::string& text) {
    fs::create_directories(fs::path(Settings::FilePath()).parent_path());
    std::ofstream(Settings::FilePath()) << "[Settings]\n" << text;
}

QVariant Stored(const char* key) {
    QSettings ini(QString::fromStdString(Settings::FilePath()), QSettings::IniFormat);
    return ini.value(QString("Settings/") + key);
}

} // namespace

TEST(SettingsStore, MissingFileKeepsDefaultsAndTheCommandLineCode) {
    TempRoot root;
    Settings s;
    s.connectionCode = 3; // a serial port from the command line
    EXPECT_FALSE(s.LoadSettings());
    EXPECT_FALSE(s.rhoOnly);
    EXPECT_TRUE(s.activeCrcCheck);
    EXPECT_FALSE(s.showGapFillers);
    EXPECT_EQ(s.connectionItem, 0);
    EXPECT_EQ(s.connectionCode, 3);
    EXPECT_EQ(s.ipAddress, "");
    EXPECT_EQ(s.usbIds, "");
    EXPECT_EQ(Settings::FilePath(), root.path() + "/Pylorix Data/Pylorix.ini");
}

TEST(SettingsStore, ItemsMapToConnectionCodes) {
    EXPECT_EQ(Settings::CodeForItem(0), 99);
    EXPECT_EQ(Settings::CodeForItem(1), 100);
    EXPECT_EQ(Settings::CodeForItem(2), 100);
    EXPECT_EQ(Settings::CodeForItem(3), 200);
    EXPECT_EQ(Settings::CodeForItem(4), 200);
    EXPECT_EQ(Settings::CodeForItem(9), 200);
    EXPECT_EQ(Settings::CodeForItem(-2), 100);
}

TEST(SettingsStore, ClientWithoutAddressFallsBackToTheAccessPoint) {
    TempRoot root;
    WriteIni("Connection=2\n");
    Settings s;
    s.connectionCode = 5;
    EXPECT_TRUE(s.LoadSettings());
    EXPECT_EQ(s.connectionItem, 1);
    EXPECT_EQ(s.connectionCode, 100);

    // The Wi-Fi client keeps its item even without an address.
    WriteIni("Connection=4\nIPAddress=\n");
    Settings t;
    t.LoadSettings();
    EXPECT_EQ(t.connectionItem, 4);
    EXPECT_EQ(t.connectionCode, 200);
}

TEST(SettingsStore, OutOfRangeConnectionSelectsTheNearestEnd) {
    TempRoot root;
    WriteIni("Connection=9\n");
    Settings s;
    s.LoadSettings();
    EXPECT_EQ(s.connectionItem, 4);
    EXPECT_EQ(s.connectionCode, 200);

    WriteIni("Connection=-2\n");
    Settings t;
    t.LoadSettings();
    EXPECT_EQ(t.connectionItem, -1);
    EXPECT_EQ(t.connectionCode, 100);
    ASSERT_TRUE(t.SaveSettings());
    EXPECT_EQ(Stored("Connection").toInt(), -1);
}

TEST(SettingsStore, CheckBoxValuesAndTheirFallbacks) {
    TempRoot root;
    WriteIni("RhoOnly=-1\nActiveCRCCheck=0\nShowGapFillers=7\nIPAddress=10.1.2.3:4000\n");
    Settings s;
    int rhoChanges = 0;
    s.onRhoOnlyChanged = [&](bool) { ++rhoChanges; };
    s.LoadSettings();
    EXPECT_FALSE(s.rhoOnly); // -1 leaves the default
    EXPECT_EQ(rhoChanges, 0);
    EXPECT_FALSE(s.activeCrcCheck);
    EXPECT_TRUE(s.showGapFillers);
    EXPECT_EQ(s.ipAddress, "10.1.2.3:4000");

    // A loaded "RhoOnly" of 1 acts like a click; text is not a number.
    WriteIni("RhoOnly=1\nActiveCRCCheck=yes\n");
    Settings t;
    bool lastRho = false;
    t.onRhoOnlyChanged = [&](bool on) { lastRho = on; };
    t.LoadSettings();
    EXPECT_TRUE(t.rhoOnly);
    EXPECT_TRUE(lastRho);
    EXPECT_TRUE(t.activeCrcCheck);
}

TEST(SettingsStore, SaveWritesAllKeysAndRoundTrips) {
    TempRoot root;
    Settings s;
    s.rhoOnly = true;
    s.activeCrcCheck = false;
    s.showGapFillers = true;
    s.connectionItem = 4;
    s.ipAddress = "192.168.1.15";
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_EQ(Stored("RhoOnly").toInt(), 1);
    EXPECT_EQ(Stored("ActiveCRCCheck").toInt(), 0);
    EXPECT_EQ(Stored("ShowGapFillers").toInt(), 1);
    EXPECT_EQ(Stored("Connection").toInt(), 4);
    EXPECT_EQ(Stored("IPAddress").toString(), "192.168.1.15");
    Settings back;
    back.LoadSettings();
    EXPECT_TRUE(back.rhoOnly);
    EXPECT_FALSE(back.activeCrcCheck);
    EXPECT_EQ(back.connectionCode, 200);
    EXPECT_EQ(back.ipAddress, "192.168.1.15");
}

TEST(SettingsStore, InstrumentUsbIdsRoundTrip) {
    TempRoot root;
    // By hand, the list is often written without quotes.
    WriteIni("Connection=0\nUsbIds=0403:6001:A9M1XKQ2, 1234:abcd\n");
    Settings s;
    ASSERT_TRUE(s.LoadSettings());
    EXPECT_EQ(s.usbIds, "0403:6001:A9M1XKQ2,1234:abcd");
    ASSERT_TRUE(s.SaveSettings());
    Settings back;
    back.LoadSettings();
    EXPECT_EQ(back.usbIds, s.usbIds);

    // A file from before the key existed, and one with a single ID.
    WriteIni("Connection=0\n");
    Settings old;
    old.usbIds = "leftover";
    old.LoadSettings();
    EXPECT_EQ(old.usbIds, "");
    WriteIni("UsbIds=0403:6015\n");
    Settings one;
    one.LoadSettings();
    EXPECT_EQ(one.usbIds, "0403:6015");
}

TEST(SettingsStore, ConnectionChoiceSettlesTheAddressOnlyWhileTheDialogIsActive) {
    TempRoot root;
    Settings s;
    s.ipAddress = "10.0.0.9";
    // Not active (a load or a programmatic selection): code only, no file.
    EXPECT_TRUE(s.SelectConnection(3, false, nullptr));
    EXPECT_EQ(s.connectionCode, 200);
    EXPECT_EQ(s.ipAddress, "10.0.0.9");
    EXPECT_FALSE(fs::exists(Settings::FilePath()));

    // Active: the access point empties the address and saves at once.
    EXPECT_TRUE(s.SelectConnection(3, true, nullptr));
    EXPECT_EQ(s.ipAddress, "");
    EXPECT_EQ(Stored("Connection").toInt(), 3);

    // The client asks; Cancel keeps the previous address.
    s.ipAddress = "10.0.0.1";
    EXPECT_TRUE(s.SelectConnection(4, true, [](std::string& a) {
        a = "ignored";
        return false;
    }));
    EXPECT_EQ(s.ipAddress, "10.0.0.1");
    EXPECT_TRUE(s.SelectConnection(2, true, [](std::string& a) {
        EXPECT_EQ(a, "10.0.0.1");
        a = "10.0.0.2";
        return true;
    }));
    EXPECT_EQ(s.ipAddress, "10.0.0.2");
    EXPECT_EQ(s.connectionCode, 100);
    EXPECT_EQ(Stored("IPAddress").toString(), "10.0.0.2");
}

TEST(SettingsStore, FolderAndFileFailuresGiveTheirMessages) {
    TempRoot root;
    const fs::path blocked = fs::path(root.path()) / "file-not-folder";
    std::ofstream(blocked) << "x";
    qputenv("PYLORIX_ROOT", QByteArray::fromStdString((blocked / "Varmex").string()));
    Settings s;
    std::string message;
    EXPECT_FALSE(s.SaveSettings(&message));
    EXPECT_EQ(message, "Can't create directory \"" + (blocked / "Varmex").string() + "\"");

    // The data folder exists but the settings file is a folder.
    qputenv("PYLORIX_ROOT", QByteArray::fromStdString(root.path()));
    fs::create_directories(Settings::FilePath());
    message.clear();
    EXPECT_FALSE(s.SaveSettings(&message));
    EXPECT_EQ(message, "Can't save INI file !");
}

// A one-off address (the command line's) is in force for the launch but
// never replaces the stored one; an address the operator settles is kept.
TEST(SettingsStore, LaunchAddressIsNeverStored) {
    TempRoot root;
    auto launched = [] {
        WriteIni("Connection=4\nIPAddress=10.1.2.3\n");
        Settings s;
        s.LoadSettings();
        s.UseAddressForThisLaunch("127.0.0.1:4100");
        return s;
    };
    Settings s = launched();
    EXPECT_EQ(s.ipAddress, "127.0.0.1:4100");
    // USB and a cancelled address box leave it a launch's own.
    EXPECT_TRUE(s.SelectConnection(kItemUsb, true, nullptr));
    EXPECT_TRUE(s.SelectConnection(kItemWifiClient, true, [](std::string&) { return false; }));
    EXPECT_EQ(Stored("IPAddress").toString(), "10.1.2.3");
    EXPECT_EQ(s.ipAddress, "127.0.0.1:4100");
    // Confirmed in the dialog, even unchanged, it becomes the operator's.
    EXPECT_TRUE(s.SelectConnection(kItemWifiClient, true, [](std::string&) { return true; }));
    EXPECT_EQ(Stored("IPAddress").toString(), "127.0.0.1:4100");

    // Another address typed at a session's start is kept as typed.
    Settings typed = launched();
    typed.ipAddress = "10.9.9.9";
    ASSERT_TRUE(typed.SaveSettings());
    EXPECT_EQ(Stored("IPAddress").toString(), "10.9.9.9");
}

TEST(SettingsStore, ExportAfterRunIsKeptInItsCanonicalForm) {
    TempRoot root;
    // By hand: any case, blanks, repeats, no quotes.
    WriteIni("Connection=0\nExportAfterRun=CSV, ohm ,csv\n");
    Settings s;
    ASSERT_TRUE(s.LoadSettings());
    EXPECT_EQ(s.exportAfterRun, "ohm,csv");
    s.exportAfterRun = "ohm,res2dinv,csv";
    ASSERT_TRUE(s.SaveSettings());
    Settings back;
    back.LoadSettings();
    EXPECT_EQ(back.exportAfterRun, "ohm,res2dinv,csv");

    // A name the program does not know exports nothing rather than a part;
    // so does a file from before the key existed.
    for (const char* text :
         {"ExportAfterRun=ohm,xls\n", "Connection=0\n", "ExportAfterRun=none\n"}) {
        WriteIni(text);
        Settings other;
        other.exportAfterRun = "csv";
        other.LoadSettings();
        EXPECT_EQ(other.exportAfterRun, "") << text;
    }
}

TEST(SettingsStore, QualityLimitsRoundTripAndUnusableValuesKeepTheDefaults) {
    TempRoot root;
    WriteIni("QcMaxQ=2.5\nQcMinCurrentMa=0\nQcMinPotentialMv=-1\nQcOutlierMads=abc\n"
             "QcReciprocalErrorPercent=10\n");
    Settings s;
    ASSERT_TRUE(s.LoadSettings());
    EXPECT_FLOAT_EQ(s.qcMaxQ, 2.5f);
    EXPECT_FLOAT_EQ(s.qcMinCurrentMa, 1.0f);
    EXPECT_FLOAT_EQ(s.qcMinPotentialMv, 0.1f);
    EXPECT_FLOAT_EQ(s.qcOutlierMads, 3.0f);
    EXPECT_FLOAT_EQ(s.qcReciprocalErrorPercent, 10.0f);
    s.qcOutlierMads = 4.0f;
    ASSERT_TRUE(s.SaveSettings());
    Settings back;
    back.LoadSettings();
    EXPECT_FLOAT_EQ(back.qcMaxQ, 2.5f);
    EXPECT_FLOAT_EQ(back.qcOutlierMads, 4.0f);
    EXPECT_FLOAT_EQ(back.qcReciprocalErrorPercent, 10.0f);
}
