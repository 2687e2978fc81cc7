#include "link/LinkFactory.h"

#include "link/SerialLink.h"
#include "link/TcpLink.h"
#include "link/UsbLink.h"

namespace {
LinkOptions defaultOptions;
} // namespace

LinkOptions LinkOptionsFromArguments(const QStringList& arguments) {
    LinkOptions options;
    const QString flag = QStringLiteral("--serial-device");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == flag && i + 1 < arguments.size())
            options.serialDevice = arguments[++i].toStdString();
        else if (a.startsWith(flag + QLatin1Char('=')))
            options.serialDevice = a.mid(flag.size() + 1).toStdString();
    }
    return options;
}

void SetDefaultLinkOptions(const LinkOptions& options) {
    defaultOptions = options;
}

const LinkOptions& DefaultLinkOptions() {
    return defaultOptions;
}

std::unique_ptr<Link> CreateLink(int connectionCode, const LinkOptions& options) {
    if (connectionCode == kConnectionUsb)
        return std::make_unique<UsbLink>(options.ftdi);
    if (connectionCode == kConnectionWiConnect || connectionCode == kConnectionWifiInstrument)
        return std::make_unique<TcpLink>();
    return std::make_unique<SerialLink>(options.serialDevice);
}

std::unique_ptr<Link> CreateLink(int connectionCode) {
    return CreateLink(connectionCode, defaultOptions);
}
