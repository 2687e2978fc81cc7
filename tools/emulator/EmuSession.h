#pragma once
// One monitor connected to the emulated instrument: idle commands, the
// Start handshake, the downloads and the acquisitions, with the operator's
// controls and the injected faults.
#include "EmuOptions.h"
#include "EmuRandom.h"
#include "EmuWire.h"
#include "InstrumentModel.h"
#include "Survey.h"

#include <QElapsedTimer>
#include <QString>
#include <deque>
#include <set>

namespace varmexemu {

class TEmuTransport;
class TTruthWriter;

class TEmuLog {
public:
    explicit TEmuLog(bool quiet) : quiet_(quiet) {}
    void info(const QString& text) const;

private:
    bool quiet_;
};

// Faults happen once per run of the program, even when the monitor
// connects again, and draw from their own random streams so that they do
// not change the measured values.
struct TEmuFaultState {
    explicit TEmuFaultState(uint64_t seed) : random(seed, 2), blockRandom(seed, 3) {}
    TEmuRandom random;
    TEmuRandom blockRandom;
    bool dropDone = false;
    bool badCountDone = false;
    bool badIndexDone = false;
    std::set<int> shortDone;
};

enum class SessionEnd {
    Finished, // every acquisition ran (and the idle time after them ended)
    PeerGone, // the monitor closed the link
    Dropped,  // the emulator cut the link on purpose (--drop-after)
    TimedOut  // the monitor stopped answering in the middle of an exchange
};

class TEmuSession {
public:
    TEmuSession(TEmuTransport& transport, const TEmuOptions& options, const TEmuSurvey& survey,
                TInstrumentModel& instrument, TEmuFaultState& faults, TTruthWriter* truth,
                const TEmuLog& log, int& acquisitionCounter);

    SessionEnd run();
    QString lastError() const { return lastError_; }

private:
    enum class RunEnd { Completed, Stopped, Dropped };
    enum class Control { Continue, Stop };

    qint64 now() const { return clock_.elapsed(); }
    bool wired() const { return o_.generation == Generation::Wired; }

    void waitForStartMoment(int quietMs);
    void serveIdle(int quietMs);
    void handleIdleByte(uint8_t b, bool* woke);
    void runCommand(uint8_t command);
    void runCheck();
    void startHandshake();

    RunEnd runAcquisition(int number);
    uint8_t waitForMode();
    Control serveControls(int periodMs);
    Control serveControl(uint8_t code);
    void holdPause();
    void sendRecord(const EmuMeasurement& m, uint8_t mode);
    uint8_t waitForAck();
    int shortGapMs() const;

    TEmuTransport& transport_;
    const TEmuOptions& o_;
    const TEmuSurvey& survey_;
    TInstrumentModel& instrument_;
    TEmuFaultState& faults_;
    TTruthWriter* truth_;
    const TEmuLog& log_;
    int& acquisitionCounter_;
    TEmuWire wire_;
    QElapsedTimer clock_;
    int batchesThisConnection_ = 0;
    std::deque<uint8_t> deferred_;
    QString lastError_;
};

} // namespace varmexemu
