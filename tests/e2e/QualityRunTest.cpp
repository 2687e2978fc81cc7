// The live quality checks against the emulator: an electrode with a poor
// contact is named while the run is young, every reciprocal pair gets its
// error, the sidecar lists the flagged measurements, and the recorder says
// it all as the run goes.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Distinct records the emulator sent as reciprocals (its truth column).
int ReciprocalsSent(const std::string& truthPath) {
    const auto lines = Lines(truthPath);
    if (lines.empty())
        return -1;
    auto cells = [](const std::string& line) {
        std::vector<std::string> out;
        std::stringstream in(line);
        std::string cell;
        while (std::getline(in, cell, ','))
            out.push_back(cell);
        return out;
    };
    const auto header = cells(lines.front());
    const auto column = std::find(header.begin(), header.end(), "is_reciprocal") - header.begin();
    const auto index = std::find(header.begin(), header.end(), "index") - header.begin();
    std::set<std::string> sent;
    for (size_t k = 1; k < lines.size(); ++k) {
        const auto row = cells(lines[k]);
        if (size_t(column) < row.size() && row[size_t(column)] == "1")
            sent.insert(row[size_t(index)]);
    }
    return int(sent.size());
}

} // namespace

TEST(QualityRun, BadElectrodeIsNamedEarlyAndEveryReciprocalPairIsJudged) {
    Recording t;
    int64_t doneWhenNamed = -1;
    std::set<int32_t> everSuspect;
    t.view.onQuality = [&](const QualityControl& quality) {
        for (int32_t node : quality.SuspectElectrodes())
            everSuspect.insert(node);
        // The batch being shown is not logged yet: count it from the log.
        if (doneWhenNamed < 0 && quality.IsSuspect(17))
            doneWhenNamed = t.view.batches.empty() ? 0 : t.view.batches.back().done;
    };
    ASSERT_TRUE(t.StartTcp(
        100, {"--bad-electrode", "17", "--reciprocals", "2", "--seed", "7", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    ASSERT_FALSE(t.view.batches.empty());
    const int64_t total = t.view.batches.back().total;
    ASSERT_GE(doneWhenNamed, 0) << "electrode 17 was never named";
    EXPECT_LT(doneWhenNamed, total / 2);
    EXPECT_EQ(everSuspect, std::set<int32_t>{17});

    const QualityControl& quality = t.engine.Quality();
    EXPECT_TRUE(quality.IsSuspect(17));
    // Every pair the emulator appended is found and judged.
    EXPECT_EQ(quality.reciprocalPairs(), ReciprocalsSent(t.truthPath));
    EXPECT_GT(quality.reciprocalPairs(), 50);
    for (int i = 0; i < quality.quadripoleCount(); ++i) {
        if (quality.ReciprocalOf(i) >= 0 && quality.quality(i).measured &&
            quality.quality(quality.ReciprocalOf(i)).measured) {
            ASSERT_GE(quality.quality(i).reciprocalError, 0) << "pair at " << i;
        }
    }
    EXPECT_EQ(t.view.qualitySummaries, 1);

    // The sidecar: one line per flagged measurement; the acquisition files
    // themselves are as the instrument sent them.
    const auto lines = Lines(SessionEngine::QualityFileName(t.engine.binFileName));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("position,a,b,m,n,rhoa", 0), 0u);
    EXPECT_EQ(int(lines.size()) - 1, quality.flaggedCount());
    ExpectMatchesTruth(ReadBin(t.engine.binFileName), ReadTruth(t.truthPath), 1, false);
}

TEST(QualityRun, RecorderPrintsTheQcLineAsItGoesAndASummaryAtTheEnd) {
    testsupport::TempRoot root;
    Emulator emulator;
    const std::string port = emulator.Start(
        {"--listen", "127.0.0.1:0", "--cycle-ms", "0", "--start-delay-ms", "100", "--electrodes",
         "32", "--levels", "6", "--bad-electrode", "9", "--exit-when-done"});
    ASSERT_FALSE(port.empty());
    QProcess recorder;
    recorder.start(PYLORIX_RECORDER,
                   {"--connection", "100", "--address", QString::fromStdString("127.0.0.1:" + port),
                    "--data-root", QString::fromStdString(root.path()), "--runs", "1", "--yes"});
    ASSERT_TRUE(recorder.waitForFinished(60000));
    EXPECT_EQ(recorder.exitCode(), 0);
    const std::string out = recorder.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Contains(out, "QC: ")) << out;
    EXPECT_TRUE(Contains(out, "electrode 9 suspect")) << out;
    EXPECT_TRUE(Contains(out, "QC summary: ")) << out;
    EXPECT_TRUE(Contains(out, "suspect electrode 9: ")) << out;
    // The sidecar sits beside the data file.
    int sidecars = 0;
    for (const auto& e : fs::directory_iterator(fs::path(root.path()) / "Pylorix Data"))
        sidecars += e.path().filename().string().ends_with(".qc.csv") ? 1 : 0;
    EXPECT_EQ(sidecars, 1);
}
