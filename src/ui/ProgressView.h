#pragma once
// The widget that draws the progress page's model, and the choice between
// the two there are: the OpenGL scatter graph where the graphics card draws
// it, and a view that projects and paints the points itself where OpenGL
// would be emulated in software (there the emulation costs some 150 MB and
// more CPU than the whole acquisition) or is missing altogether.
#include "imaging/ProgressModel.h"

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual QWidget* widget() = 0;
    // Brings the drawing up to date with the model.
    virtual void Draw(const ProgressModel& model) = 0;
    // Electrodes the quality checks suspect, drawn large in red.
    virtual void ShowSuspects(const ProgressModel& model, const std::vector<int32_t>& nodes) = 0;
    virtual QImage Render(const QSize& size) = 0;
    // How many points the view holds in each state, and how many suspect
    // marks: what a viewer would count on the screen.
    virtual std::array<int, kProgressStateCount> DrawnCounts() const = 0;
    virtual int SuspectMarkCount() const = 0;
};

enum class ProgressViewKind { Scatter3D, Drawn };

// The environment variable that overrides the choice: "opengl" or "drawn".
inline constexpr const char* kProgressViewVariable = "PYLORIX_PROGRESS_VIEW";

// Whether an OpenGL renderer name (GL_RENDERER) is a software rasteriser.
bool IsSoftwareRenderer(const QString& renderer);

// The view to make. `platformName` is the windowing platform, `preference`
// the override ("opengl", "drawn" or empty), `renderer` asks OpenGL for its
// renderer's name (empty when there is no usable context); it is asked
// only when the answer matters, since loading a driver costs memory.
ProgressViewKind ChooseProgressView(const QString& platformName, const QString& preference,
                                    const std::function<QString()>& renderer);

// The OpenGL renderer's name, empty without OpenGL. Asked once per process
// of the probe program (pylorix-glprobe, found through PYLORIX_GLPROBE,
// beside the program, or in the build folder); only without it does this
// process load the driver to ask.
QString OpenGLRendererName();

// What the probe program `program` answers: the renderer's name, or empty
// when it says there is no OpenGL, crashes or takes longer than
// `timeoutMs`. Nothing when the program cannot be started.
std::optional<QString> AskOpenGLProbe(const QString& program, int timeoutMs);
