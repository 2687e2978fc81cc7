#include "ui/ProgressPage.h"

#include <QGuiApplication>
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

#include <algorithm>
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

bool ProgressPage::PlatformShows3D(const QString& platformName) {
    // These platforms draw into memory only: creating a 3D window there
    // crashes inside the graph's constructor rather than failing.
    return platformName != QLatin1String("offscreen") && platformName != QLatin1String("minimal");
}

void ProgressPage::ShowNotice(const QString& text) {
    notice_ = new QLabel(text, this);
    notice_->setObjectName("Pe3do1");
    notice_->setAlignment(Qt::AlignCenter);
    layout()->addWidget(notice_);
}

ProgressPage::ProgressPage(const ImagingOptions* options, QWidget* parent)
    : QWidget(parent), options_(options) {
    setObjectName("StateTb");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString noOpenGL =
        QStringLiteral("The progress view needs OpenGL, which is not available on this "
                       "computer.\nThe acquisition is not affected.");
    if (!PlatformShows3D(QGuiApplication::platformName())) {
        ShowNotice(QStringLiteral("The progress view needs a display; this session has none "
                                  "(platform \"%1\").\nThe acquisition is not affected.")
                       .arg(QGuiApplication::platformName()));
        return;
    }
    if (!OpenGLAvailable()) {
        ShowNotice(noOpenGL);
        return;
    }
    scatter_ = new Q3DScatter;
    if (!scatter_->hasContext()) {
        delete scatter_;
        scatter_ = nullptr;
        ShowNotice(noOpenGL);
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
    // A map seen from the south-west above ground, x to the right, y away
    // from the viewer, pseudo-depth growing downward with its true sign.
    scatter_->axisX()->setTitle("X (m)");
    scatter_->axisY()->setTitle("Pseudo-depth (m)");
    scatter_->axisY()->setReversed(true);
    scatter_->axisZ()->setTitle("Y (m)");
    for (QValue3DAxis* axis : {scatter_->axisX(), scatter_->axisY(), scatter_->axisZ()}) {
        axis->setTitleVisible(true);
        axis->setLabelFormat("%.4g");
    }

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
    suspectSeries_ = new QScatter3DSeries;
    suspectSeries_->setName("Suspect electrode");
    suspectSeries_->setMesh(QAbstract3DSeries::MeshCube);
    suspectSeries_->setBaseColor(QColor(230, 0, 0));
    suspectSeries_->setItemSize(0.12f);
    suspectSeries_->setItemLabelFormat("@xLabel, @yLabel, @zLabel");
    scatter_->addSeries(suspectSeries_);
}

void ProgressPage::SetSuspectElectrodes(const std::vector<int32_t>& nodes) {
    std::vector<int32_t> sorted = nodes;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == suspectNodes_)
        return;
    suspectNodes_ = sorted;
    ShowSuspects();
}

void ProgressPage::ShowSuspects() {
    if (!suspectSeries_)
        return;
    try {
        auto* array = new QScatterDataArray;
        const auto& electrodes = model_.electrodePoints();
        for (int32_t node : suspectNodes_) {
            if (node < 0 || size_t(node) >= electrodes.size() || electrodes[size_t(node)].IsNull())
                continue;
            const ProgressPoint& p = electrodes[size_t(node)];
            array->append(QScatterDataItem(QVector3D(p.x, p.y, p.z)));
        }
        suspectSeries_->dataProxy()->resetArray(array);
    } catch (...) {
        // The 3D view is decoration: never stop an acquisition for it.
    }
}

ProgressPage::~ProgressPage() = default;

void ProgressPage::SetupProgressView(const Sequence& sequence, int firstNode, int lastNode) {
    model_.SetupProgressView(sequence, firstNode, lastNode, Moving());
    suspectNodes_.clear();
    ShowSuspects();
    if (Moving() || !scatter_)
        return;
    shownRevision_ = ~uint64_t{0};
    Changed();
}

void ProgressPage::MarkCurrentQuadripoles(int count, int start) {
    model_.MarkCurrentQuadripoles(count, start, Moving());
    Changed();
}

void ProgressPage::ClearCurrentQuadripoles() {
    model_.ClearCurrentQuadripoles(Moving());
    Changed();
}

void ProgressPage::Changed() {
    if (drawRequest_)
        drawRequest_();
    else if (pageActive_)
        Draw();
}

void ProgressPage::SetPageActive(bool active) {
    pageActive_ = active;
    if (active && !drawRequest_)
        Draw();
}

void ProgressPage::Draw() {
    if (!scatter_ || shownRevision_ == model_.revision())
        return;
    try {
        if (shownLayout_ != model_.layoutRevision()) {
            Rebuild();
        } else {
            const auto& quads = model_.quadripolePoints();
            const auto& electrodes = model_.electrodePoints();
            const int quadCount = int(quads.size());
            const int total = int(shownState_.size());
            for (int id = 0; id < total; ++id) {
                const ProgressPoint& p = id < quadCount ? quads[id] : electrodes[id - quadCount];
                const int from = static_cast<int>(shownState_[id]);
                const int to = static_cast<int>(p.state);
                if (from == to)
                    continue;
                shownState_[id] = p.state;
                const int k = slot_[id];
                if (k < 0)
                    continue; // not drawn
                // Out of its old series: the last item takes its slot.
                auto& owners = owners_[from];
                QScatterDataProxy* proxy = series_[from]->dataProxy();
                const int last = int(owners.size()) - 1;
                if (k != last) {
                    proxy->setItem(k, *proxy->itemAt(last));
                    owners[k] = owners[last];
                    slot_[owners[k]] = k;
                }
                proxy->removeItems(last, 1);
                owners.pop_back();
                // Into the new one, at its end.
                series_[to]->dataProxy()->addItem(QScatterDataItem(QVector3D(p.x, p.y, p.z)));
                owners_[to].push_back(id);
                slot_[id] = int(owners_[to].size()) - 1;
            }
        }
        shownRevision_ = model_.revision();
    } catch (...) {
        // The 3D view is decoration: never stop an acquisition for it.
    }
}

void ProgressPage::Rebuild() {
    const auto& quads = model_.quadripolePoints();
    const auto& electrodes = model_.electrodePoints();
    const int quadCount = int(quads.size());
    const int total = quadCount + int(electrodes.size());
    shownState_.assign(total, ProgressState::QuadNotMeasured);
    slot_.assign(total, -1);
    std::array<QScatterDataArray*, kProgressStateCount> arrays{};
    for (int s = 0; s < kProgressStateCount; ++s) {
        arrays[s] = new QScatterDataArray;
        owners_[s].clear();
    }
    float lo[2] = {1e30f, 1e30f};
    float hi[2] = {-1e30f, -1e30f};
    for (int id = 0; id < total; ++id) {
        const ProgressPoint& p = id < quadCount ? quads[id] : electrodes[id - quadCount];
        shownState_[id] = p.state;
        if (p.IsNull())
            continue;
        const int s = static_cast<int>(p.state);
        slot_[id] = int(arrays[s]->size());
        arrays[s]->append(QScatterDataItem(QVector3D(p.x, p.y, p.z)));
        owners_[s].push_back(id);
        lo[0] = std::min(lo[0], p.x);
        hi[0] = std::max(hi[0], p.x);
        lo[1] = std::min(lo[1], p.y);
        hi[1] = std::max(hi[1], p.y);
    }
    // Fixed ranges: with ranges that follow the data, every moved point
    // would make the graph scan all of them again.
    auto range = [](QValue3DAxis* axis, float a, float b) {
        if (!(a <= b)) {
            a = 0;
            b = 1;
        }
        if (b - a < 1)
            b = a + 1;
        axis->setAutoAdjustRange(false);
        axis->setRange(std::floor(a), std::ceil(b));
    };
    range(scatter_->axisX(), lo[0], hi[0]);
    range(scatter_->axisY(), std::min(lo[1], 0.0f), hi[1]);
    scatter_->axisZ()->setRange(static_cast<float>(model_.manualMinZ()),
                                static_cast<float>(model_.manualMaxZ()));
    for (int s = 0; s < kProgressStateCount; ++s)
        series_[s]->dataProxy()->resetArray(arrays[s]);
    shownLayout_ = model_.layoutRevision();
}

QImage ProgressPage::RenderImage(const QSize& size) {
    if (!scatter_)
        return QImage();
    Draw();
    return scatter_->renderToImage(0, size);
}
