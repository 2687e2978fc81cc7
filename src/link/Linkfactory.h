#pragma once
// Creates the link object for a connection code: 99 USB, 100 and 200
// TCP/IP, anything else the serial port of that number.
#include "Portvirt.h"

#include <QStringList>

#include <memory>
#include <string>

class TFtdiApi;

struct TLinkOptions {
    // A serial device to use instead of the one the port number stands
    // for (--serial-device PATH): a USB-serial adapter, a pseudo-terminal.
    std::string serialDevice;
    // The FTDI calls for the USB link; the ones in force when null.
    TFtdiApi* ftdi = nullptr;
};

// Options taken from the program's arguments: "--serial-device PATH" or
// "--serial-device=PATH".
TLinkOptions LinkOptionsFromArguments(const QStringList& arguments);

// The options CreateLink(code) uses; set once at start-up.
void SetDefaultLinkOptions(const TLinkOptions& options);
const TLinkOptions& DefaultLinkOptions();

std::unique_ptr<TPortVirt> CreateLink(int connectionCode, const TLinkOptions& options);
std::unique_ptr<TPortVirt> CreateLink(int connectionCode);
