#include "link/DeviceWatch.h"

#include "link/UsbLink.h"

#if defined(__linux__) && defined(PYLORIX_HAVE_UDEV)
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>
#define PYLORIX_UDEV_MONITOR 1
#endif

// The system's own hot-plug events, where there is an adapter for them.
struct DeviceWatch::SystemMonitor {
#ifdef PYLORIX_UDEV_MONITOR
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;

    ~SystemMonitor() {
        notifier.reset();
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }

    // Sets up a monitor of whole USB devices; false when the system
    // refuses (no netlink socket, for instance).
    bool Start(DeviceWatch* owner) {
        context = udev_new();
        if (!context)
            return false;
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (!monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
            udev_monitor_enable_receiving(monitor) < 0)
            return false;
        const int fd = udev_monitor_get_fd(monitor);
        if (fd < 0)
            return false;
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, owner, [this, owner] {
            udev_device* device = udev_monitor_receive_device(monitor);
            if (!device)
                return;
            const char* action = udev_device_get_action(device);
            const bool change =
                action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
            udev_device_unref(device);
            if (change)
                emit owner->DeviceChanged();
        });
        return true;
    }
#else
    bool Start(DeviceWatch*) {
        return false;
    }
#endif
};

DeviceWatch::DeviceWatch(QObject* parent, std::function<int()> countSource, bool useSystemMonitor,
                         int pollIntervalMs)
    : QObject(parent), countSource_(std::move(countSource)) {
    if (!countSource_)
        countSource_ = [] { return UsbDeviceCount(); };
    if (useSystemMonitor) {
        monitor_ = std::make_unique<SystemMonitor>();
        if (!monitor_->Start(this))
            monitor_.reset();
    }
    if (!monitor_) {
        lastCount_ = countSource_();
        pollTimer_.setInterval(pollIntervalMs);
        connect(&pollTimer_, &QTimer::timeout, this, &DeviceWatch::Poll);
        pollTimer_.start();
    }
}

DeviceWatch::~DeviceWatch() = default;

bool DeviceWatch::UsesSystemMonitor() const {
    return monitor_ != nullptr;
}

void DeviceWatch::Poll() {
    const int count = countSource_();
    if (count == lastCount_)
        return;
    lastCount_ = count;
    emit DeviceChanged();
}
