#include "app/Program.h"

Program::Program(const CommandLine& line, MainWindowOptions options)
    : mainWindow(WithConnection(options, line)), rangeDialog(&mainWindow.colorScale(), &mainWindow),
      aboutDialog(&mainWindow), settingsDialog(mainWindow.settings(), &mainWindow) {
    hooks.SetParentWindow(&mainWindow);
    hooks.SetAutoConfirm(line.yes);
    SetUiHooks(&hooks);
    // An address given on the command line wins over the stored one.
    if (!line.address.isEmpty())
        mainWindow.settings().ipAddress = line.address.toStdString();
    mainWindow.AttachRangeDialog(&rangeDialog);
    mainWindow.AttachAboutBox(&aboutDialog);
    mainWindow.AttachSettingsDialog(&settingsDialog);
}

Program::~Program() {
    SetUiHooks(nullptr);
}
