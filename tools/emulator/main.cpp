// varmex-emulator: a resistivity meter on loopback, on a pseudo-terminal or
// on a serial device, for the Pylorix monitor and its tests.
#include "EmuOptions.h"
#include "EmuSession.h"
#include "InstrumentModel.h"
#include "PtyAdapter.h"
#include "Survey.h"
#include "Transport.h"
#include "TruthWriter.h"

#include <QCoreApplication>
#include <cstdio>

using namespace varmexemu;

namespace {

enum ExitCode { ExitOk = 0, ExitUsage = 1, ExitSetup = 2, ExitTimeout = 3 };

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varmex-emulator"));

    EmuOptions options;
    const EmuParseResult parsed = parseEmuOptions(app.arguments(), options);
    if (!parsed.ok) {
        std::fprintf(stderr, "varmex-emulator: %s\n(see --help)\n",
                     parsed.error.toLocal8Bit().constData());
        return ExitUsage;
    }
    if (parsed.exitNow) {
        std::fputs(parsed.helpText.toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    const EmuLog log(options.quiet);
    pty::ignoreBrokenPipe();

    EmuSurvey survey;
    QString error;
    if (!EmuSurvey::build(options, survey, error)) {
        std::fprintf(stderr, "varmex-emulator: %s\n", error.toLocal8Bit().constData());
        return ExitUsage;
    }
    TruthWriter truth;
    EventWriter events;
    if ((!options.truthFile.isEmpty() && !truth.open(options.truthFile, error)) ||
        (!options.eventsFile.isEmpty() && !events.open(options.eventsFile, error))) {
        std::fprintf(stderr, "varmex-emulator: %s\n", error.toLocal8Bit().constData());
        return ExitSetup;
    }

    std::unique_ptr<EmuTransport> transport = EmuTransport::create(options);
    if (!transport->start(error)) {
        std::fprintf(stderr, "varmex-emulator: %s\n", error.toLocal8Bit().constData());
        return ExitSetup;
    }
    // The first line is for scripts and tests: the port or the device path.
    std::printf("%s\n", transport->announcement().toLocal8Bit().constData());
    std::fflush(stdout);
    log.info(QStringLiteral("%1 instrument \"%2\" (%3, %4 x %5 electrodes, %6 channels) on %7")
                 .arg(options.generation == Generation::Wired ? QStringLiteral("wired")
                                                              : QStringLiteral("Wi-Fi"),
                      options.name,
                      options.movingArray ? QStringLiteral("moving array")
                                          : QString::fromLatin1(arrayName(options.array)))
                 .arg(options.lines)
                 .arg(options.electrodes)
                 .arg(options.channels)
                 .arg(transport->description()));

    InstrumentModel instrument(options, survey);
    EmuFaultState faults(options.seed);
    int acquisitions = 0;
    for (;;) {
        log.info(QStringLiteral("waiting for the monitor"));
        if (!transport->waitForPeer(options.acceptTimeoutMs)) {
            log.info(QStringLiteral("no monitor came"));
            return ExitTimeout;
        }
        log.info(QStringLiteral("monitor connected"));
        EmuSession session(
            *transport, options, survey, instrument, faults,
            EmuRecords{truth.isOpen() ? &truth : nullptr, events.isOpen() ? &events : nullptr}, log,
            acquisitions);
        const SessionEnd end = session.run();
        truth.flush();
        if (end != SessionEnd::Dropped)
            transport->closePeer();
        if (end == SessionEnd::TimedOut) {
            // Shown even with --quiet: the run did not end as asked.
            if (options.quiet)
                std::fprintf(stderr, "varmex-emulator: %s\n",
                             session.lastError().toLocal8Bit().constData());
            if (!options.keepListening)
                return ExitTimeout;
        }
        if (!options.keepListening || !transport->canServeAgain())
            break;
    }
    return ExitOk;
}
