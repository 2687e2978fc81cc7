#pragma once
// The program's windows, created in their fixed order: the main window,
// the range dialog, the about box and the settings dialog (whose creation
// loads the settings file), with the Qt user-interface hooks in force for
// their lifetime.
#include "About.h"
#include "CommandLine.h"
#include "Main.h"
#include "QtUiHooks.h"
#include "Range.h"
#include "SettingsFrm.h"

class TProgram {
public:
    // options.connectionCode is taken from the command line.
    explicit TProgram(const TCommandLine& line, TMainFrmOptions options = {});
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    TQtUiHooks hooks;
    TMainFrm mainFrm;
    TRangeFrm rangeFrm;
    TAboutBoxFrm aboutBoxFrm;
    TSettingsFrm settingsFrm;

private:
    static TMainFrmOptions WithConnection(TMainFrmOptions options, const TCommandLine& line) {
        options.connectionCode = line.connectionCode;
        return options;
    }
};
