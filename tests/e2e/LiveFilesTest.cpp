// Nothing lost in a live run, the files' side: a disk that fills mid-run,
// runs that fail before their first batch, a data folder that cannot be
// written, names that clash with earlier recordings, and a stream left
// running after a write failure. The engine in-process, the emulator and
// the recorder as child processes; the disk fills through the file layer's
// write budget.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

// Far beyond what any of these runs needs when it ends by itself.
constexpr int kRunGuardMs = 120000;
constexpr size_t kRecordSize = 304;
constexpr size_t kRawRecordSize = 4096;

std::vector<MeasureRecord> Stored(const Recording& t) {
    return ReadBin(t.engine.binFileName);
}

// The acquisition files in the data folder (the settings file aside).
std::vector<std::string> AcquisitionFilesLeft() {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(DataFolder(), ec))
        return names;
    for (const auto& e : fs::directory_iterator(DataFolder(), ec))
        if (e.path().extension() != ".ini")
            names.push_back(e.path().filename().string());
    return names;
}

std::string RppOf(const std::string& bin) {
    return fs::path(bin).replace_extension(".rpp").string();
}

// The disk is given back at the end of a test, whatever happened.
struct DiskBudget {
    ~DiskBudget() { SetDataWriteBudget(-1); }
};

} // namespace

TEST(LiveFiles, FullDiskLeavesWholeRecordsAndBothFilesInStep) {
    DiskBudget restore;
    {
        // Four-record batches of 1216 bytes: the third does not fit.
        Recording t;
        ASSERT_TRUE(t.StartTcp(100, {"--channels", "4", "--exit-when-done"}));
        t.view.onRunStarted = [](const std::string&) {
            SetDataWriteBudget(2 * 4 * kRecordSize + 1000);
        };
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunFileError);
        SetDataWriteBudget(-1);
        EXPECT_EQ(WholeRecords(t.engine.binFileName, kBinHeaderSize, kRecordSize), 8);
        auto sent = LastCopies(ReadTruth(t.truthPath), 1);
        ASSERT_GE(sent.size(), 8u);
        sent.resize(8);
        ExpectStored(Stored(t), sent);
        EXPECT_TRUE(Contains(ShownText(t), "No space left on device")) << ShownText(t);
    }
    {
        // Wi-Fi: every record goes to both files.
        Recording t;
        ASSERT_TRUE(
            t.StartTcp(200, {"--generation", "wifi", "--channels", "4", "--exit-when-done"}));
        t.view.onRunStarted = [](const std::string&) {
            SetDataWriteBudget(2 * 4 * (kRecordSize + kRawRecordSize) + 3000);
        };
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunFileError);
        SetDataWriteBudget(-1);
        const int64_t bin = WholeRecords(t.engine.binFileName, kBinHeaderSize, kRecordSize);
        const int64_t rpp = WholeRecords(RppOf(t.engine.binFileName), 0, kRawRecordSize);
        EXPECT_EQ(bin, 8);
        EXPECT_EQ(rpp, bin);
        EXPECT_TRUE(Contains(ShownText(t), "No space left on device")) << ShownText(t);
    }
}

TEST(LiveFiles, RunFailingBeforeItsFirstBatchLeavesNoFiles) {
    DiskBudget restore;
    {
        // The ".heq" (385 687 bytes) does not fit.
        Recording t;
        ASSERT_TRUE(t.StartTcp(100, {"--exit-when-done"}));
        SetDataWriteBudget(100000);
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunFileError);
        SetDataWriteBudget(-1);
        EXPECT_EQ(AcquisitionFilesLeft(), std::vector<std::string>{});
    }
    for (int code : {100, 200}) {
        // The link drops before the first batch.
        SCOPED_TRACE(code);
        Recording t;
        QStringList args = {"--drop-after", "0"};
        if (code == 200)
            args << "--generation"
                 << "wifi";
        ASSERT_TRUE(t.StartTcp(code, args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunLinkLost);
        EXPECT_EQ(AcquisitionFilesLeft(), std::vector<std::string>{});
    }
}

TEST(LiveFiles, UnwritableDataFolderIsReportedBeforeTheStartIsAcknowledged) {
    Recording t;
    // A plain file where the data folder should be: no folder can be made
    // there, whoever runs the test.
    fs::create_directories(DataRoot());
    std::ofstream(DataFolder()) << "not a folder";
    ASSERT_TRUE(t.StartTcp(100, {"--exit-when-done"}));
    // Should the session keep waiting, the emulator's end ends it.
    Watchdog guard(t.emulator.process.processId(), 15000);
    t.Run();
    EXPECT_EQ(t.engine.runsDone, 0);
    EXPECT_TRUE(Contains(ShownText(t), "Pylorix Data")) << ShownText(t);
    EXPECT_EQ(CountEvents(ReadEvents(t.eventsPath), "start-acknowledged"), 0)
        << "the instrument was started with nobody to record";
    EXPECT_TRUE(ReadTruth(t.truthPath).empty());
}

TEST(LiveFiles, RecorderSaysAtOnceThatItCannotWriteItsFiles) {
    testsupport::TempRoot root;
    std::ofstream(fs::path(root.path()) / "Pylorix Data") << "not a folder";
    Emulator emulator;
    const std::string events = root.path() + "/events.csv";
    // The instrument's Start comes late: the word must come before it.
    const std::string port =
        emulator.Start({"--listen", "127.0.0.1:0", "--start-delay-ms", "3000", "--events",
                        QString::fromStdString(events), "--exit-when-done", "--quiet"});
    ASSERT_FALSE(port.empty());
    QProcess recorder;
    recorder.setReadChannel(QProcess::StandardError);
    recorder.start(PYLORIX_RECORDER,
                   {"--connection", "100", "--address", QString::fromStdString("127.0.0.1:" + port),
                    "--data-root", QString::fromStdString(root.path()), "--runs", "1", "--yes"});
    ASSERT_TRUE(recorder.waitForStarted(10000));
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !said.contains("Pylorix Data")) {
        recorder.waitForReadyRead(200);
        said += recorder.readAllStandardError();
    }
    EXPECT_TRUE(said.contains("Pylorix Data")) << said.toStdString();
    EXPECT_TRUE(ReadEvents(events).empty()) << "said only after the Start";
    // Then the instrument's Start comes, and is not acknowledged.
    recorder.waitForFinished(8000);
    recorder.kill();
    recorder.waitForFinished(5000);
    EXPECT_EQ(CountEvents(ReadEvents(events), "start-acknowledged"), 0);
}

TEST(LiveFiles, RunsNeverTakeTheFilesOfAnEarlierRecording) {
    Recording t;
    t.engine.maxRuns = 2;
    // Earlier recordings under every name the two runs could be given.
    fs::create_directories(DataFolder());
    const std::string earlierText = "an earlier recording";
    std::vector<fs::path> earlier;
    const std::time_t now = std::time(nullptr);
    for (int s = -2; s < 120; ++s) {
        const std::time_t when = now + s;
        std::tm local{};
        localtime_r(&when, &local);
        const std::string base = AcquisitionBaseName(local, "EMULATOR");
        for (const char* ext : {".bin", ".heq", ".rpp"}) {
            earlier.push_back(DataFolder() / (base + ext));
            std::ofstream(earlier.back()) << earlierText;
        }
    }
    ASSERT_TRUE(t.StartTcp(100, {"--repeat", "2", "--exit-when-done"}));
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    t.Run();
    EXPECT_EQ(t.view.results, (std::vector<int>{RunCompleted, RunCompleted}));
    int overwritten = 0;
    for (const fs::path& p : earlier) {
        const auto bytes = testsupport::readFile(p.string());
        if (std::string(bytes.begin(), bytes.end()) != earlierText && ++overwritten == 1)
            ADD_FAILURE() << "overwritten: " << p;
    }
    EXPECT_EQ(overwritten, 0);
    ASSERT_EQ(t.binFiles.size(), 2u);
    EXPECT_NE(t.binFiles[0], t.binFiles[1]);
    const auto truth = ReadTruth(t.truthPath);
    for (int run = 0; run < 2; ++run) {
        const std::string& bin = t.binFiles[size_t(run)];
        EXPECT_EQ(std::find(earlier.begin(), earlier.end(), fs::path(bin)), earlier.end());
        ExpectStored(ReadBin(bin), LastCopies(truth, run + 1));
        EXPECT_EQ(fs::file_size(fs::path(bin).replace_extension(".heq")), kHeqFileSize);
    }
}

TEST(LiveFiles, WriteFailureLeavesTheLinkReadyForTheNextStart) {
    DiskBudget restore;
    // Unchecked records keep coming whether anyone reads them or not.
    Recording t;
    t.settings.activeCrcCheck = false;
    t.engine.maxRuns = 2;
    ASSERT_TRUE(t.StartTcp(100, {"--electrodes", "48", "--levels", "10", "--cycle-ms", "10",
                                 "--repeat", "2", "--keep-listening", "--exit-when-done"}));
    int started = 0;
    t.view.onRunStarted = [&](const std::string&) {
        if (++started == 1)
            SetDataWriteBudget(3 * 10 * kRecordSize + 100);
    };
    t.view.onRunFinished = [](int) { SetDataWriteBudget(-1); };
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    t.Run();
    EXPECT_EQ(t.view.results, (std::vector<int>{RunFileError, RunCompleted})) << ShownText(t);
    ASSERT_EQ(t.binFiles.size(), 2u);
    ExpectStored(ReadBin(t.binFiles[1]), LastCopies(ReadTruth(t.truthPath), 2));
}
