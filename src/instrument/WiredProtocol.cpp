#include "instrument/WiredProtocol.h"

#include "common/ByteOrder.h"
#include "files/AcquisitionFiles.h"
#include "instrument/ProtocolCommands.h"
#include "instrument/SequenceSets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kCheckRunTimeoutMs = 40000;
constexpr int16_t kQuickMeasureSetting = 12;
constexpr int16_t kQuickMeasureListFlag = 1;
// The quick measurement's answer: channel inputs 0..9 and the current input
// 10, each read with both polarities.
constexpr int kQuickMeasureValues = 22;
constexpr int kQuickMeasureCurrent = 10;
constexpr int kQuickMeasureSecondPolarity = 11;

} // namespace

WiredProtocol::WiredProtocol(Instrument& d, Link& link) : device(d), link_(link) {}

// ---- acquisition -------------------------------------------------------------------

void WiredProtocol::CreateDataFile(const std::string& fileName, const std::string& comment) {
    protocol::CreateBinDataFile(fileName, comment);
}

void WiredProtocol::AppendRecords(const std::string& fileName, int32_t count, int32_t,
                                  MeasureRecord* records) {
    if (FileStatus s = AppendMeasureRecords(fileName, records, count); !s)
        throw FileError(s.message);
}

void WiredProtocol::SelectQuadripoles(int32_t count, int32_t) {
    parameters[0] = count;
    SetParameters();
}

void WiredProtocol::SetAcquisitionParameters(std::span<const int32_t> words) {
    GetConfiguration();
    GetParameters();
    if (!words.empty())
        parameters[0] = int32_t(std::min(uint32_t(words[0]), uint32_t(configuration[0])));
    for (size_t i = 1; i < words.size() && i <= 22; ++i)
        parameters[i] = words[i];
    SetParameters();
}

int32_t WiredProtocol::ReadHeader(AcquisitionHeader& header) {
    ProtocolView& view = device.View();
    uint8_t block[AcquisitionHeader::kSize];
    const int received =
        link_.ReceiveBlocks(block, sizeof block, view.MainProgressBar(), view.CrcErrorIndicator());
    // A partial header would leave the previous acquisition's ranges in place.
    if (received != int(AcquisitionHeader::kSize))
        return 0;
    header = AcquisitionHeader::Decode(block);
    // Wired instruments never run a moving array.
    device.movingArrayMode = 0;
    return received;
}

int32_t WiredProtocol::ReadSequenceSets() {
    ProtocolView& view = device.View();
    const AcquisitionHeader& h = device.header;
    view.SetStatusCaption("Receiving node set...");
    std::vector<uint8_t> nodeBlock(sets::kNodeBlockCapacity);
    try {
        const int received = link_.ReceiveBlocks(nodeBlock.data(), nodeBlock.size(),
                                                 view.MainProgressBar(), view.CrcErrorIndicator());
        // The block carries nodes 0 .. lastNode; trailing bytes short of a
        // whole entry are ignored.
        if (received <= 0 || !NodeRangeValid(h.firstNode, h.lastNode) ||
            received / int(sets::kNodeEntrySize) != h.lastNode + 1)
            return sets::kNodeSetError;
        uint8_t spare[sets::kSpareBlockSize];
        if (link_.ReceiveBlocks(spare, sizeof spare, nullptr, view.CrcErrorIndicator()) !=
            int(sets::kSpareBlockSize))
            return sets::kNodeSetError;
    } catch (const LinkError&) {
        return sets::kNodeSetError;
    }
    StoreNodeBlock(device, nodeBlock.data(), h.firstNode, h.lastNode, 0);
    return ReceiveQuadripoleSet(link_, device);
}

void WiredProtocol::DecodeRecord(const uint8_t record[wired::kRecordSize],
                                 const char acquisitionName[11], MeasureRecord& out) {
    DecodeWiredRecord(record, acquisitionName, NowTimeStamp(), out);
}

// ---- blocks --------------------------------------------------------------------------

int WiredProtocol::ReceiveWords(int32_t* words, int count) {
    std::vector<uint8_t> bytes(size_t(count) * 4);
    for (int i = 0; i < count; ++i)
        le::putI32(bytes.data() + 4 * i, words[i]);
    const int received =
        link_.ReceiveBlocks(bytes.data(), bytes.size(), nullptr, device.View().CrcErrorIndicator());
    for (int i = 0; i < count; ++i)
        words[i] = le::getI32(bytes.data() + 4 * i);
    return received;
}

int WiredProtocol::ReceiveLastMeasure(ProgressBar* bar) {
    return link_.ReceiveBlocks(&lastMeasure[0][0], sizeof lastMeasure, bar,
                               device.View().CrcErrorIndicator());
}

void WiredProtocol::Escape() {
    protocol::StartCommand(link_, command::kEscape);
}

void WiredProtocol::GetParameters() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetParameters);
    ReceiveWords(parameters, wired::kParameterWords);
    link_.WaitPrompt();
}

void WiredProtocol::SetParameters() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kSetParameters);
    uint8_t bytes[wired::kParameterWords * 4];
    for (int i = 0; i < wired::kParameterWords; ++i)
        le::putI32(bytes + 4 * i, parameters[i]);
    link_.SendBlocks(bytes, int(sizeof bytes), nullptr, device.View().CrcErrorIndicator());
    link_.WaitPrompt();
}

void WiredProtocol::GetConfiguration() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetConfiguration);
    ReceiveWords(configuration, wired::kConfigurationWords);
    link_.WaitPrompt();
}

void WiredProtocol::GetLastMeasure() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kGetLastMeasure);
    ReceiveLastMeasure(nullptr);
    link_.WaitPrompt();
}

void WiredProtocol::RecallData() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kRecallData);
    ReceiveLastMeasure(device.View().MainProgressBar());
    link_.WaitPrompt();
}

// ---- control commands ------------------------------------------------------------------

int32_t WiredProtocol::RunCheck() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kRunCheck);
    ProtocolView& view = device.View();
    view.ShowMainProgressBar();
    protocol::CheckRunRules rules;
    rules.timeoutMs = kCheckRunTimeoutMs;
    rules.progressMaximum = int64_t(parameters[4]) + 3;
    return protocol::RunCheckTokens(link_, view.MainProgressBar(), rules,
                                    [this] { ReceiveLastMeasure(nullptr); });
}

int32_t WiredProtocol::QuickMeasure(std::span<const int16_t> list, bool useVoltage, int32_t,
                                    int32_t) {
    QuickMeasureSettings& settings = device.quickMeasureSettings;
    settings.listFlag = kQuickMeasureListFlag;
    settings.setting = kQuickMeasureSetting;
    const float v = useVoltage ? settings.voltage : 0.0f;

    WaitCursor cursor;
    // The instrument may be busy finishing something: insist until it takes
    // the command (a closed link ends this with a link error).
    for (;;) {
        link_.ClearOutput();
        link_.FlushInput();
        if (link_.SendCommand(command::kQuickMeasure, command::kTimeoutMs))
            break;
    }
    protocol::SendFloat32(link_, v);
    protocol::SendInt16(link_, settings.time);
    protocol::SendInt16(link_, settings.setting);
    protocol::SendInt16(link_, settings.listFlag);
    uint8_t electrodes[wired::kElectrodeListSize * 2] = {};
    for (size_t i = 0; i < size_t(wired::kElectrodeListSize) && i < list.size(); ++i)
        le::putI16(electrodes + 2 * i, list[i]);
    link_.WriteBuffer(electrodes, int(sizeof electrodes));
    link_.WriteByte('U');

    // (channels + 1) x 8 bytes: all of them are read to keep in step with
    // the instrument, the first 22 values are used.
    const int channels = std::clamp(configuration[0], 0, kMaxChannels);
    const int answerBytes = (channels + 1) * 8;
    std::vector<uint8_t> answer(size_t(answerBytes), 0);
    link_.ReadBuffer(answer.data(), answerBytes);
    float p[kQuickMeasureValues] = {};
    for (int i = 0; i < kQuickMeasureValues && 4 * (i + 1) <= answerBytes; ++i)
        p[i] = le::getF32(answer.data() + 4 * i);

    float tx = 0.0f, rx = 0.0f, temperature = 0.0f;
    device.View().DisplayedBatteryState(tx, rx, temperature);
    const float current =
        (p[kQuickMeasureCurrent] - p[kQuickMeasureCurrent + kQuickMeasureSecondPolarity]) * 0.5f;
    const int used = std::clamp(settings.channelCount, 0, wired::kLastMeasureRecords);
    for (int e = 0; e < used; ++e) {
        uint8_t* r = lastMeasure[e];
        using namespace wired;
        r[kChannelByte] = uint8_t((uint32_t(settings.channelCount) << 4) | uint32_t(e));
        r[kRecordFlags] = 2;
        le::putI16(r + kQuadripoleIndex, 0);
        le::putI32(r + kExtra264, device.header.setting80);
        le::putI32(r + kExtra268, device.header.setting84);
        le::putI16(r + kTime1, settings.time);
        le::put16(r + kTime2, 0);
        std::memset(r + kWindowTimes, 0, 20 * 2);
        const float sp = (p[e] + p[e + kQuickMeasureSecondPolarity]) * 0.5f;
        const float vp = (p[e] - p[e + kQuickMeasureSecondPolarity]) * 0.5f;
        le::putF32(r + kSp, sp);
        le::putF32(r + kVp, vp);
        le::putF32(r + kCurrent, current);
        le::putF32(r + kRho, std::fabs(current) > 0.001f ? vp / current : 0.0f);
        le::putF32(r + kQ, 0.0f);
        le::putF32(r + kExtra272, 0.0f);
        le::putF32(r + kChannelValue, 0.0f);
        le::putF32(r + kChargeability, 0.0f);
        le::putF32(r + kTxBattery, tx);
        le::putF32(r + kRxBattery, rx);
        le::putF32(r + kTemperature, temperature);
        le::putF32(r + kExtra280, v);
        std::memset(r + kWindowValues, 0, 20 * 4);
    }
    link_.WriteByte(0);
    link_.WaitPrompt();
    return 0;
}

void WiredProtocol::SetMode(int32_t value) {
    protocol::SendMode(link_, value, value != 0);
}

void WiredProtocol::SwitchElectrodes(std::span<const int16_t> list) {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kSwitchElectrodes);
    protocol::SendElectrodeList(link_, list, wired::kElectrodeListSize);
    link_.WaitPrompt();
}

void WiredProtocol::ReleaseElectrodes() {
    SwitchElectrodes({});
}

void WiredProtocol::DownloadGps(uint8_t position[4]) {
    protocol::DownloadGps(link_, position);
}

void WiredProtocol::ReadChannelValues() {
    WaitCursor cursor;
    for (int k = 0; k < wired::kChannels; ++k) {
        if (k > 0)
            link_.WaitPrompt();
        protocol::StartCommand(link_, command::kReadChannel);
        protocol::SendInt32(link_, k);
        link_.ReadBuffer(lastMeasure[k] + wired::kChannelValue, 4);
    }
    link_.WaitPrompt();
}

void WiredProtocol::ReadBattery() {
    WaitCursor cursor;
    protocol::StartCommand(link_, command::kReadChannel);
    protocol::SendInt32(link_, 0);
    device.batteryValue = protocol::ReadFloat32(link_);
    link_.WaitPrompt();
}

float WiredProtocol::ReadInstrumentValue() {
    return protocol::ReadInstrumentValue(link_);
}
