#pragma once
// Which attached USB device is the instrument.
//
// The instrument's USB port is an FTDI USB-serial bridge. Most such bridges
// keep the IDs FTDI ships them with, and so do GPS receivers, cables and
// other adapters, so an ID alone does not tell the instrument apart. The
// rule (FindInstruments) takes a device with a listed ID as the instrument
// when one of these holds, and otherwise leaves it alone:
//  1. this program holds it open already;
//  2. the operator gave its ID with its serial number ("VID:PID:SERIAL") and
//     the serial matches;
//  3. the operator gave its ID without a serial and the ID is not one of
//     FTDI's own: a bridge programmed with its own ID belongs to the device
//     it was programmed for;
//  4. its product description, manufacturer or serial names the instrument
//     ("VARMEX" or "KELDO", in any case);
//  5. it is the only attached device with a listed ID, and nothing it says
//     makes it something else: its description is empty (it could not be
//     asked) or made only of the words FTDI ships its chips with ("FT232R
//     USB UART", "USB <-> Serial", "Dual RS232-HS", ...), and its
//     manufacturer is empty or FTDI.
// A device that fails every test (a second plain FTDI adapter, a bridge
// whose description names another product) is never opened: opening it
// would take it from its own driver.
#include <cstdint>
#include <string>
#include <vector>

// A vendor:product pair, optionally with the serial number of one device.
struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string serial; // empty: any device with this ID
    bool operator==(const UsbId&) const = default;
};

// What the system tells about one attached device.
struct UsbDevice {
    uint16_t vendor = 0;
    uint16_t product = 0;
    // Empty when the device has none or could not be asked (no permission).
    std::string manufacturer;
    std::string description;
    std::string serial;
    // Where it is plugged in ("1-2.4": bus, then the port on each hub);
    // opening finds the device again by it.
    std::string location;
};

// The IDs FTDI's bridges leave the factory with: FT232R/FT232BM (6001),
// FT2232 (6010), FT4232H (6011), FT232H (6014), FT-X (6015).
const std::vector<UsbId>& FtdiFactoryIds();
bool IsFtdiFactoryId(uint16_t vendor, uint16_t product);

// Reads "VID:PID[:SERIAL]" entries separated by commas (VID and PID in
// hexadecimal, 1 to 4 digits, "0x" allowed) and appends the good ones to
// ids (each once). Returns an empty text, or why the first bad entry was
// refused; the good entries are taken all the same.
std::string ParseUsbIds(const std::string& text, std::vector<UsbId>& ids);
// "0403:6001" or "0403:6001:A12345".
std::string FormatUsbId(const UsbId& id);

// The vendor:product pairs to look for: FTDI's and the extra ones, each
// once, without serials.
std::vector<UsbId> ListedUsbIds(const std::vector<UsbId>& extra);

// Whether the device's strings name the instrument (rule 4).
bool NamesInstrument(const UsbDevice& device);
// Whether the device's strings are FTDI's factory ones or absent (rule 5).
bool SaysNothingElse(const UsbDevice& device);

// The instruments among the attached devices, as indexes into attached in
// their order. extra: the IDs the operator gave; held: the locations of
// devices this program holds open.
std::vector<size_t> FindInstruments(const std::vector<UsbDevice>& attached,
                                    const std::vector<UsbId>& extra,
                                    const std::vector<std::string>& held = {});
