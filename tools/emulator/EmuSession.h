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

class EmuTransport;
class TruthWriter;
class EventWriter;

// Where the session writes down what it sent and what it was asked (either
// may be absent).
struct EmuRecords {
    TruthWriter* truth = nullptr;
    EventWriter* events = nullptr;
};

class EmuLog {
public:
    explicit EmuLog(bool quiet) : quiet_(quiet) {}
    void info(const QString& text) const;

private:
    bool quiet_;
};

// Faults happen once per run of the program, even when the monitor
// connects again, and draw from their own random streams so that they do
// not change the measured values.
struct EmuFaultState {
    explicit EmuFaultState(uint64_t seed) : random(seed, 2), blockRandom(seed, 3) {}
    EmuRandom random;
    EmuRandom blockRandom;
    bool dropDone = false;
    bool badCountDone = false;
    bool badIndexDone = false;
    bool earlyEndDone = false;
    std::set<int> shortDone;
    std::set<int> badDone;
};

enum class SessionEnd {
    Finished, // every acquisition ran (and the idle time after them ended)
    PeerGone, // the monitor closed the link
    Dropped,  // the emulator cut the link on purpose (--drop-after)
    TimedOut  // the monitor stopped answering in the middle of an exchange
};

class EmuSession {
public:
    EmuSession(EmuTransport& transport, const EmuOptions& options, const EmuSurvey& survey,
               InstrumentModel& instrument, EmuFaultState& faults, EmuRecords records,
               const EmuLog& log, int& acquisitionCounter);

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

    // Hostile peers: they take the conversation over and end only when
    // the monitor leaves (LinkLostError) or stops reading (WireTimeout).
    [[noreturn]] void flood(FloodKind kind);
    [[noreturn]] void hangSilently();

    RunEnd runAcquisition(int number);
    uint8_t waitForMode();
    Control serveControls(int periodMs);
    Control serveControl(uint8_t code);
    void holdPause();
    void sendRecord(const EmuMeasurement& m, uint8_t mode);
    uint8_t waitForAck();
    int shortGapMs() const;
    // Writes down a conversation event of the current acquisition.
    void note(const char* what, int acquisition = 0);

    EmuTransport& transport_;
    const EmuOptions& o_;
    const EmuSurvey& survey_;
    InstrumentModel& instrument_;
    EmuFaultState& faults_;
    TruthWriter* truth_;
    EventWriter* events_;
    const EmuLog& log_;
    int& acquisitionCounter_;
    EmuWire wire_;
    QElapsedTimer clock_;
    int batchesThisConnection_ = 0;
    int batchesThisAcquisition_ = 0;
    std::deque<uint8_t> deferred_;
    QString lastError_;
};

} // namespace varmexemu
