#pragma once
// The acquisition engine: session start and control, the acquisition loop,
// batch reception and display, and the replay of recorded files. It runs on
// the user-interface thread, pumping events while it waits, and reaches the
// screen only through its SessionView; the main window, the console
// recorder and the tests drive the same engine.
#include "engine/SessionTexts.h"
#include "engine/SessionView.h"
#include "files/AcquisitionFiles.h"
#include "instrument/Instrument.h"
#include "link/Link.h"
#include "quality/QualityControl.h"
#include "settings/Settings.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// How long the window and the recorder wait before they try to open a link
// that failed to open.
constexpr int kOpenRetryMs = 5000;

// After a run that could not store its data: how long to wait for the echo
// of the Stop sent to the instrument, how long a quiet line must last, and
// the longest the engine waits for it.
constexpr int kQuietenEchoMs = 3000;
constexpr int kQuietLineMs = 1500;
constexpr int kQuietenLimitMs = 30000;

// The rho of a slot that received nothing (bit pattern 0xF2E33123).
constexpr float NoDataValue = -9e30f;

// What ReplayFile returns when a file of a recording cannot be used: the
// ".heq" is missing, cannot be read or is damaged; the ".bin" is missing,
// cannot be read or is not a data file.
constexpr int kReplayHeqUnusable = -101;
constexpr int kReplayBinUnusable = -102;

// The status after a replay of a recording that ended before its sequence
// did: "Recording ended at N of M quadripoles".
std::string RecordingEndedText(int64_t reached, int64_t total);

class SessionEngine {
public:
    using LinkFactory = std::function<std::unique_ptr<Link>(int connectionCode)>;

    SessionEngine(SessionView& view, Settings& settings);
    ~SessionEngine();
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    // ---- wiring ------------------------------------------------------------
    LinkFactory linkFactory; // creates the link for a code
    // Creates the protocol generation of a run (tests replace it).
    std::function<std::unique_ptr<ProtocolGeneration>(int, Instrument&, Link&)> protocolFactory =
        CreateProtocolGeneration;
    std::function<int()> usbDeviceCount; // USB devices present (0 when unknown)
    std::string sampleFolderSource;      // folder holding the demo acquisition

    // ---- session control ---------------------------------------------------
    void OnSessionTimer();
    void StartSession(bool viewOnly);
    int RunAcquisition(bool viewOnly);
    void RequestStop();
    void RequestPause();
    void RequestRestart();
    void RequestReset();
    // The device-change notification (a USB device came or went).
    void DeviceChanged();
    // Every event the window receives: a TCP/IP connection keeps a link
    // object ready.
    void EnsureNetworkLink();
    void ShowPortImage(bool create);
    void CloseLink();
    // The window is closing: the loop ends at its next cycle.
    void RequestClose();

    // ---- replay ------------------------------------------------------------
    // The "View file" / "Simulate file" buttons: copies the sample, asks for
    // a file and replays it.
    void OpenRecordedAcquisition(bool viewOnly);
    // Replays a given ".heq" (and the ".bin" beside it) without a dialog;
    // returns the run result, or kReplayHeqUnusable / kReplayBinUnusable
    // when a file cannot be used (its message has been shown, and no other).
    // A recording that ends before its sequence does is shown whole and
    // completes; the status then says where it ended (RecordingEndedText).
    int ReplayFile(const std::string& heqFileName, bool viewOnly);
    // The ".bin" of a recording: the ".heq" name with the extension ".bin"
    // in the same letter case (X.HEQ: X.BIN), else in any other case that
    // exists; the same-case name when none does.
    static std::string RecordedDataFileName(const std::string& heqFileName);

    // Whether acquisition files can be written into the data folder (by
    // writing a probe file); the reason in words when not. Asked at start-up
    // and again before a Start is acknowledged.
    bool DataFolderWritable(std::string& reason);

    // The battery query of the live panel (command 45) on the open link.
    bool QueryBattery(BatteryState& state);

    // The ".heq" of the acquisition on screen: the live run's (its ".bin"
    // holds what has been recorded so far) or the recording replayed; empty
    // before the first. A rho-only run names files it never wrote.
    const std::string& ShownAcquisition() const { return heqFileName; }

    // The live quality checks of the acquisition on screen, fed with every
    // batch; a live run writes its flagged measurements beside its ".bin"
    // as "NAME.qc.csv" when it ends.
    const QualityControl& Quality() const { return quality_; }
    // The limits the settings give the quality checks (the run's and an
    // export's alike).
    QualityLimits QualityLimitsFromSettings() const;
    static std::string QualityFileName(const std::string& binFileName);

    // ---- state (read by the window and the tests) --------------------------
    Link* CurrentLink() const { return link_.get(); }
    Instrument& Device() { return *device_; }
    const Instrument& Device() const { return *device_; }
    bool sessionActive = false;
    bool replayMode = false;
    bool closing = false;
    int lastResult = RunCompleted;
    int runsDone = 0;
    // Ends the session after this many runs (0: go on waiting for Start).
    int maxRuns = 0;
    // Why the link could not be opened, in words; empty after a success or
    // a cancelled prompt.
    std::string openFailure;
    // The caller should try to open the link again in a while (the window
    // and the recorder do): it failed, and trying again may help.
    bool RetryWanted() const { return !openFailure.empty() && !openFailureFinal_; }
    // Failed opens in a row; the first shows its message box, later ones
    // only the status.
    int openFailures = 0;
    // The link fault that ended the last run's start, in words.
    std::string linkFault;
    char acquisitionName[12] = {};
    uint8_t instrumentWord[4] = {};
    std::string binFileName;
    std::string heqFileName;
    int32_t firstQuadripole = 0;
    int32_t lastQuadripole = 0;
    int32_t quadripoleCount = 0;
    int32_t batchRecords = 0;

    // Request flags of the Stop, Pause, Restart and Reset buttons.
    int stopRequested = 0;
    int pauseRequested = 0;
    int restartRequested = 0;
    int resetRequested = 0;

    // Batch state of the current run.
    MeasureRecord batch[kMaxChannels] = {};
    uint8_t raw[kMaxChannels][acq::kWiredRecordSize] = {};
    int16_t electrodeList[kDipoleListSize] = {};
    // 64-bit: a header may put the last quadripole next to INT32_MAX, and
    // index + count must not overflow there.
    int64_t firstIndex = 0;
    int32_t recordCount = 0;
    int64_t expectedIndex = 0;
    BatchCounters counters;
    int32_t crcFailures = 0;
    int32_t batchesDone = 0;
    int64_t runStartTime = 0;

private:
    bool openFailureFinal_ = false;
    // A live or replayed run is between its start and its result: requests
    // and the trip-counter reset belong to it.
    bool runActive_ = false;
    // A marker byte read while deciding whether a stopped run goes on: it
    // is the next cycle's own byte and must not be lost.
    int heldCycleByte_ = -1;
    // A byte read where the controls byte 'X' may come that was not 'X':
    // the first byte of the identity of an instrument without controls.
    int heldIdentityByte_ = -1;
    // The files of the current run, once created.
    AcquisitionFileNames runFiles_;
    bool runFilesCreated_ = false;
    QualityControl quality_;
    // Records of the batch being read that arrived whole, and whether the
    // link was lost after them.
    bool linkLostAfterBatch_ = false;
    // The mode byte went out: the instrument is running its sequence.
    bool modeSent_ = false;
    // The run is a moving array (decided once its sets have come).
    bool movingRun_ = false;
    std::string faultStage_;
    enum class BatchOutcome { Ready, Discarded, LinkLost, Ended };

    int ConnectionCode() const { return settings_.connectionCode; }
    int UsbCount() const { return usbDeviceCount ? usbDeviceCount() : 0; }
    bool LinkOpen() const { return link_ && link_->GetState() > 0; }
    void EndSession();
    bool WakeWifiInstrument();
    // 1 Start seen, 0 the session must end.
    int WaitForStart();
    void ReportResult(int result);
    // After a run ended on a file failure the instrument may still be
    // sending: stop its sequence and let the line fall quiet, so that the
    // next wait for Start does not read the stream as a new Start.
    void QuietenInstrument();
    void SetRunControlsEnabled(bool enabled);
    // The export the settings ask for after a live run, beside its files.
    void ExportAfterRun();
    void WriteQualityFile();

    int RunAcquisitionSteps(bool viewOnly);
    int RunStartLive();
    int RunStartReplay();
    void Prepare(bool viewOnly);
    // Reads one cycle byte while serving the operator's requests.
    int WaitForCycleByte(int& c);
    // Holds a confirmed pause until Restart or a byte from the instrument;
    // returns the cycle byte ('#', '$' or 0).
    int HoldPause();
    // Open, or closed by the peer with its last bytes still to be read.
    bool LinkReadable() const {
        return link_ && (link_->GetState() > 0 || link_->InputCount() > 0);
    }

    // RunLinkFault when the link failed under a start step (and keeps the
    // fault for the message), else the step's own error.
    int StartStepFailed(int error, const char* stage);

    BatchOutcome ObtainLiveBatch();
    BatchOutcome ObtainReplayBatch(bool viewOnly, int& result);
    // Reads up to n bytes of one record the way the link wants them.
    int ReadRecordBytes(uint8_t* buf, int n, int patience);
    // False when the record did not arrive whole.
    bool ReadWiredRecord(int slot, bool& advance);
    // 0, or RunFileError when the batch could not be stored.
    int CompleteBatch(bool viewOnly);
    void ShowEstimate();
    int TableIndex(int64_t index) const { return int(index - firstQuadripole); }
    void SetMainProgressMaximum(int maximum);

    SessionView& view_;
    Settings& settings_;
    std::unique_ptr<Instrument> device_;
    std::unique_ptr<Link> link_;
    std::vector<std::unique_ptr<Link>> retiredLinks_;
    // Forwards what the protocol shows to the session view.
    class ProtocolViewAdapter : public ProtocolView {
    public:
        explicit ProtocolViewAdapter(SessionView& view) : view_(view) {}
        ProgressBar* MainProgressBar() override { return view_.MainProgressBar(); }
        Indicator* CrcErrorIndicator() override { return view_.CrcIndicator(); }
        void SetStatusCaption(const std::string& text) override { view_.SetStatus(text); }
        void ShowReceiveIdle() override { view_.SetReceiving(false); }
        void DisplayedBatteryState(float& tx, float& rx, float& temperature) override {
            view_.DisplayedBatteryState(tx, rx, temperature);
        }

    private:
        SessionView& view_;
    };
    ProtocolViewAdapter protocolView_;
    // The recording being replayed: its ".heq" content (read, with the
    // tables, before the session starts), its ".bin", and the record read
    // ahead, which tells whether the batch goes on.
    HeqContent replayContent_;
    BinFileReader replayReader_;
    MeasureRecord readAhead_ = {};
    bool readAheadValid_ = false;
    // Quadripoles from the first up to the last one shown.
    int64_t replayReached_ = 0;
    // The status of a replay that completed: "Sequence simulation
    // completed !  ", or where a recording that stopped early ended.
    std::string ReplayCompletedText() const;
    // Where a recorded record belongs: the quadripole of its own number at
    // or after `expected`; a record without data, or one whose number names
    // no quadripole left, belongs where it was stored, at `expected`.
    int64_t RecordedIndex(const MeasureRecord& record, int64_t expected) const;
    BatchOutcome EndReplay(bool viewOnly, int& result, int outcome);
    bool controlsOffered_ = true;
    // A Stop whose echo was preceded by a batch still awaits confirmation.
    bool stopEchoPending_ = false;
    // The same for a Pause.
    bool pauseEchoPending_ = false;
};
