#pragma once
// The instrument's own byte layouts and their conversion into the program's
// records: the wired measurement record (260 bytes), the Wi-Fi raw record
// (4096 bytes), the Wi-Fi parameter block with its array geometry, and the
// header and moving-array sets built from that block.
//
// Pure functions over byte images: no link, no files, no screen. Every field
// is read at its offset with explicit little-endian access, and every
// function accepts any byte content without reading or writing outside the
// sizes given here.
#include "sequence/Sequence.h"

#include <cstddef>
#include <cstdint>
#include <string>

// ---- wired generation ----------------------------------------------------------

namespace wired {
constexpr size_t kRecordSize = 260;
constexpr size_t kRecordWireSize = 262; // record + check word
constexpr int kLastMeasureRecords = 10;
constexpr int kParameterWords = 54;
constexpr int kConfigurationWords = 44;
constexpr int kChannels = 10;
constexpr int kElectrodeListSize = 13;

// Record offsets.
constexpr size_t kChannelByte = 0;
constexpr size_t kRecordFlags = 1;
constexpr size_t kQuadripoleIndex = 2;
constexpr size_t kConfigurationCode = 8;
constexpr size_t kTime1 = 12;
constexpr size_t kTime2 = 16;
constexpr size_t kWindowTimes = 18;
constexpr size_t kExtra264 = 60;
constexpr size_t kExtra268 = 64;
constexpr size_t kCoordinates = 72; // A, B, M, N: x, y, z each
constexpr size_t kRho = 132;
constexpr size_t kQ = 136;
constexpr size_t kExtra272 = 140;
constexpr size_t kChannelValue = 144; // extra276, written by ReadChannelValues
constexpr size_t kExtra280 = 148;
constexpr size_t kTxBattery = 152;
constexpr size_t kRxBattery = 156;
constexpr size_t kTemperature = 160;
constexpr size_t kSp = 164;
constexpr size_t kVp = 168;
constexpr size_t kCurrent = 172;
constexpr size_t kChargeability = 176;
constexpr size_t kWindowValues = 180;
} // namespace wired

// The program's configuration code for the instrument's code 0..8 (10 for
// any other value).
int16_t WiredConfigurationCode(int32_t instrumentCode);

// True when the check word after a 260-byte record (bytes 260, 261, low byte
// first) equals the 16-bit sum of the record bytes.
bool WiredRecordCheckOk(const uint8_t record[wired::kRecordWireSize]);

// Decodes a wired record. Every byte of `out` is written: the two reserved
// bytes are zero, recordName is the 11-byte acquisition name plus a zero.
void DecodeWiredRecord(const uint8_t record[wired::kRecordSize], const char acquisitionName[11],
                       double timeStamp, MeasureRecord& out);

// ---- Wi-Fi generation ----------------------------------------------------------

namespace wifi {
constexpr size_t kConfigurationBlockSize = 1068;
constexpr size_t kParameterBlockSize = 2396;
constexpr size_t kRawRecordSize = 4096;
constexpr int kRawRecords = 20;
constexpr int kChannels = 20;
constexpr int kElectrodeListSize = 23;
constexpr size_t kConfigurationChannels = 4; // int32 channel capacity

// Parameter block offsets.
constexpr size_t kModeHigh = 49;    // high nibble: mode value - 1
constexpr size_t kModeBits = 50;    // bits 0-2, 3-5, 6-7
constexpr size_t kByte25 = 51;      // bits 0-5
constexpr size_t kSetting28 = 53;   // bits 0-5
constexpr size_t kSetting32 = 56;   // int32 holding a 16-bit value; 60, 64 follow
constexpr size_t kSettingList = 68; // int32[20] holding 16-bit values
constexpr size_t kSetting88 = 148;
constexpr size_t kByte27 = 152; // float32
constexpr size_t kDipoleCount = 156;
constexpr size_t kSetting12 = 160;
constexpr size_t kSetting16 = 164;       // also the check run's progress maximum
constexpr size_t kSetting20A = 168;      // float64, when bit 6 of byte 50 is set
constexpr size_t kSetting20B = 176;      // float64 otherwise
constexpr size_t kReceiverDipoles = 240; // uint16
constexpr size_t kSetting104 = 244;
constexpr size_t kFirstQuadripole = 256; // counted from 1
constexpr size_t kLastQuadripole = 260;  // counted from 1
constexpr size_t kNodeCount = 264;       // uint16
constexpr size_t kFirstNode = 268;       // int16
constexpr size_t kLastNode = 272;        // int16
constexpr size_t kSetting128 = 292;
constexpr size_t kGeometry = 320;
constexpr size_t kMovingArrayByte = 2246; // mask 0x30
constexpr size_t kByte24Bits = 2252;

// Array geometry: one DipoleGeometry per dipole.
constexpr int kGeometryDipoles = 10;
constexpr size_t kDipoleGeometrySize = 168;
constexpr size_t kElectrodeEntrySize = 40; // A at 0, B at 40, M at 80, N at 120
constexpr size_t kElectrodeFlag = 32;      // bits 1-3 = 001
constexpr size_t kElectrodeNode = 36;      // uint32, node number in bits 0-16
constexpr size_t kDipoleFlag = 160;        // bit 0 gap filler, bits 1 and 2 set
static_assert(kGeometry + kGeometryDipoles * kDipoleGeometrySize <= kMovingArrayByte);

// Raw record offsets.
constexpr size_t kRemoteText = 8; // char[16]
constexpr size_t kRppName = 24;   // char[32]
constexpr size_t kQSource = 58;   // bits 6-7 == 1: q from 816
constexpr size_t kRawTime1 = 64;
constexpr size_t kRawTime2 = 72;
constexpr size_t kRawWindowTimes = 76;
constexpr size_t kChannelField = 164; // low nibble
constexpr size_t kOriginX = 496;      // float64 x0, y0, z0
constexpr size_t kHeading = 520;      // float64, degrees clockwise from y
constexpr size_t kExtraSource = 528;  // bits 1-3 == 4: extra264/268 present
constexpr size_t kRawExtra264 = 536;
constexpr size_t kRawExtra268 = 544;
constexpr size_t kChannelIndex = 584; // low nibble
constexpr size_t kFlagBit2 = 588;
constexpr size_t kFlagBit0 = 600;
constexpr size_t kRawExtra272 = 604; // int32
constexpr size_t kRawSp = 608;       // float64 sp, vp, current (x 0.001)
constexpr size_t kRawVp = 616;
constexpr size_t kRawCurrent = 624;
constexpr size_t kRawChargeability = 632;
constexpr size_t kRawWindowValues = 640;
constexpr size_t kRawRho = 808;
constexpr size_t kRawQA = 816;
constexpr size_t kRawQB = 824;
constexpr size_t kRawChannelValue = 832; // float64, ReadChannelValues
constexpr size_t kRawExtra280 = 840;
constexpr size_t kRawTxBattery = 848;
constexpr size_t kRawRxBattery = 856;
constexpr size_t kRawTemperature = 860;

// A moving array is towed along for as long as the operator likes: its
// header always ends the sequence at quadripole 15999, and the store's whole
// quadripole table (slots 0 .. 15999) repeats the array's dipoles. Records
// past the table carry their own coordinates and are stored all the same.
constexpr int32_t kMovingArrayLastQuadripole = kMaxQuadripoles - 1;
} // namespace wifi

// True when the parameter block describes a moving-array acquisition.
bool IsMovingArray(const uint8_t parameterBlock[wifi::kParameterBlockSize]);

// Builds `header` from the parameter block and the acquisition name alone:
// fields and bits the block does not define are zero, so the same block
// always gives the same header, whatever `header` held before. The first
// quadripole number counts from 1; 0 is taken as the first quadripole too.
// Returns whether the acquisition is a moving array.
bool BuildWifiHeader(const uint8_t parameterBlock[wifi::kParameterBlockSize],
                     const char acquisitionName[11], AcquisitionHeader& header);

// Builds the node and quadripole sets of a moving array from the geometry of
// the parameter block: nodes 1 .. L + 3 and every quadripole slot 0 .. 15999,
// so that no slot keeps an earlier acquisition's entry. Returns the last
// slot built (kMovingArrayLastQuadripole), or -3 (nothing written) when the
// dipole count L is not 1..10.
int32_t BuildMovingArraySets(const uint8_t parameterBlock[wifi::kParameterBlockSize],
                             Sequence& store);

// Writes the electrode geometry of `count` quadripoles from `firstIndex`
// (at most ten) into the parameter block, and count at offset 156.
// Quadripoles outside the table leave their geometry record cleared.
void WriteDipoleGeometry(uint8_t parameterBlock[wifi::kParameterBlockSize], const Sequence& store,
                         int32_t count, int32_t firstIndex);

// Marks a raw record as written by this program before it goes to the
// ".rpp" file: "Remote" at 8, the ".rpp" file name (at most 31 bytes, no
// folder) at 24, and the per-channel value at 832 replaced by 0.0.
void StampRawRecord(uint8_t record[wifi::kRawRecordSize], const std::string& rppFileName);

// Completes measurement `out` from a raw record. Coordinates come from the
// store's quadripole `quadripoleIndex`, or, when `geometry` (one
// DipoleGeometry, 168 bytes) is given, from the array geometry placed at the
// record's origin and turned by its heading. Fields the raw record does not
// define (the reserved bytes, recordFlags bits 1 and 4-7) keep their value.
void DecodeRawRecord(const uint8_t record[wifi::kRawRecordSize], const Sequence& store,
                     int32_t quadripoleIndex, const uint8_t* geometry, double timeStamp,
                     MeasureRecord& out);
