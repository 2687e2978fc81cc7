#include "instrument/WifiProtocol.h"

#include "common/ByteOrder.h"
#include "files/AcquisitionFiles.h"
#include "instrument/ProtocolCommands.h"
#include "instrument/SequenceSets.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kCheckRunTimeoutMs = 80000;
constexpr int kRecordAttempts = 3;
constexpr int kCheckWordTimeoutMs = 1000;

std::string RppName(const std::string& binFileName) {
    return PathToUtf8(PathFromUtf8(binFileName).replace_extension(".rpp"));
}

} // namespace

WifiProtocol::WifiProtocol(Instrument& d, Link& link) : device(d), link_(link) {}

// ---- files ---------------------------------------------------------------------------

void WifiProtocol::CreateDataFile(const std::string& fileName, const std::string& comment) {
    protocol::CreateBinDataFile(fileName, comment);
    if (FileStatus s = CreateRawRecordFile(RppName(fileName)); !s) {
        // A ".bin" without its ".rpp" would be an orphan of a run that never
        // started.
        RemoveAcquisitionFiles({fileName, {}, {}});
        throw FileError(s.message);
    }
}

namespace {
// The rho of a record that holds no reading (bit pattern 0xF2E33123).
constexpr float kNoDataRho = -9e30f;
} // namespace

void WifiProtocol::AppendRecords(const std::string& fileName, int32_t count, int32_t firstIndex,
                                 MeasureRecord* records) {
    if (count < 0 || count > wifi::kRawRecords)
        throw FileError("Invalid batch of " + std::to_string(count) + " records.");
    // The check results belong to this batch only, whatever happens below.
    bool good[wifi::kRawRecords];
    std::copy(std::begin(rawRecordGood_), std::end(rawRecordGood_), good);
    std::fill(std::begin(rawRecordGood_), std::end(rawRecordGood_), false);
    const std::string rppPath = RppName(fileName);
    const std::string rppName = PathToUtf8(PathFromUtf8(rppPath).filename());
    const double timeStamp = NowTimeStamp();
    // Decided by the acquisition's own parameter block: the operator's Stop
    // clears the device's moving-array flag, and the batch that arrives in
    // place of its echo still belongs to the moving array.
    const bool moving = IsMovingArray(parameterBlock);
    // A moving-array slot beyond the geometry table has no dipole of its
    // own: its electrodes are placed at the record's origin.
    static const uint8_t kNoGeometry[wifi::kDipoleGeometrySize] = {};
    for (int i = 0; i < count; ++i) {
        uint8_t* raw = rawRecords[i];
        StampRawRecord(raw, rppName);
        const int64_t index = int64_t(firstIndex) + i;
        const int32_t quadripole = index <= INT32_MAX ? int32_t(index) : -1;
        const uint8_t* geometry = nullptr;
        if (moving)
            geometry = i < wifi::kGeometryDipoles ? parameterBlock + wifi::kGeometry +
                                                        size_t(i) * wifi::kDipoleGeometrySize
                                                  : kNoGeometry;
        DecodeRawRecord(raw, device, quadripole, geometry, timeStamp, records[i]);
        // A record that failed its check in every copy keeps no value, as a
        // wired one does: its damaged numbers must not pass for a reading.
        // The raw copy still goes to the ".rpp", which stays in step.
        if (!good[i])
            records[i].rho = kNoDataRho;
        // The record names the quadripole by the instrument's own number, as
        // a wired record does; `index` counts from the sequence's first one.
        const int64_t number = int64_t(device.header.firstQuadripole) + index;
        records[i].quadripoleIndex = int16_t(uint16_t(uint64_t(number)));
    }

    // Both files must already exist, so that a vanished file is reported
    // instead of recreated without its earlier records; the batch reaches
    // both or neither, so they stay in step.
    if (FileStatus s =
            AppendMeasureAndRawRecords(fileName, records, count, rppPath, &rawRecords[0][0],
                                       size_t(count) * wifi::kRawRecordSize);
        !s)
        throw FileError(s.message);

    if (!device.recordCompleted)
        return;
    for (int i = 0; i < count; ++i) {
        if (!good[i])
            continue;
        try {
            device.recordCompleted(records[i]);
        } catch (const std::exception&) {
            // Statistics never stop an acquisition.
        }
    }
}

// ---- acquisition ------------------------------------------------------------------------

int32_t WifiProtocol::ReadHeader(AcquisitionHeader& header) {
    Indicator* indicator = device.View().CrcErrorIndicator();
    link_.ReceiveBlocks(configurationBlock, sizeof configurationBlock, nullptr, indicator);
    // Without a parameter block the header would describe some other
    // acquisition (or none).
    if (link_.ReceiveBlocks(parameterBlock, sizeof parameterBlock, nullptr, indicator) <= 0)
        return 0;
    const bool moving = BuildWifiHeader(parameterBlock, device.acquisitionName, header);
    device.movingArrayMode = moving ? 1 : 0;
    return 1;
}

int32_t WifiProtocol::ReadSequenceSets() {
    ProtocolView& view = device.View();
    view.SetStatusCaption("Receiving node set...");
    if (IsMovingArray(parameterBlock)) {
        device.movingArrayMode = 1;
        const int32_t result = BuildMovingArraySets(parameterBlock, device);
        if (result < 0)
            return result;
        device.header.lastQuadripole = wifi::kMovingArrayLastQuadripole;
        const int64_t count = device.header.SequenceLength();
        if (count < 1 || count > kMaxQuadripoles)
            return sets::kQuadripoleSetError;
        view.ShowReceiveIdle();
        PumpMessages();
        return int32_t(count);
    }

    device.movingArrayMode = 0;
    const AcquisitionHeader& h = device.header;
    std::vector<uint8_t> nodeBlock(sets::kNodeBlockCapacity);
    try {
        const int received = link_.ReceiveBlocks(nodeBlock.data(), nodeBlock.size(),
                                                 view.MainProgressBar(), view.CrcErrorIndicator());
        // The block carries nodes firstNode .. lastNode. The instrument's
        // count is lastNode entries (its nodes start at 1); a block that
        // does not cover the whole range is refused rather than read past.
        const int entries = received / int(sets::kNodeEntrySize);
        if (received <= 0 || !NodeRangeValid(h.firstNode, h.lastNode) || entries != h.lastNode ||
            entries < h.lastNode - h.firstNode + 1)
            return sets::kNodeSetError;
        uint8_t spare[sets::kSpareBlockSize];
        if (link_.ReceiveBlocks(spare, sizeof spare, nullptr, view.CrcErrorIndicator()) !=
            int(sets::kSpareBlockSize))
            return sets::kNodeSetError;
    } catch (const LinkError&) {
        return sets::kNodeSetError;
    }
    StoreNodeBlock(device, nodeBlock.data(), h.firstNode, h.lastNode, h.firstNode);
    return ReceiveQuadripoleSet(link_, device);
}

int32_t WifiProtocol::ReadMeasure(int32_t indexInBatch, MeasureRecord&) {
    if (indexInBatch < 0 || indexInBatch >= wifi::kRawRecords)
        return 0;
    uint8_t* raw = rawRecords[indexInBatch];
    rawRecordGood_[indexInBatch] = false;
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        const int got =
            link_.ReadBufferTimed(raw, int(wifi::kRawRecordSize), acq::kRecordTimeoutMs);
        uint8_t check[2] = {};
        const int gotCheck = link_.ReadBufferTimed(check, 2, kCheckWordTimeoutMs);
        // A closed link: nobody is there to resend.
        if (got < 0 || gotCheck < 0)
            return 0;
        // A short copy is never good, whatever its stale remainder sums to.
        if (got == int(wifi::kRawRecordSize) && gotCheck == 2 &&
            le::get16(check) == Link::Checksum16(raw, wifi::kRawRecordSize)) {
            link_.WriteByte(acq::kRecordGood);
            rawRecordGood_[indexInBatch] = true;
            return 1;
        }
        link_.WriteByte(acq::kRecordResend);
    }
    return 0;
}

// ---- parameter block ------------------------------------------------------------------

void WifiProtocol::SelectQuadripoles(int32_t count, int32_t firstIndex) {
    WriteDipoleGeometry(parameterBlock, device, count, firstIndex);
    SetParameters();
}

void WifiProtocol::SetAcquisitionParameters(std::span<const int32_t> words) {
    using namespace wifi;
    GetConfiguration();
    GetParameters();
    uint8_t* p = parameterBlock;
    auto has = [&](size_t i) { return i < words.size(); };
    auto word = [&](size_t i) { return uint32_t(words[i]); };

    if (has(0))
        le::put32(p + kDipoleCount,
                  std::min(word(0), le::get32(configurationBlock + kConfigurationChannels)));
    if (has(3))
        le::putI32(p + kSetting12, words[3]);
    if (has(4))
        le::putI32(p + kSetting16, words[4]);
    if (has(5)) {
        const double setting20 = std::bit_cast<float>(word(5));
        le::putF64(p + kSetting20A, setting20);
        le::putF64(p + kSetting20B, setting20);
    }
    if (has(6)) {
        const uint32_t w6 = word(6);
        const uint8_t b0 = uint8_t(w6), b1 = uint8_t(w6 >> 8), b2 = uint8_t(w6 >> 16),
                      b3 = uint8_t(w6 >> 24);
        p[kByte25] = uint8_t((p[kByte25] & 0xC0) | (b1 & 0x3F));
        p[kModeBits] = uint8_t((p[kModeBits] & 0x3F) | (b2 & 0x03) << 6);
        if ((b0 & 0xE0) == 0) {
            p[kModeHigh] = uint8_t((p[kModeHigh] & 0x0F) | (((b2 >> 4) - 1) & 0x0F) << 4);
            p[kModeBits] = uint8_t((p[kModeBits] & ~0x38) | 0x10);
        } else {
            p[kModeBits] = uint8_t((p[kModeBits] & ~0x3F) | (((b0 >> 5) - 1) & 0x07));
        }
        le::putF32(p + kByte27, float(b3 * 10));
    }
    // Twenty-three 16-bit settings, one per int32 from offset 56: the low
    // and high halves of w8, w9, ..., ending with the low half of w19.
    for (size_t j = 0; j < 23; ++j) {
        const size_t w = 8 + j / 2;
        if (!has(w))
            continue;
        const uint16_t half = uint16_t(j % 2 ? word(w) >> 16 : word(w));
        le::putI32(p + kSetting32 + 4 * j, int16_t(half));
    }
    SetParameters();
}

// ---- blocks ------------------------------------------------------------------------------

void WifiProtocol::Escape() {
    protocol::StartCommand(link_, command::kEscape);
}

void WifiProtocol::GetParameters() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetParameters);
    link_.ReceiveBlocks(parameterBlock, sizeof parameterBlock, nullptr,
                        device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

void WifiProtocol::SetParameters() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kSetParameters);
    link_.SendBlocks(parameterBlock, int(sizeof parameterBlock), nullptr,
                     device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

void WifiProtocol::GetConfiguration() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetConfiguration);
    link_.ReceiveBlocks(configurationBlock, sizeof configurationBlock, nullptr,
                        device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

void WifiProtocol::GetLastMeasure() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetLastMeasure);
    link_.ReceiveBlocks(&rawRecords[0][0], sizeof rawRecords, nullptr,
                        device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

void WifiProtocol::RecallData() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kRecallData);
    link_.ReceiveBlocks(&rawRecords[0][0], sizeof rawRecords, device.View().MainProgressBar(),
                        device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

// ---- control commands ------------------------------------------------------------------

int32_t WifiProtocol::RunCheck() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kRunCheck);
    ProtocolView& view = device.View();
    view.ShowMainProgressBar();
    protocol::CheckRunRules rules;
    rules.timeoutMs = kCheckRunTimeoutMs;
    rules.progressMaximum = le::getI32(parameterBlock + wifi::kSetting16);
    rules.unknownTokenEnds = true;
    rules.advanceBeforeBlock = true;
    return protocol::RunCheckTokens(link_, view.MainProgressBar(), rules, [this] {
        link_.ReceiveBlocks(&rawRecords[0][0], sizeof rawRecords, nullptr,
                            device.View().CrcErrorIndicator());
    });
}

int32_t WifiProtocol::QuickMeasure(std::span<const int16_t> list, bool useVoltage, int32_t count,
                                   int32_t firstIndex) {
    SwitchElectrodes(list);
    SelectQuadripoles(count, firstIndex);
    {
        WaitCursor cursor;
        const QuickMeasureSettings& settings = device.quickMeasureSettings;
        protocol::StartCommand(link_, command::kQuickMeasure);
        protocol::SendFloat32(link_, useVoltage ? settings.voltage : 0.0f);
        protocol::SendInt16(link_, settings.time);
        link_.WaitPrompt();
    }
    return RunCheck();
}

void WifiProtocol::SetMode(int32_t value) {
    protocol::SendMode(link_, value, true);
}

void WifiProtocol::SwitchElectrodes(std::span<const int16_t> list) {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kSwitchElectrodes);
    protocol::SendElectrodeList(link_, list, wifi::kElectrodeListSize);
    link_.WaitPrompt();
}

void WifiProtocol::ReleaseElectrodes() {
    SwitchElectrodes({});
}

void WifiProtocol::DownloadGps(uint8_t position[4]) {
    protocol::DownloadGps(link_, position);
}

void WifiProtocol::ReadChannelValues() {
    WaitCursor cursor;
    for (int k = 0; k < wifi::kChannels; ++k) {
        if (k > 0)
            link_.WaitPrompt();
        protocol::StartCommand(link_, command::kReadChannel);
        protocol::SendInt32(link_, k);
        link_.ReadBuffer(rawRecords[k] + wifi::kRawChannelValue, 8);
    }
    link_.WaitPrompt();
}

void WifiProtocol::ReadBattery() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kReadChannel);
    protocol::SendInt32(link_, 0);
    device.batteryValue = float(protocol::ReadFloat64(link_));
    link_.WaitPrompt();
}

float WifiProtocol::ReadInstrumentValue() {
    return protocol::ReadInstrumentValue(link_);
}
