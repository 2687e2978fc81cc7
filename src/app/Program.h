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
    // options.connectionCode is taken from the command line.
    explicit Program(const CommandLine& line, MainWindowOptions options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

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
};
