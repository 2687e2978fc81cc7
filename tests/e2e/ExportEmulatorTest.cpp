// The export after each acquisition, against the emulator: the engine's
// run-end export asked for by the settings, and the recorder's --export.
// What the files hold is compared with the records in the ".bin".
#include "E2eSupport.h"
#include "ExportReaders.h"
#include "export/InversionExport.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

std::string Text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Base(const std::string& bin) {
    return (fs::path(bin).parent_path() / fs::path(bin).stem()).string();
}

// The records an export must hold: measured, with a value, no gap filler.
std::vector<MeasureRecord> Measured(const std::vector<MeasureRecord>& records,
                                    const Sequence& sequence, int64_t* gapFillers = nullptr) {
    std::vector<MeasureRecord> kept;
    for (const MeasureRecord& r : records) {
        const bool gap = (r.recordFlags & kRecordFlagGapFiller) ||
                         sequence.quadripoles[uint16_t(r.quadripoleIndex)].gapFiller != 0;
        if (gap && gapFillers)
            ++*gapFillers;
        if (!gap && std::isfinite(r.rho) && std::fabs(r.rho) < 1e29f)
            kept.push_back(r);
    }
    return kept;
}

double Relative(double a, double b) {
    return std::fabs(a - b) / std::max(std::fabs(b), 1e-30);
}

// The .ohm and the CSV hold every measured record, in order, with its value
// and its electrodes where the record itself says they were.
void ExpectExported(const std::string& bin, bool res2dinvWanted) {
    AcquisitionData data;
    const std::string heq = Base(bin) + ".heq";
    ASSERT_TRUE(ReadAcquisition(heq, data).ok);
    int64_t gapFillers = 0;
    const auto kept = Measured(ReadBin(bin), *data.sequence, &gapFillers);
    ASSERT_FALSE(kept.empty());

    const exportread::Ohm ohm = exportread::ReadOhm(Text(Base(bin) + ".ohm"));
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    ASSERT_EQ(ohm.data.size(), kept.size());
    const exportread::Csv csv = exportread::ReadCsv(Text(Base(bin) + ".csv"));
    ASSERT_TRUE(csv.errors.empty()) << csv.errors.front();
    ASSERT_EQ(csv.rows.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        auto row = ohm.data[i];
        EXPECT_LT(Relative(row["rhoa"], kept[i].rho), 1e-6) << i;
        const char* names[4] = {"a", "b", "m", "n"};
        for (int e = 0; e < 4; ++e) {
            const int number = int(row[names[e]]);
            if (number == 0)
                continue; // remote
            EXPECT_NEAR(ohm.electrodes[size_t(number) - 1][0], kept[i].x[e], 1e-3) << i;
            EXPECT_NEAR(ohm.electrodes[size_t(number) - 1][1], kept[i].y[e], 1e-3) << i;
        }
        EXPECT_LT(Relative(exportread::Number(csv.rows[i].at("in_mA")), kept[i].current), 1e-6);
    }
    if (!res2dinvWanted)
        return;
    size_t rows = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(bin).parent_path())) {
        if (entry.path().extension() != ".dat")
            continue;
        const exportread::Res2d dat = exportread::ReadRes2dinv(Text(entry.path().string()));
        EXPECT_TRUE(dat.errors.empty()) << entry.path() << ": " << dat.errors.front();
        rows += dat.rows.size();
    }
    EXPECT_GT(rows, 0u);
    EXPECT_LE(rows, kept.size());
}

} // namespace

TEST(ExportAfterRun, TheSettingExportsEveryRunBesideItsFiles) {
    Recording t;
    t.settings.exportAfterRun = "ohm,res2dinv,csv";
    ASSERT_TRUE(t.StartTcp(100, {"--array", "pole-dipole", "--lines", "2", "--gap-fillers", "0.1",
                                 "--bad-record", "5", "--exit-when-done"}));
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_TRUE(t.view.errors.empty()) << t.view.errors.front();
    ExpectExported(t.engine.binFileName, true);
    // Each profile its own Res2DInv file.
    EXPECT_TRUE(fs::exists(Base(t.engine.binFileName) + " - line 2.dat"));
}

TEST(ExportAfterRun, ARunCutShortIsExportedAndAFailedExportIsNoFailedRun) {
    Recording t;
    t.settings.exportAfterRun = "ohm,csv";
    // The .ohm cannot be written: a folder has its name.
    t.view.onRunStarted = [](const std::string& bin) { fs::create_directory(Base(bin) + ".ohm"); };
    ASSERT_TRUE(t.StartTcp(100, {"--drop-after", "4"}));
    EXPECT_EQ(t.Run(), RunLinkLost);
    const std::string bin = t.engine.binFileName;
    const auto records = ReadBin(bin);
    EXPECT_GT(records.size(), 0u);
    EXPECT_LT(records.size(), 180u); // the sequence's records
    EXPECT_EQ(fs::file_size(Base(bin) + ".heq"), kHeqFileSize);
    // Said once, as an export failure, beside the run's own result.
    const std::string shown = ShownText(t);
    EXPECT_TRUE(Contains(shown, "export failed")) << shown;
    EXPECT_TRUE(Contains(shown, ".ohm")) << shown;
    AcquisitionData data;
    ASSERT_TRUE(ReadAcquisition(Base(bin) + ".heq", data).ok);
    const exportread::Csv csv = exportread::ReadCsv(Text(Base(bin) + ".csv"));
    EXPECT_EQ(csv.rows.size(), Measured(records, *data.sequence).size());
}

TEST(ExportAfterRun, TheRecordersExportOptionWritesAndSaysWhatItWrote) {
    testsupport::TempRoot root;
    Emulator emulator;
    const std::string port =
        emulator.Start({"--listen", "127.0.0.1:0", "--cycle-ms", "0", "--start-delay-ms", "100",
                        "--electrodes", "24", "--levels", "4", "--exit-when-done"});
    ASSERT_FALSE(port.empty());
    QProcess recorder;
    recorder.start(PYLORIX_RECORDER,
                   {"--connection", "100", "--address", QString::fromStdString("127.0.0.1:" + port),
                    "--data-root", QString::fromStdString(root.path()), "--runs", "1", "--yes",
                    "--export", "ohm,res2dinv,csv"});
    ASSERT_TRUE(recorder.waitForFinished(60000));
    EXPECT_EQ(recorder.exitCode(), 0);
    const std::string out = recorder.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Contains(out, "Export: wrote")) << out;
    std::string bin;
    for (const auto& e : fs::directory_iterator(fs::path(root.path()) / "Pylorix Data"))
        if (e.path().extension() == ".bin")
            bin = e.path().string();
    ASSERT_FALSE(bin.empty());
    EXPECT_TRUE(Contains(out, fs::path(Base(bin) + ".ohm").filename().string())) << out;
    ExpectExported(bin, true);
}
