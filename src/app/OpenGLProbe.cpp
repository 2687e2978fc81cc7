// pylorix-glprobe: prints the name of the OpenGL renderer this session
// would draw with (GL_RENDERER) and exits 0, or exits 1 without OpenGL.
// The window asks this program rather than OpenGL itself: loading a driver
// keeps some 60 MB in the asking process for good, and a driver that
// crashes or hangs takes only this program with it, never an acquisition.
#include "ui/OpenGLRenderer.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString name = QueryOpenGLRenderer();
    if (name.isEmpty())
        return 1;
    std::printf("%s\n", name.toLatin1().constData());
    return 0;
}
