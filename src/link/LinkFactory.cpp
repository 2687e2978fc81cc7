#include "link/LinkFactory.h"

#include "link/SerialLink.h"
#include "link/TcpLink.h"
#include "link/UsbLink.h"

namespace {
LinkOptions defaultOptions;
} // namespace

namespace {

// "--name VALUE" or "--name=VALUE" at i; advances i past what it used.
bool TakeValue(const QStringList& arguments, qsizetype& i, const QString& name, QString& value) {
    const QString& a = arguments[i];
    if (a == name && i + 1 < arguments.size()) {
        value = arguments[++i];
        return true;
    }
    if (a.startsWith(name + QLatin1Char('='))) {
        value = a.mid(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

LinkOptions LinkOptionsFromArguments(const QStringList& arguments) {
    LinkOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString value;
        if (TakeValue(arguments, i, QStringLiteral("--serial-device"), value))
            options.serialDevice = value.toStdString();
        else if (TakeValue(arguments, i, QStringLiteral("--usb-id"), value))
            ParseUsbIds(value.toStdString(), options.usbIds);
    }
    return options;
}

void SetDefaultLinkOptions(const LinkOptions& options) {
    defaultOptions = options;
}

const LinkOptions& DefaultLinkOptions() {
    return defaultOptions;
}

std::string AddDefaultUsbIds(const std::string& text) {
    return ParseUsbIds(text, defaultOptions.usbIds);
}

int UsbDeviceCount() {
    return UsbDeviceCount(defaultOptions.ftdi ? *defaultOptions.ftdi : ActiveFtdiApi(),
                          defaultOptions.usbIds);
}

std::unique_ptr<Link> CreateLink(int connectionCode, const LinkOptions& options) {
    if (connectionCode == kConnectionUsb)
        return std::make_unique<UsbLink>(options.ftdi, options.usbIds);
    if (connectionCode == kConnectionWiConnect || connectionCode == kConnectionWifiInstrument)
        return std::make_unique<TcpLink>();
    return std::make_unique<SerialLink>(options.serialDevice);
}

std::unique_ptr<Link> CreateLink(int connectionCode) {
    return CreateLink(connectionCode, defaultOptions);
}
