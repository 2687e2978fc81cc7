// pylorix-glprobe: prints the name of the OpenGL renderer this session
// would draw with (GL_RENDERER) and exits 0, or exits 1 without OpenGL.
// The window asks this program rather than OpenGL itself: loading a driver
// keeps some 60 MB in the asking process for good, and a driver that
// crashes or hangs takes only this program with it, never an acquisition.
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QOpenGLContext context;
    if (!context.create())
        return 1;
    QOffscreenSurface surface;
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return 1;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    std::printf("%s\n", name && *name ? name : "unknown");
    context.doneCurrent();
    return 0;
}
