#include "ui/ProgressView.h"

#include "ui/OpenGLRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>

bool IsSoftwareRenderer(const QString& renderer) {
    // Mesa's llvmpipe, softpipe and swrast, Google's SwiftShader, Windows'
    // own GDI fallback and the basic display driver.
    static const char* const kSoftware[] = {"llvmpipe",    "softpipe",    "swrast",      "software",
                                            "swiftshader", "gdi generic", "basic render"};
    const QString name = renderer.toLower();
    for (const char* s : kSoftware) {
        if (name.contains(QLatin1String(s)))
            return true;
    }
    return false;
}

ProgressViewKind ChooseProgressView(const QString& platformName, const QString& preference,
                                    const std::function<QString()>& renderer) {
    // Platforms that draw into memory only: creating a 3D window there
    // crashes inside the graph's constructor rather than failing.
    if (platformName == QLatin1String("offscreen") || platformName == QLatin1String("minimal"))
        return ProgressViewKind::Drawn;
    const QString wanted = preference.trimmed().toLower();
    if (wanted == QLatin1String("drawn"))
        return ProgressViewKind::Drawn;
    const QString name = renderer ? renderer() : QString();
    if (name.isEmpty())
        return ProgressViewKind::Drawn; // no OpenGL at all
    if (wanted == QLatin1String("opengl"))
        return ProgressViewKind::Scatter3D;
    return IsSoftwareRenderer(name) ? ProgressViewKind::Drawn : ProgressViewKind::Scatter3D;
}

namespace {

QString ProbeProgram() {
    QStringList candidates;
    const QString named = qEnvironmentVariable("PYLORIX_GLPROBE");
    if (!named.isEmpty())
        candidates << named;
    QString name = QStringLiteral("pylorix-glprobe");
#ifdef Q_OS_WIN
    name += QStringLiteral(".exe");
#endif
    candidates << QDir(QCoreApplication::applicationDirPath()).filePath(name);
#ifdef PYLORIX_GLPROBE_BUILT
    candidates << QStringLiteral(PYLORIX_GLPROBE_BUILT);
#endif
    for (const QString& c : candidates) {
        const QFileInfo info(c);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QString();
}

} // namespace

std::optional<QString> AskOpenGLProbe(const QString& program, int timeoutMs) {
    if (program.isEmpty())
        return std::nullopt;
    QProcess probe;
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    // The same windowing platform as this program, whatever chose it.
    probe.start(program, {QStringLiteral("-platform"), QGuiApplication::platformName()});
    if (!probe.waitForStarted(timeoutMs))
        return std::nullopt;
    if (!probe.waitForFinished(timeoutMs)) {
        // A driver that hangs is no driver to draw with.
        probe.kill();
        probe.waitForFinished(1000);
        return QString();
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return QString();
    const QString answer = QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
    return answer.section(QLatin1Char('\n'), 0, 0).left(200);
}

QString OpenGLRendererName() {
    static std::optional<QString> known;
    if (!known) {
        constexpr int kProbeTimeoutMs = 5000;
        known = AskOpenGLProbe(ProbeProgram(), kProbeTimeoutMs);
        if (!known)
            known = QueryOpenGLRenderer(); // the probe is missing: ask here
    }
    return *known;
}
