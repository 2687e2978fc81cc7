#pragma once
// Creates the link object for a connection code: 99 USB, 100 and 200
// TCP/IP, anything else the serial port of that number.
#include "link/Link.h"

#include <QStringList>

#include <memory>
#include <string>

class FtdiApi;

struct LinkOptions {
    // A serial device to use instead of the one the port number stands
    // for (--serial-device PATH): a USB-serial adapter, a pseudo-terminal.
    std::string serialDevice;
    // The FTDI calls for the USB link; the ones in force when null.
    FtdiApi* ftdi = nullptr;
};

// Options taken from the program's arguments: "--serial-device PATH" or
// "--serial-device=PATH".
LinkOptions LinkOptionsFromArguments(const QStringList& arguments);

// The options CreateLink(code) uses; set once at start-up.
void SetDefaultLinkOptions(const LinkOptions& options);
const LinkOptions& DefaultLinkOptions();

std::unique_ptr<Link> CreateLink(int connectionCode, const LinkOptions& options);
std::unique_ptr<Link> CreateLink(int connectionCode);
