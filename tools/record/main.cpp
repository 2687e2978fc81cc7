// pylorix-record: the acquisition engine without a window. It links to an
// instrument, waits for Start, records every acquisition to the data folder
// and prints what the window would show; or replays a recorded acquisition.
#include "ConsoleView.h"
#include "engine/SessionEngine.h"
#include "export/InversionExport.h"
#include "link/LinkFactory.h"
#include "link/UsbLink.h"
#include "settings/Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <optional>

#ifdef _WIN32
#include <io.h>
#define PYLORIX_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define PYLORIX_ISATTY(f) isatty(fileno(f))
#endif

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
}

// Exit codes that are not a run's result.
constexpr int kExitBadOption = 2;
constexpr int kExitReplayFileUnusable = 3;

// 0 for a completed run; otherwise 100 + the result's magnitude, so that a
// script can tell "link lost" (101) from "file error" (115).
int ExitCodeFor(int result) {
    if (result == RunCompleted)
        return 0;
    if (result < 0 && result > -100)
        return 100 + (-result);
    return 99;
}

const char* const kDescription =
    "Records resistivity/IP acquisitions without a window: links to the instrument,\n"
    "waits for Start, stores each acquisition (.heq, .bin, .rpp) in the data folder\n"
    "and prints the status as the monitor shows it. With --view or --simulate it\n"
    "replays a recorded acquisition instead.\n\n"
    "Exit status: 0 when every run completed; otherwise 100 + the last result's\n"
    "code: 101 link lost, 102 header error, 103 node-set error, 104 quadripole-set\n"
    "error, 105 link fault while the header or sets came, 110 file mismatch, 115\n"
    "file error, 120 closing; 2 for a bad option (an unknown option, a value that\n"
    "cannot be used) or an address that cannot be meant; 3 when the recording to\n"
    "replay (its .heq or the .bin beside it) is missing, cannot be read or is not\n"
    "a recording. An export asked for with --export that fails is reported and\n"
    "changes no exit status.";

// What is wrong with the command line, then the usage; the exit code of a
// bad option.
int BadOption(const QCommandLineParser& parser, const QString& what) {
    std::fprintf(stderr, "pylorix-record: %s\n\n%s", what.toLocal8Bit().constData(),
                 parser.helpText().toLocal8Bit().constData());
    return kExitBadOption;
}

// A whole number from `lowest`, or nothing.
std::optional<int> WholeNumber(const QString& text, int lowest) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < lowest)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pylorix-record");
    QCoreApplication::setApplicationVersion(PYLORIX_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption connection(
        "connection",
        "99 USB, 100 TCP/IP (WiConnect), 200 TCP/IP (Wi-Fi instrument), N (from 1) serial port N.",
        "CODE");
    const QCommandLineOption address("address", "Instrument address for TCP/IP.", "HOST[:PORT]");
    const QCommandLineOption serialDevice("serial-device", "Serial device to use.", "PATH");
    const QCommandLineOption usbId(
        "usb-id",
        "USB ID of the instrument besides FTDI's own, in hexadecimal; with a serial number, that "
        "device only. Repeatable; used besides those of the setting UsbIds.",
        "VID:PID[:SERIAL]");
    const QCommandLineOption dataRoot("data-root", "Root folder of the data folder.", "DIR");
    const QCommandLineOption rhoOnly("rho-only", "Rho display only (no files are written).");
    const QCommandLineOption noCrc("no-crc-check", "Do not ask for damaged records again.");
    const QCommandLineOption gaps("show-gap-fillers", "Show gap-filler quadripoles.");
    const QCommandLineOption runs("runs", "Stop after N acquisitions (default: keep waiting).",
                                  "N");
    const QCommandLineOption yes("yes", "Answer every prompt with OK.");
    const QCommandLineOption view("view", "Replay a recorded acquisition at once.", "FILE.heq");
    const QCommandLineOption simulate("simulate", "Replay a recorded acquisition at its pace.",
                                      "FILE.heq");
    const QCommandLineOption exportFormats(
        "export",
        "After each acquisition, whatever its result, export it beside its .bin to the given "
        "formats (any of ohm, res2dinv, csv, comma-separated) and print what was written.",
        "FORMATS");
    parser.addOptions({connection, address, serialDevice, usbId, dataRoot, rhoOnly, noCrc, gaps,
                       runs, yes, view, simulate, exportFormats});
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    // Every option is checked before anything is opened or read: a value
    // that cannot be meant ends here, with exit status 2, rather than
    // running as something else (for ever, or on a port that cannot exist).
    if (!parser.parse(QCoreApplication::arguments()))
        return BadOption(parser, parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return BadOption(
            parser,
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().front()));

    std::optional<int> connectionCode;
    if (parser.isSet(connection)) {
        const QString text = parser.value(connection);
        bool ok = false;
        connectionCode = text.trimmed().toInt(&ok);
        if (!ok)
            return BadOption(parser,
                             QStringLiteral("--connection needs a number, not \"%1\"").arg(text));
        // 0 and below name no link: taking them would open a serial port
        // that cannot exist and wait on it for ever.
        if (*connectionCode <= 0)
            return BadOption(parser, QStringLiteral("--connection %1 is not valid: use 99 (USB), "
                                                    "100 or 200 (TCP/IP), or a serial port "
                                                    "number from 1")
                                         .arg(*connectionCode));
    }
    // Without --runs the recorder keeps waiting; a count that is not a
    // whole number from 1 is a mistake, not a wish to wait for ever.
    int maxRuns = 0;
    if (parser.isSet(runs)) {
        const std::optional<int> count = WholeNumber(parser.value(runs), 1);
        if (!count)
            return BadOption(parser, QStringLiteral("--runs needs a whole number from 1, not "
                                                    "\"%1\"")
                                         .arg(parser.value(runs)));
        maxRuns = *count;
    }
    if (parser.isSet(view) && parser.isSet(simulate))
        return BadOption(parser, QStringLiteral("--view and --simulate replay one recording: "
                                                "give one of them"));
    for (const QCommandLineOption* replay : {&view, &simulate}) {
        if (parser.isSet(*replay) && parser.value(*replay).isEmpty())
            return BadOption(parser, QStringLiteral("--%1 needs the recording's .heq file")
                                         .arg(replay->names().front()));
    }
    std::vector<ExportFormat> formats;
    if (parser.isSet(exportFormats)) {
        const std::string error =
            ParseExportFormats(parser.value(exportFormats).toStdString(), formats);
        if (!error.empty())
            return BadOption(parser, QStringLiteral("--export: ") + QString::fromStdString(error));
        if (formats.empty())
            return BadOption(parser, QStringLiteral("--export needs one or more of ohm, res2dinv, "
                                                    "csv"));
    }
    LinkOptions linkOptions;
    linkOptions.serialDevice = parser.value(serialDevice).toStdString();
    for (const QString& id : parser.values(usbId)) {
        const std::string error = ParseUsbIds(id.toStdString(), linkOptions.usbIds);
        if (!error.empty())
            return BadOption(parser, QStringLiteral("--usb-id: ") + QString::fromStdString(error));
    }

    if (parser.isSet(dataRoot))
        qputenv("PYLORIX_ROOT", parser.value(dataRoot).toLocal8Bit());

    Settings settings;
    settings.LoadSettings();
    if (connectionCode)
        settings.connectionCode = *connectionCode;

    // A stored list the recorder cannot read in full is used for what it
    // can read; saying so beats a silent prompt for a cable.
    const std::string storedError = ParseUsbIds(settings.usbIds, linkOptions.usbIds);
    if (!storedError.empty())
        std::fprintf(stderr, "pylorix-record: setting UsbIds in %s: %s (left out)\n",
                     Settings::FilePath().c_str(), storedError.c_str());
    SetDefaultLinkOptions(linkOptions);

    if (parser.isSet(address))
        settings.UseAddressForThisLaunch(parser.value(address).toStdString());
    if (parser.isSet(rhoOnly))
        settings.rhoOnly = true;
    if (parser.isSet(noCrc))
        settings.activeCrcCheck = false;
    if (parser.isSet(gaps))
        settings.showGapFillers = true;
    // For this launch only: the recorder never saves the settings.
    if (parser.isSet(exportFormats))
        settings.exportAfterRun = ExportFormatList(formats);

    ConsoleView console(stdout, stderr);
    console.yes = parser.isSet(yes);
    console.cancelRequested = [] { return interrupted != 0; };
    console.progressLine = PYLORIX_ISATTY(stdout) != 0;
    SetUiHooks(&console);
    SessionEngine engine(console, settings);
    console.engine = &engine;
    engine.linkFactory = [](int code) { return CreateLink(code); };
    engine.usbDeviceCount = [] { return UsbDeviceCount(); };

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    if (parser.isSet(view) || parser.isSet(simulate)) {
        const bool viewOnly = parser.isSet(view);
        const std::string file =
            (viewOnly ? parser.value(view) : parser.value(simulate)).toStdString();
        const int result = engine.ReplayFile(file, viewOnly);
        int64_t records = 0;
        for (const BatchInfo& b : console.batches)
            records += b.batchRecords;
        // A file that cannot be used is not a run's result: the engine has
        // said which file and why, and nothing was replayed.
        const char* unusable = result == kReplayHeqUnusable   ? ".heq unusable"
                               : result == kReplayBinUnusable ? ".bin unusable"
                                                              : nullptr;
        std::printf("Replayed %s: %zu batches, %lld records, %s\n", file.c_str(),
                    console.batches.size(), static_cast<long long>(records),
                    unusable ? unusable : RunResultName(result).c_str());
        SetUiHooks(nullptr);
        return unusable ? kExitReplayFileUnusable : ExitCodeFor(result);
    }

    engine.maxRuns = maxRuns;

    // Said now, not after the instrument's Start: no Start is acknowledged
    // while the files cannot be written.
    if (std::string reason; !settings.rhoOnly && !engine.DataFolderWritable(reason))
        std::fprintf(stderr, "pylorix-record: %s\n", reason.c_str());

    // Ctrl+C ends the run at its next cycle, with complete files.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted) {
            engine.RequestClose();
            if (engine.CurrentLink() && engine.CurrentLink()->GetState() > 0)
                engine.CloseLink();
            if (!engine.sessionActive)
                app.quit();
        }
    });
    watch.start(200);

    bool cannotConnect = false;
    console.onTimer = [&] {
        engine.OnSessionTimer();
        if (interrupted || engine.closing ||
            (engine.maxRuns > 0 && engine.runsDone >= engine.maxRuns)) {
            app.quit();
            return;
        }
        if (!engine.openFailure.empty() && !engine.RetryWanted()) {
            // Trying again cannot help (a malformed address): say so and end.
            std::fprintf(stderr, "pylorix-record: cannot connect: %s\n",
                         engine.openFailure.c_str());
            cannotConnect = true;
            app.quit();
            return;
        }
        // The link closed or could not be opened: an unattended station
        // tries again rather than giving up on the day. A failed open has
        // already said why and when in its status line.
        if (engine.openFailure.empty()) {
            std::fprintf(stdout, "Link closed; trying again in %d s\n", kOpenRetryMs / 1000);
            std::fflush(stdout);
        }
        QTimer::singleShot(kOpenRetryMs, [&] { console.SetSessionTimerEnabled(true); });
    };
    console.SetSessionTimerEnabled(true);
    app.exec();
    SetUiHooks(nullptr);
    if (cannotConnect)
        return kExitBadOption;
    if (engine.runsDone == 0)
        return interrupted ? ExitCodeFor(RunClosing) : ExitCodeFor(RunLinkLost);
    return ExitCodeFor(engine.lastResult);
}
