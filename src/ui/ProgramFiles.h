#pragma once
// Files shipped with the program: the manual and the sample acquisition.
// They are looked for beside the executable, in the installed data folder,
// and (for a program run from its build folder) in the source tree.
#include <QString>
#include <QUrl>

// Topics of the manual (its anchors carry these numbers).
enum HelpTopic {
    kHelpContents = -1,
    kHelpConnecting = 10,
    kHelpPages = 20,
    kHelpSettingsTopic = 30,
    kHelpFiles = 40,
    kHelpReplay = 50,
    kHelpTroubleshooting = 60,
};

// A file shipped with the program; empty when none exists.
QString ProgramFile(const QString& relativePath);
// The folder that holds the sample acquisition "Pylorix - DEMO".
QString SampleFolder();
// The manual's address for a topic; empty when the manual is missing.
QUrl HelpUrl(int context);
