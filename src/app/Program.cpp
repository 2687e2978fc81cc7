#include "app/Program.h"

Program::Program(const CommandLine& line, MainWindowOptions options)
    : mainFrm(WithConnection(options, line)), rangeFrm(&mainFrm.colorScale(), &mainFrm),
      aboutBoxFrm(&mainFrm), settingsFrm(mainFrm.settings(), &mainFrm) {
    hooks.SetParentWindow(&mainFrm);
    hooks.SetAutoConfirm(line.yes);
    SetUiHooks(&hooks);
    // An address given on the command line wins over the stored one.
    if (!line.address.isEmpty())
        mainFrm.settings().ipAddress = line.address.toStdString();
    mainFrm.AttachRangeDialog(&rangeFrm);
    mainFrm.AttachAboutBox(&aboutBoxFrm);
    mainFrm.AttachSettingsDialog(&settingsFrm);
}

Program::~Program() {
    SetUiHooks(nullptr);
}
