#pragma once
// One FTDI device open through libftdi1, as the libftdi FtdiApi drives it.
//
// libftdi reads straight from the USB endpoint and has no count of bytes
// waiting, and a read that finds nothing lasts one latency period (the chip
// answers every request with its two status bytes when its latency timer
// runs out). The device therefore keeps a few bulk reads submitted at all
// times; their bytes land in its receive buffer whenever libusb's events
// are handled, at once when nothing has come (HandleEvents(0)) or as soon
// as something does. Reads in flight also let the chip empty its small
// buffer while the program is busy elsewhere.
#include "link/LinePace.h"
#include "link/UsbIdentity.h"

#include <libusb.h>

#include <array>
#include <cstdint>
#include <deque>
#include <string>

struct ftdi_context;

class LibFtdiDevice {
public:
    // Takes over ctx, opened on the device.
    explicit LibFtdiDevice(ftdi_context* ctx);
    // Releases the device and frees ctx. The caller must have stopped the
    // reads (StopReading) first.
    ~LibFtdiDevice();
    LibFtdiDevice(const LibFtdiDevice&) = delete;
    LibFtdiDevice& operator=(const LibFtdiDevice&) = delete;

    ftdi_context* Context() const { return ctx_; }
    // Received bytes not yet taken.
    std::deque<uint8_t>& Received() { return rx_; }
    // A read failed: the device went away or broke.
    bool Failed() const { return failed_; }

    // Keeps the reads submitted and handles what libusb has finished,
    // waiting up to waitUs for something to finish.
    void HandleEvents(int64_t waitUs);
    // Cancels the reads in flight and waits for them to come back; false
    // when some did not (the device must then be kept as it is).
    bool StopReading();

    // Written bytes not yet on the line.
    LinePace pace;
    uint32_t readTimeoutMs = 500;

private:
    struct Read {
        LibFtdiDevice* device = nullptr;
        libusb_transfer* transfer = nullptr;
        std::array<uint8_t, 4096> buffer{};
        bool busy = false;
    };
    static void LIBUSB_CALL OnReceived(libusb_transfer* transfer);
    void Submit(Read& read);
    void Keep(const uint8_t* data, int length);

    ftdi_context* ctx_;
    std::array<Read, 4> reads_;
    std::deque<uint8_t> rx_;
    bool failed_ = false;
    bool stopping_ = false;
};

// Where a device is plugged in: "1-2.4", the bus, then the port on each
// hub from the root.
std::string UsbLocation(libusb_device* dev);
// Asks the device for its strings. Opening a device handle neither claims
// it nor takes it from its driver; without permission the strings stay
// empty.
void ReadUsbStrings(libusb_device* dev, const libusb_device_descriptor& desc, UsbDevice& device);
