// pylorix-record: the acquisition engine without a window. It links to an
// instrument, waits for Start, records every acquisition to the data folder
// and prints what the window would show; or replays a recorded acquisition.
#include "ConsoleView.h"
#include "engine/SessionEngine.h"
#include "link/LinkFactory.h"
#include "link/UsbLink.h"
#include "settings/Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

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
    "error, 110 file mismatch, 115 file error, 120 closing; 2 for a bad option.";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pylorix-record");
    QCoreApplication::setApplicationVersion(PYLORIX_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption connection(
        "connection",
        "99 USB, 100 TCP/IP (WiConnect), 200 TCP/IP (Wi-Fi instrument), N serial port N.", "CODE");
    const QCommandLineOption address("address", "Instrument address for TCP/IP.", "HOST[:PORT]");
    const QCommandLineOption serialDevice("serial-device", "Serial device to use.", "PATH");
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
    parser.addOptions({connection, address, serialDevice, dataRoot, rhoOnly, noCrc, gaps, runs, yes,
                       view, simulate});
    parser.process(app);

    if (parser.isSet(dataRoot))
        qputenv("PYLORIX_ROOT", parser.value(dataRoot).toLocal8Bit());

    LinkOptions linkOptions;
    linkOptions.serialDevice = parser.value(serialDevice).toStdString();
    SetDefaultLinkOptions(linkOptions);

    Settings settings;
    settings.LoadSettings();
    if (parser.isSet(connection)) {
        bool ok = false;
        settings.connectionCode = parser.value(connection).toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "pylorix-record: --connection needs a number\n");
            return 2;
        }
    }
    if (parser.isSet(address))
        settings.ipAddress = parser.value(address).toStdString();
    if (parser.isSet(rhoOnly))
        settings.rhoOnly = true;
    if (parser.isSet(noCrc))
        settings.activeCrcCheck = false;
    if (parser.isSet(gaps))
        settings.showGapFillers = true;

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
        std::printf("Replayed %s: %zu batches, %lld records, %s\n", file.c_str(),
                    console.batches.size(), static_cast<long long>(records),
                    result < -100 ? "files missing" : RunResultName(result).c_str());
        SetUiHooks(nullptr);
        return result < -100 ? 2 : ExitCodeFor(result);
    }

    if (parser.isSet(runs))
        engine.maxRuns = parser.value(runs).toInt();

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

    console.onTimer = [&] {
        engine.OnSessionTimer();
        if (interrupted || engine.closing ||
            (engine.maxRuns > 0 && engine.runsDone >= engine.maxRuns)) {
            app.quit();
            return;
        }
        // The link closed or could not be opened: an unattended station
        // tries again rather than giving up on the day.
        std::fprintf(stdout, "Link closed; trying again in 5 s\n");
        std::fflush(stdout);
        QTimer::singleShot(5000, [&] { console.SetSessionTimerEnabled(true); });
    };
    console.SetSessionTimerEnabled(true);
    app.exec();
    SetUiHooks(nullptr);
    if (engine.runsDone == 0)
        return interrupted ? ExitCodeFor(RunClosing) : ExitCodeFor(RunLinkLost);
    return ExitCodeFor(engine.lastResult);
}
