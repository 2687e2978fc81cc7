#pragma once
// A scripted FTDI device behind FtdiApi: records the calls that change the
// device, lists the attached devices it is given, queues received bytes and
// hands written ones to an optional instrument double.
//
// It keeps the chip's timing on the clock of the hooks in force: written
// bytes leave at the baud rate set, and a read or wait that finds nothing
// received lasts up to one latency period (latencyMs), as a bulk read of an
// idle chip does. idleWaits counts those, so tests can tell a link that
// waits on the receiver from one that does not without measuring time.
#include "link/FtdiApi.h"
#include "link/UiHooks.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class FakeFtdi : public FtdiApi {
public:
    // An FTDI bridge as it leaves the factory, plugged in at location.
    static UsbDevice Bridge(const std::string& location, uint16_t product = 0x6001,
                            const std::string& description = "FT232R USB UART",
                            const std::string& serial = "A10K3QZB") {
        UsbDevice d;
        d.vendor = 0x0403;
        d.product = product;
        d.manufacturer = "FTDI";
        d.description = description;
        d.serial = serial;
        d.location = location;
        return d;
    }

    std::vector<UsbDevice> attached = {Bridge("1-1")};
    int openRefusals = 0; // below 0: refuse for ever
    FtStatus refusal = kFtDeviceNotOpened;
    std::string refusalText = "unable to claim usb device";
    bool unplugged = false; // queries fail, nothing is listed
    std::vector<int64_t> openTimes;
    std::vector<std::string> calls;
    std::deque<uint8_t> rx;
    std::vector<uint8_t> written;
    uint32_t txQueued = 0; // bytes that never leave (a stuck transmitter)
    uint32_t modemStatus = 0;
    FtStatus driverStatus = kFtOk, libraryStatus = kFtOk;
    uint32_t driverVersion = 0x00020C1A, libraryVersion = 0x00010500;
    int openHandles = 0;
    std::function<void(uint8_t)> onWrite;
    bool logTimeouts = true;

    // ---- the chip's timing ------------------------------------------------
    int latencyMs = 0;
    uint32_t baud = 9600;
    int idleWaits = 0; // reads and waits that found nothing and took time
    int reads = 0;
    // Bytes written while an earlier one had not yet left.
    int writesWhileSending = 0;
    // The first libftdi adapter answered a status query on an empty receive
    // queue with a read lasting one latency period; the benchmark sets this
    // to measure that behaviour.
    bool statusWaitsForChip = false;
    // Microseconds; the benchmark gives a finer clock than the hooks' ms.
    std::function<int64_t()> clockUs = [] { return ActiveUiHooks().TickMs() * 1000; };

    std::vector<std::string> CallsFrom(const std::string& from) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == from)
                return {calls.begin() + long(i), calls.end()};
        return {};
    }

    // Written bytes still on their way out.
    uint32_t Sending() const {
        const int64_t left = txIdleUs_ - clockUs();
        if (left <= 0)
            return 0;
        return uint32_t((left * int64_t(baud) + 10'000'000 - 1) / 10'000'000);
    }

    FtStatus ListDevices(const std::vector<UsbId>& ids, std::vector<UsbDevice>& devices) override {
        devices.clear();
        if (unplugged)
            return kFtOk;
        for (const UsbDevice& d : attached)
            if (std::any_of(ids.begin(), ids.end(), [&](const UsbId& id) {
                    return id.vendor == d.vendor && id.product == d.product;
                }))
                devices.push_back(d);
        return kFtOk;
    }
    FtStatus Open(const UsbDevice& device, Handle& handle, std::string& error) override {
        openTimes.push_back(ActiveUiHooks().TickMs());
        calls.push_back("Open " + device.location);
        const bool present =
            !unplugged && std::any_of(attached.begin(), attached.end(), [&](const UsbDevice& d) {
                return d.location == device.location;
            });
        if (!present) {
            error = "the device is no longer attached";
            return kFtDeviceNotFound;
        }
        if (openRefusals != 0) {
            openRefusals -= openRefusals > 0;
            error = refusalText;
            return refusal;
        }
        ++openHandles;
        handle = this;
        return kFtOk;
    }
    FtStatus Close(Handle) override {
        --openHandles;
        return Log("Close");
    }
    FtStatus SetBaudRate(Handle, uint32_t b) override {
        baud = b;
        return Log("SetBaudRate", b);
    }
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
        readTimeoutMs_ = r;
        return logTimeouts ? Log("SetTimeouts", r, w) : kFtOk;
    }
    FtStatus Read(Handle, uint8_t* buf, uint32_t count, uint32_t& read) override {
        ++reads;
        for (read = 0; read < count && !rx.empty(); rx.pop_front())
            buf[read++] = rx.front();
        if (read == 0 && count > 0 && readTimeoutMs_ > 0)
            IdleFor(readTimeoutMs_);
        return unplugged ? kFtIoError : kFtOk;
    }
    FtStatus WaitForInput(Handle, uint32_t maxMs) override {
        if (rx.empty())
            IdleFor(maxMs);
        return unplugged ? kFtIoError : kFtOk;
    }
    FtStatus Write(Handle, const uint8_t* buf, uint32_t count, uint32_t& w) override {
        if (Sending() > 0)
            ++writesWhileSending;
        const int64_t start = std::max(clockUs(), txIdleUs_);
        txIdleUs_ = start + (int64_t(count) * 10'000'000 + baud - 1) / baud;
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
        if (mask & kFtPurgeTx)
            txIdleUs_ = 0;
        return kFtOk;
    }
    FtStatus GetQueueStatus(Handle, uint32_t& n) override {
        if (statusWaitsForChip && rx.empty())
            IdleFor(uint32_t(latencyMs));
        n = uint32_t(rx.size());
        return unplugged ? kFtIoError : kFtOk;
    }
    FtStatus GetStatus(Handle h, uint32_t& r, uint32_t& t, uint32_t& e) override {
        e = 0;
        const FtStatus status = GetQueueStatus(h, r);
        t = txQueued + Sending();
        return status;
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

private:
    // The chip answers an idle bulk read after its latency period; a wait
    // shorter than that ends first.
    void IdleFor(uint32_t maxMs) {
        ++idleWaits;
        const int ms = std::min(int(maxMs), latencyMs);
        if (ms > 0)
            ActiveUiHooks().SleepMs(ms);
    }

    template <typename... A> FtStatus Log(const std::string& name, A... args) {
        std::string call = name;
        (call.append(" ").append(std::to_string(unsigned(args))), ...);
        calls.push_back(call);
        return kFtOk;
    }

    uint32_t readTimeoutMs_ = 500;
    int64_t txIdleUs_ = 0;
};
