#include "link/D2xxFtdiApi.h"

#include <QByteArray>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>

// D2XX's calls are stdcall on 32-bit Windows; the word is harmless on x64.
#ifdef _WIN32
#define PYLORIX_D2XX_CALL __stdcall
#else
#define PYLORIX_D2XX_CALL
#endif

namespace {

// D2XX's DWORD, ULONG, USHORT and UCHAR, by width: the same on every system
// the library ships for.
using Dword = uint32_t;
using FtHandle = void*;
using FtResult = Dword;

constexpr Dword kOpenByLocation = 4;
constexpr Dword kFlagOpened = 1; // another process holds the device

// The D2XX status codes that UsbLink tells apart share FtStatus's numbers.
constexpr FtResult kD2xxInsufficientResources = 5;

} // namespace

// The entry points, resolved once when the library loads.
struct D2xxFtdiApi::Calls {
    FtResult(PYLORIX_D2XX_CALL* CreateDeviceInfoList)(Dword*);
    FtResult(PYLORIX_D2XX_CALL* GetDeviceInfoDetail)(Dword, Dword*, Dword*, Dword*, Dword*, void*,
                                                     void*, FtHandle*);
    FtResult(PYLORIX_D2XX_CALL* OpenEx)(void*, Dword, FtHandle*);
    FtResult(PYLORIX_D2XX_CALL* Close)(FtHandle);
    FtResult(PYLORIX_D2XX_CALL* SetBaudRate)(FtHandle, Dword);
    FtResult(PYLORIX_D2XX_CALL* SetDataCharacteristics)(FtHandle, uint8_t, uint8_t, uint8_t);
    FtResult(PYLORIX_D2XX_CALL* SetFlowControl)(FtHandle, uint16_t, uint8_t, uint8_t);
    FtResult(PYLORIX_D2XX_CALL* SetDtr)(FtHandle);
    FtResult(PYLORIX_D2XX_CALL* ClrDtr)(FtHandle);
    FtResult(PYLORIX_D2XX_CALL* SetRts)(FtHandle);
    FtResult(PYLORIX_D2XX_CALL* ClrRts)(FtHandle);
    FtResult(PYLORIX_D2XX_CALL* SetTimeouts)(FtHandle, Dword, Dword);
    FtResult(PYLORIX_D2XX_CALL* Read)(FtHandle, void*, Dword, Dword*);
    FtResult(PYLORIX_D2XX_CALL* Write)(FtHandle, void*, Dword, Dword*);
    FtResult(PYLORIX_D2XX_CALL* Purge)(FtHandle, Dword);
    FtResult(PYLORIX_D2XX_CALL* GetQueueStatus)(FtHandle, Dword*);
    FtResult(PYLORIX_D2XX_CALL* GetStatus)(FtHandle, Dword*, Dword*, Dword*);
    FtResult(PYLORIX_D2XX_CALL* GetModemStatus)(FtHandle, Dword*);
    FtResult(PYLORIX_D2XX_CALL* SetLatencyTimer)(FtHandle, uint8_t);
    FtResult(PYLORIX_D2XX_CALL* GetDriverVersion)(FtHandle, Dword*);
    FtResult(PYLORIX_D2XX_CALL* GetLibraryVersion)(Dword*);
    // Only on Linux and macOS, where the library sees FTDI's own IDs plus
    // the one pair set here.
    FtResult(PYLORIX_D2XX_CALL* SetVidPid)(Dword, Dword) = nullptr;
};

namespace {

// One open device: the library's handle, the time-outs the link asked for,
// and the byte a wait took.
struct D2xxDevice {
    FtHandle ft = nullptr;
    Dword locId = 0;
    Dword readMs = 500;
    Dword writeMs = 500;
    std::deque<uint8_t> held;
};

D2xxDevice* Device(FtdiApi::Handle handle) {
    return static_cast<D2xxDevice*>(handle);
}

FtStatus Status(FtResult r) {
    return r == 0 ? kFtOk : FtStatus(r);
}

// The names the library goes by where its installers put it.
std::vector<std::string> CandidateFiles() {
#if defined(_WIN32)
    return {"ftd2xx"}; // ftd2xx.dll, in the system folder or beside the program
#elif defined(__APPLE__)
    return {"libftd2xx.dylib", "/usr/local/lib/libftd2xx.dylib",
            "/opt/homebrew/lib/libftd2xx.dylib"};
#else
    return {"libftd2xx.so", "/usr/local/lib/libftd2xx.so", "/usr/lib/libftd2xx.so"};
#endif
}

std::string OpenFailureText(FtResult r) {
    switch (r) {
    case kFtDeviceNotFound:
        return "the device is no longer attached";
    case kFtDeviceNotOpened:
#if defined(_WIN32)
        return "the device is in use by another program, or its driver is not FTDI's";
#elif defined(__APPLE__)
        return "the device is in use by another program or held by the system's serial driver";
#else
        return "the device is in use, or held by the ftdi_sio driver";
#endif
    case kD2xxInsufficientResources:
        return "the system ran out of resources";
    default:
        return "the D2XX library refused (status " + std::to_string(r) + ")";
    }
}

} // namespace

std::string D2xxLocationText(uint32_t locId) {
    if (locId == 0)
        return {};
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", unsigned(locId));
    std::string text(1, digits[0]);
    for (size_t i = 1; digits[i]; ++i) {
        text += i == 1 ? '-' : '.';
        text += digits[i];
    }
    return text;
}

D2xxFtdiApi::D2xxFtdiApi(const std::string& libraryPath) {
    std::vector<std::string> files;
    if (!libraryPath.empty())
        files.push_back(libraryPath);
    else if (const char* env = std::getenv("PYLORIX_D2XX_LIBRARY"); env && *env)
        files.push_back(env);
    else
        files = CandidateFiles();
    std::string tried;
    for (const std::string& file : files) {
        if (Load(file))
            return;
        tried += (tried.empty() ? "" : "; ") + libraryText_;
    }
    libraryText_ = tried;
}

// QLibrary leaves the library loaded: links still open at exit keep it.
D2xxFtdiApi::~D2xxFtdiApi() = default;

bool D2xxFtdiApi::Load(const std::string& file) {
    library_.setFileName(QString::fromStdString(file));
    if (!library_.load()) {
        libraryText_ = library_.errorString().toStdString();
        return false;
    }
    auto calls = std::make_unique<Calls>();
    std::string missing;
    auto resolve = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(library_.resolve(name));
        if (!fn)
            missing += (missing.empty() ? "" : ", ") + std::string(name);
    };
    resolve(calls->CreateDeviceInfoList, "FT_CreateDeviceInfoList");
    resolve(calls->GetDeviceInfoDetail, "FT_GetDeviceInfoDetail");
    resolve(calls->OpenEx, "FT_OpenEx");
    resolve(calls->Close, "FT_Close");
    resolve(calls->SetBaudRate, "FT_SetBaudRate");
    resolve(calls->SetDataCharacteristics, "FT_SetDataCharacteristics");
    resolve(calls->SetFlowControl, "FT_SetFlowControl");
    resolve(calls->SetDtr, "FT_SetDtr");
    resolve(calls->ClrDtr, "FT_ClrDtr");
    resolve(calls->SetRts, "FT_SetRts");
    resolve(calls->ClrRts, "FT_ClrRts");
    resolve(calls->SetTimeouts, "FT_SetTimeouts");
    resolve(calls->Read, "FT_Read");
    resolve(calls->Write, "FT_Write");
    resolve(calls->Purge, "FT_Purge");
    resolve(calls->GetQueueStatus, "FT_GetQueueStatus");
    resolve(calls->GetStatus, "FT_GetStatus");
    resolve(calls->GetModemStatus, "FT_GetModemStatus");
    resolve(calls->SetLatencyTimer, "FT_SetLatencyTimer");
    resolve(calls->GetDriverVersion, "FT_GetDriverVersion");
    resolve(calls->GetLibraryVersion, "FT_GetLibraryVersion");
    if (!missing.empty()) {
        libraryText_ = library_.fileName().toStdString() + " lacks " + missing;
        library_.unload();
        return false;
    }
    calls->SetVidPid =
        reinterpret_cast<decltype(calls->SetVidPid)>(library_.resolve("FT_SetVIDPID"));
    calls_ = std::move(calls);
    libraryText_ = library_.fileName().toStdString();
    return true;
}

std::string D2xxFtdiApi::Unavailable() const {
    if (calls_)
        return {};
    return "the FTDI D2XX library could not be loaded (" + libraryText_ + ")";
}

FtStatus D2xxFtdiApi::ListDevices(const std::vector<UsbId>& ids, std::vector<UsbDevice>& devices) {
    devices.clear();
    if (!calls_)
        return kFtOtherError;
    // Outside Windows the library looks for FTDI's IDs and one more pair.
    if (calls_->SetVidPid) {
        for (const UsbId& id : ids) {
            const uint32_t packed = (uint32_t(id.vendor) << 16) | id.product;
            if (id.vendor != 0x0403 && packed != customId_) {
                calls_->SetVidPid(id.vendor, id.product);
                customId_ = packed;
                break;
            }
        }
    }
    Dword count = 0;
    if (const FtResult r = calls_->CreateDeviceInfoList(&count); r != 0)
        return Status(r);
    std::map<std::string, uint32_t> locations;
    for (Dword i = 0; i < count; ++i) {
        Dword flags = 0, type = 0, id = 0, locId = 0;
        // The library writes up to 16 and 64 bytes, terminator included;
        // the extra byte keeps a full field terminated all the same.
        char serial[17] = {}, description[65] = {};
        FtHandle unused = nullptr;
        if (calls_->GetDeviceInfoDetail(i, &flags, &type, &id, &locId, serial, description,
                                        &unused) != 0)
            continue;
        // An open device is listed without its strings. The one this
        // program holds is still the instrument: it keeps what it was
        // opened as. Others belong to another program.
        if (flags & kFlagOpened) {
            const auto held = held_.find(locId);
            if (locId != 0 && held != held_.end()) {
                locations[held->second.location] = locId;
                devices.push_back(held->second);
            }
            continue;
        }
        UsbDevice device;
        device.vendor = uint16_t(id >> 16);
        device.product = uint16_t(id & 0xFFFF);
        const bool listed = std::any_of(ids.begin(), ids.end(), [&](const UsbId& u) {
            return u.vendor == device.vendor && u.product == device.product;
        });
        if (!listed)
            continue;
        device.serial = serial;
        device.description = description;
        // D2XX does not give the manufacturer string; the identity rules
        // take an empty one as saying nothing.
        device.location = D2xxLocationText(locId);
        if (device.location.empty())
            device.location = "d2xx-" + std::to_string(i) + "-" + device.serial;
        locations[device.location] = locId;
        devices.push_back(device);
    }
    locations_ = std::move(locations);
    return kFtOk;
}

FtStatus D2xxFtdiApi::Open(const UsbDevice& device, Handle& handle, std::string& error) {
    handle = nullptr;
    error.clear();
    if (!calls_) {
        error = Unavailable();
        return kFtOtherError;
    }
    const auto found = locations_.find(device.location);
    if (found == locations_.end()) {
        error = "the device is no longer attached";
        return kFtDeviceNotFound;
    }
    FtHandle ft = nullptr;
    FtResult r = 0;
    if (found->second != 0) {
        r = calls_->OpenEx(reinterpret_cast<void*>(uintptr_t(found->second)), kOpenByLocation, &ft);
    } else {
        // No location ID (some systems give none): the serial number.
        std::string serial = device.serial;
        r = calls_->OpenEx(serial.data(), 1, &ft);
    }
    if (r != 0 || !ft) {
        error = OpenFailureText(r);
        return r != 0 ? Status(r) : kFtDeviceNotOpened;
    }
    auto* dev = new D2xxDevice;
    dev->ft = ft;
    dev->locId = found->second;
    if (dev->locId != 0)
        held_[dev->locId] = device;
    handle = dev;
    return kFtOk;
}

FtStatus D2xxFtdiApi::Close(Handle handle) {
    D2xxDevice* dev = Device(handle);
    if (!dev || !calls_)
        return kFtInvalidHandle;
    const FtStatus status = Status(calls_->Close(dev->ft));
    held_.erase(dev->locId);
    delete dev;
    return status;
}

FtStatus D2xxFtdiApi::SetBaudRate(Handle handle, uint32_t baud) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->SetBaudRate(dev->ft, baud)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::SetDataCharacteristics(Handle handle, uint8_t wordLength, uint8_t stopBits,
                                             uint8_t parity) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->SetDataCharacteristics(dev->ft, wordLength, stopBits, parity))
               : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::SetFlowControl(Handle handle, uint16_t mode, uint8_t xon, uint8_t xoff) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->SetFlowControl(dev->ft, mode, xon, xoff)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::SetDtr(Handle handle) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->SetDtr(dev->ft)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::ClrDtr(Handle handle) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->ClrDtr(dev->ft)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::SetRts(Handle handle) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->SetRts(dev->ft)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::ClrRts(Handle handle) {
    D2xxDevice* dev = Device(handle);
    return dev ? Status(calls_->ClrRts(dev->ft)) : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::SetTimeouts(Handle handle, uint32_t readMs, uint32_t writeMs) {
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    dev->readMs = readMs;
    dev->writeMs = writeMs;
    return Status(calls_->SetTimeouts(dev->ft, readMs, writeMs));
}

FtStatus D2xxFtdiApi::Read(Handle handle, uint8_t* buf, uint32_t count, uint32_t& read) {
    read = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    for (; read < count && !dev->held.empty(); dev->held.pop_front())
        buf[read++] = dev->held.front();
    if (read == count)
        return kFtOk;
    Dword got = 0;
    const FtResult r = calls_->Read(dev->ft, buf + read, count - read, &got);
    read += std::min<Dword>(got, count - read);
    return Status(r);
}

FtStatus D2xxFtdiApi::WaitForInput(Handle handle, uint32_t maxMs) {
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    if (!dev->held.empty())
        return kFtOk;
    Dword waiting = 0;
    if (const FtResult r = calls_->GetQueueStatus(dev->ft, &waiting);
        r != 0 || waiting > 0 || maxMs == 0)
        return Status(r);
    // The wait is spent in the driver, which ends it as soon as a byte comes.
    FtResult r = calls_->SetTimeouts(dev->ft, maxMs, dev->writeMs);
    if (r != 0)
        return Status(r);
    uint8_t b = 0;
    Dword got = 0;
    r = calls_->Read(dev->ft, &b, 1, &got);
    if (got == 1)
        dev->held.push_back(b);
    const FtResult restored = calls_->SetTimeouts(dev->ft, dev->readMs, dev->writeMs);
    return Status(r != 0 ? r : restored);
}

FtStatus D2xxFtdiApi::Write(Handle handle, const uint8_t* buf, uint32_t count, uint32_t& written) {
    written = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    Dword n = 0;
    // FT_Write takes a non-const pointer but only reads from it.
    const FtResult r = calls_->Write(dev->ft, const_cast<uint8_t*>(buf), count, &n);
    written = std::min<Dword>(n, count);
    return Status(r);
}

FtStatus D2xxFtdiApi::Purge(Handle handle, uint32_t mask) {
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    // The held byte came before the purge: it goes with the rest.
    if (mask & kFtPurgeRx)
        dev->held.clear();
    return Status(calls_->Purge(dev->ft, mask));
}

FtStatus D2xxFtdiApi::GetQueueStatus(Handle handle, uint32_t& rxBytes) {
    rxBytes = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    Dword n = 0;
    const FtResult r = calls_->GetQueueStatus(dev->ft, &n);
    rxBytes = n + uint32_t(dev->held.size());
    return Status(r);
}

FtStatus D2xxFtdiApi::GetStatus(Handle handle, uint32_t& rxBytes, uint32_t& txBytes,
                                uint32_t& events) {
    rxBytes = txBytes = events = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    Dword rx = 0, tx = 0, ev = 0;
    const FtResult r = calls_->GetStatus(dev->ft, &rx, &tx, &ev);
    rxBytes = rx + uint32_t(dev->held.size());
    txBytes = tx;
    events = ev;
    return Status(r);
}

FtStatus D2xxFtdiApi::GetModemStatus(Handle handle, uint32_t& status) {
    status = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    Dword s = 0;
    const FtResult r = calls_->GetModemStatus(dev->ft, &s);
    status = s;
    return Status(r);
}

FtStatus D2xxFtdiApi::SetLatencyTimer(Handle handle, uint8_t ms) {
    D2xxDevice* dev = Device(handle);
    // The chips take 2 to 255 ms.
    return dev ? Status(calls_->SetLatencyTimer(dev->ft, std::max<uint8_t>(ms, 2)))
               : kFtInvalidHandle;
}

FtStatus D2xxFtdiApi::GetDriverVersion(Handle handle, uint32_t& version) {
    version = 0;
    D2xxDevice* dev = Device(handle);
    if (!dev)
        return kFtInvalidHandle;
    Dword v = 0;
    const FtResult r = calls_->GetDriverVersion(dev->ft, &v);
    version = v;
    return Status(r);
}

FtStatus D2xxFtdiApi::GetLibraryVersion(uint32_t& version) {
    version = 0;
    if (!calls_)
        return kFtOtherError;
    Dword v = 0;
    const FtResult r = calls_->GetLibraryVersion(&v);
    version = v;
    return Status(r);
}
