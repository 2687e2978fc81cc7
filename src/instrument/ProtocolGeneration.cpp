// The inert generation: a freshly built device can be asked anything.
#include "instrument/ProtocolGeneration.h"

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
