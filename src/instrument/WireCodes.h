#pragma once
// The instrument's command numbers and the single bytes the acquisition
// loop exchanges with it around the protocol operations.
#include <cstdint>

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
