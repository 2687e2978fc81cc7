#pragma once
// The settings kept between runs in "Pylorix.ini" (section "Settings") in
// the data folder, usable with or without the settings dialog: the dialog
// edits a Settings, the engine and a console recorder read one.
#include <functional>
#include <optional>
#include <string>

// Connection choices, in the order of the dialog's radio group.
enum ConnectionItem {
    kItemUsb = 0,
    kItemWiConnectAccessPoint = 1,
    kItemWiConnectClient = 2,
    kItemWifiAccessPoint = 3,
    kItemWifiClient = 4,
};

class Settings {
public:
    // Dialog defaults, in force when no settings file exists.
    bool rhoOnly = false;
    bool activeCrcCheck = true;
    bool showGapFillers = false;
    int connectionItem = kItemUsb; // -1 when no item is selected
    // The instrument address in force (the engine reads it and keeps what
    // the operator types at a session's start).
    std::string ipAddress;
    // The connection code in force: the stored item's, or one given for
    // this launch (a serial port on the command line). The file keeps only
    // the item, so a launch's code is never stored.
    int connectionCode = 99;
    // Key "UsbIds": USB IDs of the instrument besides FTDI's own, as
    // "VID:PID[:SERIAL],..." in hexadecimal (read by the USB link, which
    // says what it cannot understand). No dialog edits it: it is written
    // back as it was read.
    std::string usbIds;
    // Key "ExportAfterRun": the formats every live acquisition is exported
    // to when its run ends, beside its ".bin" ("ohm,res2dinv,csv", any of
    // them; empty for none). Always held in that canonical form; a stored
    // list with a name the program does not know reads as none.
    std::string exportAfterRun;
    // Key "ExportLeaveOutFlagged": the run-end export leaves measurements
    // the quality checks flagged out of the .ohm and Res2DInv files.
    bool exportLeaveOutFlagged = false;
    // The live quality checks' limits (keys "QcMaxQ", "QcMinCurrentMa",
    // "QcMinPotentialMv", "QcOutlierMads", "QcReciprocalErrorPercent"). A
    // stored value that is not a positive number reads as the default.
    float qcMaxQ = 5.0f;
    float qcMinCurrentMa = 1.0f;
    float qcMinPotentialMv = 0.1f;
    float qcOutlierMads = 3.0f;
    float qcReciprocalErrorPercent = 5.0f;

    // Runs whenever "Rho display only" changes (a loaded value included), so
    // that the dialog greys "Active CRC check" and the window shows its label.
    std::function<void(bool)> onRhoOnlyChanged;

    // A list of export format names as exportAfterRun holds it: known names
    // in the order ohm, res2dinv, csv, each once; "" for none, and for a
    // list with a name that is not known.
    static std::string CanonicalExportList(const std::string& text);

    // The code an item gives: 99 for item 0, 200 above 2, 100 otherwise.
    static int CodeForItem(int item);

    // The settings file: the data folder followed by "Pylorix.ini".
    static std::string FilePath();

    // Reads the file when it exists; returns whether it did. Missing or
    // unreadable keys keep their defaults.
    bool LoadSettings();
    bool LoadSettings(const std::string& path);

    // Writes all the keys. On failure returns false and, when message is
    // given, the text to show ("Can't create directory ..." or
    // "Can't save INI file !").
    bool SaveSettings(std::string* message = nullptr) const;
    bool SaveSettings(const std::string& path, std::string* message) const;

    void SetRhoOnly(bool on);

    // An address for this launch only (the command line): it is in force
    // until the operator settles another one, and the file keeps the stored
    // address meanwhile, so that a one-off address never replaces the one
    // chosen in the dialog.
    void UseAddressForThisLaunch(const std::string& address);
    // The address the file gets: the operator's, never a launch's own.
    std::string AddressToStore() const;

    // The connection choice: sets the code from the item; while the dialog
    // is the active window also settles the address (asked for the client
    // items through askAddress, which returns false on Cancel; emptied for
    // the access points) and saves. Returns false when that save failed.
    bool SelectConnection(int item, bool dialogActive,
                          const std::function<bool(std::string&)>& askAddress,
                          std::string* message = nullptr);

private:
    // Set while a launch's address is in force: that address, and the
    // stored one it stands in for.
    std::optional<std::string> launchAddress_;
    std::string storedAddress_;
};
