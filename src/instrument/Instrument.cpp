#include "instrument/Instrument.h"

#include "instrument/ProtocolCommands.h"
#include "instrument/WifiProtocol.h"
#include "instrument/WiredProtocol.h"

// ---- the inert generation ----------------------------------------------------------

void ProtocolGeneration::CreateDataFile(const std::string&, const std::string&) {}
void ProtocolGeneration::AppendRecords(const std::string&, int32_t, int32_t, MeasureRecord*) {}
void ProtocolGeneration::SelectQuadripoles(int32_t, int32_t) {}
void ProtocolGeneration::SetAcquisitionParameters(std::span<const int32_t>) {}
int32_t ProtocolGeneration::ReadHeader(AcquisitionHeader&) {
    return 0;
}
int32_t ProtocolGeneration::ReadSequenceSets() {
    return 0;
}
void ProtocolGeneration::Escape() {}
void ProtocolGeneration::GetParameters() {}
void ProtocolGeneration::SetParameters() {}
void ProtocolGeneration::GetConfiguration() {}
void ProtocolGeneration::GetLastMeasure() {}
int32_t ProtocolGeneration::RunCheck() {
    return 0;
}
int32_t ProtocolGeneration::QuickMeasure(std::span<const int16_t>, bool, int32_t, int32_t) {
    return 0;
}
void ProtocolGeneration::RecallData() {}
void ProtocolGeneration::SetMode(int32_t) {}
void ProtocolGeneration::SwitchElectrodes(std::span<const int16_t>) {}
void ProtocolGeneration::ReleaseElectrodes() {}
void ProtocolGeneration::DownloadGps(uint8_t*) {}
void ProtocolGeneration::ReadChannelValues() {}
void ProtocolGeneration::ReadBattery() {}
float ProtocolGeneration::ReadInstrumentValue() {
    return 0.0f;
}
int32_t ProtocolGeneration::ReadMeasure(int32_t, MeasureRecord&) {
    return 0;
}

// ---- the device object -------------------------------------------------------------

Instrument::Instrument() : protocol(std::make_unique<ProtocolGeneration>()) {}

Instrument::~Instrument() = default;

void Instrument::SetProtocol(std::unique_ptr<ProtocolGeneration> generation) {
    protocol = generation ? std::move(generation) : std::make_unique<ProtocolGeneration>();
}

ProtocolView& Instrument::View() {
    static ProtocolView inert;
    return view ? *view : inert;
}

std::unique_ptr<ProtocolGeneration> CreateProtocolGeneration(int connectionCode, Instrument& device,
                                                             Link& link) {
    if (connectionCode == kConnectionWifiInstrument)
        return std::make_unique<WifiProtocol>(device, link);
    return std::make_unique<WiredProtocol>(device, link);
}

BatteryState QueryBatteryState(Link& link) {
    WaitCursor cursor;
    protocol::StartCommand(link, command::kBatteryQuery);
    BatteryState state;
    state.txBattery = protocol::ReadFloat32(link);
    state.rxBattery = protocol::ReadFloat32(link);
    state.temperature = protocol::ReadFloat32(link);
    link.WaitPrompt();
    return state;
}
