// Nothing lost in a live run: the engine in-process against the emulator,
// one group per way an acquisition could lose or spoil data. Operator
// requests that outlive their run, links that close right after a batch,
// early end markers, pauses the instrument ends by itself, identities sent
// at once, moving arrays stopped mid-batch or running past the quadripole
// table, sequences numbered from anywhere up to the top of the int32 range,
// and records damaged in every copy. Every stored record is checked against
// what the emulator says it sent. The files' side is in LiveFilesTest.cpp.
#include "E2eSupport.h"

#include "EmuOptions.h"
#include "Survey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

// Far beyond what any of these runs needs when it ends by itself.
constexpr int kRunGuardMs = 120000;
constexpr size_t kRawRecordSize = 4096;

std::vector<MeasureRecord> Stored(const Recording& t) {
    return ReadBin(t.engine.binFileName);
}

std::string RppOf(const std::string& bin) {
    return fs::path(bin).replace_extension(".rpp").string();
}

// The number of records the emulator will send for these arguments.
int RecordsFor(Recording& t, const QStringList& extra) {
    varmexemu::EmuOptions o;
    const varmexemu::EmuParseResult parsed =
        varmexemu::parseEmuOptions(QStringList{"varmex-emulator"} + t.BaseArgs(extra), o);
    EXPECT_TRUE(parsed.ok) << parsed.error.toStdString();
    varmexemu::EmuSurvey survey;
    QString error;
    EXPECT_TRUE(varmexemu::EmuSurvey::build(o, survey, error)) << error.toStdString();
    return survey.recordCount();
}

} // namespace

// ---- operator requests and the run loop ------------------------------------------

TEST(LiveRun, StaleStopOrPauseDoesNotStopTheNextAcquisition) {
    {
        // Clicked between two runs.
        Recording t;
        t.engine.maxRuns = 2;
        ASSERT_TRUE(
            t.StartTcp(100, {"--repeat", "2", "--pause-timeout", "2000", "--exit-when-done"}));
        int finished = 0;
        t.view.onRunFinished = [&](int) {
            if (++finished == 1) {
                t.engine.RequestStop();
                t.engine.RequestPause();
            }
        };
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        t.Run();
        EXPECT_EQ(t.view.results, (std::vector<int>{RunCompleted, RunCompleted}));
        ASSERT_EQ(t.binFiles.size(), 2u) << "the second run recorded nothing";
        ExpectStored(ReadBin(t.binFiles[1]), LastCopies(ReadTruth(t.truthPath), 2));
        const auto events = ReadEvents(t.eventsPath);
        EXPECT_EQ(CountEvents(events, "stop-echoed", 2), 0);
        EXPECT_EQ(CountEvents(events, "pause-echoed", 2), 0);
    }
    {
        // Clicked after a replay.
        Recording first;
        ASSERT_TRUE(first.StartTcp(100, {"--exit-when-done"}));
        ASSERT_EQ(first.Run(), RunCompleted);
        Recording t;
        ASSERT_EQ(t.engine.ReplayFile(first.engine.heqFileName, true), RunCompleted);
        t.engine.RequestStop();
        t.engine.RequestPause();
        ASSERT_TRUE(t.StartTcp(100, {"--pause-timeout", "2000", "--exit-when-done"}));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));
        const auto events = ReadEvents(t.eventsPath);
        EXPECT_EQ(CountEvents(events, "stop-echoed"), 0);
        EXPECT_EQ(CountEvents(events, "pause-echoed"), 0);
    }
}

TEST(LiveRun, LinkClosingRightAfterABatchKeepsThatBatch) {
    // Unchecked records, four to a batch, the link cut after the fifth:
    // all twenty arrived whole, over TCP and over a serial line.
    for (bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "TCP");
        Recording t;
        t.settings.activeCrcCheck = false;
        const QStringList args = {"--channels", "4", "--drop-after", "5"};
        ASSERT_TRUE(serial ? t.StartPty(args) : t.StartTcp(100, args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunLinkLost);
        const auto sent = LastCopies(ReadTruth(t.truthPath), 1);
        EXPECT_EQ(sent.size(), 20u);
        ExpectStored(Stored(t), sent);
    }
}

TEST(LiveRun, EarlyEndMarkerFollowedByTheNextBatchLosesNothing) {
    for (bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "checked" : "unchecked");
        Recording t;
        t.settings.activeCrcCheck = checked;
        // A short idle limit: an emulator left waiting for an acknowledgement
        // gives up soon.
        ASSERT_TRUE(t.StartTcp(100, {"--channels", "4", "--early-end-after", "3", "--idle-timeout",
                                     "6000", "--exit-when-done"}));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        EXPECT_EQ(CountEvents(ReadEvents(t.eventsPath), "early-end"), 1);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));
        ASSERT_FALSE(t.view.batches.empty());
        EXPECT_EQ(t.view.batches.back().skippedCount, 0);
    }
}

TEST(LiveRun, PauseEndedWithoutRestartLeavesPauseAvailable) {
    {
        // The instrument resumes by itself, twice.
        Recording t;
        ASSERT_TRUE(
            t.StartTcp(100, {"--cycle-ms", "30", "--pause-timeout", "400", "--exit-when-done"}));
        int pauses = 0;
        std::vector<bool> enabledAfter;
        t.view.onBatch = [&](const BatchInfo&) {
            if (pauses == 0 && t.view.batches.size() == 2) {
                t.engine.RequestPause();
                pauses = 1;
                return;
            }
            // The first batch after the instrument ended the pause.
            if (pauses > int(enabledAfter.size()) &&
                CountEvents(ReadEvents(t.eventsPath), "pause-timed-out") == pauses) {
                enabledAfter.push_back(t.view.buttonEnabled[RunButton::Pause]);
                if (pauses == 1) {
                    t.engine.RequestPause();
                    pauses = 2;
                }
            }
        };
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        EXPECT_EQ(enabledAfter, (std::vector<bool>{true, true}));
        EXPECT_EQ(CountEvents(ReadEvents(t.eventsPath), "pause-confirmed"), 2);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));
    }
    {
        // No echo ever comes: the instrument takes no requests.
        Recording t;
        ASSERT_TRUE(t.StartTcp(100, {"--cycle-ms", "30", "--no-control", "--exit-when-done"}));
        bool requested = false;
        t.view.onBatch = [&](const BatchInfo&) {
            if (!requested && t.view.batches.size() == 2) {
                t.engine.RequestPause();
                requested = true;
            }
        };
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        EXPECT_TRUE(requested);
        EXPECT_TRUE(t.view.buttonEnabled[RunButton::Pause]);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));
    }
}

TEST(LiveRun, IdentitySentAtOnceIsReadWhole) {
    struct Case {
        int code;
        QStringList args;
        std::vector<uint8_t> word;
    };
    const Case cases[] = {
        {100, {"--identity-at-once", "--exit-when-done"}, {2, 10, 5, 1}},
        {200,
         {"--generation", "wifi", "--channels", "8", "--identity-at-once", "--exit-when-done"},
         {3, 20, 5, 1}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.code);
        Recording t;
        ASSERT_TRUE(t.StartTcp(k.code, k.args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        EXPECT_STREQ(t.engine.acquisitionName, "EMULATOR");
        ASSERT_TRUE(fs::exists(t.engine.heqFileName));
        const auto heq = testsupport::readFile(t.engine.heqFileName);
        ASSERT_EQ(heq.size(), kHeqFileSize);
        EXPECT_EQ(std::vector<uint8_t>(heq.begin(), heq.begin() + 4), k.word);
        EXPECT_EQ(std::string(heq.begin() + 4, heq.begin() + 12), "EMULATOR");
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));
    }
}

// ---- moving arrays and the Wi-Fi generation ----------------------------------------

TEST(LiveRun, StopDuringAMovingArrayBatchKeepsWorldCoordinates) {
    Recording t;
    ASSERT_TRUE(
        t.StartTcp(200, {"--generation", "wifi", "--moving-array", "--channels", "4", "--positions",
                         "40", "--cycle-ms", "50", "--batch-before-echo", "--exit-when-done"}));
    t.view.onBatch = [&](const BatchInfo&) {
        if (t.view.batches.size() == 5)
            t.engine.RequestStop();
    };
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_EQ(t.Run(), RunCompleted);
    const auto events = ReadEvents(t.eventsPath);
    EXPECT_GE(CountEvents(events, "echo-after-batch"), 1);
    EXPECT_EQ(CountEvents(events, "stop-confirmed"), 1);
    const auto sent = LastCopies(ReadTruth(t.truthPath), 1);
    EXPECT_GE(sent.size(), 6u * 4u); // the batch before the echo is there
    EXPECT_LT(sent.size(), 40u * 4u);
    // Placed by each record's own origin and heading: a millimetre allows
    // for the rounding of the turn.
    ExpectStored(Stored(t), sent, 1e-3);
}

TEST(LiveRun, MovingArrayPastSixteenThousandRecordsKeepsEveryRecord) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(200, {"--generation", "wifi", "--moving-array", "--channels", "10",
                                 "--positions", "1610", "--exit-when-done"}));
    Watchdog guard(t.emulator.process.processId(), 300000);
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired());
    const auto sent = LastCopies(ReadTruth(t.truthPath), 1);
    ASSERT_EQ(sent.size(), 16100u);
    ExpectStored(Stored(t), sent, 1e-3);
    EXPECT_EQ(WholeRecords(RppOf(t.engine.binFileName), 0, kRawRecordSize), 16100);
    ASSERT_FALSE(t.view.batches.empty());
    EXPECT_EQ(t.view.batches.back().skippedCount, 0);
}

TEST(LiveRun, MovingArrayRunsWhateverItsFirstQuadripoleNumber) {
    // -1: the parameter block says 0, as an instrument that leaves it unset.
    for (const char* first : {"-1", "0", "50"}) {
        SCOPED_TRACE(first);
        Recording t;
        ASSERT_TRUE(t.StartTcp(200, {"--generation", "wifi", "--moving-array", "--channels", "4",
                                     "--positions", "20", "--first-quadripole", first,
                                     "--exit-when-done"}));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted) << ShownText(t);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1), 1e-3);
        ASSERT_FALSE(t.view.batches.empty());
        EXPECT_EQ(t.view.batches.back().skippedCount, 0);
    }
}

TEST(LiveRun, ResetAfterAMovingArrayRunResetsTheLink) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(200, {"--generation", "wifi", "--moving-array", "--channels", "4",
                                 "--positions", "8", "--exit-when-done"}));
    ASSERT_EQ(t.Run(), RunCompleted);
    t.engine.RequestReset();
    EXPECT_EQ(t.engine.resetRequested, 0);
    EXPECT_EQ(t.view.status, "Resetting...") << "not a link reset";
    EXPECT_TRUE(t.view.timerEnabled);

    // The next run, wired this time, on a new instrument.
    Emulator wired;
    const std::string events = t.root.path() + "/wired-events.csv";
    const std::string port = wired.Start(
        {"--listen", "127.0.0.1:0", "--cycle-ms", "0", "--start-delay-ms", "100", "--electrodes",
         "12", "--events", QString::fromStdString(events), "--exit-when-done"});
    ASSERT_FALSE(port.empty());
    t.settings.connectionCode = 100;
    t.settings.ipAddress = "127.0.0.1:" + port;
    Watchdog guard(wired.process.processId(), kRunGuardMs);
    EXPECT_EQ(t.Run(), RunCompleted);
    const auto rows = ReadEvents(events);
    EXPECT_EQ(CountEvents(rows, "completed"), 1);
    EXPECT_EQ(CountEvents(rows, "reset-echoed"), 0) << "the wired run was sent a trip reset";
}

TEST(LiveRun, WifiHeaderDoesNotDependOnWhatCameBefore) {
    const QStringList wifi = {"--generation", "wifi", "--channels", "8", "--exit-when-done"};
    auto headerOf = [](const std::string& heq) {
        const auto bytes = testsupport::readFile(heq);
        EXPECT_EQ(bytes.size(), kHeqFileSize);
        return std::vector<uint8_t>(bytes.begin() + 15, bytes.begin() + 151);
    };
    Recording fresh;
    ASSERT_TRUE(fresh.StartTcp(200, wifi));
    ASSERT_EQ(fresh.Run(), RunCompleted);
    const std::vector<uint8_t> expected = headerOf(fresh.engine.heqFileName);

    // A recording whose header has every bit the Wi-Fi header leaves alone
    // set, replayed first.
    Recording wired;
    ASSERT_TRUE(wired.StartTcp(100, {"--exit-when-done"}));
    ASSERT_EQ(wired.Run(), RunCompleted);
    auto heq = testsupport::readFile(wired.engine.heqFileName);
    heq[15 + 24] |= 0x10;
    heq[15 + 25] |= 0xC0;
    heq[15 + 78] = 0xA5;
    heq[15 + 79] = 0x5A;
    heq[15 + 102] = 0x77;
    heq[15 + 103] |= 0x0C;
    const std::string marked = wired.root.path() + "/marked.heq";
    testsupport::writeFile(marked, heq);
    fs::copy_file(wired.engine.binFileName, wired.root.path() + "/marked.bin");

    Recording t;
    ASSERT_EQ(t.engine.ReplayFile(marked, true), RunCompleted);
    ASSERT_TRUE(t.StartTcp(200, wifi));
    ASSERT_EQ(t.Run(), RunCompleted);
    const std::vector<uint8_t> after = headerOf(t.engine.heqFileName);
    ASSERT_EQ(after.size(), expected.size());
    for (size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(int(after[i]), int(expected[i])) << "header byte " << i;
}

TEST(LiveRun, RecordsKeepTheInstrumentsOwnQuadripoleNumber) {
    for (int code : {100, 200}) {
        SCOPED_TRACE(code);
        Recording t;
        QStringList args = {"--channels", "8", "--first-quadripole", "300", "--exit-when-done"};
        if (code == 200)
            args << "--generation"
                 << "wifi";
        ASSERT_TRUE(t.StartTcp(code, args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted) << ShownText(t);
        // Electrodes from the node table, exactly.
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1), 0.0);
        ASSERT_FALSE(t.view.batches.empty());
        EXPECT_EQ(t.view.batches.front().firstIndex, 300);
        EXPECT_EQ(t.view.batches.back().skippedCount, 0);
        EXPECT_EQ(t.view.batches.back().done, t.view.batches.back().total);
    }
}

TEST(LiveRun, LastQuadripoleAtTheTopOfTheInt32RangeNeitherOverflowsNorAborts) {
    for (int code : {100, 200}) {
        SCOPED_TRACE(code);
        Recording t;
        QStringList args = {"--electrodes", "12", "--levels", "3", "--channels", "4"};
        if (code == 200)
            args << "--generation"
                 << "wifi";
        const int count = RecordsFor(t, args);
        ASSERT_GT(count, 0);
        args << "--first-quadripole" << QString::number(INT_MAX - count + 1) << "--exit-when-done";
        ASSERT_TRUE(t.StartTcp(code, args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted) << ShownText(t);
        EXPECT_EQ(t.engine.lastQuadripole, INT_MAX);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1));

        // And again from the files.
        RecordingView view;
        Settings settings;
        SessionEngine replay(view, settings);
        EXPECT_EQ(replay.ReplayFile(t.engine.heqFileName, true), RunCompleted);
        ASSERT_EQ(view.batches.size(), t.view.batches.size());
        EXPECT_EQ(view.batches.back().done, view.batches.back().total);
    }
}

// ---- what the emulator can play beyond the items above ------------------------------

TEST(LiveRun, RecordDamagedInEveryCopyIsCountedAndLeftEmpty) {
    for (int code : {100, 200}) {
        SCOPED_TRACE(code);
        Recording t;
        QStringList args = {"--channels", "4", "--bad-record", "6", "--exit-when-done"};
        if (code == 200)
            args << "--generation"
                 << "wifi";
        ASSERT_TRUE(t.StartTcp(code, args));
        Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
        EXPECT_EQ(t.Run(), RunCompleted);
        const auto sent = LastCopies(ReadTruth(t.truthPath), 1);
        ASSERT_GT(sent.size(), 6u);
        EXPECT_TRUE(sent[6].damaged);
        EXPECT_EQ(sent[6].attempt, 3);
        ExpectStored(Stored(t), sent);
        EXPECT_EQ(t.view.batches.back().unrecoverableCount, 1);
    }
}

TEST(LiveRun, WifiRecordsOfEitherDecodingBranchKeepTheirValues) {
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "alternative" : "usual");
        Recording t;
        QStringList args = {"--generation", "wifi", "--channels", "8", "--exit-when-done"};
        if (alt)
            args << "--alt-decoding";
        ASSERT_TRUE(t.StartTcp(200, args));
        EXPECT_EQ(t.Run(), RunCompleted);
        const auto sent = LastCopies(ReadTruth(t.truthPath), 1);
        const auto records = Stored(t);
        ExpectStored(records, sent);
        for (size_t i = 0; i < std::min(records.size(), sent.size()); ++i) {
            EXPECT_EQ(Bits(records[i].q), Bits(sent[i].q)) << i;
            EXPECT_EQ(records[i].extra264, sent[i].extra[0]) << i;
            EXPECT_EQ(records[i].extra268, sent[i].extra[1]) << i;
        }
    }
}

TEST(LiveRun, FirstNodeOtherThanOnePlacesEveryElectrode) {
    for (int code : {100, 200}) {
        SCOPED_TRACE(code);
        Recording t;
        QStringList args = {"--channels", "8", "--first-node", "7", "--exit-when-done"};
        if (code == 200)
            args << "--generation"
                 << "wifi";
        ASSERT_TRUE(t.StartTcp(code, args));
        EXPECT_EQ(t.Run(), RunCompleted) << ShownText(t);
        ExpectStored(Stored(t), LastCopies(ReadTruth(t.truthPath), 1), 0.0);
    }
}
