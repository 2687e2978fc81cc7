#include "app/CommandLine.h"

namespace {

// "--name VALUE" or "--name=VALUE"; advances i past what it used.
bool TakeValue(const QStringList& args, qsizetype& i, const QString& name, QString& value,
               QString& error) {
    const QString& a = args[i];
    if (a.startsWith(name + QLatin1Char('='))) {
        value = a.mid(name.size() + 1);
        return true;
    }
    if (a != name)
        return false;
    if (i + 1 >= args.size()) {
        error = name + QStringLiteral(" needs a value");
        return true;
    }
    value = args[++i];
    return true;
}

} // namespace

QString ConnectionCodeError(int code) {
    if (code > 0)
        return {};
    return QStringLiteral("connection code %1 is not valid: use 99 (USB), 100 or 200 (TCP/IP), "
                          "or a serial port number from 1")
        .arg(code);
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine line;
    auto takeRecording = [&line](const QString& file) {
        if (file.isEmpty())
            line.error = QStringLiteral("the recording to show has no name");
        else if (!line.recording.isEmpty() && line.recording != file)
            line.error = QStringLiteral("one recording at a time: ") + line.recording +
                         QStringLiteral(" and ") + file;
        else
            line.recording = file;
    };
    for (qsizetype i = 1; i < args.size() && line.error.isEmpty(); ++i) {
        const QString& a = args[i];
        QString usbId;
        if (TakeValue(args, i, QStringLiteral("--usb-id"), usbId, line.error)) {
            const std::string error = ParseUsbIds(usbId.toStdString(), line.usbIds);
            if (line.error.isEmpty() && !error.empty())
                line.error = QStringLiteral("--usb-id: ") + QString::fromStdString(error);
            continue;
        }
        QString view;
        if (TakeValue(args, i, QStringLiteral("--view"), view, line.error)) {
            if (line.error.isEmpty())
                takeRecording(view);
            continue;
        }
        if (TakeValue(args, i, QStringLiteral("--address"), line.address, line.error) ||
            TakeValue(args, i, QStringLiteral("--serial-device"), line.serialDevice, line.error) ||
            TakeValue(args, i, QStringLiteral("--data-root"), line.dataRoot, line.error))
            continue;
        if (a == QLatin1String("--yes")) {
            line.yes = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            line.help = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            line.error = QStringLiteral("unknown option ") + a;
        } else {
            // A number is the connection (the first one counts); anything
            // else names a recording, as a file manager passes it. A number
            // that names no link (0, negative) is refused rather than
            // opening a serial port that cannot exist.
            bool ok = false;
            const int code = a.trimmed().toInt(&ok);
            if (!ok) {
                takeRecording(a);
            } else if (!line.connectionGiven) {
                line.connectionGiven = true;
                line.connectionCode = code;
                line.error = ConnectionCodeError(code);
            }
        }
    }
    return line;
}

QString CommandLineUsage(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [CONNECTION] [FILE.heq] [options]\n"
               "Pylorix, the monitor of multi-channel resistivity and induced-polarisation\n"
               "acquisitions.\n"
               "\n"
               "CONNECTION (for this launch only; without it, the connection chosen in the\n"
               "Settings dialog, USB at first):\n"
               "  99                    USB\n"
               "  100                   TCP/IP through the instrument's WiConnect module\n"
               "  200                   TCP/IP to a Wi-Fi instrument\n"
               "  N                     serial port N (from 1)\n"
               "\n"
               "FILE.heq                a recorded acquisition to show in the window, as\n"
               "                        \"View file\" does (its .bin beside it)\n"
               "\n"
               "Options:\n"
               "  --view FILE.heq       the same as FILE.heq\n"
               "  --address HOST[:PORT] instrument address for TCP/IP (default port 29461),\n"
               "                        for this launch only: the stored address is kept\n"
               "  --serial-device PATH  serial device to use (for example /dev/ttyUSB0)\n"
               "  --usb-id VID:PID[:SERIAL]\n"
               "                        USB ID of the instrument besides FTDI's own, in\n"
               "                        hexadecimal; with a serial number, that device only\n"
               "                        (repeatable)\n"
               "  --data-root DIR       data root: files go to DIR/Pylorix Data/\n"
               "  --yes                 answer the connection prompts with OK\n"
               "  --help                show this text\n")
        .arg(program);
}
