#pragma once
// The protocol-generation interface, behind which the two instrument
// dialects live: WiredProtocol (wired instruments: serial, USB and TCP/IP
// through a WiConnect module) and WifiProtocol (the Wi-Fi instrument).
#include "files/FileError.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <span>
#include <string>

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

    // Creates the ".bin" file and writes its 1029-byte header; the Wi-Fi
    // generation also creates an empty ".rpp" file beside it. An existing
    // file is never replaced. Raises FileError.
    virtual void CreateDataFile(const std::string& fileName, const std::string& comment);
    // Completes (Wi-Fi) and appends one batch of `count` records (0..20) to
    // the ".bin" file; the Wi-Fi generation also appends the raw records to the
    // ".rpp" file. All or nothing: raises FileError (with the system's
    // reason) and leaves every file at its last whole record when a file
    // cannot be opened or written.
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
