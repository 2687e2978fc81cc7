// The FtdiApi backend on libftdi1 and libusb (built when libftdi1 is
// found). Receiving runs on reads kept in flight (link/LibFtdiDevice.h), so
// that asking how much has come never waits for the device; writes are synchronous (the bytes are
// in the chip when the call returns), and how many have not yet left it comes from the clock
// (link/LinePace.h).
#include "link/FtdiApi.h"
#include "link/FtdiBackends.h"

#include "link/LibFtdiDevice.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <map>

namespace {

using Clock = std::chrono::steady_clock;

LibFtdiDevice* Device(FtdiApi::Handle handle) {
    return static_cast<LibFtdiDevice*>(handle);
}

uint32_t PackVersion(int major, int minor, int build) {
    return (uint32_t(major & 0xFF) << 16) | (uint32_t(minor & 0xFF) << 8) | uint32_t(build & 0xFF);
}

bool Listed(const std::vector<UsbId>& ids, const libusb_device_descriptor& desc) {
    return std::any_of(ids.begin(), ids.end(), [&](const UsbId& id) {
        return id.vendor == desc.idVendor && id.product == desc.idProduct;
    });
}

class LibFtdiApi : public FtdiApi {
public:
    ~LibFtdiApi() override {
        if (listCtx_)
            ftdi_free(listCtx_);
    }

    FtStatus ListDevices(const std::vector<UsbId>& ids, std::vector<UsbDevice>& devices) override {
        devices.clear();
        if (!listCtx_)
            listCtx_ = ftdi_new();
        if (!listCtx_)
            return kFtOtherError;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(listCtx_->usb_ctx, &list);
        if (n < 0)
            return kFtIoError;
        // The strings cost a few control transfers per device and the
        // session counts instruments often: ask each plugged-in device once.
        std::map<std::string, UsbDevice> seen;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) != 0 || !Listed(ids, desc))
                continue;
            UsbDevice device;
            device.vendor = desc.idVendor;
            device.product = desc.idProduct;
            device.location = UsbLocation(list[i]);
            // A device plugged in again gets a new address.
            const std::string key = device.location + "/" +
                                    std::to_string(libusb_get_device_address(list[i])) + "/" +
                                    FormatUsbId({device.vendor, device.product, {}});
            const auto cached = strings_.find(key);
            if (cached != strings_.end())
                device = cached->second;
            else
                ReadUsbStrings(list[i], desc, device);
            seen[key] = device;
            devices.push_back(device);
        }
        libusb_free_device_list(list, 1);
        strings_ = std::move(seen);
        return kFtOk;
    }

    FtStatus Open(const UsbDevice& device, Handle& handle, std::string& error) override {
        handle = nullptr;
        error.clear();
        ftdi_context* ctx = ftdi_new();
        if (!ctx) {
            error = "out of memory";
            return kFtOtherError;
        }
        // Give the device back to the system's serial driver when it is
        // closed, so that nothing is left without its /dev/ttyUSBn.
        ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx->usb_ctx, &list);
        libusb_device* found = nullptr;
        for (ssize_t i = 0; i < n && !found; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) == 0 &&
                desc.idVendor == device.vendor && desc.idProduct == device.product &&
                UsbLocation(list[i]) == device.location)
                found = list[i];
        }
        FtStatus status = kFtOk;
        if (!found) {
            error = "the device is no longer attached";
            status = kFtDeviceNotFound;
        } else {
            // libftdi reports a refused open in the same words whatever the
            // cause; libusb tells a permission problem apart.
            libusb_device_handle* probe = nullptr;
            const int rc = libusb_open(found, &probe);
            if (rc != 0) {
                error = libusb_strerror(rc);
                status = rc == LIBUSB_ERROR_ACCESS ? kFtAccessDenied : kFtDeviceNotOpened;
            } else {
                libusb_close(probe);
                const int opened = ftdi_usb_open_dev(ctx, found);
                if (opened < 0) {
                    error = ftdi_get_error_string(ctx);
                    status = opened == -8 ? kFtAccessDenied : kFtDeviceNotOpened;
                }
            }
        }
        if (list)
            libusb_free_device_list(list, 1);
        if (status != kFtOk) {
            ftdi_free(ctx);
            return status;
        }
        ctx->usb_write_timeout = 500;
        handle = new LibFtdiDevice(ctx);
        return kFtOk;
    }

    FtStatus Close(Handle handle) override {
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        // A read that does not come back must not be freed under libusb:
        // keeping the device is the lesser harm.
        if (!dev->StopReading())
            return kFtIoError;
        delete dev;
        return kFtOk;
    }

    FtStatus SetBaudRate(Handle handle, uint32_t baud) override {
        const FtStatus status =
            Status(handle, [&](ftdi_context* c) { return ftdi_set_baudrate(c, int(baud)); });
        if (status == kFtOk) // the rate the chip really runs at
            Device(handle)->pace.SetBaudRate(
                uint32_t(std::max(Device(handle)->Context()->baudrate, 0)));
        return status;
    }

    FtStatus SetDataCharacteristics(Handle handle, uint8_t wordLength, uint8_t stopBits,
                                    uint8_t parity) override {
        const auto bits = wordLength == 7 ? BITS_7 : BITS_8;
        const auto stop = stopBits == 2 ? STOP_BIT_2 : stopBits == 1 ? STOP_BIT_15 : STOP_BIT_1;
        const auto par = parity <= 4 ? ftdi_parity_type(parity) : NONE;
        const FtStatus status = Status(
            handle, [&](ftdi_context* c) { return ftdi_set_line_property(c, bits, stop, par); });
        if (status == kFtOk)
            Device(handle)->pace.SetFormat(uint8_t(bits), uint8_t(stop), uint8_t(par));
        return status;
    }

    FtStatus SetFlowControl(Handle handle, uint16_t mode, uint8_t xon, uint8_t xoff) override {
        return Status(handle, [&](ftdi_context* c) {
            if (mode == kFtFlowXonXoff)
                return ftdi_setflowctrl_xonxoff(c, xon, xoff);
            return ftdi_setflowctrl(c, mode);
        });
    }

    FtStatus SetDtr(Handle h) override {
        return Status(h, [](ftdi_context* c) { return ftdi_setdtr(c, 1); });
    }
    FtStatus ClrDtr(Handle h) override {
        return Status(h, [](ftdi_context* c) { return ftdi_setdtr(c, 0); });
    }
    FtStatus SetRts(Handle h) override {
        return Status(h, [](ftdi_context* c) { return ftdi_setrts(c, 1); });
    }
    FtStatus ClrRts(Handle h) override {
        return Status(h, [](ftdi_context* c) { return ftdi_setrts(c, 0); });
    }

    FtStatus SetTimeouts(Handle handle, uint32_t readMs, uint32_t writeMs) override {
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        dev->readTimeoutMs = readMs;
        dev->Context()->usb_write_timeout = int(std::max<uint32_t>(writeMs, 1));
        return kFtOk;
    }

    FtStatus Read(Handle handle, uint8_t* buf, uint32_t count, uint32_t& read) override {
        read = 0;
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        std::deque<uint8_t>& rx = dev->Received();
        const auto deadline = Clock::now() + std::chrono::milliseconds(dev->readTimeoutMs);
        // What finished meanwhile is taken even with a time-out of 0.
        for (bool last = false;;) {
            const uint32_t n = std::min<uint32_t>(count - read, uint32_t(rx.size()));
            std::copy_n(rx.begin(), n, buf + read);
            rx.erase(rx.begin(), rx.begin() + n);
            read += n;
            if (read >= count)
                return kFtOk;
            if (dev->Failed())
                return kFtIoError;
            if (last)
                return kFtOk;
            const auto left = deadline - Clock::now();
            last = left <= Clock::duration::zero();
            dev->HandleEvents(
                last ? 0 : std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 1);
        }
    }

    FtStatus WaitForInput(Handle handle, uint32_t maxMs) override {
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
        dev->HandleEvents(0);
        while (dev->Received().empty() && !dev->Failed()) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                break;
            dev->HandleEvents(std::chrono::duration_cast<std::chrono::microseconds>(left).count() +
                              1);
        }
        return dev->Failed() ? kFtIoError : kFtOk;
    }

    FtStatus Write(Handle handle, const uint8_t* buf, uint32_t count, uint32_t& written) override {
        written = 0;
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        const int n = ftdi_write_data(dev->Context(), buf, int(count));
        if (n < 0)
            return kFtIoError;
        written = uint32_t(n);
        dev->pace.Written(written, Clock::now());
        return kFtOk;
    }

    FtStatus Purge(Handle handle, uint32_t mask) override {
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        // Reads in flight may hold bytes from before the purge: take them
        // back first, so that nothing old turns up afterwards.
        if (mask & kFtPurgeRx)
            dev->StopReading();
        int rc = 0;
        if ((mask & kFtPurgeRx) && (mask & kFtPurgeTx))
            rc = ftdi_tcioflush(dev->Context());
        else if (mask & kFtPurgeRx)
            rc = ftdi_tciflush(dev->Context());
        else if (mask & kFtPurgeTx)
            rc = ftdi_tcoflush(dev->Context());
        if (mask & kFtPurgeRx)
            dev->Received().clear();
        if (mask & kFtPurgeTx)
            dev->pace.Clear();
        return rc < 0 ? kFtIoError : kFtOk;
    }

    FtStatus GetQueueStatus(Handle handle, uint32_t& rxBytes) override {
        rxBytes = 0;
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        dev->HandleEvents(0);
        rxBytes = uint32_t(dev->Received().size());
        return dev->Failed() ? kFtIoError : kFtOk;
    }

    FtStatus GetStatus(Handle handle, uint32_t& rxBytes, uint32_t& txBytes,
                       uint32_t& events) override {
        txBytes = 0;
        events = 0;
        const FtStatus status = GetQueueStatus(handle, rxBytes);
        if (LibFtdiDevice* dev = Device(handle))
            txBytes = dev->pace.Pending(Clock::now());
        return status;
    }

    FtStatus GetModemStatus(Handle handle, uint32_t& status) override {
        status = 0;
        unsigned short s = 0;
        const FtStatus rc =
            Status(handle, [&](ftdi_context* c) { return ftdi_poll_modem_status(c, &s); });
        if (rc == kFtOk)
            status = s;
        return rc;
    }

    FtStatus SetLatencyTimer(Handle handle, uint8_t ms) override {
        const unsigned char value = std::max<uint8_t>(ms, 1);
        return Status(handle, [&](ftdi_context* c) { return ftdi_set_latency_timer(c, value); });
    }

    FtStatus GetDriverVersion(Handle handle, uint32_t& version) override {
        version = 0;
        if (!Device(handle))
            return kFtInvalidHandle;
        // The "driver" under libftdi is libusb.
        const libusb_version* v = libusb_get_version();
        if (!v)
            return kFtOtherError;
        version = PackVersion(v->major, v->minor, v->micro);
        return kFtOk;
    }

    FtStatus GetLibraryVersion(uint32_t& version) override {
        const ftdi_version_info v = ftdi_get_library_version();
        version = PackVersion(v.major, v.minor, v.micro);
        return kFtOk;
    }

private:
    template <typename F> FtStatus Status(Handle handle, F&& call) {
        LibFtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        return call(dev->Context()) < 0 ? kFtIoError : kFtOk;
    }

    ftdi_context* listCtx_ = nullptr;
    // The devices seen at the last listing, with their strings.
    std::map<std::string, UsbDevice> strings_;
};

} // namespace

FtdiApi& LibFtdiBackend() {
    static LibFtdiApi libftdi;
    return libftdi;
}
