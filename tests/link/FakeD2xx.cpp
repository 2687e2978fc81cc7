// A stand-in for the vendor's D2XX library, built as a shared library with
// the same entry points, so that the D2XX backend is tested through real
// dynamic loading. It plays the scripted device a test hands it
// (FakeD2xxPlay with a FakeFtdi): each D2XX call becomes the FtdiApi call
// of the same meaning, and the listing behaves as the library's does
// outside Windows: FTDI's own IDs, plus the one pair set with FT_SetVIDPID;
// a device open is listed with its IDs and location but without its
// strings, and flagged as open.
#include "link/FtdiApi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#define FAKE_D2XX_API extern "C" __declspec(dllexport)
#define FAKE_D2XX_CALL __stdcall
#else
#define FAKE_D2XX_API extern "C" __attribute__((visibility("default")))
#define FAKE_D2XX_CALL
#endif

using Dword = uint32_t;
using FtHandle = void*;

namespace {

FtdiApi* device = nullptr;
std::vector<UsbDevice> listed;
std::vector<UsbId> customIds;
// Location ID of each open handle.
std::map<FtHandle, Dword> opened;

// "1-2.4" as the library's location ID: a hexadecimal digit for the bus,
// then one per port. 0 when the text does not fit that form.
Dword LocationId(const std::string& location) {
    Dword id = 0;
    for (char c : location) {
        if (c == '-' || c == '.')
            continue;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return 0;
        id = (id << 4) | Dword(digit);
    }
    return id;
}

std::vector<UsbId> SeenIds() {
    std::vector<UsbId> ids = {{0x0403, 0x6001, {}},
                              {0x0403, 0x6010, {}},
                              {0x0403, 0x6011, {}},
                              {0x0403, 0x6014, {}},
                              {0x0403, 0x6015, {}}};
    ids.insert(ids.end(), customIds.begin(), customIds.end());
    return ids;
}

void CopyText(const std::string& text, void* out, size_t size) {
    if (!out)
        return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    static_cast<char*>(out)[n] = '\0';
}

} // namespace

FAKE_D2XX_API void FakeD2xxPlay(FtdiApi* playing) {
    device = playing;
    listed.clear();
    customIds.clear();
    opened.clear();
}

FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetVIDPID(Dword vid, Dword pid) {
    customIds = {{uint16_t(vid), uint16_t(pid), {}}};
    return kFtOk;
}

FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_CreateDeviceInfoList(Dword* count) {
    *count = 0;
    if (!device)
        return kFtOtherError;
    const FtStatus status = device->ListDevices(SeenIds(), listed);
    *count = Dword(listed.size());
    return Dword(status);
}

FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetDeviceInfoDetail(Dword index, Dword* flags, Dword* type,
                                                          Dword* id, Dword* locId, void* serial,
                                                          void* description, FtHandle* handle) {
    if (index >= listed.size())
        return kFtDeviceNotFound;
    const UsbDevice& d = listed[index];
    *type = 5; // an FT232R
    *id = (Dword(d.vendor) << 16) | d.product;
    *locId = LocationId(d.location);
    const bool open = std::any_of(opened.begin(), opened.end(),
                                  [&](const auto& o) { return o.second == *locId; });
    *flags = open ? 1 : 0;
    CopyText(open ? "" : d.serial, serial, 16);
    CopyText(open ? "" : d.description, description, 64);
    *handle = nullptr;
    return kFtOk;
}

FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_OpenEx(void* arg, Dword flags, FtHandle* handle) {
    *handle = nullptr;
    if (!device)
        return kFtOtherError;
    const auto found = std::find_if(listed.begin(), listed.end(), [&](const UsbDevice& d) {
        if (flags == 4)
            return LocationId(d.location) == Dword(reinterpret_cast<uintptr_t>(arg));
        return flags == 1 && d.serial == static_cast<const char*>(arg);
    });
    if (found == listed.end())
        return kFtDeviceNotFound;
    std::string error;
    FtdiApi::Handle h = nullptr;
    const FtStatus status = device->Open(*found, h, error);
    *handle = h;
    if (status == kFtOk)
        opened[h] = LocationId(found->location);
    return Dword(status);
}

FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_Close(FtHandle h) {
    opened.erase(h);
    return Dword(device->Close(h));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetBaudRate(FtHandle h, Dword baud) {
    return Dword(device->SetBaudRate(h, baud));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetDataCharacteristics(FtHandle h, uint8_t word, uint8_t stop,
                                                             uint8_t parity) {
    return Dword(device->SetDataCharacteristics(h, word, stop, parity));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetFlowControl(FtHandle h, uint16_t mode, uint8_t on,
                                                     uint8_t off) {
    return Dword(device->SetFlowControl(h, mode, on, off));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetDtr(FtHandle h) {
    return Dword(device->SetDtr(h));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_ClrDtr(FtHandle h) {
    return Dword(device->ClrDtr(h));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetRts(FtHandle h) {
    return Dword(device->SetRts(h));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_ClrRts(FtHandle h) {
    return Dword(device->ClrRts(h));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetTimeouts(FtHandle h, Dword readMs, Dword writeMs) {
    return Dword(device->SetTimeouts(h, readMs, writeMs));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_Read(FtHandle h, void* buf, Dword count, Dword* got) {
    uint32_t n = 0;
    const FtStatus status = device->Read(h, static_cast<uint8_t*>(buf), count, n);
    *got = n;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_Write(FtHandle h, void* buf, Dword count, Dword* put) {
    uint32_t n = 0;
    const FtStatus status = device->Write(h, static_cast<const uint8_t*>(buf), count, n);
    *put = n;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_Purge(FtHandle h, Dword mask) {
    return Dword(device->Purge(h, mask));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetQueueStatus(FtHandle h, Dword* rx) {
    uint32_t n = 0;
    const FtStatus status = device->GetQueueStatus(h, n);
    *rx = n;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetStatus(FtHandle h, Dword* rx, Dword* tx, Dword* events) {
    uint32_t r = 0, t = 0, e = 0;
    const FtStatus status = device->GetStatus(h, r, t, e);
    *rx = r;
    *tx = t;
    *events = e;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetModemStatus(FtHandle h, Dword* modem) {
    uint32_t s = 0;
    const FtStatus status = device->GetModemStatus(h, s);
    *modem = s;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_SetLatencyTimer(FtHandle h, uint8_t ms) {
    return Dword(device->SetLatencyTimer(h, ms));
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetDriverVersion(FtHandle h, Dword* version) {
    uint32_t v = 0;
    const FtStatus status = device->GetDriverVersion(h, v);
    *version = v;
    return Dword(status);
}
FAKE_D2XX_API Dword FAKE_D2XX_CALL FT_GetLibraryVersion(Dword* version) {
    uint32_t v = 0;
    const FtStatus status = device ? device->GetLibraryVersion(v) : kFtOtherError;
    *version = v;
    return Dword(status);
}
