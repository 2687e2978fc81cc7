#pragma once
// The device object, and how one acquisition run drives its protocol
// generation.
//
// Instrument holds everything the program knows about the instrument's
// current acquisition: the sequence store it derives from, the acquisition
// header, the last battery value, the moving-array flag and the protocol
// generation in use. ProtocolGeneration is the interface behind which the two
// instrument dialects live: WiredProtocol (wired instruments: serial, USB and
// TCP/IP through a WiConnect module) and WifiProtocol (the Wi-Fi instrument).
//
// Layering: this unit talks to the link (Link) and reaches the screen
// only through ProtocolView and the link's UiHooks; it never includes
// widgets. Everything runs on the user-interface thread.
//
// One acquisition run, as the acquisition loop drives it:
//   device.SetProtocol(CreateProtocolGeneration(code, device, link));
//   start handshake and identity bytes (acq:: codes below); copy the 11-byte
//   name into device.acquisitionName;
//   protocol->ReadHeader(device.header)       0 = header error
//   store nodeCount / quadripoleCount from the header;
//   protocol->ReadSequenceSets()              count, or -3 / -4
//   protocol->CreateDataFile(bin, "")         may raise FileError
//   per batch: wired records through WiredRecordCheckOk and
//   WiredProtocol::DecodeRecord; Wi-Fi records through protocol->ReadMeasure;
//   then protocol->AppendRecords(bin, n, firstIndex, batch).
// device.recordCompleted is set once, to the colour-range statistics.
#include "instrument/ProtocolGeneration.h"
#include "instrument/ProtocolView.h"
#include "instrument/WireCodes.h"
#include "link/Link.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <functional>
#include <memory>

class Instrument : public Sequence {
public:
    QuickMeasureSettings quickMeasureSettings;
    AcquisitionHeader header = {};
    float batteryValue = 0.0f;
    // 1 while the Wi-Fi instrument runs a moving-array acquisition, else 0.
    int32_t movingArrayMode = 0;
    // The current protocol generation; never null.
    std::unique_ptr<ProtocolGeneration> protocol;

    // The acquisition name of the run's identity bytes (11 bytes and a
    // zero). The acquisition loop stores it here before ReadHeader: the Wi-Fi
    // generation builds the header's name from it.
    char acquisitionName[kAcquisitionNameSize + 1] = {};

    // The window the protocol reports to (progress, status, indicators);
    // none means an inert view.
    ProtocolView* view = nullptr;

    // Called by the Wi-Fi generation's AppendRecords with every record of the
    // batch whose raw copy passed its check, once the record is complete and
    // written. The acquisition loop points it at the colour-range statistics
    // (AddDistributionValue with the record's rho). Errors it raises are
    // ignored: statistics never stop an acquisition.
    std::function<void(const MeasureRecord&)> recordCompleted;

    Instrument();
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Replaces the protocol generation; null installs the inert one.
    void SetProtocol(std::unique_ptr<ProtocolGeneration> generation);
    ProtocolView& View();
};

// The generation for a connection code: WifiProtocol for 200 (the Wi-Fi
// instrument), WiredProtocol for every other code. The link must outlive the
// generation: install an inert protocol (SetProtocol(nullptr)) before the
// link object is destroyed.
std::unique_ptr<ProtocolGeneration> CreateProtocolGeneration(int connectionCode, Instrument& device,
                                                             Link& link);

// The live panel's battery query (command 45), the same on both generations.
struct BatteryState {
    float txBattery = 0.0f;
    float rxBattery = 0.0f;
    float temperature = 0.0f;
};
BatteryState QueryBatteryState(Link& link);
