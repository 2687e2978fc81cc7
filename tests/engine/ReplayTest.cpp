// The replay of recorded acquisitions against what the live run recorded:
// every record on its own quadripole when the instrument skipped some,
// recordings that stopped at any point of a batch, the moving-array state of
// the recording itself, no byte to a live link, every file the program
// writes, upper-case names, and one message for one failure.
#include "EngineHarness.h"

#include "common/ByteOrder.h"
#include "instrument/InstrumentRecords.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Keeps what the replay draws, besides what RecordingView keeps.
class ReplayView : public RecordingView {
public:
    struct Plot {
        int tableIndex = 0;
        std::vector<float> rho;
    };
    std::vector<Plot> plots;
    std::vector<bool> tabsVisible;
    std::vector<size_t> valuesAtFinish; // one entry per FinishViewRange
    std::function<void(float, float, float)> onBattery;

    void PlotSectionData(const MeasureRecord* batch, int tableIndex, int count, bool,
                         bool) override {
        Plot plot{tableIndex, {}};
        for (int k = 0; k < count; ++k)
            plot.rho.push_back(batch[k].rho);
        plots.push_back(plot);
    }
    void SetSectionTabsVisible(bool on) override { tabsVisible.push_back(on); }
    void FinishViewRange(int) override { valuesAtFinish.push_back(distributionValues.size()); }
    void ShowBatteryState(float temperature, float tx, float rx) override {
        if (onBattery)
            onBattery(temperature, tx, rx);
    }
};

// A moving array as the Wi-Fi generation builds it from a parameter block:
// header and sets made by the program, four dipoles.
class MovingArrayProtocol : public FakeProtocol {
public:
    MovingArrayProtocol(Instrument& device, const AcquisitionHeader& header)
        : FakeProtocol(device, header), device_(device) {
        le::put16(block_ + wifi::kReceiverDipoles, 4);
        block_[wifi::kMovingArrayByte] = 0x10;
    }
    int32_t ReadHeader(AcquisitionHeader& h) override {
        BuildWifiHeader(block_, device_.acquisitionName, h);
        device_.movingArrayMode = 1;
        return 1;
    }
    int32_t ReadSequenceSets() override { return BuildMovingArraySets(block_, device_); }

private:
    Instrument& device_;
    uint8_t block_[wifi::kParameterBlockSize] = {};
};

// Live runs of the scripted wired instrument, one after the other on one
// engine, and replays.
struct ReplayRig {
    ScopedFakeHooks fake;
    testsupport::TempRoot root;
    ReplayView view;
    Settings settings;
    SessionEngine engine{view, settings};
    FakeLink* link = nullptr;
    std::unique_ptr<WiredScript> script;
    AcquisitionHeader header{};
    std::vector<WiredScript::Batch> batches;
    std::function<void(WiredScript&)> prepare;
    bool moving = false;

    ReplayRig(int quadripoles, int channels, int32_t first = 0) {
        fake.hooks.onLimit = [this] {
            if (link)
                link->Close();
        };
        settings.connectionCode = 3;
        settings.activeCrcCheck = false;
        header.channelCount = channels;
        header.firstQuadripole = first;
        header.lastQuadripole = first + quadripoles - 1;
        header.nodeCount = 48;
        header.firstNode = 1;
        header.lastNode = 48;
        batches = EngineRig::Regular(quadripoles, channels);
        for (WiredScript::Batch& b : batches)
            b.first += first;
        engine.linkFactory = [this](int) {
            auto l = std::make_unique<FakeLink>();
            l->Close();
            link = l.get();
            return l;
        };
        engine.protocolFactory = [this](int, Instrument& d,
                                        Link&) -> std::unique_ptr<ProtocolGeneration> {
            if (moving)
                return std::make_unique<MovingArrayProtocol>(d, header);
            return std::make_unique<FakeProtocol>(d, header);
        };
    }

    // One live run; its ".heq".
    std::string Record() {
        engine.maxRuns = engine.runsDone + 1;
        if (!link)
            engine.ShowPortImage(true);
        script = std::make_unique<WiredScript>(*link);
        script->batches = batches;
        if (prepare)
            prepare(*script);
        script->Start();
        engine.OnSessionTimer();
        EXPECT_EQ(engine.lastResult, RunCompleted);
        return engine.heqFileName;
    }
};

// Every record drawn where the live run put it.
void ExpectPlottedInPlace(const ReplayView& view, int32_t first) {
    for (const ReplayView::Plot& plot : view.plots) {
        for (size_t k = 0; k < plot.rho.size(); ++k)
            EXPECT_EQ(plot.rho[k], WiredScript::RhoOf(first + plot.tableIndex + int(k)))
                << "table index " << plot.tableIndex + int(k);
    }
}

void ExpectSameBatches(const std::vector<BatchInfo>& replayed, const std::vector<BatchInfo>& live) {
    ASSERT_EQ(replayed.size(), live.size());
    for (size_t i = 0; i < live.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(replayed[i].firstIndex, live[i].firstIndex);
        EXPECT_EQ(replayed[i].tableIndex, live[i].tableIndex);
        EXPECT_EQ(replayed[i].batchRecords, live[i].batchRecords);
        EXPECT_EQ(replayed[i].skippedCount, live[i].skippedCount);
    }
}

constexpr const char* kCompleted = "Sequence simulation completed !  ";

} // namespace

TEST(ReplaySkips, EveryRecordLandsOnItsOwnQuadripole) {
    struct Case {
        const char* what;
        int from, to; // the quadripoles the instrument skips
        int32_t first;
    };
    // Batches of five; the second middle case splits a batch, the last one
    // has numbers that wrap past 65535.
    const Case cases[] = {{"start", 0, 4, 0},
                          {"middle", 10, 14, 0},
                          {"end", 25, 29, 0},
                          {"part of a batch", 10, 11, 0},
                          {"wrapping", 15, 19, 65520}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReplayRig rig(30, 5, c.first);
        std::vector<WiredScript::Batch> kept;
        for (WiredScript::Batch b : rig.batches) {
            const int from = c.first + c.from, to = c.first + c.to;
            if (b.first >= from && b.first + b.count - 1 <= to)
                continue;
            if (b.first < from && b.first + b.count - 1 >= from) {
                b.count = from - b.first;
            } else if (b.first <= to && b.first + b.count - 1 > to) {
                b.count -= to + 1 - b.first;
                b.first = to + 1;
            }
            kept.push_back(b);
        }
        rig.batches = kept;
        const std::string heq = rig.Record();
        const int skippedLive = rig.view.batches.back().skippedCount;

        for (bool viewOnly : {true, false}) {
            ReplayView view;
            SessionEngine replay(view, rig.settings);
            EXPECT_EQ(replay.ReplayFile(heq, viewOnly), RunCompleted);
            EXPECT_TRUE(view.errors.empty()) << view.errors.front();
            ExpectSameBatches(view.batches, rig.view.batches);
            EXPECT_EQ(view.batches.back().skippedCount, skippedLive);
            ExpectPlottedInPlace(view, c.first);
            EXPECT_EQ(view.status, c.to == 29 ? RecordingEndedText(25, 30) : kCompleted);
        }
    }
}

// A slot that received nothing keeps an older record's number: it is shown
// where it was stored.
TEST(ReplaySkips, ASlotWithoutDataStaysWhereItWasStored) {
    ReplayRig rig(20, 5);
    rig.batches.erase(rig.batches.begin() + 1); // 5 .. 9 skipped
    rig.batches[1].shortRecord = 2;             // quadripole 12 never arrives
    const std::string heq = rig.Record();
    ReplayView view;
    SessionEngine replay(view, rig.settings);
    EXPECT_EQ(replay.ReplayFile(heq, true), RunCompleted);
    ExpectSameBatches(view.batches, rig.view.batches);
    ASSERT_EQ(view.plots.size(), 3u);
    EXPECT_EQ(view.plots[1].tableIndex, 10);
    EXPECT_EQ(view.plots[1].rho[2], NoDataValue);
    EXPECT_EQ(view.plots[1].rho[3], WiredScript::RhoOf(13));
}

// Cut after every record of a batch, and inside a record: every whole record
// is shown, with a colour range from its values, and where the recording
// ended is a fact, not an error.
TEST(ReplayInterrupted, EveryWholeRecordIsShownWhereverTheRecordingStopped) {
    ReplayRig rig(12, 4);
    const std::string heq = rig.Record();
    const std::string bin = rig.engine.binFileName;
    const std::string folder = rig.root.path() + "/cut";
    fs::create_directory(folder);
    for (int records = 0; records <= 12; ++records) {
        for (int extra : {0, 150}) {
            if (records == 12 && extra > 0)
                continue;
            SCOPED_TRACE(std::to_string(records) + " records and " + std::to_string(extra));
            const std::string stem =
                folder + "/" + std::to_string(records) + "-" + std::to_string(extra);
            fs::copy_file(heq, stem + ".heq");
            fs::copy_file(bin, stem + ".bin");
            fs::resize_file(stem + ".bin", kBinHeaderSize + records * MeasureRecord::kSize + extra);
            for (bool viewOnly : {true, false}) {
                ReplayView view;
                SessionEngine replay(view, rig.settings);
                EXPECT_EQ(replay.ReplayFile(stem + ".heq", viewOnly), RunCompleted);
                EXPECT_TRUE(view.errors.empty()) << view.errors.front();
                int shown = 0;
                for (const BatchInfo& b : view.batches)
                    shown += b.batchRecords;
                EXPECT_EQ(shown, records);
                EXPECT_EQ(view.batches.size(), size_t((records + 3) / 4));
                ExpectPlottedInPlace(view, 0);
                EXPECT_EQ(view.status,
                          records == 12 ? kCompleted : RecordingEndedText(records, 12));
                if (viewOnly && records > 0) {
                    EXPECT_EQ(view.valuesAtFinish, std::vector<size_t>{size_t(records)});
                }
            }
        }
    }
}

// The moving-array state is the recording's own: an ordinary recording after
// a moving-array run shows its pages and its section, and the other way round.
TEST(ReplayMovingArray, TheRecordingDecidesNotThePreviousRun) {
    ReplayRig rig(12, 4);
    const std::string ordinary = rig.Record();
    rig.moving = true;
    const std::string moving = rig.Record();
    ASSERT_EQ(rig.engine.Device().movingArrayMode, 1);

    for (const std::string& heq : {ordinary, moving, ordinary}) {
        const bool isMoving = heq == moving;
        SCOPED_TRACE(isMoving ? "moving array" : "ordinary");
        rig.view.plots.clear();
        rig.view.batches.clear();
        EXPECT_EQ(rig.engine.ReplayFile(heq, true), RunCompleted);
        EXPECT_EQ(rig.engine.Device().movingArrayMode, isMoving ? 1 : 0);
        ASSERT_FALSE(rig.view.tabsVisible.empty());
        EXPECT_EQ(rig.view.tabsVisible.back(), !isMoving);
        EXPECT_EQ(rig.view.plots.size(), isMoving ? 0u : 3u);
        EXPECT_EQ(rig.view.batches.size(), 3u);
        EXPECT_EQ(rig.view.status, kCompleted);
    }
}

// A replay run from the window while a live session waits for Start on an
// open link: the recorded battery values are missing (-1), which makes the
// battery panel ask the instrument, and still no byte goes out; the live
// session keeps its link, open.
TEST(ReplayLink, AReplayNeverSendsAByteToTheLinkOfAWaitingSession) {
    ReplayRig rig(8, 4);
    const std::string heq = rig.Record();
    std::vector<MeasureRecord> records = ReadBin(rig.engine.binFileName);
    for (MeasureRecord& r : records)
        r.txBattery = r.rxBattery = r.temperature = -1.0f;
    const std::string bin = rig.root.path() + "/r.bin";
    fs::copy_file(heq, rig.root.path() + "/r.heq");
    ASSERT_TRUE(CreateBinFile(bin, "").ok);
    ASSERT_TRUE(AppendMeasureRecords(bin, records.data(), 8).ok);

    // The window's battery panel.
    int queries = 0;
    rig.view.onBattery = [&](float temperature, float tx, float rx) {
        if (tx == -1.0f && rx == -1.0f && temperature == -1.0f) {
            ++queries;
            BatteryState state;
            rig.engine.QueryBattery(state);
        }
    };
    // An instrument that never presses Start.
    rig.link->instrument = nullptr;
    rig.link->onStarved = nullptr;
    bool replayed = false;
    size_t sentBefore = 0, sentAfter = 0;
    int result = -1;
    Link* linkAfter = nullptr;
    bool openAfter = false;
    rig.fake.hooks.onPump = [&] {
        if (replayed || !rig.engine.sessionActive || rig.link->GetState() <= 0)
            return;
        replayed = true;
        sentBefore = rig.link->sent.size();
        result = rig.engine.ReplayFile(rig.root.path() + "/r.heq", true);
        sentAfter = rig.link->sent.size();
        linkAfter = rig.engine.CurrentLink();
        openAfter = rig.link->GetState() > 0;
        rig.link->Close(); // the live session ends
    };
    rig.engine.maxRuns = rig.engine.runsDone + 1;
    rig.engine.OnSessionTimer();
    ASSERT_TRUE(replayed);
    EXPECT_EQ(result, RunCompleted);
    EXPECT_GT(queries, 0);
    EXPECT_EQ(sentAfter, sentBefore);
    EXPECT_EQ(linkAfter, rig.link);
    EXPECT_TRUE(openAfter);
}

// A live run whose header counts more electrodes than the node table holds.
TEST(ReplayFiles, EveryRecordingTheProgramWritesReplays) {
    ReplayRig rig(8, 4);
    rig.header.nodeCount = 5000;
    const std::string heq = rig.Record();
    ReplayView view;
    SessionEngine replay(view, rig.settings);
    EXPECT_EQ(replay.ReplayFile(heq, true), RunCompleted);
    EXPECT_TRUE(view.errors.empty()) << view.errors.front();
    EXPECT_EQ(view.batches.size(), 2u);
    EXPECT_EQ(replay.Device().header.nodeCount, 5000);
}

TEST(ReplayFiles, UpperCaseNamesAreFound) {
    ReplayRig rig(8, 4);
    const std::string heq = rig.Record();
    const std::string bin = rig.engine.binFileName;
    const std::string folder = rig.root.path();
    fs::copy_file(heq, folder + "/A.HEQ");
    fs::copy_file(bin, folder + "/A.BIN");
    // Beside it a lower-case ".bin" with fewer records: the same case wins.
    fs::copy_file(bin, folder + "/A.bin");
    fs::resize_file(folder + "/A.bin", kBinHeaderSize + 4 * MeasureRecord::kSize);
    fs::copy_file(heq, folder + "/B.Heq");
    fs::copy_file(bin, folder + "/B.bin");
    EXPECT_EQ(SessionEngine::RecordedDataFileName(folder + "/A.HEQ"), folder + "/A.BIN");
    EXPECT_EQ(SessionEngine::RecordedDataFileName(folder + "/B.Heq"), folder + "/B.bin");
    EXPECT_EQ(SessionEngine::RecordedDataFileName(folder + "/C.HEQ"), folder + "/C.BIN");
    for (const char* name : {"/A.HEQ", "/B.Heq"}) {
        SCOPED_TRACE(name);
        ReplayView view;
        SessionEngine replay(view, rig.settings);
        EXPECT_EQ(replay.ReplayFile(folder + name, true), RunCompleted);
        EXPECT_TRUE(view.errors.empty()) << view.errors.front();
        EXPECT_EQ(view.batches.size(), 2u);
        EXPECT_EQ(view.status, kCompleted);
    }
}

// Each file that cannot be used gives one message, naming it and why, and
// its own result; no run result follows it.
TEST(ReplayFiles, OneFailureOneMessage) {
    ReplayRig rig(8, 4);
    const std::string heq = rig.Record();
    const std::string bin = rig.engine.binFileName;
    const std::string folder = rig.root.path() + "/bad";
    fs::create_directory(folder);
    auto pair = [&](const std::string& name) {
        fs::copy_file(heq, folder + "/" + name + ".heq");
        fs::copy_file(bin, folder + "/" + name + ".bin");
        return folder + "/" + name;
    };
    struct Case {
        std::string stem;
        std::string file; // the file the message names
        std::string reason;
        int result;
    };
    std::vector<Case> cases;
    std::string s = pair("foreign");
    testsupport::writeFile(s + ".bin", std::vector<uint8_t>(5000, 0x41));
    cases.push_back({s, s + ".bin", "is not a Pylorix data file", kReplayBinUnusable});
    s = pair("folder");
    fs::remove(s + ".bin");
    fs::create_directory(s + ".bin");
    cases.push_back({s, s + ".bin", std::strerror(EISDIR), kReplayBinUnusable});
    s = pair("short");
    fs::resize_file(s + ".heq", 1000);
    cases.push_back({s, s + ".heq", "too short", kReplayHeqUnusable});
    s = pair("heqfolder");
    fs::remove(s + ".heq");
    fs::create_directory(s + ".heq");
    cases.push_back({s, s + ".heq", std::strerror(EISDIR), kReplayHeqUnusable});
    s = pair("nobin");
    fs::remove(s + ".bin");
    cases.push_back({s, s + ".bin", "Can't open", kReplayBinUnusable});
    cases.push_back({folder + "/none", folder + "/none.heq", "Can't open", kReplayHeqUnusable});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        ReplayView view;
        SessionEngine replay(view, rig.settings);
        EXPECT_EQ(replay.ReplayFile(c.stem + ".heq", true), c.result);
        ASSERT_EQ(view.errors.size(), 1u);
        EXPECT_NE(view.errors[0].find("\"" + c.file + "\""), std::string::npos) << view.errors[0];
        EXPECT_NE(view.errors[0].find(c.reason), std::string::npos) << view.errors[0];
        EXPECT_TRUE(view.batches.empty());
        EXPECT_TRUE(view.results.empty());
    }

    // More records than the sequence has: the one case of a real mismatch,
    // after every quadripole of the sequence was shown.
    s = pair("long");
    const std::vector<MeasureRecord> records = ReadBin(s + ".bin");
    ASSERT_TRUE(AppendMeasureRecords(s + ".bin", records.data(), 4).ok);
    ReplayView view;
    SessionEngine replay(view, rig.settings);
    EXPECT_EQ(replay.ReplayFile(s + ".heq", true), RunFileMismatch);
    EXPECT_EQ(view.errors, std::vector<std::string>{RunResultMessage(RunFileMismatch)});
    EXPECT_EQ(view.batches.size(), 2u);
}
