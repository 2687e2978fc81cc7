#pragma once
// FtdiApi: the FTDI USB-serial calls the USB link makes, one method per
// call, each returning a status (0 for success). The program's backends
// sit on the vendor's D2XX library or on libftdi1 and libusb
// (link/FtdiBackends.h); tests put a scripted device behind it.
#include "link/UsbIdentity.h"

#include <cstdint>
#include <string>
#include <vector>

using FtStatus = int;
constexpr FtStatus kFtOk = 0;
constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtDeviceNotFound = 2;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr FtStatus kFtIoError = 4;
constexpr FtStatus kFtOtherError = 18;
// The system refused this user the device (no udev rule, say).
constexpr FtStatus kFtAccessDenied = 32;

// Purge masks.
constexpr uint32_t kFtPurgeRx = 1;
constexpr uint32_t kFtPurgeTx = 2;

// Flow-control modes.
constexpr uint16_t kFtFlowNone = 0x0000;
constexpr uint16_t kFtFlowRtsCts = 0x0100;
constexpr uint16_t kFtFlowDtrDsr = 0x0200;
constexpr uint16_t kFtFlowXonXoff = 0x0400;

// Modem-status bit of the DSR input.
constexpr uint32_t kFtModemDsr = 0x20;

class FtdiApi {
public:
    using Handle = void*;
    virtual ~FtdiApi() = default;

    // Why this backend cannot work at all (its library is missing, it was
    // not built in), in words for the operator; empty when it can.
    virtual std::string Unavailable() const { return {}; }

    // The attached devices whose vendor:product is among ids (serials in ids
    // are not looked at), with their strings, in the system's order.
    virtual FtStatus ListDevices(const std::vector<UsbId>& ids,
                                 std::vector<UsbDevice>& devices) = 0;
    // Opens a device a listing gave (found again by its location and IDs);
    // on failure error says why in the system's words.
    virtual FtStatus Open(const UsbDevice& device, Handle& handle, std::string& error) = 0;
    virtual FtStatus Close(Handle handle) = 0;
    virtual FtStatus SetBaudRate(Handle handle, uint32_t baud) = 0;
    // wordLength 7 or 8; stopBits 0 (one) or 2 (two); parity 0 none, 1 odd,
    // 2 even, 3 mark, 4 space.
    virtual FtStatus SetDataCharacteristics(Handle handle, uint8_t wordLength, uint8_t stopBits,
                                            uint8_t parity) = 0;
    virtual FtStatus SetFlowControl(Handle handle, uint16_t mode, uint8_t xon, uint8_t xoff) = 0;
    virtual FtStatus SetDtr(Handle handle) = 0;
    virtual FtStatus ClrDtr(Handle handle) = 0;
    virtual FtStatus SetRts(Handle handle) = 0;
    virtual FtStatus ClrRts(Handle handle) = 0;
    // Later reads return after at most readMs.
    virtual FtStatus SetTimeouts(Handle handle, uint32_t readMs, uint32_t writeMs) = 0;
    // Waits (up to the read time-out) for count bytes; read tells how many
    // came. Bytes already received are returned at once.
    virtual FtStatus Read(Handle handle, uint8_t* buf, uint32_t count, uint32_t& read) = 0;
    // Waits until received bytes are waiting or maxMs pass; takes none.
    virtual FtStatus WaitForInput(Handle handle, uint32_t maxMs) = 0;
    virtual FtStatus Write(Handle handle, const uint8_t* buf, uint32_t count,
                           uint32_t& written) = 0;
    virtual FtStatus Purge(Handle handle, uint32_t mask) = 0;
    // Received bytes waiting. Never waits for the device.
    virtual FtStatus GetQueueStatus(Handle handle, uint32_t& rxBytes) = 0;
    // Received bytes waiting and written bytes not yet sent on the line.
    // Never waits for the device.
    virtual FtStatus GetStatus(Handle handle, uint32_t& rxBytes, uint32_t& txBytes,
                               uint32_t& events) = 0;
    virtual FtStatus GetModemStatus(Handle handle, uint32_t& status) = 0;
    virtual FtStatus SetLatencyTimer(Handle handle, uint8_t ms) = 0;
    // Versions carry major, minor and build in bytes 2, 1 and 0.
    virtual FtStatus GetDriverVersion(Handle handle, uint32_t& version) = 0;
    virtual FtStatus GetLibraryVersion(uint32_t& version) = 0;
};

// The implementation in force: the backend chosen for this system
// (link/FtdiBackends.h) unless a test installed another. SetFtdiApi(nullptr)
// restores the chosen backend.
FtdiApi& ActiveFtdiApi();
void SetFtdiApi(FtdiApi* api);
