#include "link/UsbIdentity.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr uint16_t kFtdiVendor = 0x0403;

std::string Trimmed(const std::string& text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), space);
    auto end = std::find_if_not(text.rbegin(), text.rend(), space).base();
    return begin < end ? std::string(begin, end) : std::string();
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Words of a string descriptor, upper case, split at anything that is not a
// letter or a digit ("USB <-> Serial" -> USB, SERIAL).
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + ' ') {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word.push_back(char(std::toupper(static_cast<unsigned char>(c))));
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

bool StartsWithThenDigit(const std::string& word, const char* prefix) {
    const std::string p = prefix;
    return word.size() > p.size() && word.compare(0, p.size(), p) == 0 &&
           std::isdigit(static_cast<unsigned char>(word[p.size()]));
}

// A word of the descriptions FTDI's chips and cables leave the factory with.
bool IsFactoryWord(const std::string& word) {
    static const char* const kWords[] = {"USB",   "UART", "SERIAL", "CONVERTER", "RS232",  "RS422",
                                         "RS485", "TTL",  "DUAL",   "QUAD",      "SINGLE", "HS",
                                         "BASIC", "FIFO", "CABLE",  "3V3",       "5V"};
    for (const char* w : kWords)
        if (word == w)
            return true;
    // Chip and cable names: FT232R, FT2232H, FT230X, TTL232R, UM232R.
    return StartsWithThenDigit(word, "FT") || StartsWithThenDigit(word, "TTL") ||
           StartsWithThenDigit(word, "UM");
}

bool IsFtdiManufacturerWord(const std::string& word) {
    for (const char* w : {"FTDI", "FUTURE", "TECHNOLOGY", "DEVICES", "INTERNATIONAL", "LTD"})
        if (word == w)
            return true;
    return false;
}

// 1 to 4 hexadecimal digits, optionally after "0x"; 0 is not an ID.
bool ParseHex16(std::string text, uint16_t& value) {
    text = Trimmed(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = text.substr(2);
    if (text.empty() || text.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    value = uint16_t(v);
    return v != 0;
}

bool SameId(const UsbId& id, const UsbDevice& device) {
    return id.vendor == device.vendor && id.product == device.product;
}

} // namespace

const std::vector<UsbId>& FtdiFactoryIds() {
    static const std::vector<UsbId> ids = {{kFtdiVendor, 0x6001, {}},
                                           {kFtdiVendor, 0x6010, {}},
                                           {kFtdiVendor, 0x6011, {}},
                                           {kFtdiVendor, 0x6014, {}},
                                           {kFtdiVendor, 0x6015, {}}};
    return ids;
}

bool IsFtdiFactoryId(uint16_t vendor, uint16_t product) {
    return std::any_of(FtdiFactoryIds().begin(), FtdiFactoryIds().end(), [&](const UsbId& id) {
        return id.vendor == vendor && id.product == product;
    });
}

std::string ParseUsbIds(const std::string& text, std::vector<UsbId>& ids) {
    std::string error;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (entry.empty())
            continue;
        const size_t colon = entry.find(':');
        const size_t second = colon == std::string::npos ? colon : entry.find(':', colon + 1);
        UsbId id;
        bool ok =
            colon != std::string::npos && ParseHex16(entry.substr(0, colon), id.vendor) &&
            ParseHex16(entry.substr(colon + 1, second == std::string::npos ? std::string::npos
                                                                           : second - colon - 1),
                       id.product);
        if (ok && second != std::string::npos) {
            id.serial = Trimmed(entry.substr(second + 1));
            ok = !id.serial.empty();
        }
        if (!ok) {
            if (error.empty())
                error = "\"" + entry +
                        "\" is not a USB ID (VID:PID or VID:PID:SERIAL, VID and PID in "
                        "hexadecimal, for example 0403:6001)";
            continue;
        }
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    }
    return error;
}

std::string FormatUsbId(const UsbId& id) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", unsigned(id.vendor), unsigned(id.product));
    return id.serial.empty() ? std::string(text) : std::string(text) + ":" + id.serial;
}

std::vector<UsbId> ListedUsbIds(const std::vector<UsbId>& extra) {
    std::vector<UsbId> ids = FtdiFactoryIds();
    for (const UsbId& e : extra) {
        const UsbId pair{e.vendor, e.product, {}};
        if (std::find(ids.begin(), ids.end(), pair) == ids.end())
            ids.push_back(pair);
    }
    return ids;
}

bool NamesInstrument(const UsbDevice& device) {
    for (const std::string* s : {&device.description, &device.manufacturer, &device.serial}) {
        const std::string upper = Upper(*s);
        if (upper.find("VARMEX") != std::string::npos || upper.find("KELDO") != std::string::npos)
            return true;
    }
    return false;
}

bool SaysNothingElse(const UsbDevice& device) {
    const auto description = Words(device.description);
    const auto manufacturer = Words(device.manufacturer);
    return std::all_of(description.begin(), description.end(), IsFactoryWord) &&
           std::all_of(manufacturer.begin(), manufacturer.end(), IsFtdiManufacturerWord);
}

std::vector<size_t> FindInstruments(const std::vector<UsbDevice>& attached,
                                    const std::vector<UsbId>& extra,
                                    const std::vector<std::string>& held) {
    const auto listed = [&](const UsbDevice& d) {
        return IsFtdiFactoryId(d.vendor, d.product) ||
               std::any_of(extra.begin(), extra.end(),
                           [&](const UsbId& id) { return SameId(id, d); });
    };
    std::vector<size_t> candidates;
    for (size_t i = 0; i < attached.size(); ++i)
        if (listed(attached[i]))
            candidates.push_back(i);

    std::vector<size_t> found;
    for (size_t i : candidates) {
        const UsbDevice& d = attached[i];
        const bool isHeld =
            !d.location.empty() && std::find(held.begin(), held.end(), d.location) != held.end();
        const bool serialGiven = std::any_of(extra.begin(), extra.end(), [&](const UsbId& id) {
            return SameId(id, d) && !id.serial.empty() && id.serial == d.serial;
        });
        const bool ownIdGiven = std::any_of(extra.begin(), extra.end(), [&](const UsbId& id) {
            return SameId(id, d) && id.serial.empty() && !IsFtdiFactoryId(d.vendor, d.product);
        });
        if (isHeld || serialGiven || ownIdGiven || NamesInstrument(d) ||
            (candidates.size() == 1 && SaysNothingElse(d)))
            found.push_back(i);
    }
    return found;
}
