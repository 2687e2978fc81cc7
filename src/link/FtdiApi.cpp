// FtdiApi on libftdi1. libftdi reads straight from the USB endpoint and has
// no count of bytes waiting, so each open device keeps its own receive
// buffer, filled by short reads (each returns within the chip's latency
// time when nothing came); timed reads are built on that buffer.
#include "link/FtdiApi.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

// Time-out of one USB transfer; the logical read time-outs are longer and
// kept by the adapter.
constexpr int kUsbTransferTimeoutMs = 300; // above the longest latency time (255 ms)
constexpr int kFillChunk = 4096;

struct FtdiDevice {
    ftdi_context* ctx = nullptr;
    std::deque<uint8_t> rx;
    uint32_t readTimeoutMs = 500;
};

FtdiDevice* Device(FtdiApi::Handle handle) {
    return static_cast<FtdiDevice*>(handle);
}

uint32_t PackVersion(int major, int minor, int build) {
    return (uint32_t(major & 0xFF) << 16) | (uint32_t(minor & 0xFF) << 8) | uint32_t(build & 0xFF);
}

class LibFtdiApi : public FtdiApi {
public:
    ~LibFtdiApi() override {
        if (listCtx_)
            ftdi_free(listCtx_);
    }

    FtStatus ListDevices(uint32_t& count) override {
        count = 0;
        if (!listCtx_)
            listCtx_ = ftdi_new();
        if (!listCtx_)
            return kFtOtherError;
        ftdi_device_list* list = nullptr;
        // Vendor and product 0: the FTDI bridges libftdi knows by default.
        const int n = ftdi_usb_find_all(listCtx_, &list, 0, 0);
        if (list)
            ftdi_list_free(&list);
        if (n < 0)
            return kFtIoError;
        count = uint32_t(n);
        return kFtOk;
    }

    FtStatus Open(int index, Handle& handle) override {
        handle = nullptr;
        ftdi_context* ctx = ftdi_new();
        if (!ctx)
            return kFtOtherError;
        ftdi_device_list* list = nullptr;
        const int n = ftdi_usb_find_all(ctx, &list, 0, 0);
        int rc = -1;
        if (n > index && index >= 0) {
            ftdi_device_list* item = list;
            for (int i = 0; i < index && item; ++i)
                item = item->next;
            if (item)
                rc = ftdi_usb_open_dev(ctx, item->dev);
        }
        if (list)
            ftdi_list_free(&list);
        if (rc < 0) {
            ftdi_free(ctx);
            return n > index ? kFtDeviceNotOpened : kFtDeviceNotFound;
        }
        ctx->usb_read_timeout = kUsbTransferTimeoutMs;
        ctx->usb_write_timeout = 500;
        auto* dev = new FtdiDevice;
        dev->ctx = ctx;
        handle = dev;
        return kFtOk;
    }

    FtStatus Close(Handle handle) override {
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        ftdi_usb_close(dev->ctx);
        ftdi_free(dev->ctx);
        delete dev;
        return kFtOk;
    }

    FtStatus SetBaudRate(Handle handle, uint32_t baud) override {
        return Status(handle, [&](ftdi_context* c) { return ftdi_set_baudrate(c, int(baud)); });
    }

    FtStatus SetDataCharacteristics(Handle handle, uint8_t wordLength, uint8_t stopBits,
                                    uint8_t parity) override {
        const auto bits = wordLength == 7 ? BITS_7 : BITS_8;
        const auto stop = stopBits == 2 ? STOP_BIT_2 : stopBits == 1 ? STOP_BIT_15 : STOP_BIT_1;
        const auto par = parity <= 4 ? ftdi_parity_type(parity) : NONE;
        return Status(handle,
                      [&](ftdi_context* c) { return ftdi_set_line_property(c, bits, stop, par); });
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
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        dev->readTimeoutMs = readMs;
        dev->ctx->usb_write_timeout = int(std::max<uint32_t>(writeMs, 1));
        return kFtOk;
    }

    FtStatus Read(Handle handle, uint8_t* buf, uint32_t count, uint32_t& read) override {
        read = 0;
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        const auto deadline = Clock::now() + std::chrono::milliseconds(dev->readTimeoutMs);
        FtStatus status = kFtOk;
        for (;;) {
            const uint32_t n = std::min<uint32_t>(count - read, uint32_t(dev->rx.size()));
            std::copy_n(dev->rx.begin(), n, buf + read);
            dev->rx.erase(dev->rx.begin(), dev->rx.begin() + n);
            read += n;
            if (read >= count || Clock::now() >= deadline)
                break;
            status = Fill(dev);
            if (status != kFtOk)
                break;
        }
        return status;
    }

    FtStatus Write(Handle handle, const uint8_t* buf, uint32_t count, uint32_t& written) override {
        written = 0;
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        const int n = ftdi_write_data(dev->ctx, buf, int(count));
        if (n < 0)
            return kFtIoError;
        written = uint32_t(n);
        return kFtOk;
    }

    FtStatus Purge(Handle handle, uint32_t mask) override {
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        int rc = 0;
        if ((mask & kFtPurgeRx) && (mask & kFtPurgeTx))
            rc = ftdi_tcioflush(dev->ctx);
        else if (mask & kFtPurgeRx)
            rc = ftdi_tciflush(dev->ctx);
        else if (mask & kFtPurgeTx)
            rc = ftdi_tcoflush(dev->ctx);
        if (mask & kFtPurgeRx)
            dev->rx.clear();
        return rc < 0 ? kFtIoError : kFtOk;
    }

    FtStatus GetQueueStatus(Handle handle, uint32_t& rxBytes) override {
        rxBytes = 0;
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        const FtStatus status = dev->rx.empty() ? Fill(dev) : kFtOk;
        rxBytes = uint32_t(dev->rx.size());
        return status;
    }

    FtStatus GetStatus(Handle handle, uint32_t& rxBytes, uint32_t& txBytes,
                       uint32_t& events) override {
        txBytes = 0; // writes are synchronous: nothing stays queued here
        events = 0;
        return GetQueueStatus(handle, rxBytes);
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
        FtdiDevice* dev = Device(handle);
        if (!dev)
            return kFtInvalidHandle;
        return call(dev->ctx) < 0 ? kFtIoError : kFtOk;
    }

    static FtStatus Fill(FtdiDevice* dev) {
        uint8_t chunk[kFillChunk];
        const int n = ftdi_read_data(dev->ctx, chunk, kFillChunk);
        if (n < 0)
            return kFtIoError;
        dev->rx.insert(dev->rx.end(), chunk, chunk + n);
        return kFtOk;
    }

    ftdi_context* listCtx_ = nullptr;
};

FtdiApi* installed = nullptr;

} // namespace

FtdiApi& ActiveFtdiApi() {
    if (installed)
        return *installed;
    static LibFtdiApi libftdi;
    return libftdi;
}

void SetFtdiApi(FtdiApi* api) {
    installed = api;
}
