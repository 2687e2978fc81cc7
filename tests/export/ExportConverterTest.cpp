// pylorix-export run as the program: what it reports per file, the files it
// writes, and its exit status for a good run, a recording it cannot read
// and an option it cannot use.
#include "ExportReaders.h"
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Outcome Convert(const QStringList& args) {
    QProcess p;
    p.start(PYLORIX_EXPORTER, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

QString Demo() {
    return QString(PYLORIX_SOURCE_DIR) + "/data/demo/Pylorix - DEMO.heq";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ExportConverter, ConvertsEachRecordingAndReportsWhatItWroteAndLeftOut) {
    testsupport::TempRoot root;
    const QString out = QString::fromStdString(root.path());
    // A second copy of the sample under another name: two files, two reports.
    fs::copy_file(Demo().toStdString(), root.path() + "/copy.heq");
    fs::copy_file(QString(PYLORIX_SOURCE_DIR).toStdString() + "/data/demo/Pylorix - DEMO.bin",
                  root.path() + "/copy.BIN");

    const Outcome all =
        Convert({Demo(), QString::fromStdString(root.path() + "/copy.heq"), "--out", out});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    for (const char* name : {"Pylorix - DEMO", "copy"})
        for (const char* ext : {".ohm", ".dat", ".csv"})
            EXPECT_TRUE(fs::exists(root.path() + "/" + name + ext)) << name << ext;
    EXPECT_TRUE(Has(all.out, "Pylorix - DEMO.ohm: 799 measurements"));
    EXPECT_TRUE(Has(all.out, "copy.csv: 799 measurements"));
    EXPECT_TRUE(Has(all.out, "res2dinv: left out 41 of 840 records (41 gap fillers)"));

    std::ifstream in(root.path() + "/copy.ohm");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(exportread::ReadOhm(text.str()).errors.empty());

    // One format, beside the recording.
    const Outcome one =
        Convert({QString::fromStdString(root.path() + "/copy.heq"), "--format", "res2dinv"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_FALSE(Has(one.out, ".ohm"));
    EXPECT_TRUE(Has(one.out, "copy.dat: 799"));

    // The sample holds five readings the quality checks flag (a high q far
    // from its neighbours' values): kept unless asked, then counted.
    const Outcome strict = Convert({QString::fromStdString(root.path() + "/copy.heq"), "--format",
                                    "ohm,csv", "--leave-out-flagged"});
    EXPECT_EQ(strict.exitCode, 0) << strict.err;
    EXPECT_TRUE(Has(strict.out, "copy.ohm: 794 measurements")) << strict.out;
    EXPECT_TRUE(Has(strict.out, "41 gap fillers, 5 flagged by the quality checks")) << strict.out;
    EXPECT_TRUE(Has(strict.out, "copy.csv: 799 measurements")) << strict.out;
}

TEST(ExportConverter, ExitStatusSaysWhetherEverythingWasWritten) {
    testsupport::TempRoot root;
    const QString out = QString::fromStdString(root.path());
    // A recording that cannot be read: the others are still converted.
    const Outcome missing = Convert({out + "/missing.heq", Demo(), "--out", out, "--format=csv"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(Has(missing.out, "missing.heq"));
    EXPECT_TRUE(Has(missing.err, "not exported in full"));
    EXPECT_TRUE(fs::exists(root.path() + "/Pylorix - DEMO.csv"));

    // A folder that cannot be written to.
    const Outcome unwritable = Convert({Demo(), "--out", out + "/no/such/folder"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_TRUE(Has(unwritable.out, "Can't write"));

    for (const QStringList& bad :
         {QStringList{Demo(), "--format", "xls"}, QStringList{"--format", "ohm"},
          QStringList{Demo(), "--out"}, QStringList{Demo(), "--frobnicate"},
          QStringList{Demo(), "--format", "none"}}) {
        const Outcome o = Convert(bad);
        EXPECT_EQ(o.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(Has(o.err, "Usage: pylorix-export")) << o.err;
    }
}
