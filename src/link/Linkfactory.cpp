#include "Linkfactory.h"

#include "Portcom.h"
#include "Portip.h"
#include "Portusb.h"

namespace {
TLinkOptions defaultOptions;
} // namespace

TLinkOptions LinkOptionsFromArguments(const QStringList& arguments) {
    TLinkOptions options;
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

void SetDefaultLinkOptions(const TLinkOptions& options) {
    defaultOptions = options;
}

const TLinkOptions& DefaultLinkOptions() {
    return defaultOptions;
}

std::unique_ptr<TPortVirt> CreateLink(int connectionCode, const TLinkOptions& options) {
    if (connectionCode == kConnectionUsb)
        return std::make_unique<TPortUSB>(options.ftdi);
    if (connectionCode == kConnectionWiConnect || connectionCode == kConnectionWifiInstrument)
        return std::make_unique<TPortIP>();
    return std::make_unique<TPortCOM>(options.serialDevice);
}

std::unique_ptr<TPortVirt> CreateLink(int connectionCode) {
    return CreateLink(connectionCode, defaultOptions);
}
