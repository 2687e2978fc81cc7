#include "link/LibFtdiDevice.h"

#include <ftdi.h>

#include <algorithm>
#include <chrono>

namespace {

// A stream that nobody reads stops being kept beyond this.
constexpr size_t kReceiveLimit = 1u << 20;
// How long cancelled reads may take to come back.
constexpr int kCancelWaitMs = 1000;
constexpr int kCancelSliceUs = 100000;
constexpr int kStringBytes = 256;

void HandleLibusbEvents(libusb_context* usb, int64_t waitUs) {
    timeval tv{};
    waitUs = std::max<int64_t>(waitUs, 0);
    tv.tv_sec = decltype(tv.tv_sec)(waitUs / 1000000);
    tv.tv_usec = decltype(tv.tv_usec)(waitUs % 1000000);
    libusb_handle_events_timeout_completed(usb, &tv, nullptr);
}

} // namespace

LibFtdiDevice::LibFtdiDevice(ftdi_context* ctx) : ctx_(ctx) {
    for (Read& read : reads_)
        read.device = this;
    pace.SetBaudRate(uint32_t(std::max(ctx_->baudrate, 0)));
}

LibFtdiDevice::~LibFtdiDevice() {
    for (Read& read : reads_)
        if (read.transfer)
            libusb_free_transfer(read.transfer);
    ftdi_usb_close(ctx_);
    ftdi_free(ctx_);
}

void LibFtdiDevice::Submit(Read& read) {
    if (read.busy || failed_ || stopping_)
        return;
    if (!read.transfer)
        read.transfer = libusb_alloc_transfer(0);
    if (!read.transfer) {
        failed_ = true;
        return;
    }
    // No time-out: the chip answers every latency period anyway.
    libusb_fill_bulk_transfer(read.transfer, ctx_->usb_dev,
                              static_cast<unsigned char>(ctx_->out_ep), read.buffer.data(),
                              int(read.buffer.size()), OnReceived, &read, 0);
    if (libusb_submit_transfer(read.transfer) == 0)
        read.busy = true;
    else
        failed_ = true;
}

void LIBUSB_CALL LibFtdiDevice::OnReceived(libusb_transfer* transfer) {
    Read& read = *static_cast<Read*>(transfer->user_data);
    read.busy = false;
    LibFtdiDevice& dev = *read.device;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        dev.Keep(transfer->buffer, transfer->actual_length);
        dev.Submit(read);
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        dev.Submit(read);
        break;
    default: // no device, stall, overflow, error
        dev.failed_ = true;
        break;
    }
}

// Every USB packet from the chip begins with two status bytes.
void LibFtdiDevice::Keep(const uint8_t* data, int length) {
    const int packet = ctx_->max_packet_size > 2 ? int(ctx_->max_packet_size) : 64;
    for (int at = 0; at < length; at += packet) {
        const int size = std::min(packet, length - at);
        if (size <= 2)
            continue;
        const size_t room = kReceiveLimit > rx_.size() ? kReceiveLimit - rx_.size() : 0;
        const size_t take = std::min(size_t(size - 2), room);
        rx_.insert(rx_.end(), data + at + 2, data + at + 2 + take);
    }
}

void LibFtdiDevice::HandleEvents(int64_t waitUs) {
    for (Read& read : reads_)
        Submit(read);
    HandleLibusbEvents(ctx_->usb_ctx, waitUs);
}

bool LibFtdiDevice::StopReading() {
    stopping_ = true;
    for (Read& read : reads_)
        if (read.busy)
            libusb_cancel_transfer(read.transfer);
    const auto busy = [&] {
        return std::any_of(reads_.begin(), reads_.end(), [](const Read& r) { return r.busy; });
    };
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    while (busy() && std::chrono::steady_clock::now() < deadline)
        HandleLibusbEvents(ctx_->usb_ctx, kCancelSliceUs);
    stopping_ = false;
    return !busy();
}

std::string UsbLocation(libusb_device* dev) {
    std::string text = std::to_string(libusb_get_bus_number(dev));
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
    for (int i = 0; i < n; ++i) {
        text.push_back(i == 0 ? '-' : '.');
        text.append(std::to_string(ports[i]));
    }
    return text;
}

void ReadUsbStrings(libusb_device* dev, const libusb_device_descriptor& desc, UsbDevice& device) {
    libusb_device_handle* handle = nullptr;
    if (libusb_open(dev, &handle) != 0)
        return;
    const auto read = [&](uint8_t index, std::string& text) {
        unsigned char buffer[kStringBytes];
        if (index == 0)
            return;
        const int n = libusb_get_string_descriptor_ascii(handle, index, buffer, sizeof buffer);
        if (n > 0)
            text.assign(reinterpret_cast<const char*>(buffer), size_t(n));
    };
    read(desc.iManufacturer, device.manufacturer);
    read(desc.iProduct, device.description);
    read(desc.iSerialNumber, device.serial);
    libusb_close(handle);
}
