#pragma once
// Creates the link object for a connection code: 99 USB, 100 and 200
// TCP/IP, anything else the serial port of that number.
#include "link/Link.h"
#include "link/UsbIdentity.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class FtdiApi;

struct LinkOptions {
    // A serial device to use instead of the one the port number stands
    // for (--serial-device PATH): a USB-serial adapter, a pseudo-terminal.
    std::string serialDevice;
    // The FTDI calls for the USB link; the ones in force when null.
    FtdiApi* ftdi = nullptr;
    // Instrument USB IDs besides FTDI's own (--usb-id, the "UsbIds"
    // setting); see link/UsbIdentity.h.
    std::vector<UsbId> usbIds;
};

// Options taken from the program's arguments: "--serial-device PATH",
// "--usb-id VID:PID[:SERIAL]" (repeatable), each also as "--name=VALUE".
// IDs that cannot be read are left out: the programs refuse them while
// parsing their command lines.
LinkOptions LinkOptionsFromArguments(const QStringList& arguments);

// The options CreateLink(code) uses; set once at start-up.
void SetDefaultLinkOptions(const LinkOptions& options);
const LinkOptions& DefaultLinkOptions();
// Adds the instrument IDs of a setting's text ("VID:PID[:SERIAL],...") to
// the default options. Returns an empty text, or why an entry was refused
// (the good ones are added all the same).
std::string AddDefaultUsbIds(const std::string& text);

std::unique_ptr<Link> CreateLink(int connectionCode, const LinkOptions& options);
std::unique_ptr<Link> CreateLink(int connectionCode);
