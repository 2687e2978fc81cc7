#pragma once
// DeviceWatch tells the main window when a USB device comes or goes, the
// way the system's device-change notification does: on Linux through a
// libudev monitor on the usb subsystem, elsewhere (or when the monitor
// cannot be set up) by asking UsbDeviceCount once a second and reporting
// every change of the count.
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

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
    void Poll();

    struct SystemMonitor;
    std::unique_ptr<SystemMonitor> monitor_;
    std::function<int()> countSource_;
    QTimer pollTimer_;
    int lastCount_ = 0;
};
