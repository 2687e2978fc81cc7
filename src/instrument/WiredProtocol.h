#pragma once
// The wired generation: instruments with ten receiver channels reached over
// a serial port, USB, or TCP/IP through a WiConnect module.
//
// In an acquisition it receives the header and the node and quadripole sets
// into the device's store and writes the ".bin" file; the acquisition loop
// reads each 262-byte record itself and decodes it with DecodeRecord. The
// other operations are the instrument-control commands.
#include "instrument/Instrument.h"
#include "instrument/InstrumentRecords.h"

class WiredProtocol : public ProtocolGeneration {
public:
    // The link must stay open and alive for the lifetime of this object.
    WiredProtocol(Instrument& device, Link& link);

    void CreateDataFile(const std::string& fileName, const std::string& comment) override;
    // Appends count records (0..20) to the ".bin" file; firstIndex unused.
    void AppendRecords(const std::string& fileName, int32_t count, int32_t firstIndex,
                       MeasureRecord* records) override;
    // parameters[0] = count, then SetParameters; firstIndex unused.
    void SelectQuadripoles(int32_t count, int32_t firstIndex) override;
    // words = w0 .. w22: parameters[0] = the smaller of w0 and the channel
    // count (unsigned), parameters[1..22] = w1 .. w22.
    void SetAcquisitionParameters(std::span<const int32_t> words) override;
    // Receives the 136-byte header; returns 136, or 0 when the block did not
    // arrive whole (header then unchanged).
    int32_t ReadHeader(AcquisitionHeader& header) override;
    // Uses device.header (firstNode, lastNode, first/lastQuadripole).
    int32_t ReadSequenceSets() override;
    void Escape() override;
    void GetParameters() override;
    void SetParameters() override;
    void GetConfiguration() override;
    void GetLastMeasure() override;
    int32_t RunCheck() override;
    // Measures all channels at once into lastMeasure with the device's
    // quickMeasureSettings; list holds 13 electrodes. Returns 0.
    int32_t QuickMeasure(std::span<const int16_t> list, bool useVoltage, int32_t count,
                         int32_t firstIndex) override;
    void RecallData() override;
    void SetMode(int32_t value) override;
    void SwitchElectrodes(std::span<const int16_t> list) override;
    void ReleaseElectrodes() override;
    void DownloadGps(uint8_t position[4]) override;
    void ReadChannelValues() override;
    void ReadBattery() override;
    float ReadInstrumentValue() override;

    // Decodes a record of the acquisition stream (its 260 bytes; check the
    // word after it with WiredRecordCheckOk first), stamped with the current
    // local date and time.
    static void DecodeRecord(const uint8_t record[wired::kRecordSize],
                             const char acquisitionName[11], MeasureRecord& out);

    Instrument& device;
    uint8_t lastMeasure[wired::kLastMeasureRecords][wired::kRecordSize] = {};
    int32_t parameters[wired::kParameterWords] = {};
    int32_t configuration[wired::kConfigurationWords] = {};

private:
    // Receives a block over the current content of a word array, so that a
    // short block leaves the words after it as they were.
    int ReceiveWords(int32_t* words, int count);
    int ReceiveLastMeasure(ProgressBar* bar);

    Link& link_;
};
