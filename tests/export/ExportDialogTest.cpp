// The window's "Export..." dialog, its file dialog replaced: the recording
// on screen exported in the ticked formats, a live run's files as recorded
// so far, Cancel, and a failure said in a message box.
#include "ui/ExportDialog.h"

#include "ExportReaders.h"
#include "TestSupport.h"
#include "link/UiHooks.h"

#include <QCheckBox>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class MessageHooks : public UiHooks {
public:
    std::vector<std::string> messages;
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string&, const std::string&) override { return true; }
    bool InputText(const std::string&, const std::string&, std::string&) override { return false; }
};

const std::string kDemo = std::string(PYLORIX_SOURCE_DIR) + "/data/demo/Pylorix - DEMO";

std::string Text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first `records` records of the sample, as a live run leaves them.
void CopyDemoPrefix(const std::string& base, size_t records) {
    fs::copy_file(kDemo + ".heq", base + ".heq");
    const std::string bin = Text(kDemo + ".bin");
    std::ofstream(base + ".bin", std::ios::binary) << bin.substr(0, kBinHeaderSize + 304 * records);
}

} // namespace

TEST(ExportDialog, ExportsTheRecordingOnScreenInTheTickedFormats) {
    testsupport::TempRoot root;
    MessageHooks hooks;
    SetUiHooks(&hooks);
    ExportDialog dialog(kDemo + ".heq");
    std::string suggested;
    dialog.chooseDestination = [&](const std::string& s) {
        suggested = s;
        return root.path() + "/line.OHM"; // any export extension is dropped
    };
    dialog.findChild<QCheckBox*>("ExportRes2dinvCb")->setChecked(false);
    EXPECT_TRUE(dialog.ChooseAndExport());
    EXPECT_EQ(suggested, kDemo);
    EXPECT_TRUE(fs::exists(root.path() + "/line.ohm"));
    EXPECT_TRUE(fs::exists(root.path() + "/line.csv"));
    EXPECT_FALSE(fs::exists(root.path() + "/line.dat"));
    EXPECT_NE(dialog.ReportText().find("line.ohm: 799 measurements"), std::string::npos)
        << dialog.ReportText();
    EXPECT_NE(dialog.ReportText().find("41 gap fillers"), std::string::npos);
    EXPECT_TRUE(exportread::ReadOhm(Text(root.path() + "/line.ohm")).errors.empty());

    // Cancel writes nothing.
    dialog.chooseDestination = [](const std::string&) { return std::string(); };
    EXPECT_FALSE(dialog.ChooseAndExport());
    EXPECT_TRUE(hooks.messages.empty());
    SetUiHooks(nullptr);
}

TEST(ExportDialog, ALiveRunIsExportedAsFarAsItIsRecorded) {
    testsupport::TempRoot root;
    const std::string base = root.path() + "/live";
    CopyDemoPrefix(base, 100);
    // A record being appended: half of it is on disk.
    std::ofstream(base + ".bin", std::ios::binary | std::ios::app) << std::string(150, '\0');
    ExportDialog dialog(base + ".heq");
    ExportReport report = dialog.ExportTo(root.path() + "/first");
    ASSERT_TRUE(report.Ok()) << report.Describe();
    EXPECT_EQ(report.records, 100);
    const int64_t early = report.formats[0].Written();
    EXPECT_EQ(early + report.formats[0].leftOut.Total(), 100);

    // More batches came: the next export holds them.
    fs::remove(base + ".bin");
    fs::remove(base + ".heq");
    CopyDemoPrefix(base, 400);
    report = dialog.ExportTo(root.path() + "/second");
    EXPECT_EQ(report.records, 400);
    EXPECT_GT(report.formats[0].Written(), early);
}

TEST(ExportDialog, AFailureIsSaidAndNothingOnScreenMeansNothingToExport) {
    testsupport::TempRoot root;
    MessageHooks hooks;
    SetUiHooks(&hooks);
    ExportDialog dialog(kDemo + ".heq");
    dialog.chooseDestination = [&](const std::string&) {
        return root.path() + "/missing folder/x";
    };
    EXPECT_FALSE(dialog.ChooseAndExport());
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_NE(hooks.messages[0].find("Can't write"), std::string::npos) << hooks.messages[0];

    ExportDialog empty("");
    bool asked = false;
    empty.chooseDestination = [&](const std::string&) {
        asked = true;
        return root.path() + "/x";
    };
    EXPECT_FALSE(empty.ChooseAndExport());
    EXPECT_FALSE(asked);
    SetUiHooks(nullptr);
}
