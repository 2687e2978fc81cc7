#pragma once
// The FtdiApi backends and which one the program uses.
//
// Two backends drive the instrument's FTDI bridge:
//  - D2XX: the vendor's own library (ftd2xx.dll, libftd2xx.dylib,
//    libftd2xx.so), loaded at run time when it is installed. It talks to
//    the FTDI driver every other tool on the laptop uses, so it is the
//    choice on Windows and macOS, where libusb could reach the bridge only
//    after its driver is replaced (Windows) or cannot claim it at all from
//    the system's FTDI driver (macOS).
//  - libftdi1 over libusb, built in when libftdi1 is found: the choice on
//    Linux, where the ftdi_sio driver is detached and reattached around
//    each use.
// Each is the other's fallback. The environment variable PYLORIX_USB_DRIVER
// ("d2xx" or "libftdi") or SelectFtdiBackend forces one.
#include "link/FtdiApi.h"

#include <string>

enum class FtdiBackend { Automatic, D2xx, LibFtdi };

// "auto", "d2xx", "libftdi" (any case); false for anything else.
bool ParseFtdiBackend(const std::string& text, FtdiBackend& backend);

// Forces a backend for ActiveFtdiApi (Automatic: the system's default).
// Takes effect for the next ActiveFtdiApi call; a link already created keeps
// the backend it was given.
void SelectFtdiBackend(FtdiBackend backend);

// What ActiveFtdiApi gives and why, in words for the about box and the log:
// "D2XX (ftd2xx.dll)", "libftdi1", "none: ...".
std::string ActiveFtdiBackendText();

// The libftdi1 backend; only in builds with libftdi1.
FtdiApi& LibFtdiBackend();
