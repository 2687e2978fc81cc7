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

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct TruthRow {
    int acquisition = 0;
    int index = 0;
    int channel = 0;
    int attempt = 0;
    float rho = 0;
    bool damaged = false;
    std::string fault;
};

std::vector<TruthRow> ReadTruth(const std::string& path);

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

// One acquisition (or more) recorded through the engine.
struct Recording {
    testsupport::TempRoot root;
    TestHooks hooks;
    RecordingView view;
    Settings settings;
    SessionEngine engine{view, settings};
    Emulator emulator;
    std::string truthPath;
    std::vector<std::string> binFiles;

    Recording();
    ~Recording();

    QStringList BaseArgs(const QStringList& extra);
    bool StartTcp(int code, const QStringList& extra);
    bool StartPty(const QStringList& extra);
    int Run();
};

// Compares the recording with the truth of one acquisition: the last good
// copy of every record sent is in the file at its index.
void ExpectMatchesTruth(const std::vector<MeasureRecord>& records,
                        const std::vector<TruthRow>& truth, int acquisition, bool checked,
                        int* recovered = nullptr, int* unrecoverable = nullptr);

} // namespace e2e
