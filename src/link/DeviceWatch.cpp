#include "link/DeviceWatch.h"

#include "link/UsbLink.h"

#if defined(__linux__) && defined(PYLORIX_HAVE_UDEV)
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>
#define PYLORIX_UDEV_MONITOR 1
#elif defined(_WIN32)
#include <QMetaObject>
#include <QPointer>
// dbt.h needs the types windows.h defines.
#include <windows.h>

#include <dbt.h>
#define PYLORIX_WINDOWS_MONITOR 1
#elif defined(__APPLE__)
#include "link/FtdiBackends.h"

#include <QDir>
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
#elif defined(PYLORIX_WINDOWS_MONITOR)
    // A message-only window registered for the arrival and removal of USB
    // device interfaces. The system sends WM_DEVICECHANGE straight to the
    // window procedure, which runs on this (the user-interface) thread
    // while its message loop turns; the signal is queued so that a session
    // never starts inside the system's call.
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
    QPointer<DeviceWatch> owner;

    static constexpr const wchar_t* kClassName = L"PylorixDeviceWatch";

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE &&
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
            auto* self = reinterpret_cast<SystemMonitor*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (self && self->owner)
                QMetaObject::invokeMethod(self->owner.data(), &DeviceWatch::DeviceChanged,
                                          Qt::QueuedConnection);
            return TRUE;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    ~SystemMonitor() {
        if (registration)
            UnregisterDeviceNotification(registration);
        if (window)
            DestroyWindow(window);
    }

    bool Start(DeviceWatch* watch) {
        owner = watch;
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &SystemMonitor::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kClassName;
        // A second watch finds the class registered already.
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
        window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                 nullptr);
        if (!window)
            return false;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        // GUID_DEVINTERFACE_USB_DEVICE: every USB device, whatever its driver.
        static const GUID kUsbDevice = {
            0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kUsbDevice;
        registration = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        return registration != nullptr;
    }
#else
    bool Start(DeviceWatch*) {
        return false;
    }
#endif
};

namespace {

#if defined(__APPLE__)
// The call-out devices the system's USB-serial drivers create: a bridge
// plugged in or pulled out changes this list, and reading it touches no
// USB device.
std::string SerialDeviceNames() {
    const QStringList names =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("cu.*")}, QDir::System, QDir::Name);
    return names.join(QLatin1Char('\n')).toStdString();
}
#endif

} // namespace

DeviceWatch::DeviceWatch(QObject* parent, std::function<int()> countSource, bool useSystemMonitor,
                         int pollIntervalMs)
    : QObject(parent) {
    if (countSource) {
        lookSource_ = [count = std::move(countSource)] { return std::to_string(count()); };
    } else {
#if defined(__APPLE__)
        // With D2XX the bridge may have no /dev node (the vendor's library
        // can hold it without the system's driver): its count is asked
        // too, every tenth look. D2XX asks the system's registry of
        // devices, not the bus; libusb would walk the bus, so under
        // libftdi only the listing is looked at.
        const bool d2xx = ActiveFtdiBackendText().rfind("D2XX", 0) == 0;
        lookSource_ = [d2xx, n = 0, count = std::string()]() mutable {
            if (d2xx && n++ % 10 == 0)
                count = std::to_string(UsbDeviceCount());
            return SerialDeviceNames() + "#" + count;
        };
#else
        lookSource_ = [] { return std::to_string(UsbDeviceCount()); };
#endif
    }
    if (useSystemMonitor) {
        monitor_ = std::make_unique<SystemMonitor>();
        if (!monitor_->Start(this))
            monitor_.reset();
    }
    if (!monitor_) {
        lastLook_ = lookSource_();
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
    std::string look = lookSource_();
    if (look == lastLook_)
        return;
    lastLook_ = std::move(look);
    emit DeviceChanged();
}
