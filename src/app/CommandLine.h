#pragma once
// The program's command line:
//   pylorix [CONNECTION] [FILE.heq] [--view FILE.heq] [--address HOST[:PORT]]
//           [--serial-device PATH] [--usb-id VID:PID[:SERIAL]]...
//           [--data-root DIR] [--yes] [--help]
// CONNECTION is the connection code (99 USB, 100 WiConnect, 200 Wi-Fi
// instrument, any other number from 1 a serial port). It and the address
// hold for this launch only: the settings file keeps the connection chosen
// in the Settings dialog. FILE.heq is a recording to show in the window.
#include "link/UsbIdentity.h"

#include <QString>
#include <QStringList>

#include <vector>

struct CommandLine {
    int connectionCode = 99;
    // A connection code was given: it replaces the stored one for this launch.
    bool connectionGiven = false;
    QString address;      // replaces the stored instrument address for this launch
    QString recording;    // a recording (.heq) to show once the window is up
    QString serialDevice; // a device to use for the serial port
    QString dataRoot;     // instead of $PYLORIX_ROOT or ~/Varmex
    // Instrument USB IDs besides FTDI's own (--usb-id, repeatable).
    std::vector<UsbId> usbIds;
    bool yes = false; // answer the connection prompts with OK
    bool help = false;
    QString error; // non-empty: the line is not usable
};

// `arguments` includes the program name first.
CommandLine ParseCommandLine(const QStringList& arguments);
// Why a connection code cannot be used ("" when it can): codes from 1 are
// serial ports, 99, 100 and 200 the other links.
QString ConnectionCodeError(int code);
QString CommandLineUsage(const QString& program);
