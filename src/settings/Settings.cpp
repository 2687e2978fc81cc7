#include "settings/Settings.h"

#include "files/AcquisitionFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char* const kSection = "Settings";

// An integer key; a missing or non-numeric value gives fallback.
int ReadInt(QSettings& ini, const char* key, int fallback) {
    const QVariant v = ini.value(key);
    if (!v.isValid())
        return fallback;
    bool ok = false;
    const int value = v.toString().trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// A positive number; anything else (missing, text, zero, negative, not a
// number) keeps the current value.
void ReadPositive(QSettings& ini, const char* key, float& value) {
    const QVariant v = ini.value(key);
    if (!v.isValid())
        return;
    bool ok = false;
    const double read = v.toString().trimmed().toDouble(&ok);
    if (ok && read > 0 && read < 1e9)
        value = float(read);
}

bool EnsureFolder(const fs::path& folder, const std::string& shown, std::string* message) {
    const FileStatus status = CreateFolderOneLevel(folder, shown);
    if (!status && message)
        *message = status.message;
    return status.ok;
}

} // namespace

int Settings::CodeForItem(int item) {
    if (item == 0)
        return 99;
    if (item > 2)
        return 200;
    return 100;
}

std::string Settings::FilePath() {
    return (DataFolder() / "Pylorix.ini").string();
}

std::string Settings::CanonicalExportList(const std::string& text) {
    static const char* const kNames[] = {"ohm", "res2dinv", "csv"};
    bool wanted[3] = {};
    for (const QString& part : QString::fromStdString(text).split(',')) {
        const QString name = part.trimmed().toLower();
        if (name.isEmpty() || name == "none")
            continue;
        const auto known = std::find(std::begin(kNames), std::end(kNames), name.toStdString());
        if (known == std::end(kNames))
            return {};
        wanted[known - std::begin(kNames)] = true;
    }
    std::string list;
    for (int i = 0; i < 3; ++i)
        if (wanted[i]) {
            if (!list.empty())
                list += ',';
            list += kNames[i];
        }
    return list;
}

bool Settings::LoadSettings() {
    return LoadSettings(FilePath());
}

bool Settings::LoadSettings(const std::string& path) {
    if (!QFileInfo::exists(QString::fromStdString(path)))
        return false;
    QSettings ini(QString::fromStdString(path), QSettings::IniFormat);
    ini.beginGroup(kSection);

    const int rho = ReadInt(ini, "RhoOnly", -1);
    if (rho != -1)
        SetRhoOnly(rho != 0);
    const int crc = ReadInt(ini, "ActiveCRCCheck", -1);
    if (crc != -1)
        activeCrcCheck = crc != 0;
    const int gaps = ReadInt(ini, "ShowGapFillers", -1);
    if (gaps != -1)
        showGapFillers = gaps != 0;

    int item = ReadInt(ini, "Connection", 0);
    connectionCode = CodeForItem(item);
    ipAddress = ini.value("IPAddress", QString()).toString().toStdString();
    launchAddress_.reset();
    // Written by hand without quotes, a list reads back as several values.
    const QVariant ids = ini.value("UsbIds");
    usbIds =
        (ids.userType() == QMetaType::QStringList ? ids.toStringList().join(',') : ids.toString())
            .toStdString();
    const QVariant exports = ini.value("ExportAfterRun");
    const std::string exportText =
        (exports.userType() == QMetaType::QStringList ? exports.toStringList().join(',')
                                                      : exports.toString())
            .toStdString();
    exportAfterRun = CanonicalExportList(exportText);
    const int leaveOut = ReadInt(ini, "ExportLeaveOutFlagged", -1);
    if (leaveOut != -1)
        exportLeaveOutFlagged = leaveOut != 0;
    ReadPositive(ini, "QcMaxQ", qcMaxQ);
    ReadPositive(ini, "QcMinCurrentMa", qcMinCurrentMa);
    ReadPositive(ini, "QcMinPotentialMv", qcMinPotentialMv);
    ReadPositive(ini, "QcOutlierMads", qcOutlierMads);
    ReadPositive(ini, "QcReciprocalErrorPercent", qcReciprocalErrorPercent);
    // A client choice without an address falls back to the access point.
    if (ipAddress.empty() && item == kItemWiConnectClient)
        item = kItemWiConnectAccessPoint;
    // Out-of-range values select the nearest end (nothing below 0).
    connectionItem = item < 0 ? -1 : std::min(item, int(kItemWifiClient));
    if (connectionItem >= 0)
        connectionCode = CodeForItem(connectionItem);
    ini.endGroup();
    return true;
}

bool Settings::SaveSettings(std::string* message) const {
    const fs::path base = DataRoot();
    if (!EnsureFolder(base, base.string(), message))
        return false;
    const fs::path data = DataFolder();
    if (!EnsureFolder(data, (data / "").string(), message))
        return false;
    return SaveSettings(FilePath(), message);
}

bool Settings::SaveSettings(const std::string& path, std::string* message) const {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    QSettings ini(QString::fromStdString(path), QSettings::IniFormat);
    ini.beginGroup(kSection);
    ini.setValue("RhoOnly", rhoOnly ? 1 : 0);
    ini.setValue("ActiveCRCCheck", activeCrcCheck ? 1 : 0);
    ini.setValue("ShowGapFillers", showGapFillers ? 1 : 0);
    ini.setValue("Connection", connectionItem);
    ini.setValue("IPAddress", QString::fromStdString(AddressToStore()));
    ini.setValue("UsbIds", QString::fromStdString(usbIds));
    ini.setValue("ExportAfterRun", QString::fromStdString(exportAfterRun));
    ini.setValue("ExportLeaveOutFlagged", exportLeaveOutFlagged ? 1 : 0);
    ini.setValue("QcMaxQ", double(qcMaxQ));
    ini.setValue("QcMinCurrentMa", double(qcMinCurrentMa));
    ini.setValue("QcMinPotentialMv", double(qcMinPotentialMv));
    ini.setValue("QcOutlierMads", double(qcOutlierMads));
    ini.setValue("QcReciprocalErrorPercent", double(qcReciprocalErrorPercent));
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError || !ini.isWritable()) {
        if (message)
            *message = "Can't save INI file !";
        return false;
    }
    return true;
}

void Settings::SetRhoOnly(bool on) {
    const bool changed = on != rhoOnly;
    rhoOnly = on;
    if (changed && onRhoOnlyChanged)
        onRhoOnlyChanged(on);
}

void Settings::UseAddressForThisLaunch(const std::string& address) {
    if (!launchAddress_)
        storedAddress_ = ipAddress;
    launchAddress_ = address;
    ipAddress = address;
}

std::string Settings::AddressToStore() const {
    // The launch's address still in force (perhaps confirmed unchanged at a
    // session's prompt) is not the operator's choice; anything else is.
    if (launchAddress_ && ipAddress == *launchAddress_)
        return storedAddress_;
    return ipAddress;
}

bool Settings::SelectConnection(int item, bool dialogActive,
                                const std::function<bool(std::string&)>& askAddress,
                                std::string* message) {
    connectionItem = item;
    connectionCode = CodeForItem(item);
    if (!dialogActive)
        return true;
    // An address the operator settles here is theirs to keep, even when it
    // is the launch's own.
    if (item == kItemWiConnectClient || item == kItemWifiClient) {
        std::string edited = ipAddress;
        if (askAddress && askAddress(edited)) {
            ipAddress = edited;
            launchAddress_.reset();
        }
    } else if (item == kItemWiConnectAccessPoint || item == kItemWifiAccessPoint) {
        ipAddress.clear();
        launchAddress_.reset();
    }
    return SaveSettings(message);
}
