// The engine and the recorder against links that are slow, late or hostile,
// played by the emulator: a paced whole acquisition, a listener whose
// handshake comes late, peers that flood, wedge the downloads, hang up or
// go silent after Start. Every run must end by itself, say in words what
// happened to the link, and keep its memory bounded.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>

using namespace e2e;

// AddressSanitizer keeps freed memory in quarantine and adds its own: the
// resident size says nothing about the recorder's buffers there.
#if defined(__SANITIZE_ADDRESS__)
#define PYLORIX_MEMORY_MEASURABLE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PYLORIX_MEMORY_MEASURABLE 0
#endif
#endif
#ifndef PYLORIX_MEMORY_MEASURABLE
#define PYLORIX_MEMORY_MEASURABLE 1
#endif

namespace {

// How long a run against a faulty peer may take before the test gives up
// on it: far beyond what a run that ends by itself needs.
constexpr int kRunGuardMs = 90000;
// The recorder's memory limit under a flood.
constexpr long kRssLimitKb = 50 * 1024;
constexpr bool kMemoryMeasurable = PYLORIX_MEMORY_MEASURABLE != 0;

// A value in kB from /proc/PID/status ("VmRSS", "VmHWM"); -1 once the
// process is gone.
long StatusKb(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLong();
    return -1;
}

// pylorix-record against the emulator at port, output kept in files so
// that a chatty run never blocks on a full pipe.
class Recorder {
public:
    Recorder(const std::string& root, const std::string& port) {
        process_.setStandardOutputFile(QString::fromStdString(root + "/recorder.out"));
        process_.setStandardErrorFile(QString::fromStdString(root + "/recorder.err"));
        process_.start(PYLORIX_RECORDER,
                       {"--connection", "100", "--address",
                        QString::fromStdString("127.0.0.1:" + port), "--data-root",
                        QString::fromStdString(root), "--runs", "1", "--yes"});
        process_.waitForStarted(10000);
    }
    ~Recorder() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    qint64 Pid() const { return process_.processId(); }

    // Samples the resident memory for up to ms, or until the recorder
    // exits; returns the peak seen (VmHWM covers what happened between
    // two samples).
    long PeakKbOver(int ms) {
        long peak = 0;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && Running()) {
            const qint64 pid = Pid();
            peak = std::max({peak, StatusKb(pid, "VmRSS"), StatusKb(pid, "VmHWM")});
            process_.waitForFinished(200);
        }
        return peak;
    }

private:
    QProcess process_;
};

} // namespace

TEST(LinkFaults, PacedWholeAcquisitionIsRecordedCompletely) {
    // The default sequence: 48 electrodes, 10 levels, dipole-dipole, 990
    // quadripoles, at the USB line's 273 000 baud.
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--electrodes", "48", "--levels", "10", "--pace-baud", "273000",
                                 "--exit-when-done"}));
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired());
    EXPECT_EQ(t.engine.quadripoleCount, 990);
    const auto records = ReadBin(t.engine.binFileName);
    const auto truth = ReadTruth(t.truthPath);
    EXPECT_EQ(records.size(), 990u);
    EXPECT_EQ(truth.size(), 990u);
    ExpectMatchesTruth(records, truth, 1, true);
}

TEST(LinkFaults, LateListenerIsConnectedAndRecorded) {
    // No handshake completes for 2.5 s: the connection request and its
    // first retry (1 s later) are dropped, the retry 3 s after the request
    // gets through. A connect that gives up within a second cannot get in
    // this way, however often it starts again: every new request inside
    // the delay is dropped too.
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--accept-delay-ms", "2500", "--exit-when-done"}));
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_EQ(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired());
    EXPECT_FALSE(Contains(ShownText(t), "Unable to connect")) << ShownText(t);
    ExpectMatchesTruth(ReadBin(t.engine.binFileName), ReadTruth(t.truthPath), 1, true);
}

TEST(LinkFaults, FloodingPeerLeavesTheRecorderSmall) {
    testsupport::TempRoot root;
    {
        // 'S' without end instead of Start: the recorder keeps waiting.
        Emulator emulator;
        const std::string port = emulator.Start(
            {"--listen", "127.0.0.1:0", "--start-delay-ms", "0", "--flood", "start", "--quiet"});
        ASSERT_FALSE(port.empty());
        Recorder recorder(root.path(), port);
        ASSERT_TRUE(recorder.Running());
        const long peak = recorder.PeakKbOver(10000);
        EXPECT_TRUE(recorder.Running()) << "the recorder ended under a flood of 'S'";
        EXPECT_GT(peak, 0);
        if (kMemoryMeasurable) {
            EXPECT_LT(peak, kRssLimitKb) << "kB";
        }
    }
    {
        // Random bytes after Start: the run may end with any error or go
        // on reading junk, but memory stays bounded either way.
        Emulator emulator;
        const std::string port = emulator.Start(
            {"--listen", "127.0.0.1:0", "--start-delay-ms", "0", "--flood", "random", "--quiet"});
        ASSERT_FALSE(port.empty());
        Recorder recorder(root.path(), port);
        ASSERT_TRUE(recorder.Running());
        const long peak = recorder.PeakKbOver(10000);
        EXPECT_GT(peak, 0);
        if (kMemoryMeasurable) {
            EXPECT_LT(peak, kRssLimitKb) << "kB";
        }
    }
}

TEST(LinkFaults, WedgedPeerIsGivenUpWithAReason) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--wedge"}));
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_NE(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired()) << "the run did not give up by itself";
    const std::string shown = ShownText(t);
    EXPECT_TRUE(Contains(shown, "bad blocks in a row")) << shown;
    EXPECT_FALSE(Contains(shown, "Error in header !")) << shown;
}

TEST(LinkFaults, PeerClosingAfterStartReadsAsALinkFault) {
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--close-after-start"}));
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_NE(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired());
    const std::string shown = ShownText(t);
    EXPECT_TRUE(Contains(shown, "link closed")) << shown;
    EXPECT_FALSE(Contains(shown, "Error in header !")) << shown;
}

TEST(LinkFaults, SilentPeerAfterStartTimesOut) {
    // The instrument's silence limits (minutes) stay; the test clock jumps
    // past them once the run waits on a silent link.
    Recording t;
    ASSERT_TRUE(t.StartTcp(100, {"--hang-after-start"}));
    QElapsedTimer real;
    real.start();
    bool waiting = false;
    qint64 lastJumpAt = 0;
    int jumps = 0;
    t.hooks.onPump = [&] {
        if (!waiting && Contains(t.view.status, "Waiting for Start...")) {
            waiting = true;
            lastJumpAt = real.elapsed();
        }
        // Every 2 s of real time with the run still going, 700 s pass.
        if (waiting && real.elapsed() - lastJumpAt > 2000) {
            t.hooks.clockOffsetMs += 700000;
            lastJumpAt = real.elapsed();
            ++jumps;
        }
    };
    Watchdog guard(t.emulator.process.processId(), kRunGuardMs);
    EXPECT_NE(t.Run(), RunCompleted);
    EXPECT_FALSE(guard.Fired()) << "the run did not time out by itself";
    EXPECT_GT(jumps, 0);
    const std::string shown = ShownText(t);
    EXPECT_TRUE(Contains(shown, "link timed out")) << shown;
    EXPECT_FALSE(Contains(shown, "Error in header !")) << shown;
}
