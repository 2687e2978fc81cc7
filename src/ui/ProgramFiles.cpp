#include "ui/ProgramFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#ifndef PYLORIX_SOURCE_DIR
#define PYLORIX_SOURCE_DIR ""
#endif

namespace {

QString FirstExisting(const QStringList& candidates) {
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path))
            return QFileInfo(path).absoluteFilePath();
    }
    return {};
}

QStringList ProgramFolders() {
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        folders << dir << dir + QStringLiteral("/../share/pylorix");
    }
    return folders;
}

} // namespace

QString ProgramFile(const QString& relativePath) {
    QStringList candidates;
    for (const QString& folder : ProgramFolders())
        candidates << folder + QLatin1Char('/') + relativePath;
    return FirstExisting(candidates);
}

QString SampleFolder() {
    const QString sample = QStringLiteral("Pylorix - DEMO.heq");
    QString found = ProgramFile(sample);
    if (found.isEmpty() && *PYLORIX_SOURCE_DIR)
        found = FirstExisting({QStringLiteral(PYLORIX_SOURCE_DIR "/data/demo/") + sample});
    return found.isEmpty() ? QString() : QFileInfo(found).absolutePath();
}

QUrl HelpUrl(int context) {
    QString page = ProgramFile(QStringLiteral("help/index.html"));
    if (page.isEmpty() && *PYLORIX_SOURCE_DIR)
        page = FirstExisting({QStringLiteral(PYLORIX_SOURCE_DIR "/docs/help/index.html")});
    if (page.isEmpty())
        return {};
    QUrl url = QUrl::fromLocalFile(page);
    if (context >= 0)
        url.setFragment(QString::number(context));
    return url;
}
