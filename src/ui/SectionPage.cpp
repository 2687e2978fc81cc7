#include "ui/SectionPage.h"

#include "quality/QualityControl.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QVBoxLayout>

namespace {

// Hourglass for the duration of a long step, restored on every path.
class OverrideWaitCursor {
public:
    OverrideWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~OverrideWaitCursor() { QApplication::restoreOverrideCursor(); }
    OverrideWaitCursor(const OverrideWaitCursor&) = delete;
    OverrideWaitCursor& operator=(const OverrideWaitCursor&) = delete;
};

// The horizontal title names the coordinate and carries the value unit.
QString XAxisTitle(bool planView, float unitFactor) {
    const QString unit = unitFactor == 1.0f ? "     (Ohm.m)" : "     (Ohm.cm)";
    return (planView ? "x (m)" : "mid point (m)") + unit;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setFixedHeight(28);
    return b;
}

} // namespace

void ApplyColorScale(ContourGraph* graph, QSlider* lowerSlider, QSlider* upperSlider) {
    int lower = lowerSlider->value();
    int upper = upperSlider->value();
    const Palette palette = BuildPalette(lower, upper);
    lowerSlider->setValue(lower);
    upperSlider->setValue(upper);
    try {
        graph->SetSubsetColors(palette);
        graph->ReinitAndReset();
    } catch (...) {
        // A drawing failure must never stop an acquisition.
    }
}

SectionPage::SectionPage(ColorScale* colorScale, const ImagingOptions* options, QWidget* parent)
    : QWidget(parent), colorScale_(colorScale), options_(options) {
    setObjectName("RhoTb");
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Strip across the top; never shown, so the sliders keep 0 and 50.
    groupBox3_ = new QGroupBox(this);
    groupBox3_->setObjectName("GroupBox3");
    auto* strip = new QHBoxLayout(groupBox3_);
    strip->addWidget(new QLabel("Max :", groupBox3_));
    sMax_ = new QSlider(Qt::Horizontal, groupBox3_);
    sMax_->setObjectName("SMax");
    sMax_->setRange(kUpperSliderMin, kUpperSliderMax);
    sMax_->setValue(kUpperSliderMax);
    sMax_->setTickPosition(QSlider::TicksAbove);
    strip->addWidget(sMax_);
    strip->addWidget(new QLabel("Min :", groupBox3_));
    sMin_ = new QSlider(Qt::Horizontal, groupBox3_);
    sMin_->setObjectName("SMin");
    sMin_->setRange(kLowerSliderMin, kLowerSliderMax);
    sMin_->setValue(kLowerSliderMin);
    strip->addWidget(sMin_);
    auto* apply = Button("BitBtnApplyColorScale", "Apply color scale", groupBox3_);
    apply->setDefault(true);
    auto* unzoom2 = Button("BitBtnUnZoom", "UnZoom", groupBox3_);
    auto* maximize = Button("BitBtnMaximize", "Full Screen", groupBox3_);
    auto* export2 = Button("BitBtnExport", "Export", groupBox3_);
    auto* print2 = Button("BitBtn3", "Print", groupBox3_);
    auto* range2 = Button("RangeBtn", "Range", groupBox3_);
    for (QPushButton* b : {apply, unzoom2, maximize, export2, print2, range2})
        strip->addWidget(b);
    groupBox3_->setVisible(false);
    outer->addWidget(groupBox3_);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    outer->addLayout(body, 1);

    panel2_ = new QFrame(this);
    panel2_->setObjectName("Panel2");
    panel2_->setFixedWidth(90);
    auto* panel3 = new QFrame(panel2_);
    panel3->setObjectName("Panel3");
    auto* left = new QVBoxLayout(panel2_);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(panel3, 1);
    auto* column = new QVBoxLayout(panel3);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    auto* range1 = Button("BitBtn1", "Range", panel3);
    auto* unzoom1 = Button("BitBtn2", "UnZoom", panel3);
    auto* export1 = Button("BitBtn4", "Export", panel3);
    auto* print1 = Button("BitBtn5", "Print", panel3);
    for (QPushButton* b : {range1, unzoom1, export1, print1})
        column->addWidget(b);
    tabPlane_ = new QTabBar(panel3);
    tabPlane_->setObjectName("TabPlane");
    tabPlane_->setExpanding(false);
    tabPlane_->setDrawBase(true);
    for (const char* caption : {"XZ", "YZ", "XY"})
        tabPlane_->addTab(caption);
    column->addWidget(tabPlane_);
    sectionGroup_ = new QListWidget(panel3);
    sectionGroup_->setObjectName("SectionGroup");
    sectionGroup_->setFrameShape(QFrame::NoFrame);
    column->addWidget(sectionGroup_, 1);
    body->addWidget(panel2_);

    graph_ = new ContourGraph(this);
    body->addWidget(graph_, 1);

    connect(range1, &QPushButton::clicked, this, &SectionPage::rangeRequested);
    connect(range2, &QPushButton::clicked, this, &SectionPage::rangeRequested);
    for (QPushButton* b : {unzoom1, unzoom2})
        connect(b, &QPushButton::clicked, graph_, &ContourGraph::UndoZoom);
    for (QPushButton* b : {export1, export2})
        connect(b, &QPushButton::clicked, graph_, &ContourGraph::ExportDialog);
    for (QPushButton* b : {print1, print2})
        connect(b, &QPushButton::clicked, graph_, &ContourGraph::PrintDialog);
    connect(maximize, &QPushButton::clicked, graph_, [this] { graph_->Maximize(); });
    connect(apply, &QPushButton::clicked, this, [this] { ApplyColorScale(); });
    connect(tabPlane_, &QTabBar::currentChanged, this, &SectionPage::OnPlaneTabChanged);
    connect(sectionGroup_, &QListWidget::currentRowChanged, this, &SectionPage::OnSectionClicked);
    // Exactly one item stays ticked: the selected one.
    connect(sectionGroup_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const Qt::CheckState wanted =
            sectionGroup_->row(item) == sectionGroup_->currentRow() ? Qt::Checked : Qt::Unchecked;
        if (item->checkState() != wanted) {
            const QSignalBlocker block(sectionGroup_);
            item->setCheckState(wanted);
        }
    });

    graph_->SetXAxisTitle("mid point (m)");
    ConfigureGraph();
}

std::optional<Plane> SectionPage::SelectedPlane() const {
    const int index = tabPlane_->currentIndex();
    if (index < 0)
        return std::nullopt;
    return PlaneFromCaption(tabPlane_->tabText(index).toStdString());
}

bool SectionPage::BuildSectionGeometry(const Sequence& sequence, bool showGapFillers) {
    OverrideWaitCursor wait;
    colorScale_->ResetForNewGeometry();
    bool built = false;
    try {
        built = imaging_.BuildSectionGeometry(sequence, showGapFillers);
    } catch (...) {
        built = false;
    }
    // The graph starts empty for the new acquisition.
    graph_->SetGrid(SectionGrid{});
    graph_->ClearAnnotations();

    rebuilding_ = true;
    while (tabPlane_->count() > 0)
        tabPlane_->removeTab(0);
    sectionGroup_->clear();
    for (Plane p : {Plane::XZ, Plane::YZ, Plane::XY}) {
        if (!imaging_.plane(p).sections.empty())
            tabPlane_->addTab(PlaneCaption(p));
    }
    rebuilding_ = false;
    if (tabPlane_->count() == 0 || !built) {
        graph_->ReinitAndReset();
        QCoreApplication::processEvents();
        return false;
    }
    tabPlane_->setCurrentIndex(0);
    if (const auto plane = SelectedPlane()) {
        // Nothing is drawn yet: the run has not received a value.
        rebuilding_ = true;
        FillSectionList(*plane, showGapFillers);
        rebuilding_ = false;
        ApplyRanges(*plane);
    }
    ConfigureGraph();
    ApplyColorScale();
    QCoreApplication::processEvents();
    return true;
}

void SectionPage::ApplyRanges(Plane plane) {
    const PlaneBounds& b = imaging_.plane(plane).bounds;
    if (!b.Valid())
        return;
    const double dx = (static_cast<double>(b.maxH) - b.minH) * 0.005;
    const double dy = (static_cast<double>(b.minV) - b.maxV) * 0.01;
    graph_->SetPlanView(plane == Plane::XY);
    graph_->SetXAxisTitle(XAxisTitle(plane == Plane::XY, colorScale_->UnitFactor()));
    graph_->SetAxisRanges(b.minH - dx, b.maxH + dx, -(b.maxV - dy), -(b.minV + dy));
}

void SectionPage::ConfigureGraph() {
    // Design value range 10..500 until the colour range takes over.
    graph_->SetContourScale(ComputeContourScale({10, 500}), 1.0f);
    graph_->SetAnnotationsVisible(false);
}

void SectionPage::FillSectionList(Plane plane, bool showGapFillers) {
    sectionGroup_->blockSignals(true);
    sectionGroup_->clear();
    const auto& sections = imaging_.plane(plane).sections;
    for (const SlistPoint& s : sections) {
        auto* item = new QListWidgetItem(QString::fromStdString(SectionCaption(plane, s.key)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        sectionGroup_->addItem(item);
    }
    if (sectionGroup_->count() > 0) {
        sectionGroup_->setCurrentRow(0);
        sectionGroup_->item(0)->setCheckState(Qt::Checked);
    }
    sectionGroup_->blockSignals(false);
    if (sections.empty() || rebuilding_ || !ProgressFull())
        return;
    OverrideWaitCursor wait;
    PlotSectionData(nullptr, 0, 0, showGapFillers, true);
}

void SectionPage::OnPlaneTabChanged(int) {
    if (rebuilding_)
        return;
    if (const auto plane = SelectedPlane())
        FillSectionList(*plane, options_ ? options_->showGapFillers : false);
}

void SectionPage::OnSectionClicked(int row) {
    if (rebuilding_ || row < 0 || row >= sectionGroup_->count())
        return;
    sectionGroup_->blockSignals(true);
    for (int i = 0; i < sectionGroup_->count(); ++i)
        sectionGroup_->item(i)->setCheckState(i == row ? Qt::Checked : Qt::Unchecked);
    sectionGroup_->blockSignals(false);
    if (!ProgressFull())
        return;
    OverrideWaitCursor wait;
    PlotSectionData(nullptr, 0, 0, options_ ? options_->showGapFillers : false, true);
}

void SectionPage::ClearSectionAnnotations() {
    graph_->ClearAnnotations();
}

void SectionPage::PlotSectionData(const MeasureRecord* records, int firstIndex, int count,
                                  bool showGapFillers, bool applyPalette) {
    const auto plane = SelectedPlane();
    if (!plane)
        return;
    try {
        const int section = sectionGroup_->currentRow();
        const auto outcome =
            imaging_.PlotSectionData(records, firstIndex, count, showGapFillers, *plane, section,
                                     colorScale_->rhoMin, colorScale_->rhoMax);
        if (outcome.redrawn) {
            ClearSectionAnnotations();
            ApplyRanges(*plane);
        }
        if (outcome.redrawn || outcome.valuesChanged)
            gridStale_ = true;
        paletteStale_ = paletteStale_ || applyPalette;
    } catch (...) {
        return; // values already stored stay stored; the drawing is given up
    }
    // A received block waits for the window's schedule; a new choice of
    // section (count 0) is drawn at once.
    if (drawRequest_ && count > 0)
        drawRequest_();
    else
        Draw();
}

void SectionPage::Draw() {
    try {
        if (gridStale_)
            graph_->SetGrid(imaging_.grid());
        gridStale_ = false;
        MarkFlaggedPoints();
        if (pageActive_) {
            SetContourScale();
            if (paletteStale_)
                ApplyColorScale();
            paletteStale_ = false;
        }
        graph_->ReinitAndReset();
    } catch (...) {
        // A drawing failure must never stop an acquisition.
    }
}

void SectionPage::MarkFlaggedPoints() {
    std::vector<AnnotationPoint> marks;
    const QualityControl* quality = qualitySource_ ? qualitySource_() : nullptr;
    const int plane = imaging_.shownPlane();
    const int section = imaging_.shownSection();
    if (quality && quality->flaggedCount() > 0 && plane >= 0 && section >= 0 &&
        quality->quadripoleCount() == imaging_.quadripoleCount()) {
        const auto& members = imaging_.plane(Plane(plane)).members;
        const auto& points = imaging_.grid().annotations;
        if (size_t(section) < members.size() && members[size_t(section)].size() == points.size()) {
            const auto& list = members[size_t(section)];
            for (size_t k = 0; k < list.size(); ++k) {
                if (quality->flags(list[k]) != 0)
                    marks.push_back(points[k]);
            }
        }
    }
    graph_->SetFlaggedPoints(marks);
}

void SectionPage::SetContourScale() {
    const float factor = colorScale_->UnitFactor();
    graph_->SetXAxisTitle(XAxisTitle(graph_->planView(), factor));
    graph_->SetContourScale(colorScale_->CurrentContourScale(), factor);
}

void SectionPage::ApplyColorScale() {
    ::ApplyColorScale(graph_, sMin_, sMax_);
}

void SectionPage::UpdateColorScale() {
    graph_->SetXAxisTitle(XAxisTitle(graph_->planView(), colorScale_->UnitFactor()));
    // The optimized range moves with every block: under the window's
    // schedule the new scale waits for the next drawing like the values do.
    if (drawRequest_) {
        paletteStale_ = true;
        drawRequest_();
        return;
    }
    if (!pageActive_)
        return;
    SetContourScale();
    ApplyColorScale();
}
