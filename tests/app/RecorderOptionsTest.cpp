// The console recorder's command line, run as the program: every refused
// option ends at once with a message, the usage and exit status 2, before
// any link is opened; a recording that cannot be used has its own status.
#include "TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

// Bounded: a recorder that took a bad value would wait for an instrument.
Outcome RunRecorder(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PYLORIX_RECORDER), args);
    Outcome outcome;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        outcome.err = QStringLiteral("still running: the options were taken");
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

} // namespace

TEST(RecorderOptions, BadOptionsAreRefusedWithTheUsage) {
    struct Case {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"--runs", "abc"}, "--runs needs a whole number from 1"},
        {{"--runs", "-1"}, "--runs needs a whole number from 1"},
        {{"--connection", "-5"}, "--connection -5 is not valid"},
        {{"--connection", "usb"}, "--connection needs a number"},
        {{"--bogus"}, "bogus"},
        {{"stray"}, "unexpected argument \"stray\""},
        {{"--usb-id", "0403-6001"}, "--usb-id"},
        {{"--view", "a.heq", "--simulate", "a.heq"}, "--view and --simulate"},
        {{"--export", "ohm,xls"}, "--export: unknown export format \"xls\""},
        {{"--export", "none"}, "--export needs one or more of ohm, res2dinv, csv"},
    };
    for (const Case& c : cases) {
        const Outcome o = RunRecorder(c.args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(o.exitCode, 2) << what << ": " << o.err.toStdString();
        EXPECT_TRUE(o.err.startsWith("pylorix-record: ")) << what;
        EXPECT_TRUE(o.err.contains(QString::fromUtf8(c.says)))
            << what << ": " << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("Usage: ")) << what;
        EXPECT_TRUE(o.out.isEmpty()) << what << ": " << o.out.toStdString();
    }
}

TEST(RecorderOptions, RecordingThatCannotBeUsedHasItsOwnStatus) {
    testsupport::TempRoot root;
    const std::string missing = root.path() + "/nowhere/Line 1.heq";
    for (const char* mode : {"--view", "--simulate"}) {
        const Outcome o = RunRecorder({mode, QString::fromStdString(missing)});
        EXPECT_EQ(o.exitCode, 3) << mode << ": " << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("Line 1.heq")) << o.err.toStdString();
        EXPECT_FALSE(o.err.contains("Usage: ")); // the command line was fine
    }
    // A .heq without the .bin beside it.
    const std::string lone = root.path() + "/Line 2.heq";
    std::ofstream(lone) << "x";
    const Outcome o = RunRecorder({"--view", QString::fromStdString(lone)});
    EXPECT_EQ(o.exitCode, 3) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("Line 2.bin")) << o.err.toStdString();

    // Files that are there but are no recording: one message, for the .heq.
    std::ofstream(root.path() + "/Line 2.bin") << "x";
    const Outcome damaged = RunRecorder({"--view", QString::fromStdString(lone)});
    EXPECT_EQ(damaged.exitCode, 3) << damaged.err.toStdString();
    EXPECT_TRUE(damaged.err.contains("Line 2.heq")) << damaged.err.toStdString();
    EXPECT_EQ(damaged.err.count('\n'), 1) << damaged.err.toStdString();
}
