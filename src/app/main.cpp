// pylorix: the monitor program.
#include "app/CommandLine.h"
#include "app/Program.h"
#include "link/LinkFactory.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char** argv) {
    // Read before the application object exists, so that --help works
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(arguments);
    const QString program = QStringLiteral("pylorix");
    if (line.help) {
        std::fputs(CommandLineUsage(program).toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "pylorix: %s\n\n%s", line.error.toLocal8Bit().constData(),
                     CommandLineUsage(program).toLocal8Bit().constData());
        return 2;
    }
    if (!line.dataRoot.isEmpty())
        qputenv("PYLORIX_ROOT", QDir(line.dataRoot).absolutePath().toLocal8Bit());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pylorix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pylorix"));
    QApplication::setApplicationVersion(QStringLiteral(PYLORIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("pylorix"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pylorix/pylorix.png")));

    LinkOptions links = LinkOptionsFromArguments(arguments);
    if (!line.serialDevice.isEmpty())
        links.serialDevice = line.serialDevice.toStdString();
    SetDefaultLinkOptions(links);

    try {
        Program windows(line);
        // The instrument IDs of the settings join those of the command line.
        const std::string badIds = AddDefaultUsbIds(windows.mainWindow.settings().usbIds);
        if (!badIds.empty())
            std::fprintf(stderr, "pylorix: setting UsbIds: %s (left out)\n", badIds.c_str());
        windows.Show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Pylorix"), QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
