#pragma once
// The acquisition engine: session start and control, the acquisition loop,
// batch reception and display, and the replay of recorded files. It runs on
// the user-interface thread, pumping events while it waits, and reaches the
// screen only through its TSessionView; the main window, the console
// recorder and the tests drive the same engine.
#include "AcquisitionFiles.h"
#include "Portvirt.h"
#include "SessionTexts.h"
#include "SessionView.h"
#include "Settings.h"
#include "Varmexpro.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The rho of a slot that received nothing (bit pattern 0xF2E33123).
constexpr float NoDataValue = -9e30f;

class TSessionEngine {
public:
    using LinkFactory = std::function<std::unique_ptr<TPortVirt>(int connectionCode)>;

    TSessionEngine(TSessionView& view, TSettings& settings);
    ~TSessionEngine();
    TSessionEngine(const TSessionEngine&) = delete;
    TSessionEngine& operator=(const TSessionEngine&) = delete;

    // ---- wiring ------------------------------------------------------------
    LinkFactory linkFactory; // creates the link for a code
    // Creates the protocol generation of a run (tests replace it).
    std::function<std::unique_ptr<TVarmexProVxx>(int, TVarmexPro&, TPortVirt&)> protocolFactory =
        CreateProtocolGeneration;
    std::function<int()> usbDeviceCount; // USB devices present (0 when unknown)
    std::string sampleFolderSource;      // folder holding the demo acquisition

    // ---- session control ---------------------------------------------------
    void Timer2Timer();
    void StartSession(bool viewOnly);
    int RunAcquisition(bool viewOnly);
    void StopBtnClick();
    void PauseBtnClick();
    void ReStartBtnClick();
    void ResetBitBtnClick();
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
    // returns the run result, or a negative value below -100 when the files
    // are missing (the message has been shown).
    int ReplayFile(const std::string& heqFileName, bool viewOnly);

    // The battery query of the live panel (command 45) on the open link.
    bool QueryBattery(BatteryState& state);

    // ---- state (read by the window and the tests) --------------------------
    TPortVirt* Link() const { return link_.get(); }
    TVarmexPro& Device() { return *device_; }
    const TVarmexPro& Device() const { return *device_; }
    bool sessionActive = false;
    bool replayMode = false;
    bool closing = false;
    int lastResult = RunCompleted;
    int runsDone = 0;
    // Ends the session after this many runs (0: go on waiting for Start).
    int maxRuns = 0;
    char acquisitionName[12] = {};
    uint8_t instrumentWord[4] = {};
    std::string binFileName;
    std::string heqFileName;
    int32_t firstQuadripole = 0;
    int32_t lastQuadripole = 0;
    int32_t quadripoleCount = 0;
    int32_t batchRecords = 0;

    // Request flags of the Stop, Pause, Restart and Reset buttons.
    int stopTag = 0;
    int pauseTag = 0;
    int restartTag = 0;
    int resetTag = 0;

    // Batch state of the current run.
    MeasureRecord batch[kMaxChannels] = {};
    uint8_t raw[kMaxChannels][acq::kWiredRecordSize] = {};
    int16_t electrodeList[kDipoleListSize] = {};
    int32_t firstIndex = 0;
    int32_t recordCount = 0;
    int32_t expectedIndex = 0;
    TBatchCounters counters;
    int32_t crcFailures = 0;
    int32_t batchesDone = 0;
    int64_t runStartTime = 0;

private:
    enum class BatchOutcome { Ready, Discarded, LinkLost, Ended };

    int ConnectionCode() const { return settings_.connectionCode; }
    int UsbCount() const { return usbDeviceCount ? usbDeviceCount() : 0; }
    bool LinkOpen() const { return link_ && link_->GetState() > 0; }
    void EndSession();
    bool WakeWifiInstrument();
    // 1 Start seen, 0 the session must end.
    int WaitForStart();
    void ReportResult(int result);
    void SetRunControlsEnabled(bool enabled);

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

    BatchOutcome ObtainLiveBatch();
    BatchOutcome ObtainReplayBatch(bool viewOnly, int& result);
    // Reads up to n bytes of one record the way the link wants them.
    int ReadRecordBytes(uint8_t* buf, int n, int patience);
    void ReadWiredRecord(int slot, bool& advance);
    // 0, or RunFileError when the batch could not be stored.
    int CompleteBatch(bool viewOnly);
    void ShowEstimate();
    int TableIndex(int32_t index) const { return index - firstQuadripole; }
    void SetProgress1Maximum(int maximum);

    TSessionView& view_;
    TSettings& settings_;
    std::unique_ptr<TVarmexPro> device_;
    std::unique_ptr<TPortVirt> link_;
    std::vector<std::unique_ptr<TPortVirt>> retiredLinks_;
    // Forwards what the protocol shows to the session view.
    class TProtocolViewAdapter : public TProtocolView {
    public:
        explicit TProtocolViewAdapter(TSessionView& view) : view_(view) {}
        TProgressBar* MainProgressBar() override { return view_.ProgressBar1(); }
        TIndicator* CrcErrorIndicator() override { return view_.CrcIndicator(); }
        void SetStatusCaption(const std::string& text) override { view_.SetStatus(text); }
        void ShowReceiveIdle() override { view_.SetReceiving(false); }
        void DisplayedBatteryState(float& tx, float& rx, float& temperature) override {
            view_.DisplayedBatteryState(tx, rx, temperature);
        }

    private:
        TSessionView& view_;
    };
    TProtocolViewAdapter protocolView_;
    TBinFileReader replayReader_;
    MeasureRecord readAhead_ = {};
    bool controlsOffered_ = true;
    // A Stop whose echo was preceded by a batch still awaits confirmation.
    bool stopEchoPending_ = false;
    // The same for a Pause.
    bool pauseEchoPending_ = false;
};
