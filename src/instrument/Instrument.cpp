#include "instrument/Instrument.h"

#include "instrument/ProtocolCommands.h"
#include "instrument/WifiProtocol.h"
#include "instrument/WiredProtocol.h"

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
