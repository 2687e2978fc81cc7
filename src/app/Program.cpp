#include "app/Program.h"

#include <QFile>
#include <QTimer>

Program::Program(const CommandLine& line, MainWindowOptions options)
    : mainWindow(WithConnection(options, line)), rangeDialog(&mainWindow.colorScale(), &mainWindow),
      aboutDialog(&mainWindow), settingsDialog(mainWindow.settings(), &mainWindow),
      recording_(line.recording) {
    hooks.SetParentWindow(&mainWindow);
    hooks.SetAutoConfirm(line.yes);
    SetUiHooks(&hooks);
    // The settings dialog has loaded the stored connection by now: what the
    // command line names replaces it for this launch only.
    Settings& settings = mainWindow.settings();
    if (line.connectionGiven)
        settings.connectionCode = line.connectionCode;
    if (!line.address.isEmpty())
        settings.UseAddressForThisLaunch(line.address.toStdString());
    mainWindow.AttachRangeDialog(&rangeDialog);
    mainWindow.AttachAboutBox(&aboutDialog);
    mainWindow.AttachSettingsDialog(&settingsDialog);
}

Program::~Program() {
    SetUiHooks(nullptr);
}

void Program::Show() {
    mainWindow.show();
    if (recording_.isEmpty())
        return;
    // Shown from the event loop, so that the window is on screen first and
    // the replay's own messages have a window to belong to.
    QTimer::singleShot(0, &mainWindow, [this] {
        mainWindow.ViewRecording(QFile::encodeName(recording_).toStdString());
    });
}
