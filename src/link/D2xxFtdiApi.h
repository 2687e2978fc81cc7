#pragma once
// FtdiApi on the vendor's D2XX library, loaded at run time through QLibrary
// so that nothing proprietary is linked or shipped: the program finds the
// library the FTDI driver installed (ftd2xx.dll in the system folder on
// Windows, libftd2xx.dylib or libftd2xx.so in /usr/local/lib elsewhere), or
// the file PYLORIX_D2XX_LIBRARY names.
//
// D2XX has no call that waits for input without taking it, so
// WaitForInput reads one byte with the wait as the read time-out and holds
// it for the next Read; the counts include the held byte.
#include "link/FtdiApi.h"

#include <QLibrary>

#include <map>
#include <memory>
#include <string>

class D2xxFtdiApi : public FtdiApi {
public:
    // Loads the library at libraryPath, or by the system's name (after
    // PYLORIX_D2XX_LIBRARY) when it is empty.
    explicit D2xxFtdiApi(const std::string& libraryPath = {});
    ~D2xxFtdiApi() override;
    D2xxFtdiApi(const D2xxFtdiApi&) = delete;
    D2xxFtdiApi& operator=(const D2xxFtdiApi&) = delete;

    bool Loaded() const { return calls_ != nullptr; }
    // The file that was loaded, or what was tried and why it failed.
    const std::string& LibraryText() const { return libraryText_; }

    std::string Unavailable() const override;
    FtStatus ListDevices(const std::vector<UsbId>& ids, std::vector<UsbDevice>& devices) override;
    FtStatus Open(const UsbDevice& device, Handle& handle, std::string& error) override;
    FtStatus Close(Handle handle) override;
    FtStatus SetBaudRate(Handle handle, uint32_t baud) override;
    FtStatus SetDataCharacteristics(Handle handle, uint8_t wordLength, uint8_t stopBits,
                                    uint8_t parity) override;
    FtStatus SetFlowControl(Handle handle, uint16_t mode, uint8_t xon, uint8_t xoff) override;
    FtStatus SetDtr(Handle handle) override;
    FtStatus ClrDtr(Handle handle) override;
    FtStatus SetRts(Handle handle) override;
    FtStatus ClrRts(Handle handle) override;
    FtStatus SetTimeouts(Handle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus Read(Handle handle, uint8_t* buf, uint32_t count, uint32_t& read) override;
    FtStatus WaitForInput(Handle handle, uint32_t maxMs) override;
    FtStatus Write(Handle handle, const uint8_t* buf, uint32_t count, uint32_t& written) override;
    FtStatus Purge(Handle handle, uint32_t mask) override;
    FtStatus GetQueueStatus(Handle handle, uint32_t& rxBytes) override;
    FtStatus GetStatus(Handle handle, uint32_t& rxBytes, uint32_t& txBytes,
                       uint32_t& events) override;
    FtStatus GetModemStatus(Handle handle, uint32_t& status) override;
    FtStatus SetLatencyTimer(Handle handle, uint8_t ms) override;
    FtStatus GetDriverVersion(Handle handle, uint32_t& version) override;
    FtStatus GetLibraryVersion(uint32_t& version) override;

    struct Calls;

private:
    bool Load(const std::string& file);

    QLibrary library_;
    std::unique_ptr<Calls> calls_;
    std::string libraryText_;
    // D2XX location ID of each device location the last listing gave.
    std::map<std::string, uint32_t> locations_;
    // The devices this program holds open, by location ID, as they were
    // listed before they were opened.
    std::map<uint32_t, UsbDevice> held_;
    // The extra vendor:product last handed to FT_SetVIDPID.
    uint32_t customId_ = 0;
};

// A D2XX location ID in the "bus-port.port" form the listing uses
// elsewhere: one hexadecimal digit for the bus, then one per port from the
// root (0x124 is "1-2.4"). Empty for 0.
std::string D2xxLocationText(uint32_t locId);
