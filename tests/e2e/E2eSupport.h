#pragma once
// What the end-to-end tests share: the emulator as a child process, the
// engine in-process with test hooks and a recording view, and the emulator's
// truth file to check a recording against.
#include "EngineHarness.h"
#include "TestSupport.h"
#include "engine/SessionEngine.h"
#include "files/AcquisitionFiles.h"
#include "link/LinkFactory.h"

#include <QProcess>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

struct TruthRow {
    int acquisition = 0;
    int index = 0; // the number the record went out with
    int channel = 0;
    int attempt = 0;
    int node[4] = {};                      // A, B, M, N
    float x[4] = {}, y[4] = {}, z[4] = {}; // electrode positions, world frame
    float rho = 0;
    bool damaged = false;
    std::string fault;
    float q = 0;
    float extra[2] = {}; // what a record's two extra values are worth
};

std::vector<TruthRow> ReadTruth(const std::string& path);

// The emulator's conversation events: Start acknowledged, operator requests
// echoed and confirmed, and how each acquisition ended.
struct EventRow {
    int acquisition = 0;
    int batches = 0; // sent in that acquisition so far
    std::string event;
};
std::vector<EventRow> ReadEvents(const std::string& path);
// How many times an event happened (in one acquisition, or in all for 0).
int CountEvents(const std::vector<EventRow>& events, const std::string& event, int acquisition = 0);

// Kills a process after a while unless disarmed first, so that a run that
// would wait for ever ends with the link closed under it.
class Watchdog {
public:
    Watchdog(qint64 pid, int ms);
    ~Watchdog();
    void Disarm();
    bool Fired() const { return fired_; }

private:
    qint64 pid_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool disarmed_ = false;
    std::atomic<bool> fired_{false};
};

uint32_t Bits(float f);

// Real clock, scripted answers, and a hook run on every pump. The clock
// can be moved forward (clockOffsetMs) so that the instrument's long
// silence limits pass without waiting for them.
class TestHooks : public UiHooks {
public:
    std::function<void()> onPump;
    std::vector<std::string> messages;
    int64_t clockOffsetMs = 0;
    void Pump() override {
        UiHooks::Pump();
        if (onPump)
            onPump();
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string&, const std::string&) override { return true; }
    bool InputText(const std::string&, const std::string&, std::string&) override { return true; }
    int64_t TickMs() override { return UiHooks::TickMs() + clockOffsetMs; }
};

class Emulator {
public:
    ~Emulator();
    // Starts the emulator; returns its first output line (port or device).
    std::string Start(const QStringList& args);
    QProcess process;
};

// The recording view, with the button states and the moments a run's files
// exist and a run ends.
class E2eView : public RecordingView {
public:
    std::map<RunButton, bool> buttonEnabled;
    std::function<void(const std::string&)> onRunStarted;
    std::function<void(int)> onRunFinished;
    std::function<void(const QualityControl&)> onQuality;
    int qualitySummaries = 0;

    void SetButtonEnabled(RunButton id, bool on) override {
        buttonEnabled[id] = on;
        RecordingView::SetButtonEnabled(id, on);
    }
    void RunStarted(const std::string& binFileName) override {
        RecordingView::RunStarted(binFileName);
        if (onRunStarted)
            onRunStarted(binFileName);
    }
    void ShowQuality(const QualityControl& quality) override {
        if (onQuality)
            onQuality(quality);
    }
    void ShowQualitySummary(const QualityControl&) override { ++qualitySummaries; }
    void RunFinished(int result) override {
        RecordingView::RunFinished(result);
        if (onRunFinished)
            onRunFinished(result);
    }
};

// One acquisition (or more) recorded through the engine.
struct Recording {
    testsupport::TempRoot root;
    TestHooks hooks;
    E2eView view;
    Settings settings;
    SessionEngine engine{view, settings};
    Emulator emulator;
    std::string truthPath;
    std::string eventsPath;
    std::vector<std::string> binFiles;

    Recording();
    ~Recording();

    QStringList BaseArgs(const QStringList& extra);
    bool StartTcp(int code, const QStringList& extra);
    bool StartPty(const QStringList& extra);
    int Run();
};

// Everything a run showed the operator: message boxes, errors, status.
std::string ShownText(const Recording& t);
bool Contains(const std::string& text, const std::string& part);

// The last copy of every record sent in one acquisition, in the order sent.
std::vector<TruthRow> LastCopies(const std::vector<TruthRow>& truth, int acquisition);

// The file holds exactly the records sent, in order: the instrument's rho
// bit for bit and its own quadripole number (a record damaged in every copy
// holds no value), and with coordsTolerance >= 0 the electrode positions.
void ExpectStored(const std::vector<MeasureRecord>& records, const std::vector<TruthRow>& sent,
                  double coordsTolerance = -1.0);

// Whole records in a file of fixed-size records behind a header; a torn
// last record fails the test.
int64_t WholeRecords(const std::string& path, size_t headerSize, size_t recordSize);

// Compares the recording with the truth of one acquisition: the last good
// copy of every record sent is in the file at its index.
void ExpectMatchesTruth(const std::vector<MeasureRecord>& records,
                        const std::vector<TruthRow>& truth, int acquisition, bool checked,
                        int* recovered = nullptr, int* unrecoverable = nullptr);

} // namespace e2e
