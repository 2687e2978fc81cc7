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
    bool connectionSeen = false;
    for (qsizetype i = 1; i < args.size() && line.error.isEmpty(); ++i) {
        const QString& a = args[i];
        QString usbId;
        if (TakeValue(args, i, QStringLiteral("--usb-id"), usbId, line.error)) {
            const std::string error = ParseUsbIds(usbId.toStdString(), line.usbIds);
            if (line.error.isEmpty() && !error.empty())
                line.error = QStringLiteral("--usb-id: ") + QString::fromStdString(error);
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
        } else if (!connectionSeen) {
            // Only the first plain argument is the connection; a text that
            // is not a number means USB, as no argument does. A number that
            // names no link (0, negative) is refused rather than opening a
            // serial port that cannot exist.
            connectionSeen = true;
            bool ok = false;
            const int code = a.trimmed().toInt(&ok);
            line.connectionCode = ok ? code : 99;
            line.error = ConnectionCodeError(line.connectionCode);
        }
    }
    return line;
}

QString CommandLineUsage(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [CONNECTION] [options]\n"
               "Pylorix, the monitor of multi-channel resistivity and induced-polarisation\n"
               "acquisitions.\n"
               "\n"
               "CONNECTION (used only while no settings file exists; afterwards the\n"
               "connection chosen in the Settings dialog wins):\n"
               "  99                    USB (default)\n"
               "  100                   TCP/IP through the instrument's WiConnect module\n"
               "  200                   TCP/IP to a Wi-Fi instrument\n"
               "  N                     serial port N (from 1)\n"
               "\n"
               "Options:\n"
               "  --address HOST[:PORT] instrument address for TCP/IP (default port 29461)\n"
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
