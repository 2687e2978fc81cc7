#pragma once
// Command-line options of varmex-emulator.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace varmexemu {

enum class Generation { Wired, Wifi };
enum class ArrayType { Wenner, Schlumberger, DipoleDipole, PoleDipole };
// What a flooding peer sends: 'S' bytes in place of the Start handshake, or
// random bytes in place of the acquisition that follows it.
enum class FloodKind { None, Start, Random };

// A moving array is towed for at most this many positions.
constexpr int kMaxPositions = 200000;

struct SkipRange {
    int index = 0;
    int count = 0;
};

struct EmuOptions {
    // Link
    QString listenHost = QStringLiteral("127.0.0.1");
    int listenPort = 29461;
    bool pty = false;
    QString serialDevice;
    int baudRate = 115200;
    bool keepListening = false;

    // Instrument
    Generation generation = Generation::Wired;
    QString name = QStringLiteral("EMULATOR");
    bool noControl = false;
    int repeat = 1;
    bool exitWhenDone = false;
    bool movingArray = false;
    int positions = 200;
    // Index of the sequence's first quadripole, as the wired header counts
    // (the Wi-Fi parameter block counts from 1 and carries this + 1); -1
    // (Wi-Fi only) leaves the block's number at 0 and counts records from 0.
    int firstQuadripole = 0;
    // No 'X' and no pause after "VU": the identity follows at once.
    bool identityAtOnce = false;
    // Wi-Fi records that take the other decoding branches: Q at the second
    // offset, the two extra values flagged absent.
    bool altDecoding = false;

    // Survey
    int firstNode = 1;
    int electrodes = 48;
    double spacing = 5.0;
    ArrayType array = ArrayType::DipoleDipole;
    int channels = 10;
    int lines = 1;
    double lineSpacing = 5.0;
    int levels = 10;
    double gapFillers = 0.0;

    // Earth and measurement
    double rho1 = 100.0;
    double rho2 = 500.0;
    double thickness = 10.0;
    double noise = 0.02;
    double outliers = 0.01;
    uint64_t seed = 1;

    // Pacing and waits (milliseconds)
    int cycleMs = 250;
    int startDelayMs = 1000;
    int pauseTimeoutMs = 600000;
    int idleTimeoutMs = 600000;
    int acceptTimeoutMs = 0; // 0: wait for the monitor without limit
    int shortGapMs = -1;     // -1: chosen from the link (see EmuSession)

    // Link realism
    int paceBaud = 0;      // bytes leave no faster than this (10 bit times each); 0: unpaced
    int latencyMs = 0;     // delay before every reply to the monitor
    int acceptDelayMs = 0; // TCP: no handshake completes this long after listening starts

    // Faults
    double corrupt = 0.0;
    std::vector<int> shortRecords;
    std::vector<int> badRecords; // every copy damaged
    int dropAfter = -1;
    int earlyEndAfter = -1; // '$' after K batches, the next batch right behind it
    bool batchBeforeEcho = false;
    std::vector<SkipRange> skips;
    bool badCount = false;
    bool badIndex = false;
    double corruptBlocks = 0.0;

    // Data-quality faults
    // Node numbers of electrodes with a high contact resistance, ascending,
    // each once.
    std::vector<int> badElectrodes;
    // The reciprocal of every K-th quadripole follows the sequence; 0: none.
    int reciprocalEvery = 0;

    // Hostile peers (at most one of these)
    FloodKind flood = FloodKind::None;
    bool wedge = false;           // every block of the downloads arrives bad, for ever
    bool hangAfterStart = false;  // silent after the Start handshake
    bool closeAfterStart = false; // closes the connection after the Start handshake

    QString truthFile;
    QString eventsFile;
    bool quiet = false;

    int maxChannels() const { return generation == Generation::Wired ? 10 : 20; }
};

// Parses arguments (argv[0] included). On success returns true; with --help
// or --version fills helpText and sets exitNow. On a bad option returns
// false with error set.
struct EmuParseResult {
    bool ok = false;
    bool exitNow = false;
    QString helpText;
    QString error;
};

EmuParseResult parseEmuOptions(const QStringList& arguments, EmuOptions& options);

const char* arrayName(ArrayType t);

} // namespace varmexemu
