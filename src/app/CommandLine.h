#pragma once
// The program's command line:
//   pylorix [CONNECTION] [--address HOST[:PORT]] [--serial-device PATH]
//           [--data-root DIR] [--yes] [--help]
// CONNECTION is the connection code (99 USB, 100 WiConnect, 200 Wi-Fi
// instrument, any other number a serial port); it holds only while no
// settings file exists, since the stored connection wins.
#include <QString>
#include <QStringList>

struct CommandLine {
    int connectionCode = 99;
    QString address;      // overrides the stored instrument address
    QString serialDevice; // a device to use for the serial port
    QString dataRoot;     // instead of $PYLORIX_ROOT or ~/Varmex
    bool yes = false;     // answer the connection prompts with OK
    bool help = false;
    QString error; // non-empty: the line is not usable
};

// `arguments` includes the program name first.
CommandLine ParseCommandLine(const QStringList& arguments);
QString CommandLineUsage(const QString& program);
