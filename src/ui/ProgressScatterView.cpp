#include "ui/ProgressScatterView.h"

#include <QWidget>
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

} // namespace

std::unique_ptr<ProgressScatterView> ProgressScatterView::Create(QWidget* parent) {
    auto* scatter = new Q3DScatter;
    if (!scatter->hasContext()) {
        delete scatter;
        return nullptr;
    }
    return std::unique_ptr<ProgressScatterView>(new ProgressScatterView(scatter, parent));
}

ProgressScatterView::ProgressScatterView(Q3DScatter* scatter, QWidget* parent)
    : scatter_(scatter), container_(QWidget::createWindowContainer(scatter, parent)) {
    container_->setObjectName("Pe3do1");
    container_->setMinimumSize(200, 150);
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
        series->setName(ProgressStateName(state));
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

ProgressScatterView::~ProgressScatterView() {
    // The container owns the graph's window and is owned by the page.
}

void ProgressScatterView::ShowSuspects(const ProgressModel& model,
                                       const std::vector<int32_t>& nodes) {
    try {
        auto* array = new QScatterDataArray;
        const auto& electrodes = model.electrodePoints();
        for (int32_t node : nodes) {
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

void ProgressScatterView::Draw(const ProgressModel& model) {
    if (shownRevision_ == model.revision())
        return;
    try {
        if (shownLayout_ != model.layoutRevision()) {
            Rebuild(model);
        } else {
            const auto& quads = model.quadripolePoints();
            const auto& electrodes = model.electrodePoints();
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
        shownRevision_ = model.revision();
    } catch (...) {
        // The 3D view is decoration: never stop an acquisition for it.
    }
}

void ProgressScatterView::Rebuild(const ProgressModel& model) {
    const auto& quads = model.quadripolePoints();
    const auto& electrodes = model.electrodePoints();
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
    scatter_->axisZ()->setRange(static_cast<float>(model.manualMinZ()),
                                static_cast<float>(model.manualMaxZ()));
    for (int s = 0; s < kProgressStateCount; ++s)
        series_[s]->dataProxy()->resetArray(arrays[s]);
    shownLayout_ = model.layoutRevision();
}

QImage ProgressScatterView::Render(const QSize& size) {
    return scatter_->renderToImage(0, size);
}

std::array<int, kProgressStateCount> ProgressScatterView::DrawnCounts() const {
    std::array<int, kProgressStateCount> counts{};
    for (int s = 0; s < kProgressStateCount; ++s)
        counts[size_t(s)] = series_[size_t(s)]->dataProxy()->itemCount();
    return counts;
}

int ProgressScatterView::SuspectMarkCount() const {
    return suspectSeries_->dataProxy()->itemCount();
}
