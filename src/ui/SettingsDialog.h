#pragma once
// The "Settings" dialog over the settings store: the display and checking
// options, the connection choice with the instrument's address, and the
// buttons that replay a recorded acquisition, open the manual and show the
// about box. It knows nothing of the main window: replay, help and about
// go out as signals.
#include "settings/Settings.h"

#include <QDialog>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QPushButton;

// The manual's topic for this dialog.
inline constexpr int kSettingsHelpContext = 30;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Loads the settings file into `settings` (when it exists) and shows
    // the result; `settings` must outlive the dialog.
    explicit SettingsDialog(Settings& settings, QWidget* mainWindow = nullptr);
    ~SettingsDialog() override;

    // The selected item of the connection group, -1 when none.
    int ConnectionIndex() const;
    // Shows the store's values in the controls.
    void SyncFromSettings();
    // The controls that must not change while a run is in progress.
    void SetRunControlsEnabled(bool enabled);
    // "View file" and "Simulate file" while a replay runs (enabled again
    // only where no run holds them).
    void SetReplayButtonsEnabled(bool enabled);
    // Whether the operator is working in the dialog (a connection click
    // then asks for the address and saves at once).
    virtual bool IsDialogActive() const;

    // The dialog's actions, as its buttons run them.
    void OnRhoOnlyToggled();
    void OnConnectionChosen(int item);
    // A format box of "Export after each acquisition" changed.
    void OnExportFormatsChanged();
    void ViewRecordedFile();
    void SimulateRecordedFile();
    void OpenHelp();
    void ShowAboutBox();
    void ShowRangeDialog();

signals:
    // "View file" (viewOnly true) or "Simulate file": the receiver runs the
    // replay before returning.
    void replayRequested(bool viewOnly);
    void helpRequested(int context);
    void aboutRequested();
    // "Rho display only" changed (also when loaded from the file).
    void rhoOnlyChanged(bool on);

private:
    void RunReplay(bool viewOnly);

    Settings& settings_;
    QCheckBox* rhoOnlyCb_;
    QCheckBox* showGapFillersCb_;
    QCheckBox* activeCrcChkCb_;
    // "Export after each acquisition": one box per format, in the order
    // ohm, res2dinv, csv.
    QGroupBox* exportAfterRunGB_;
    QCheckBox* exportCb_[3];
    QGroupBox* connectionRdBtn_;
    QButtonGroup* connectionGroup_;
    QPushButton* viewFileBitBtn_;
    QPushButton* simulateFileBitBtn_;
    QPushButton* helpBitBtn_;
    QPushButton* aboutBitBtn_;
    QPushButton* bitBtn1_;
    bool runControlsEnabled_ = true;
};
