#include "EmuOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <algorithm>
#include <climits>

namespace varmexemu {

const char* arrayName(ArrayType t) {
    switch (t) {
    case ArrayType::Wenner:
        return "wenner";
    case ArrayType::Schlumberger:
        return "schlumberger";
    case ArrayType::DipoleDipole:
        return "dipole-dipole";
    case ArrayType::PoleDipole:
        return "pole-dipole";
    }
    return "?";
}

namespace {

const char* kDescription =
    "Emulates a Varmex/Keldo resistivity meter for the Pylorix monitor: the Start\n"
    "handshake, the header, node and quadripole downloads, then a live acquisition\n"
    "batch by batch, with the operator controls (Stop, Pause, Reset) and the idle\n"
    "instrument commands. Values come from a two-layer earth with noise and outliers.\n"
    "\n"
    "The first line of standard output is the TCP port (with --listen, also when\n"
    "port 0 asked for a free one) or the device path (--pty, --serial-device);\n"
    "progress messages go to standard error.\n"
    "\n"
    "Examples:\n"
    "  varmex-emulator                              wired instrument on 127.0.0.1:29461\n"
    "  varmex-emulator --generation wifi --lines 4  Wi-Fi instrument, four profiles\n"
    "  varmex-emulator --pty --cycle-ms 100         on a new pseudo-terminal\n"
    "  varmex-emulator --listen 127.0.0.1:0 --cycle-ms 0 --corrupt 0.05 --truth sent.csv\n"
    "  varmex-emulator --pace-baud 273000 --latency-ms 80 --accept-delay-ms 1500\n"
    "                                               a slow Wi-Fi module in a field";

struct OptionEntry {
    const char* name;
    const char* help;
    const char* value; // nullptr: a flag
};

const OptionEntry kOptions[] = {
    {"listen", "TCP server address (default 127.0.0.1:29461; port 0 picks a free port).",
     "HOST:PORT"},
    {"pty", "Create a pseudo-terminal and serve the monitor on it.", nullptr},
    {"serial-device", "Serve the monitor on an existing serial device.", "PATH"},
    {"baud", "Baud rate of --serial-device (default 115200).", "N"},
    {"keep-listening", "After a TCP connection ends, wait for the next one.", nullptr},
    {"generation", "Instrument generation: wired or wifi (default wired).", "GEN"},
    {"name", "Acquisition name, at most 11 characters (default EMULATOR).", "TEXT"},
    {"no-control", "Do not offer Stop and Pause (no 'X' after the Start handshake).", nullptr},
    {"identity-at-once",
     "Send the identity right after \"VU\", without 'X' and without a pause "
     "(implies --no-control).",
     nullptr},
    {"repeat", "Acquisitions to run on one connection (default 1; 0 = commands only).", "N"},
    {"exit-when-done", "Close the link after the last acquisition instead of idling.", nullptr},
    {"moving-array", "Wi-Fi only: run a moving-array acquisition.", nullptr},
    {"positions",
     "Array positions of a moving-array acquisition (default 200); the records "
     "are numbered on past 15999 when there are more.",
     "N"},
    {"first-quadripole",
     "Index of the sequence's first quadripole (default 0); the Wi-Fi parameter block "
     "counts from 1 and says N + 1. -1 (Wi-Fi): the block says 0, records count from 0.",
     "N"},
    {"first-node", "Number of the first electrode (default 1).", "N"},
    {"electrodes", "Electrodes per profile (default 48).", "N"},
    {"spacing", "Electrode spacing in metres (default 5).", "M"},
    {"array", "wenner, schlumberger, dipole-dipole or pole-dipole (default dipole-dipole).",
     "TYPE"},
    {"channels", "Receiver channels, 1..10 wired, 1..20 Wi-Fi (default 10 wired, 20 Wi-Fi).", "N"},
    {"lines", "Parallel profiles (default 1); 4 or more also gives cross-line profiles.", "K"},
    {"line-spacing", "Distance between profiles in metres (default: the spacing).", "M"},
    {"levels", "Depth levels of the sequence (default 10).", "N"},
    {"gap-fillers", "Fraction of quadripoles flagged as gap fillers (default 0).", "FRACTION"},
    {"rho1", "Upper-layer resistivity in ohm.m (default 100).", "OHMM"},
    {"rho2", "Lower-layer resistivity in ohm.m (default 500).", "OHMM"},
    {"thickness", "Mean upper-layer thickness in metres (default 2 x spacing).", "M"},
    {"noise", "Relative noise of the measured values (default 0.02).", "FRACTION"},
    {"outliers", "Fraction of outlying values (default 0.01).", "FRACTION"},
    {"seed", "Seed of every random choice; the same seed repeats a run (default 1).", "N"},
    {"cycle-ms", "Time per injection in ms (default 250; 0 = as fast as the link allows).", "MS"},
    {"start-delay-ms", "Quiet time before the instrument announces Start (default 1000).", "MS"},
    {"pause-timeout", "A pause ends by itself after this many ms (default 600000).", "MS"},
    {"idle-timeout", "Give up when the monitor stays silent this long, in ms (default 600000).",
     "MS"},
    {"accept-timeout",
     "Give up waiting for the monitor to connect after this many ms "
     "(default 0 = no limit).",
     "MS"},
    {"short-gap-ms", "Silence after a short record (default 16000 on TCP, 500 otherwise).", "MS"},
    {"corrupt", "Probability that a record is damaged in transit (its retransmission is good).",
     "P"},
    {"short-record", "The record of this quadripole index arrives short (repeatable).", "N"},
    {"bad-record",
     "Every copy of the record of this quadripole index arrives damaged, retransmissions "
     "included (repeatable).",
     "N"},
    {"drop-after", "Close the connection after K batches.", "K"},
    {"skip", "Skip N quadripoles starting at index I (repeatable).", "I:N"},
    {"bad-count", "Announce one batch with a record count of 0 or 21 first.", nullptr},
    {"bad-index", "Announce one batch with an index before the expected one first.", nullptr},
    {"early-end-after",
     "After K batches send '$' as if the sequence had ended, and the next batch right "
     "behind it.",
     "K"},
    {"batch-before-echo",
     "Answer a Stop or Pause request with the batch already begun, then the echo.", nullptr},
    {"alt-decoding",
     "Wi-Fi: records carry Q at their second Q offset and flag the two extra values "
     "absent.",
     nullptr},
    {"corrupt-blocks", "Probability of a block checksum error during block downloads.", "P"},
    {"bad-electrode",
     "Electrode N (its node number) has a high contact resistance: every reading it takes "
     "part in comes out noisy with a high Q, and draws under 1 mA when N injects "
     "(repeatable).",
     "N"},
    {"reciprocals",
     "Append the reciprocal M,N,A,B of every K-th quadripole to the sequence; K may be left "
     "out (default 1: every quadripole).",
     "K"},
    {"pace-baud",
     "Bytes leave no faster than N baud, 10 bit times a byte, on every link "
     "(default 0 = as fast as the link takes them).",
     "N"},
    {"latency-ms", "Delay before every reply to the monitor, as on a slow radio link.", "MS"},
    {"accept-delay-ms",
     "TCP: complete no connection handshake for this long after listening starts; "
     "the monitor's first connection requests are dropped, as by a slow Wi-Fi module.",
     "MS"},
    {"flood",
     "Hostile peer: 'start' sends 'S' bytes without end instead of the Start handshake; "
     "'random' sends random bytes without end after it.",
     "KIND"},
    {"wedge",
     "Hostile peer: answer every block request of the downloads with a bad block, for ever "
     "(too long and wrong check word in turn).",
     nullptr},
    {"hang-after-start",
     "Go silent after the Start handshake: keep the link open, read and never answer.", nullptr},
    {"close-after-start", "Close the connection right after the Start handshake.", nullptr},
    {"truth", "Write every record sent to this CSV file.", "FILE"},
    {"events", "Write the Start acknowledgements and operator requests served to this CSV file.",
     "FILE"},
    {"quiet", "No progress messages on standard error.", nullptr},
};

bool toInt(const QString& s, int lo, int hi, int& out) {
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    out = int(v);
    return true;
}

bool toDouble(const QString& s, double lo, double hi, double& out) {
    bool ok = false;
    const double v = s.toDouble(&ok);
    if (!ok || !(v >= lo) || !(v <= hi))
        return false;
    out = v;
    return true;
}

// QCommandLineParser knows no option with an optional value: a bare
// --reciprocals gets its default K written in, unless a number follows.
QStringList withReciprocalDefault(const QStringList& arguments) {
    QStringList out;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        out << a;
        if (i == 0 || optionsEnded)
            continue;
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (a != QLatin1String("--reciprocals") && a != QLatin1String("-reciprocals"))
            continue;
        const bool hasNext = i + 1 < arguments.size();
        const QString next = hasNext ? arguments[i + 1] : QString();
        bool isNumber = false;
        next.toLongLong(&isNumber);
        // A word that is no option is taken as the value, so that a typing
        // slip is reported against --reciprocals.
        if (!hasNext || (next.startsWith(QLatin1Char('-')) && !isNumber))
            out << QStringLiteral("1");
    }
    return out;
}

} // namespace

EmuParseResult parseEmuOptions(const QStringList& arguments, EmuOptions& o) {
    EmuParseResult r;
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(kDescription));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = p.addHelpOption();
    for (const OptionEntry& s : kOptions) {
        if (s.value)
            p.addOption(QCommandLineOption(QString::fromLatin1(s.name), QString::fromLatin1(s.help),
                                           QString::fromLatin1(s.value)));
        else
            p.addOption(
                QCommandLineOption(QString::fromLatin1(s.name), QString::fromLatin1(s.help)));
    }
    if (!p.parse(withReciprocalDefault(arguments))) {
        r.error = p.errorText();
        return r;
    }
    if (p.isSet(help)) {
        r.ok = true;
        r.exitNow = true;
        r.helpText = p.helpText();
        return r;
    }
    if (!p.positionalArguments().isEmpty()) {
        r.error = QStringLiteral("unexpected argument: ") + p.positionalArguments().first();
        return r;
    }

    auto fail = [&](const QString& option, const QString& what) {
        r.error = QStringLiteral("--") + option + QStringLiteral(": ") + what;
        return r;
    };
    auto intOpt = [&](const char* name, int lo, int hi, int& out) {
        const QString n = QString::fromLatin1(name);
        if (!p.isSet(n))
            return true;
        if (toInt(p.value(n), lo, hi, out))
            return true;
        fail(n, QStringLiteral("expected a whole number from %1 to %2").arg(lo).arg(hi));
        return false;
    };
    auto realOpt = [&](const char* name, double lo, double hi, double& out) {
        const QString n = QString::fromLatin1(name);
        if (!p.isSet(n))
            return true;
        if (toDouble(p.value(n), lo, hi, out))
            return true;
        fail(n, QStringLiteral("expected a number from %1 to %2").arg(lo).arg(hi));
        return false;
    };

    if (p.isSet(QStringLiteral("generation"))) {
        const QString g = p.value(QStringLiteral("generation")).toLower();
        if (g == QLatin1String("wired"))
            o.generation = Generation::Wired;
        else if (g == QLatin1String("wifi") || g == QLatin1String("wi-fi"))
            o.generation = Generation::Wifi;
        else
            return fail(QStringLiteral("generation"), QStringLiteral("wired or wifi"));
    }
    o.channels = o.generation == Generation::Wired ? 10 : 20;

    if (p.isSet(QStringLiteral("listen"))) {
        const QString v = p.value(QStringLiteral("listen"));
        const int colon = v.lastIndexOf(QLatin1Char(':'));
        int port = 0;
        if (colon <= 0 || !toInt(v.mid(colon + 1), 0, 65535, port))
            return fail(QStringLiteral("listen"), QStringLiteral("expected HOST:PORT"));
        o.listenHost = v.left(colon);
        if (o.listenHost.startsWith(QLatin1Char('[')) && o.listenHost.endsWith(QLatin1Char(']')))
            o.listenHost = o.listenHost.mid(1, o.listenHost.size() - 2);
        o.listenPort = port;
    }
    o.pty = p.isSet(QStringLiteral("pty"));
    o.serialDevice = p.value(QStringLiteral("serial-device"));
    if (o.pty && !o.serialDevice.isEmpty())
        return fail(QStringLiteral("pty"), QStringLiteral("cannot be used with --serial-device"));
    if ((o.pty || !o.serialDevice.isEmpty()) && p.isSet(QStringLiteral("listen")))
        return fail(QStringLiteral("listen"),
                    QStringLiteral("cannot be used with --pty or --serial-device"));
    o.keepListening = p.isSet(QStringLiteral("keep-listening"));
    if (p.isSet(QStringLiteral("name"))) {
        o.name = p.value(QStringLiteral("name"));
        if (o.name.isEmpty() || o.name.size() > 11 || o.name.toLatin1() != o.name.toUtf8())
            return fail(QStringLiteral("name"),
                        QStringLiteral("1 to 11 characters of plain text expected"));
    }
    o.identityAtOnce = p.isSet(QStringLiteral("identity-at-once"));
    o.noControl = p.isSet(QStringLiteral("no-control")) || o.identityAtOnce;
    o.altDecoding = p.isSet(QStringLiteral("alt-decoding"));
    if (o.altDecoding && o.generation != Generation::Wifi)
        return fail(QStringLiteral("alt-decoding"), QStringLiteral("needs --generation wifi"));
    o.batchBeforeEcho = p.isSet(QStringLiteral("batch-before-echo"));
    o.exitWhenDone = p.isSet(QStringLiteral("exit-when-done"));
    o.movingArray = p.isSet(QStringLiteral("moving-array"));
    if (o.movingArray && o.generation != Generation::Wifi)
        return fail(QStringLiteral("moving-array"), QStringLiteral("needs --generation wifi"));
    if (p.isSet(QStringLiteral("array"))) {
        const QString a = p.value(QStringLiteral("array")).toLower();
        if (a == QLatin1String("wenner"))
            o.array = ArrayType::Wenner;
        else if (a == QLatin1String("schlumberger"))
            o.array = ArrayType::Schlumberger;
        else if (a == QLatin1String("dipole-dipole"))
            o.array = ArrayType::DipoleDipole;
        else if (a == QLatin1String("pole-dipole"))
            o.array = ArrayType::PoleDipole;
        else
            return fail(QStringLiteral("array"),
                        QStringLiteral("wenner, schlumberger, dipole-dipole or pole-dipole"));
    }

    if (!intOpt("baud", 50, 4000000, o.baudRate) || !intOpt("repeat", 0, 1000, o.repeat) ||
        !intOpt("positions", 1, kMaxPositions, o.positions) ||
        !intOpt("first-quadripole", -1, INT32_MAX, o.firstQuadripole) ||
        !intOpt("first-node", 1, 2000, o.firstNode) ||
        !intOpt("electrodes", 4, 2000, o.electrodes) ||
        !intOpt("channels", 1, o.maxChannels(), o.channels) || !intOpt("lines", 1, 500, o.lines) ||
        !intOpt("levels", 1, 200, o.levels) || !intOpt("cycle-ms", 0, 3600000, o.cycleMs) ||
        !intOpt("start-delay-ms", 0, 3600000, o.startDelayMs) ||
        !intOpt("pause-timeout", 0, 86400000, o.pauseTimeoutMs) ||
        !intOpt("idle-timeout", 100, 86400000, o.idleTimeoutMs) ||
        !intOpt("accept-timeout", 0, 86400000, o.acceptTimeoutMs) ||
        !intOpt("short-gap-ms", 0, 3600000, o.shortGapMs) ||
        !intOpt("drop-after", 0, 1000000, o.dropAfter) ||
        !intOpt("early-end-after", 1, 1000000, o.earlyEndAfter) ||
        !intOpt("pace-baud", 0, 10000000, o.paceBaud) ||
        !intOpt("latency-ms", 0, 60000, o.latencyMs) ||
        !intOpt("accept-delay-ms", 0, 600000, o.acceptDelayMs))
        return r;
    // No line runs below 50 baud: a rate that small is a typing slip.
    if (o.paceBaud > 0 && o.paceBaud < 50)
        return fail(QStringLiteral("pace-baud"), QStringLiteral("0 or from 50 to 10000000"));
    if (o.acceptDelayMs > 0 && (o.pty || !o.serialDevice.isEmpty()))
        return fail(QStringLiteral("accept-delay-ms"), QStringLiteral("only for a TCP listener"));
    if (!realOpt("spacing", 0.01, 10000.0, o.spacing) ||
        !realOpt("gap-fillers", 0.0, 1.0, o.gapFillers) || !realOpt("rho1", 1e-3, 1e7, o.rho1) ||
        !realOpt("rho2", 1e-3, 1e7, o.rho2) || !realOpt("noise", 0.0, 1.0, o.noise) ||
        !realOpt("outliers", 0.0, 1.0, o.outliers) || !realOpt("corrupt", 0.0, 1.0, o.corrupt) ||
        !realOpt("corrupt-blocks", 0.0, 0.9, o.corruptBlocks))
        return r;
    o.lineSpacing = o.spacing;
    o.thickness = 2.0 * o.spacing;
    if (!realOpt("line-spacing", 0.01, 10000.0, o.lineSpacing) ||
        !realOpt("thickness", 0.0, 10000.0, o.thickness))
        return r;
    if (p.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        o.seed = p.value(QStringLiteral("seed")).toULongLong(&ok);
        if (!ok)
            return fail(QStringLiteral("seed"), QStringLiteral("expected a whole number"));
    }
    if (o.movingArray && o.channels > 10) {
        if (p.isSet(QStringLiteral("channels")))
            return fail(QStringLiteral("channels"),
                        QStringLiteral("a moving array has at most 10 dipoles"));
        o.channels = 10;
    }
    if (o.firstQuadripole < 0 && o.generation != Generation::Wifi)
        return fail(QStringLiteral("first-quadripole"),
                    QStringLiteral("-1 needs --generation wifi"));
    if (o.movingArray && p.isSet(QStringLiteral("first-node")))
        return fail(QStringLiteral("first-node"),
                    QStringLiteral("a moving array numbers its electrodes from 1"));
    if (o.firstNode - 1 + o.lines * o.electrodes > 2000)
        return fail(QStringLiteral("electrodes"),
                    QStringLiteral("first node - 1 + lines x electrodes must not exceed 2000"));

    for (const QString& v : p.values(QStringLiteral("bad-electrode"))) {
        int node = 0;
        if (!toInt(v, 0, 2000, node))
            return fail(QStringLiteral("bad-electrode"),
                        QStringLiteral("expected a node number from 0 to 2000"));
        // Only an electrode the readings use can spoil them: a number off
        // the survey is a slip that would silently play no fault at all.
        const int dipoles = std::min(o.channels, 10);
        const int first = o.movingArray ? 1 : o.firstNode;
        const int last = o.movingArray ? dipoles + 3 : o.firstNode - 1 + o.lines * o.electrodes;
        const bool remote = !o.movingArray && o.array == ArrayType::PoleDipole;
        if ((node < first || node > last) && !(node == 0 && remote))
            return fail(QStringLiteral("bad-electrode"),
                        QStringLiteral("node %1 is not an electrode of the survey (%2 to %3%4)")
                            .arg(node)
                            .arg(first)
                            .arg(last)
                            .arg(remote ? QStringLiteral(", or 0 for the remote one") : QString()));
        if (std::find(o.badElectrodes.begin(), o.badElectrodes.end(), node) ==
            o.badElectrodes.end())
            o.badElectrodes.push_back(node);
    }
    std::sort(o.badElectrodes.begin(), o.badElectrodes.end());
    if (!intOpt("reciprocals", 1, 16000, o.reciprocalEvery))
        return r;
    if (o.reciprocalEvery > 0 && o.movingArray)
        return fail(QStringLiteral("reciprocals"),
                    QStringLiteral("a moving array has no quadripole table to hold them"));

    for (const char* name : {"short-record", "bad-record"}) {
        const QString n = QString::fromLatin1(name);
        for (const QString& v : p.values(n)) {
            int index = 0;
            if (!toInt(v, 0, INT32_MAX, index))
                return fail(n, QStringLiteral("expected an index"));
            (n == QLatin1String("short-record") ? o.shortRecords : o.badRecords).push_back(index);
        }
    }
    for (const QString& v : p.values(QStringLiteral("skip"))) {
        const QStringList parts = v.split(QLatin1Char(':'));
        SkipRange s;
        if (parts.size() != 2 || !toInt(parts[0], 0, INT32_MAX, s.index) ||
            !toInt(parts[1], 1, 16000, s.count))
            return fail(QStringLiteral("skip"), QStringLiteral("expected I:N"));
        o.skips.push_back(s);
    }
    if (p.isSet(QStringLiteral("flood"))) {
        const QString k = p.value(QStringLiteral("flood")).toLower();
        if (k == QLatin1String("start"))
            o.flood = FloodKind::Start;
        else if (k == QLatin1String("random"))
            o.flood = FloodKind::Random;
        else
            return fail(QStringLiteral("flood"), QStringLiteral("start or random"));
    }
    o.wedge = p.isSet(QStringLiteral("wedge"));
    o.hangAfterStart = p.isSet(QStringLiteral("hang-after-start"));
    o.closeAfterStart = p.isSet(QStringLiteral("close-after-start"));
    {
        // Each of them takes the conversation over after the Start moment:
        // two at once would have no meaning.
        QStringList hostile;
        if (o.flood != FloodKind::None)
            hostile << QStringLiteral("flood");
        if (o.wedge)
            hostile << QStringLiteral("wedge");
        if (o.hangAfterStart)
            hostile << QStringLiteral("hang-after-start");
        if (o.closeAfterStart)
            hostile << QStringLiteral("close-after-start");
        if (hostile.size() > 1)
            return fail(hostile[1], QStringLiteral("cannot be used with --") + hostile[0]);
    }
    o.badCount = p.isSet(QStringLiteral("bad-count"));
    o.badIndex = p.isSet(QStringLiteral("bad-index"));
    o.truthFile = p.value(QStringLiteral("truth"));
    o.eventsFile = p.value(QStringLiteral("events"));
    o.quiet = p.isSet(QStringLiteral("quiet"));
    r.ok = true;
    return r;
}

} // namespace varmexemu
