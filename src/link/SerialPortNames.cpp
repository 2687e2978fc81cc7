#include "link/SerialPortNames.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The "/dev/tty.x" ports whose "/dev/cu.x" twin is also listed.
bool HasCallOutTwin(const std::string& port, const std::vector<std::string>& ports) {
    const std::string prefix = "/dev/tty.";
    if (port.rfind(prefix, 0) != 0)
        return false;
    const std::string twin = "/dev/cu." + port.substr(prefix.size());
    return std::find(ports.begin(), ports.end(), twin) != ports.end();
}

} // namespace

namespace {

// -1, 0 or 1 as a's numbers-as-numbers order against b's; "COM2" and
// "COM02" are equal here.
int NaturalCompare(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie]))
                ++ie;
            while (je < b.size() && IsDigit(b[je]))
                ++je;
            // Compare by value: strip leading zeros, then by length, then
            // digit by digit.
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0')
                ++is;
            while (js + 1 < je && b[js] == '0')
                ++js;
            if (ie - is != je - js)
                return ie - is < je - js ? -1 : 1;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0)
                return c < 0 ? -1 : 1;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    const size_t restA = a.size() - i, restB = b.size() - j;
    return restA == restB ? 0 : restA < restB ? -1 : 1;
}

} // namespace

bool SerialNameLess(const std::string& a, const std::string& b) {
    const int c = NaturalCompare(a, b);
    // Names equal as numbers ("COM2", "COM02") still need an order.
    return c != 0 ? c < 0 : a < b;
}

std::string NthSerialPort(int portNumber, std::vector<std::string> ports) {
    const std::vector<std::string> all = ports;
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [&](const std::string& p) { return HasCallOutTwin(p, all); }),
                ports.end());
    std::sort(ports.begin(), ports.end(), SerialNameLess);
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    if (portNumber < 1 || size_t(portNumber) > ports.size())
        return {};
    return ports[size_t(portNumber) - 1];
}

std::vector<std::string> SystemSerialPorts() {
    std::vector<std::string> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.push_back(info.systemLocation().toStdString());
    std::vector<std::string> kept;
    for (const std::string& p : ports)
        if (!HasCallOutTwin(p, ports))
            kept.push_back(p);
    std::sort(kept.begin(), kept.end(), SerialNameLess);
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    return kept;
}

std::string SerialDeviceForPort(int portNumber, const std::vector<std::string>& systemPorts) {
#if defined(_WIN32)
    (void)systemPorts;
    return "COM" + std::to_string(portNumber);
#elif defined(__APPLE__)
    return NthSerialPort(portNumber, systemPorts);
#else
    (void)systemPorts;
    return "/dev/ttyS" + std::to_string(std::max(0, portNumber - 1));
#endif
}

std::string SerialDeviceForPort(int portNumber) {
#if defined(__APPLE__)
    return SerialDeviceForPort(portNumber, SystemSerialPorts());
#else
    return SerialDeviceForPort(portNumber, {});
#endif
}
