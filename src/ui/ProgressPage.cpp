#include "ui/ProgressPage.h"

#include <QLabel>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QVBoxLayout>
#include <QtDataVisualization/Q3DCamera>
#include <QtDataVisualization/Q3DScatter>
#include <QtDataVisualization/Q3DScene>
#include <QtDataVisualization/Q3DTheme>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>
#include <QtDataVisualization/QValue3DAxis>

#include <cmath>

namespace {

bool OpenGLAvailable() {
    QOpenGLContext context;
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.create();
    return surface.isValid() && context.makeCurrent(&surface);
}

// One symbol per state; the six states of the view stay apart by shape as
// well as by colour (a gap filler being measured gets a shape of its own).
QAbstract3DSeries::Mesh MeshOf(ProgressState s) {
    switch (s) {
    case ProgressState::QuadNotMeasured:
        return QAbstract3DSeries::MeshPoint;
    case ProgressState::QuadMeasuring:
        return QAbstract3DSeries::MeshCube;
    case ProgressState::QuadMeasuringGapFiller:
        return QAbstract3DSeries::MeshPyramid;
    case ProgressState::QuadMeasured:
        return QAbstract3DSeries::MeshPoint;
    case ProgressState::ElectrodeIdle:
        return QAbstract3DSeries::MeshMinimal;
    case ProgressState::ElectrodeCurrent:
    case ProgressState::ElectrodePotential:
        return QAbstract3DSeries::MeshSphere;
    }
    return QAbstract3DSeries::MeshPoint;
}

float SizeOf(ProgressState s) {
    switch (s) {
    case ProgressState::QuadMeasuring:
    case ProgressState::QuadMeasuringGapFiller:
        return 0.06f;
    case ProgressState::ElectrodeCurrent:
    case ProgressState::ElectrodePotential:
        return 0.08f;
    case ProgressState::ElectrodeIdle:
        return 0.04f;
    default:
        return 0.0f; // points: fixed size
    }
}

const char* NameOf(ProgressState s) {
    switch (s) {
    case ProgressState::QuadNotMeasured:
        return "Not measured";
    case ProgressState::QuadMeasuring:
        return "Measuring";
    case ProgressState::QuadMeasuringGapFiller:
        return "Measuring (gap filler)";
    case ProgressState::QuadMeasured:
        return "Measured";
    case ProgressState::ElectrodeIdle:
        return "Electrode";
    case ProgressState::ElectrodeCurrent:
        return "Current electrode";
    case ProgressState::ElectrodePotential:
        return "Potential electrode";
    }
    return "";
}

} // namespace

ProgressPage::ProgressPage(const ImagingOptions* options, QWidget* parent)
    : QWidget(parent), options_(options) {
    setObjectName("StateTb");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!OpenGLAvailable()) {
        notice_ = new QLabel("The progress view needs OpenGL, which is not available on this "
                             "computer.\nThe acquisition is not affected.",
                             this);
        notice_->setObjectName("Pe3do1");
        notice_->setAlignment(Qt::AlignCenter);
        layout->addWidget(notice_);
        return;
    }
    scatter_ = new Q3DScatter;
    if (!scatter_->hasContext()) {
        delete scatter_;
        scatter_ = nullptr;
        notice_ = new QLabel("The progress view needs OpenGL, which is not available on this "
                             "computer.\nThe acquisition is not affected.",
                             this);
        notice_->setObjectName("Pe3do1");
        notice_->setAlignment(Qt::AlignCenter);
        layout->addWidget(notice_);
        return;
    }
    container_ = QWidget::createWindowContainer(scatter_, this);
    container_->setObjectName("Pe3do1");
    container_->setMinimumSize(200, 150);
    layout->addWidget(container_);

    scatter_->activeTheme()->setType(Q3DTheme::ThemeQt);
    scatter_->activeTheme()->setBackgroundColor(Qt::white);
    scatter_->activeTheme()->setWindowColor(Qt::white);
    scatter_->activeTheme()->setLabelBackgroundEnabled(false);
    scatter_->activeTheme()->setGridLineColor(QColor(210, 210, 210));
    scatter_->setShadowQuality(QAbstract3DGraph::ShadowQualityNone);
    scatter_->scene()->activeCamera()->setCameraPreset(Q3DCamera::CameraPresetIsometricLeft);
    scatter_->axisX()->setTitle("X spacing (m)");
    scatter_->axisY()->setTitle("Report point (m)");
    scatter_->axisZ()->setTitle("Y spacing (m)");
    for (QValue3DAxis* axis : {scatter_->axisX(), scatter_->axisY(), scatter_->axisZ()})
        axis->setTitleVisible(true);

    for (int s = 0; s < kProgressStateCount; ++s) {
        const auto state = static_cast<ProgressState>(s);
        auto* series = new QScatter3DSeries;
        series->setName(NameOf(state));
        series->setMesh(MeshOf(state));
        series->setMeshSmooth(true);
        const Rgb c = ProgressPointColor(state);
        series->setBaseColor(QColor(c.r, c.g, c.b));
        if (SizeOf(state) > 0)
            series->setItemSize(SizeOf(state));
        series->setItemLabelFormat("@xLabel, @yLabel, @zLabel");
        scatter_->addSeries(series);
        series_[s] = series;
    }
}

ProgressPage::~ProgressPage() = default;

void ProgressPage::SetupProgressView(const Sequence& sequence, int firstNode, int lastNode) {
    model_.SetupProgressView(sequence, firstNode, lastNode, Moving());
    if (Moving() || !scatter_)
        return;
    try {
        scatter_->axisY()->setAutoAdjustRange(true);
        scatter_->axisX()->setAutoAdjustRange(true);
        scatter_->axisZ()->setRange(static_cast<float>(model_.manualMinZ()),
                                    static_cast<float>(model_.manualMaxZ()));
        shownRevision_ = ~uint64_t{0};
        Refresh();
    } catch (...) {
        // The 3D view is decoration: never stop an acquisition for it.
    }
}

void ProgressPage::MarkCurrentQuadripoles(int count, int start) {
    model_.MarkCurrentQuadripoles(count, start, Moving());
    if (pageActive_)
        Refresh();
}

void ProgressPage::ClearCurrentQuadripoles() {
    model_.ClearCurrentQuadripoles(Moving());
    if (pageActive_)
        Refresh();
}

void ProgressPage::SetPageActive(bool active) {
    pageActive_ = active;
    if (active)
        Refresh();
}

void ProgressPage::Refresh() {
    if (!scatter_ || shownRevision_ == model_.revision())
        return;
    try {
        std::array<QScatterDataArray*, kProgressStateCount> arrays{};
        for (auto& a : arrays)
            a = new QScatterDataArray;
        auto add = [&](const std::vector<ProgressPoint>& points) {
            for (const ProgressPoint& p : points) {
                if (p.IsNull())
                    continue;
                arrays[static_cast<int>(p.state)]->append(
                    QScatterDataItem(QVector3D(p.x, p.y, p.z)));
            }
        };
        add(model_.quadripolePoints());
        add(model_.electrodePoints());
        for (int s = 0; s < kProgressStateCount; ++s)
            series_[s]->dataProxy()->resetArray(arrays[s]);
        shownRevision_ = model_.revision();
    } catch (...) {
    }
}

QImage ProgressPage::RenderImage(const QSize& size) {
    if (!scatter_)
        return QImage();
    Refresh();
    return scatter_->renderToImage(0, size);
}
