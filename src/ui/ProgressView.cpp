#include "ui/ProgressView.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

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

QString OpenGLRendererName() {
    QOpenGLContext context;
    if (!context.create())
        return QString();
    QOffscreenSurface surface;
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return QString();
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    QString out = name ? QString::fromLatin1(name) : QStringLiteral("unknown");
    context.doneCurrent();
    return out;
}
