#pragma once
// A scripted FTDI device behind FtdiApi: records the calls that change the
// device, queues received bytes and hands written ones to an optional
// instrument double.
#include "link/FtdiApi.h"
#include "link/UiHooks.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class FakeFtdi : public FtdiApi {
public:
    uint32_t devices = 1;
    int openRefusals = 0;   // below 0: refuse for ever
    bool unplugged = false; // queries fail, nothing is listed
    std::vector<int64_t> openTimes;
    std::vector<std::string> calls;
    std::deque<uint8_t> rx;
    std::vector<uint8_t> written;
    uint32_t txQueued = 0;
    uint32_t modemStatus = 0;
    FtStatus driverStatus = kFtOk, libraryStatus = kFtOk;
    uint32_t driverVersion = 0x00020C1A, libraryVersion = 0x00010500;
    int openHandles = 0;
    std::function<void(uint8_t)> onWrite;

    std::vector<std::string> CallsFrom(const std::string& from) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == from)
                return {calls.begin() + long(i), calls.end()};
        return {};
    }

    FtStatus ListDevices(uint32_t& count) override {
        count = unplugged ? 0 : devices;
        return kFtOk;
    }
    FtStatus Open(int index, Handle& handle) override {
        openTimes.push_back(ActiveUiHooks().TickMs());
        Log("Open", index);
        if (devices == 0 || openRefusals != 0) {
            openRefusals -= openRefusals > 0;
            return kFtDeviceNotOpened;
        }
        ++openHandles;
        handle = this;
        return kFtOk;
    }
    FtStatus Close(Handle) override {
        --openHandles;
        return Log("Close");
    }
    FtStatus SetBaudRate(Handle, uint32_t baud) override { return Log("SetBaudRate", baud); }
    FtStatus SetDataCharacteristics(Handle, uint8_t w, uint8_t s, uint8_t p) override {
        return Log("SetDataCharacteristics", w, s, p);
    }
    FtStatus SetFlowControl(Handle, uint16_t mode, uint8_t on, uint8_t off) override {
        return Log("SetFlowControl", mode, on, off);
    }
    FtStatus SetDtr(Handle) override { return Log("SetDtr"); }
    FtStatus ClrDtr(Handle) override { return Log("ClrDtr"); }
    FtStatus SetRts(Handle) override { return Log("SetRts"); }
    FtStatus ClrRts(Handle) override { return Log("ClrRts"); }
    FtStatus SetTimeouts(Handle, uint32_t r, uint32_t w) override {
        return logTimeouts ? Log("SetTimeouts", r, w) : kFtOk;
    }
    FtStatus Read(Handle, uint8_t* buf, uint32_t count, uint32_t& read) override {
        for (read = 0; read < count && !rx.empty(); rx.pop_front())
            buf[read++] = rx.front();
        return kFtOk;
    }
    FtStatus Write(Handle, const uint8_t* buf, uint32_t count, uint32_t& w) override {
        for (w = 0; w < count; ++w) {
            written.push_back(buf[w]);
            if (onWrite)
                onWrite(buf[w]);
        }
        return kFtOk;
    }
    FtStatus Purge(Handle, uint32_t mask) override {
        if (mask & kFtPurgeRx)
            rx.clear();
        return kFtOk;
    }
    FtStatus GetQueueStatus(Handle, uint32_t& n) override {
        n = uint32_t(rx.size());
        return unplugged ? kFtIoError : kFtOk;
    }
    FtStatus GetStatus(Handle h, uint32_t& r, uint32_t& t, uint32_t& e) override {
        t = txQueued;
        e = 0;
        return GetQueueStatus(h, r);
    }
    FtStatus GetModemStatus(Handle, uint32_t& s) override {
        s = modemStatus;
        return kFtOk;
    }
    FtStatus SetLatencyTimer(Handle, uint8_t ms) override { return Log("SetLatencyTimer", ms); }
    FtStatus GetDriverVersion(Handle, uint32_t& v) override {
        v = driverVersion;
        return driverStatus;
    }
    FtStatus GetLibraryVersion(uint32_t& v) override {
        v = libraryVersion;
        return libraryStatus;
    }

    bool logTimeouts = true;

private:
    template <typename... A> FtStatus Log(const std::string& name, A... args) {
        std::string call = name;
        (call.append(" ").append(std::to_string(unsigned(args))), ...);
        calls.push_back(call);
        return kFtOk;
    }
};
