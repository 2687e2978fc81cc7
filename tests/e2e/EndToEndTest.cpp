// The whole chain against the instrument emulator, over loopback TCP and a
// pseudo-terminal: every record the emulator sent with a good check word must
// be in the ".bin" file, in order, with the same rho bit for bit.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;
using namespace e2e;

TEST(EndToEnd, WiredCheckedModeOverTcpRecoversDamagedRecords) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--corrupt", "0.05", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_EQ(t.view.status, "Sequence completed !  ");
    const auto records = ReadBin(t.engine.binFileName);
    int recovered = 0;
    int unrecoverable = 0;
    ExpectMatchesTruth(records, ReadTruth(t.truthPath), 1, true, &recovered, &unrecoverable);
    EXPECT_GT(recovered, 0);
    EXPECT_EQ(unrecoverable, 0);
    ASSERT_FALSE(t.view.batches.empty());
    EXPECT_EQ(t.view.batches.back().recoveredCount, recovered);
    EXPECT_EQ(fs::file_size(t.engine.heqFileName), kHeqFileSize);
}

TEST(EndToEnd, UncheckedModeCountsDamagedRecordsAsUnrecoverable) {
    Recording t;
    t.settings.activeCrcCheck = false;
    ASSERT_TRUE(t.StartTcp(100, {"--corrupt", "0.05", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    int unrecoverable = 0;
    ExpectMatchesTruth(ReadBin(t.engine.binFileName), ReadTruth(t.truthPath), 1, false, nullptr,
                       &unrecoverable);
    EXPECT_GT(unrecoverable, 0);
    EXPECT_EQ(t.view.batches.back().unrecoverableCount, unrecoverable);
}

TEST(EndToEnd, RhoOnlyRunKeepsNoFiles) {
    Recording t;
    t.settings.rhoOnly = true;
    ASSERT_TRUE(t.StartTcp(100, {"--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    const auto truth = ReadTruth(t.truthPath);
    EXPECT_EQ(t.view.distributionValues.size(), truth.size());
    EXPECT_TRUE(fs::is_empty(DataFolder()));
}

TEST(EndToEnd, WifiAcquisitionKeepsItsRawFile) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(
        200, {"--generation", "wifi", "--channels", "8", "--corrupt", "0.03", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    const auto records = ReadBin(t.engine.binFileName);
    ExpectMatchesTruth(records, ReadTruth(t.truthPath), 1, true);
    const std::string rpp = fs::path(t.engine.binFileName).replace_extension(".rpp").string();
    EXPECT_EQ(fs::file_size(rpp), records.size() * 4096);
    // Wi-Fi records reach the colour-range statistics once complete.
    EXPECT_EQ(t.view.distributionValues.size(), records.size());
}

TEST(EndToEnd, MovingArrayAcquisitionIsRecorded) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(200, {"--generation", "wifi", "--moving-array", "--positions", "12",
                                 "--cycle-ms", "20", "--exit-when-done"}));
    // Reset during a moving-array run resets the trip counter, not the link.
    bool reset = false;
    t.hooks.onPump = [&] {
        if (!reset && t.view.batches.size() == 2) {
            reset = true;
            EXPECT_EQ(t.engine.Device().movingArrayMode, 1);
            t.engine.RequestReset();
        }
    };
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_TRUE(reset);
    EXPECT_NE(std::find(t.view.statuses.begin(), t.view.statuses.end(), "Reset Trip counter..."),
              t.view.statuses.end());
    const auto records = ReadBin(t.engine.binFileName);
    EXPECT_FALSE(records.empty());
    EXPECT_EQ(records.size(), ReadTruth(t.truthPath).size());
}

TEST(EndToEnd, WiredAcquisitionOverAPseudoTerminal) {
    Recording t;
    ASSERT_TRUE(t.StartPty({"--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    ExpectMatchesTruth(ReadBin(t.engine.binFileName), ReadTruth(t.truthPath), 1, true);
}

TEST(EndToEnd, EmulatorOnAnExistingSerialDevice) {
    // A socat pair stands for a null-modem cable between two serial ports.
    testsupport::TempRoot root;
    const std::string a = root.path() + "/ttyA";
    const std::string b = root.path() + "/ttyB";
    QProcess socat;
    socat.start("socat", {QString::fromStdString("pty,raw,echo=0,link=" + a),
                          QString::fromStdString("pty,raw,echo=0,link=" + b)});
    if (!socat.waitForStarted(5000))
        GTEST_SKIP() << "socat is not installed";
    QElapsedTimer clock;
    clock.start();
    while ((!fs::exists(a) || !fs::exists(b)) && clock.elapsed() < 5000)
        QThread::msleep(20);
    ASSERT_TRUE(fs::exists(a) && fs::exists(b));

    Recording t;
    ASSERT_FALSE(
        t.emulator
            .Start(t.BaseArgs({"--serial-device", QString::fromStdString(a), "--exit-when-done"}))
            .empty());
    t.settings.connectionCode = 2;
    t.engine.linkFactory = [b](int c) {
        LinkOptions o;
        o.serialDevice = b;
        return CreateLink(c, o);
    };
    EXPECT_EQ(t.Run(), RunCompleted);
    ExpectMatchesTruth(ReadBin(t.engine.binFileName), ReadTruth(t.truthPath), 1, true);
    socat.terminate();
    socat.waitForFinished(3000);
}

TEST(EndToEnd, BadAnnouncementsAndSkipsAreHandled) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--bad-count", "--skip", "20:3", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    ASSERT_FALSE(t.view.batches.empty());
    EXPECT_EQ(t.view.batches.back().skippedCount, 3);
    const auto records = ReadBin(t.engine.binFileName);
    const auto truth = ReadTruth(t.truthPath);
    // The file holds the records in the order they came, skips left out.
    ASSERT_EQ(records.size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i)
        EXPECT_EQ(Bits(records[i].rho), Bits(truth[i].rho)) << i;
}

TEST(EndToEnd, DroppedLinkLeavesCompleteFiles) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--drop-after", "5"}));
    EXPECT_EQ(t.Run(), RunLinkLost);
    ASSERT_FALSE(t.view.errors.empty());
    EXPECT_EQ(t.view.errors.back(), "Sequence not ended !");
    const auto size = fs::file_size(t.engine.binFileName);
    EXPECT_EQ((size - 1029) % 304, 0u);
    const auto records = ReadBin(t.engine.binFileName);
    const auto truth = ReadTruth(t.truthPath);
    ASSERT_EQ(records.size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i)
        EXPECT_EQ(Bits(records[i].rho), Bits(truth[i].rho)) << i;
}

TEST(EndToEnd, StopAndPauseAreServedDuringTheWait) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--cycle-ms", "30", "--exit-when-done"}));
    bool paused = false;
    bool restarted = false;
    bool stopped = false;
    t.hooks.onPump = [&] {
        const size_t n = t.view.batches.size();
        if (n == 2 && !paused) {
            paused = true;
            t.engine.RequestPause();
        }
        if (paused && !restarted && t.view.visible[RunButton::ReStart]) {
            restarted = true;
            t.engine.RequestRestart();
        }
        if (n == 5 && !stopped) {
            stopped = true;
            t.engine.RequestStop();
        }
    };
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_TRUE(restarted);
    const auto records = ReadBin(t.engine.binFileName);
    const auto truth = ReadTruth(t.truthPath);
    EXPECT_LT(records.size(), 100u);
    EXPECT_EQ(records.size(), truth.size());
    const bool stoppedShown =
        std::any_of(t.view.statuses.begin(), t.view.statuses.end(), [](const std::string& s) {
            return s.size() > 8 && s.compare(s.size() - 8, 8, " Stopped") == 0;
        });
    EXPECT_TRUE(stoppedShown);
}

TEST(EndToEnd, TwoAcquisitionsOnOneConnection) {
    Recording t;
    t.engine.maxRuns = 2;
    ASSERT_TRUE(t.StartTcp(100, {"--repeat", "2", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_EQ(t.engine.runsDone, 2);
    ASSERT_EQ(t.binFiles.size(), 2u);
    const auto truth = ReadTruth(t.truthPath);
    // Names are by the second: two quick runs may share one pair of files.
    if (t.binFiles[0] != t.binFiles[1])
        ExpectMatchesTruth(ReadBin(t.binFiles[0]), truth, 1, true);
    ExpectMatchesTruth(ReadBin(t.binFiles[1]), truth, 2, true);
}

TEST(EndToEnd, ReplayReproducesTheRecordedBatches) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--exit-when-done"}));
    ASSERT_EQ(t.Run(), RunCompleted);
    std::vector<int> live;
    for (const BatchInfo& b : t.view.batches)
        live.push_back(b.batchRecords);

    RecordingView view;
    Settings settings;
    SessionEngine replay(view, settings);
    EXPECT_EQ(replay.ReplayFile(t.engine.heqFileName, true), RunCompleted);
    std::vector<int> replayed;
    for (const BatchInfo& b : view.batches)
        replayed.push_back(b.batchRecords);
    EXPECT_EQ(replayed, live);
}

TEST(EndToEnd, KilledRecorderLeavesWholeRecords) {
    testsupport::TempRoot root;
    Emulator emulator;
    const std::string truth = root.path() + "/truth.csv";
    const std::string port =
        emulator.Start({"--listen", "127.0.0.1:0", "--cycle-ms", "20", "--start-delay-ms", "100",
                        "--truth", QString::fromStdString(truth), "--exit-when-done"});
    ASSERT_FALSE(port.empty());
    QProcess recorder;
    recorder.start(PYLORIX_RECORDER,
                   {"--connection", "100", "--address", QString::fromStdString("127.0.0.1:" + port),
                    "--data-root", QString::fromStdString(root.path()), "--runs", "1", "--yes"});
    ASSERT_TRUE(recorder.waitForStarted(10000));
    // Wait until a few batches are on disk, then kill without warning.
    const fs::path folder = fs::path(root.path()) / "Pylorix Data";
    fs::path bin;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        std::error_code ec;
        if (fs::is_directory(folder, ec))
            for (const auto& e : fs::directory_iterator(folder, ec))
                if (e.path().extension() == ".bin")
                    bin = e.path();
        if (!bin.empty() && fs::file_size(bin, ec) > 1029 + 20 * 304)
            break;
        QThread::msleep(20);
    }
    ASSERT_FALSE(bin.empty());
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(5000);
    const auto size = fs::file_size(bin);
    EXPECT_EQ((size - 1029) % 304, 0u);
    const auto records = ReadBin(bin.string());
    const auto rows = ReadTruth(truth);
    ASSERT_LE(records.size(), rows.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(Bits(records[i].rho), Bits(rows[i].rho)) << i;
}
