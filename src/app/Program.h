#pragma once
// The program's windows, created in their fixed order: the main window,
// the range dialog, the about box and the settings dialog (whose creation
// loads the settings file), with the Qt user-interface hooks in force for
// their lifetime.
#include "app/CommandLine.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtUiHooks.h"
#include "ui/RangeDialog.h"
#include "ui/SettingsDialog.h"

class Program {
public:
    // The command line's connection and address hold for this launch, over
    // the stored ones, and are never written to the settings file.
    explicit Program(const CommandLine& line, MainWindowOptions options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the main window and, when the command line names a recording,
    // shows that recording in it once the event loop runs.
    void Show();

    QtUiHooks hooks;
    MainWindow mainWindow;
    RangeDialog rangeDialog;
    AboutDialog aboutDialog;
    SettingsDialog settingsDialog;

private:
    static MainWindowOptions WithConnection(MainWindowOptions options, const CommandLine& line) {
        options.connectionCode = line.connectionCode;
        return options;
    }

    QString recording_;
};
