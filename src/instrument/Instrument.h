#pragma once
// The device object and the protocol-generation interface.
//
// Instrument holds everything the program knows about the instrument's
// current acquisition: the sequence store it derives from, the acquisition
// header, the last battery value, the moving-array flag and the protocol
// generation in use. ProtocolGeneration is the interface behind which the two
// instrument dialects live: WiredProtocol (wired instruments: serial, USB and
// TCP/IP through a WiConnect module) and WifiProtocol (the Wi-Fi instrument).
//
// Layering: this unit talks to the link (Link) and reaches the screen
// only through ProtocolView and the link's UiHooks; it never includes
// widgets. Everything runs on the user-interface thread.
//
// One acquisition run, as the acquisition loop drives it:
//   device.SetProtocol(CreateProtocolGeneration(code, device, link));
//   start handshake and identity bytes (acq:: codes below); copy the 11-byte
//   name into device.acquisitionName;
//   protocol->ReadHeader(device.header)       0 = header error
//   store nodeCount / quadripoleCount from the header;
//   protocol->ReadSequenceSets()              count, or -3 / -4
//   protocol->CreateDataFile(bin, "")         may raise FileError
//   per batch: wired records through WiredRecordCheckOk and
//   WiredProtocol::DecodeRecord; Wi-Fi records through protocol->ReadMeasure;
//   then protocol->AppendRecords(bin, n, firstIndex, batch).
// device.recordCompleted is set once, to the colour-range statistics.
#include "link/Link.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

class Instrument;

// ---- instrument commands ---------------------------------------------------------

namespace command {
constexpr uint8_t kEscape = 27;
constexpr uint8_t kGetParameters = 28;
constexpr uint8_t kSetParameters = 29;
constexpr uint8_t kGetConfiguration = 30;
constexpr uint8_t kGetLastMeasure = 31;
constexpr uint8_t kRunCheck = 32;
constexpr uint8_t kRecallData = 33;
constexpr uint8_t kQuickMeasure = 34;
constexpr uint8_t kSetMode = 37;
constexpr uint8_t kSwitchElectrodes = 41;
constexpr uint8_t kDownloadGps = 42;
constexpr uint8_t kReadChannel = 43;
constexpr uint8_t kReadInstrumentValue = 44;
constexpr uint8_t kBatteryQuery = 45;
// Time-out of every command handshake.
constexpr int kTimeoutMs = 2000;
} // namespace command

// ---- acquisition byte codes ------------------------------------------------------
// The single bytes the acquisition loop exchanges with the instrument around
// the protocol operations, in the order of an acquisition.

namespace acq {
constexpr uint8_t kWakeUp = '@';             // Wi-Fi only: sent until echoed
constexpr int kWakeUpWaitMs = 1000;          // wait for the echo of each '@'
constexpr uint8_t kStart = 'S';              // the operator pressed Start
constexpr uint8_t kReady = 'U';              // ready to send, after 'S'
constexpr uint8_t kStartAck[2] = {'V', 'U'}; // program acknowledges the start
constexpr uint8_t kControlsAvailable = 'X';  // Pause and Stop are available
constexpr int kStartPollMs = 100;            // polling of 'S' and 'U'
constexpr int kControlsPauseMs = 100;        // pause before waiting for 'X'
constexpr int kControlsWaitMs = 50;          // wait for 'X'
constexpr int kInstrumentWordSize = 4;       // identity: instrumentWord
constexpr int kAcquisitionNameSize = 11;     // identity: acquisitionName

// Mode byte sent after the sequence sets.
constexpr uint8_t kModeRhoOnly = 'R';
constexpr uint8_t kModeActiveCrc = 'C';
constexpr uint8_t kModeNoAcknowledge = 'A';

// Operator requests during the wait for a batch; each is echoed and then
// confirmed by sending it again.
constexpr uint8_t kResetRequest = 0xAA;
constexpr uint8_t kStopRequest = 0xA5;
constexpr uint8_t kPauseRequest = 'Z';
constexpr int kControlEchoTimeoutMs = 600000;

// Batches.
constexpr uint8_t kBatchMarker = '#';
constexpr uint8_t kEndMarker = '$';
constexpr int kBatchPollMs = 100;
constexpr int kRecordCountWaitMs = 100;
constexpr int kMaxBatchRecords = 20;

// Records of a batch.
constexpr int kWiredRecordSize = 260;     // WiredRecord
constexpr int kWiredRecordWireSize = 262; // WiredRecord + 16-bit check word
constexpr int kRhoOnlyRecordSize = 4;     // float32 rho
constexpr int kRawRecordSize = 4096;      // Wi-Fi RawRecord (+ 2-byte check word)
constexpr int kRecordTimeoutMs = 15000;   // one timed read of a whole record (TCP/IP)
constexpr int kByteWaitMs = 2;            // byte-by-byte reading on serial and USB
constexpr int kWiredMaxByteWaits = 100;   // unanswered 2 ms waits before a wired record is dropped
constexpr int kRhoOnlyMaxByteWaits = 50;  // ... before a rho-only record is dropped
constexpr uint8_t kRecordGood = 'U';      // acknowledgement: record good
constexpr uint8_t kRecordResend = 'X';    // acknowledgement: send it again
constexpr int kMaxCrcFailures = 3;        // attempts before a record is abandoned
constexpr int kStopTailWaitMs = 2000;     // silence after an early '$' that ends the run
} // namespace acq

// ---- errors and screen ---------------------------------------------------------------

// A ".bin" or ".rpp" file that cannot be created, opened or written. Raised
// by CreateDataFile and AppendRecords; the message can be shown as it is.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the protocol shows on the main window. Every member has an inert
// default so that console tools and tests implement only what they watch.
class ProtocolView {
public:
    virtual ~ProtocolView() = default;
    // The main progress bar (ProgressBar1), or none.
    virtual ProgressBar* MainProgressBar() { return nullptr; }
    // The "Crc error" label (ErrorSetUp), shown while a block is retransmitted.
    virtual Indicator* CrcErrorIndicator() { return nullptr; }
    // Makes the main progress bar visible (check runs).
    virtual void ShowMainProgressBar() {}
    // The session status caption (MainGB).
    virtual void SetStatusCaption(const std::string&) {}
    // Link-activity image back to idle (RsOffImg shown, RsOnImg hidden).
    virtual void ShowReceiveIdle() {}
    // The battery and temperature values currently on screen.
    virtual void DisplayedBatteryState(float& txBattery, float& rxBattery, float& temperature) {
        txBattery = rxBattery = temperature = 0.0f;
    }
};

// ---- the device object -----------------------------------------------------------------

// Values the quick measurement uses; filled by the caller of QuickMeasure.
struct QuickMeasureSettings {
    float voltage = 0.0f; // transmitter voltage
    int16_t time = 0;     // measurement time, instrument units
    uint8_t reserved[2] = {};
    int16_t listFlag = 0; // the wired QuickMeasure sets 1
    int16_t setting = 0;  // the wired QuickMeasure sets 12
    int32_t channelCount = 0;
};

// The protocol-generation interface. The operations of this base class do
// nothing and those with a result return 0, so a freshly built device can be
// asked anything safely. Link errors (LinkError) raised inside an operation
// reach the caller, except where an operation says otherwise.
class ProtocolGeneration {
public:
    ProtocolGeneration() = default;
    virtual ~ProtocolGeneration() = default;
    ProtocolGeneration(const ProtocolGeneration&) = delete;
    ProtocolGeneration& operator=(const ProtocolGeneration&) = delete;

    // Creates (or truncates) the ".bin" file and writes its 1029-byte header;
    // the Wi-Fi generation also creates an empty ".rpp" file beside it.
    // Raises FileError.
    virtual void CreateDataFile(const std::string& fileName, const std::string& comment);
    // Completes (Wi-Fi) and appends one batch of `count` records (0..20) to
    // the ".bin" file; the Wi-Fi generation also appends the raw records to the
    // ".rpp" file. Raises FileError; nothing is written when a file cannot
    // be opened.
    virtual void AppendRecords(const std::string& fileName, int32_t count, int32_t firstIndex,
                               MeasureRecord* records);
    // Puts the next quadripoles to measure into the parameter block and sends it.
    virtual void SelectQuadripoles(int32_t count, int32_t firstIndex);
    // Reads the configuration and parameter blocks, overwrites the leading
    // parameter words from `words` and sends the parameter block back. Words
    // not supplied leave the instrument's values as they were.
    virtual void SetAcquisitionParameters(std::span<const int32_t> words);
    // Receives the acquisition header into `header`; 0 means failure.
    virtual int32_t ReadHeader(AcquisitionHeader& header);
    // Receives the node and quadripole sets into the device's store. Returns
    // the quadripole count, -3 (node set) or -4 (quadripole set); link errors
    // are caught and reported the same way.
    virtual int32_t ReadSequenceSets();
    virtual void Escape();
    virtual void GetParameters();
    virtual void SetParameters();
    virtual void GetConfiguration();
    virtual void GetLastMeasure();
    // Token-driven check run; the instrument's final value, or 0.
    virtual int32_t RunCheck();
    // One immediate measurement. `list` holds the electrode list (A, B, M1,
    // N1, ...; shorter lists are zero padded). The wired generation uses only
    // list and useVoltage and returns 0; the Wi-Fi generation also selects
    // `count` quadripoles from `firstIndex` and returns the check run's result.
    virtual int32_t QuickMeasure(std::span<const int16_t> list, bool useVoltage, int32_t count,
                                 int32_t firstIndex);
    virtual void RecallData();
    virtual void SetMode(int32_t value);
    // Switches the electrodes of `list` (zero padded to the generation's size).
    virtual void SwitchElectrodes(std::span<const int16_t> list);
    virtual void ReleaseElectrodes();
    // Asks the operator for an NMEA sentence name and downloads up to four
    // bytes of it into position (cleared first).
    virtual void DownloadGps(uint8_t position[4]);
    virtual void ReadChannelValues();
    virtual void ReadBattery();
    virtual float ReadInstrumentValue();
    // Wi-Fi only: receives and acknowledges raw record `indexInBatch` (0..19).
    // 1 = received, 0 = abandoned after three bad copies.
    virtual int32_t ReadMeasure(int32_t indexInBatch, MeasureRecord& record);
};

class Instrument : public Sequence {
public:
    QuickMeasureSettings quickMeasureSettings;
    AcquisitionHeader header = {};
    float batteryValue = 0.0f;
    // 1 while the Wi-Fi instrument runs a moving-array acquisition, else 0.
    int32_t movingArrayMode = 0;
    // The current protocol generation; never null.
    std::unique_ptr<ProtocolGeneration> protocol;

    // The acquisition name of the run's identity bytes (11 bytes and a
    // zero). The acquisition loop stores it here before ReadHeader: the Wi-Fi
    // generation builds the header's name from it.
    char acquisitionName[acq::kAcquisitionNameSize + 1] = {};

    // The window the protocol reports to (progress, status, indicators);
    // none means an inert view.
    ProtocolView* view = nullptr;

    // Called by the Wi-Fi generation's AppendRecords with every record of the
    // batch whose raw copy passed its check, once the record is complete and
    // written. The acquisition loop points it at the colour-range statistics
    // (AddDistributionValue with the record's rho). Errors it raises are
    // ignored: statistics never stop an acquisition.
    std::function<void(const MeasureRecord&)> recordCompleted;

    Instrument();
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Replaces the protocol generation; null installs the inert one.
    void SetProtocol(std::unique_ptr<ProtocolGeneration> generation);
    ProtocolView& View();
};

// The generation for a connection code: WifiProtocol for 200 (the Wi-Fi
// instrument), WiredProtocol for every other code. The link must outlive the
// generation: install an inert protocol (SetProtocol(nullptr)) before the
// link object is destroyed.
std::unique_ptr<ProtocolGeneration> CreateProtocolGeneration(int connectionCode, Instrument& device,
                                                             Link& link);

// The live panel's battery query (command 45), the same on both generations.
struct BatteryState {
    float txBattery = 0.0f;
    float rxBattery = 0.0f;
    float temperature = 0.0f;
};
BatteryState QueryBatteryState(Link& link);
