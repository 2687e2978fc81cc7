#pragma once
// The Wi-Fi generation: the Nimbo instrument over TCP/IP (connection code 200).
//
// The instrument describes its acquisition in a configuration block and a
// parameter block, from which the header is built; measurements arrive as
// 4096-byte raw records, each acknowledged on its own (ReadMeasure) and
// completed when the batch is stored (AppendRecords), which also keeps them
// in a ".rpp" file beside the ".bin" file. A moving-array acquisition has its
// node and quadripole sets synthesised from the array geometry, and every
// record is placed at its own origin and heading.
#include "instrument/Instrument.h"
#include "instrument/InstrumentRecords.h"

class WifiProtocol : public ProtocolGeneration {
public:
    // The link must stay open and alive for the lifetime of this object.
    WifiProtocol(Instrument& device, Link& link);

    // The ".bin" file as the wired generation writes it, and an empty
    // ".rpp" file with the same path; neither may exist yet (when the ".rpp"
    // cannot be created, the new ".bin" is removed again).
    void CreateDataFile(const std::string& fileName, const std::string& comment) override;
    // Completes records[0 .. count - 1] from the raw records that ReadMeasure
    // received for this batch (count 0..20, record i for table slot
    // firstIndex + i, stored under the instrument's own quadripole number
    // header.firstQuadripole + firstIndex + i), appends them to the ".bin"
    // file and the raw records to the ".rpp" file, both or neither, then
    // offers every record that passed its check to device.recordCompleted.
    // Whether the records belong to a moving array is read from the
    // acquisition's parameter block, not from device.movingArrayMode.
    void AppendRecords(const std::string& fileName, int32_t count, int32_t firstIndex,
                       MeasureRecord* records) override;
    // Writes count (at offset 156) and the electrode geometry of up to ten
    // quadripoles from firstIndex into the parameter block, then sends it.
    void SelectQuadripoles(int32_t count, int32_t firstIndex) override;
    // words = w0 .. w19, packed into the parameter block's bit fields.
    void SetAcquisitionParameters(std::span<const int32_t> words) override;
    // Receives the configuration and parameter blocks and builds the header
    // from them and device.acquisitionName; sets device.movingArrayMode.
    // Returns 1, or 0 when no parameter block arrived.
    int32_t ReadHeader(AcquisitionHeader& header) override;
    // Normal acquisition: node block (nodes firstNode .. lastNode), 48-byte
    // block, quadripole block. Moving array: sets built from the geometry
    // (every table slot); returns the header's sequence length, 16000 from
    // the first quadripole.
    int32_t ReadSequenceSets() override;
    void Escape() override;
    void GetParameters() override;
    void SetParameters() override;
    void GetConfiguration() override;
    void GetLastMeasure() override;
    int32_t RunCheck() override;
    // Switches list (23 electrodes), selects count quadripoles from
    // firstIndex, measures, and returns the check run's result.
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
    // Receives raw record indexInBatch with its check word, answering 'U'
    // (good, result 1) or 'X' (send again); 0 after three bad copies, whose
    // last one stays in the slot. `record` is completed later by AppendRecords.
    int32_t ReadMeasure(int32_t indexInBatch, MeasureRecord& record) override;

    Instrument& device;
    uint8_t configurationBlock[wifi::kConfigurationBlockSize] = {};
    uint8_t parameterBlock[wifi::kParameterBlockSize] = {};
    uint8_t rawRecords[wifi::kRawRecords][wifi::kRawRecordSize] = {};

private:
    Link& link_;
    // Slots of the current batch whose raw record passed its check.
    bool rawRecordGood_[wifi::kRawRecords] = {};
};
