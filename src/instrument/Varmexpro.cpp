#include "Varmexpro.h"

#include "ProtocolCommands.h"
#include "Varmexnimbo.h"
#include "Varmexprov2.h"

// ---- the inert generation ----------------------------------------------------------

void TVarmexProVxx::CreateDataFile(const std::string&, const std::string&) {}
void TVarmexProVxx::AppendRecords(const std::string&, int32_t, int32_t, MeasureRecord*) {}
void TVarmexProVxx::SelectQuadripoles(int32_t, int32_t) {}
void TVarmexProVxx::SetAcquisitionParameters(std::span<const int32_t>) {}
int32_t TVarmexProVxx::ReadHeader(AcquisitionHeader&) {
    return 0;
}
int32_t TVarmexProVxx::ReadSequenceSets() {
    return 0;
}
void TVarmexProVxx::Escape() {}
void TVarmexProVxx::GetParameters() {}
void TVarmexProVxx::SetParameters() {}
void TVarmexProVxx::GetConfiguration() {}
void TVarmexProVxx::GetLastMeasure() {}
int32_t TVarmexProVxx::RunCheck() {
    return 0;
}
int32_t TVarmexProVxx::QuickMeasure(std::span<const int16_t>, bool, int32_t, int32_t) {
    return 0;
}
void TVarmexProVxx::RecallData() {}
void TVarmexProVxx::SetMode(int32_t) {}
void TVarmexProVxx::SwitchElectrodes(std::span<const int16_t>) {}
void TVarmexProVxx::ReleaseElectrodes() {}
void TVarmexProVxx::DownloadGps(uint8_t*) {}
void TVarmexProVxx::ReadChannelValues() {}
void TVarmexProVxx::ReadBattery() {}
float TVarmexProVxx::ReadInstrumentValue() {
    return 0.0f;
}
int32_t TVarmexProVxx::ReadMeasure(int32_t, MeasureRecord&) {
    return 0;
}

// ---- the device object -------------------------------------------------------------

TVarmexPro::TVarmexPro() : protocol(std::make_unique<TVarmexProVxx>()) {}

TVarmexPro::~TVarmexPro() = default;

void TVarmexPro::SetProtocol(std::unique_ptr<TVarmexProVxx> generation) {
    protocol = generation ? std::move(generation) : std::make_unique<TVarmexProVxx>();
}

TProtocolView& TVarmexPro::View() {
    static TProtocolView inert;
    return view ? *view : inert;
}

std::unique_ptr<TVarmexProVxx> CreateProtocolGeneration(int connectionCode, TVarmexPro& device,
                                                        TPortVirt& link) {
    if (connectionCode == kConnectionWifiInstrument)
        return std::make_unique<TVarmexNimbo>(device, link);
    return std::make_unique<TVarmexProV2>(device, link);
}

BatteryState QueryBatteryState(TPortVirt& link) {
    TWaitCursor cursor;
    protocol::StartCommand(link, command::kBatteryQuery);
    BatteryState state;
    state.txBattery = protocol::ReadFloat32(link);
    state.rxBattery = protocol::ReadFloat32(link);
    state.temperature = protocol::ReadFloat32(link);
    link.WaitPrompt();
    return state;
}
