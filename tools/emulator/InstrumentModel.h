#pragma once
// The emulated instrument's state and what it measures: batteries that run
// down, a receiver that warms up, a moving array's track, and the values of
// every quadripole from the two-layer earth with noise and outliers. Also
// the byte images it sends (header, blocks, records).
#include "EmuOptions.h"
#include "EmuRandom.h"
#include "ForwardModel.h"
#include "Survey.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varmexemu {

constexpr int kWiredRecordSize = 260;
constexpr int kRawRecordSize = 4096;
constexpr size_t kWiredRhoOffset = 132; // float32
constexpr size_t kRawRhoOffset = 808;   // float64
constexpr int kWiredHeaderSize = 136;
constexpr int kWiredParameterSize = 216;
constexpr int kWiredConfigurationSize = 176;
constexpr int kWifiParameterSize = 2396;
constexpr int kWifiConfigurationSize = 1068;
constexpr int kAuxBlockSize = 48;
constexpr int kWindowCount = 20;

// One reading of one quadripole on one channel, as the instrument has it.
struct EmuMeasurement {
    int acquisition = 0;
    int index = 0;    // the number it goes out with
    int position = 0; // in the sequence table
    int channel = 0;
    int channelCount = 0;
    EmuQuad quad;
    float x[4] = {}, y[4] = {}, z[4] = {}; // A, B, M, N
    float rho = 0, vp = 0, current = 0, sp = 0, chargeability = 0, q = 0;
    float windowValues[kWindowCount] = {};
    uint16_t windowTimes[kWindowCount] = {};
    uint16_t time1 = 0, time2 = 0;
    int configurationCode = 0;
    float txBattery = 0, rxBattery = 0, temperature = 0, txVoltage = 0;
    float stacks = 0;
    // Two further values of a Wi-Fi record (none on the wired generation),
    // and whether the record takes the other decoding branches: Q at its
    // second offset, the extra values flagged absent.
    float extra[2] = {};
    bool altDecoding = false;
    // What the reading was played with, for the truth file: whether an
    // electrode with a bad contact took part, the number of its reciprocal
    // partner (-1: none), whether it is itself a reciprocal, and the earth
    // model's value before any noise.
    bool badContact = false;
    int partnerIndex = -1;
    bool reciprocal = false;
    double trueRho = 0.0;
    // moving array
    double origin[3] = {};
    double heading = 0.0;
    int tripMetres = 0;
};

class InstrumentModel {
public:
    InstrumentModel(const EmuOptions& options, const EmuSurvey& survey);

    // A new acquisition: the track of a moving array starts again.
    void beginAcquisition(int number);
    // The readings of one injection (one batch), advancing time.
    std::vector<EmuMeasurement> inject(const EmuBatch& batch);
    void resetTripCounter();

    float txBattery() const { return float(txBattery_); }
    float rxBattery() const { return float(rxBattery_); }
    float temperature() const { return float(temperature_); }
    double tripMetres() const { return trip_; }

    // The apparent resistivity of the earth model for one quadripole's
    // electrodes (no noise), as used for every reading.
    double modelRho(const float x[4], const float y[4]) const;

    // Identity sent after the Start handshake.
    std::vector<uint8_t> identityWord() const;
    std::vector<uint8_t> nameBytes() const; // 11 bytes

    // Downloads of an acquisition.
    std::vector<uint8_t> wiredHeader() const;
    std::vector<uint8_t> wiredNodeBlock() const; // nodes 0..lastNode
    std::vector<uint8_t> wifiNodeBlock() const;  // nodes firstNode..lastNode
    std::vector<uint8_t> auxBlock() const;       // the 48-byte block
    std::vector<uint8_t> quadripoleBlock() const;

    // Blocks of the idle commands; the parameter block is what the monitor
    // last sent (command 29), with the survey's fields refreshed at every
    // acquisition start.
    std::vector<uint8_t>& parameters() { return parameters_; }
    const std::vector<uint8_t>& configuration() const { return configuration_; }
    int parameterSize() const;
    void refreshParameters();

    // Records of the last batch, for the commands that read measurements.
    std::vector<EmuMeasurement> lastMeasurements();
    std::vector<uint8_t> measurementBlock(size_t maxRecords);

    // Values of the command 43 (k = 0 is the battery), 44 and 45.
    double channelValue(int k);
    std::vector<uint8_t> quickMeasureReply(const std::vector<int>& electrodes);
    std::string gpsSentence(const std::string& name) const;

    static std::vector<uint8_t> wiredRecord(const EmuMeasurement& m);
    static std::vector<uint8_t> rawRecord(const EmuMeasurement& m, const std::string& name);
    std::string name() const { return name_; }

private:
    double thicknessAt(double x, double y) const;
    void fillParameters(std::vector<uint8_t>& p) const;
    void advanceTrack(double step);
    EmuMeasurement measure(int position, int channel);
    // Contact resistance in ohms that a bad electrode adds; 0 for a sound
    // one.
    double badContactOhms(int node) const;

    const EmuOptions& o_;
    const EmuSurvey& s_;
    EmuRandom rng_;
    // The bad contacts draw from their own stream, so that every reading
    // they do not touch stays what it would be without them.
    EmuRandom badRng_;
    std::vector<std::pair<int, double>> badContacts_; // node, ohms
    // Current the last reading would have drawn through sound contacts.
    float nominalCurrent_ = 0.0f;
    std::string name_;
    int acquisition_ = 0;
    long injections_ = 0;
    double txBattery_ = 12.8;
    double rxBattery_ = 12.6;
    double temperature_ = 21.0;
    double trip_ = 0.0;
    double trackX_ = 0.0, trackY_ = 0.0, heading_ = 90.0, trackT_ = 0.0;
    std::vector<uint8_t> parameters_;
    std::vector<uint8_t> configuration_;
    std::vector<EmuMeasurement> last_;
};

} // namespace varmexemu
