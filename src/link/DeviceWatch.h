#pragma once
// DeviceWatch tells the main window when a USB device comes or goes, the
// way the system's device-change notification does:
//  - Linux: a libudev monitor on the usb subsystem;
//  - Windows: the system's device-change notifications for USB devices,
//    received by a message-only window;
//  - macOS: once a second, a look at the serial devices (/dev/cu.*) the
//    system's drivers create for USB-serial bridges, which costs a
//    directory listing and never walks the USB bus;
//  - otherwise (or when none of these can be set up): UsbDeviceCount once
//    a second, reporting every change of the count.
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class DeviceWatch : public QObject {
    Q_OBJECT
public:
    // countSource: the number of instruments attached, for the poll
    // (UsbDeviceCount when empty). useSystemMonitor false forces the poll.
    explicit DeviceWatch(QObject* parent = nullptr, std::function<int()> countSource = {},
                         bool useSystemMonitor = true, int pollIntervalMs = 1000);
    ~DeviceWatch() override;

    // True while the system's monitor delivers the changes; false while
    // the count is polled.
    bool UsesSystemMonitor() const;

signals:
    // A USB device was plugged in or pulled out. Ask UsbDeviceCount for
    // the new state of things.
    void DeviceChanged();

private:
    // Emits DeviceChanged when what the poll sees differs from the last look.
    void Poll();

    struct SystemMonitor;
    std::unique_ptr<SystemMonitor> monitor_;
    // What the poll compares from one look to the next.
    std::function<std::string()> lookSource_;
    QTimer pollTimer_;
    std::string lastLook_;
};
