#pragma once
// The name of the OpenGL renderer this session would draw with (GL_RENDERER),
// from a context made and dropped at once; empty without OpenGL. Used by the
// probe program, and by the window itself only when the probe is missing:
// the driver it loads stays in the process.
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QString>

inline QString QueryOpenGLRenderer() {
    QOpenGLContext context;
    if (!context.create())
        return QString();
    QOffscreenSurface surface;
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return QString();
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    QString out = name && *name ? QString::fromLatin1(name) : QStringLiteral("unknown");
    context.doneCurrent();
    return out;
}
