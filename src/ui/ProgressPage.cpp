#include "ui/ProgressPage.h"

#include "ui/ProgressPaintedView.h"
#include "ui/ProgressScatterView.h"

#include <QGuiApplication>
#include <QVBoxLayout>

#include <algorithm>

ProgressPage::ProgressPage(const ImagingOptions* options, QWidget* parent)
    : QWidget(parent), options_(options) {
    setObjectName("StateTb");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

// The painted view is a child widget the view pointer deletes; the OpenGL
// graph's container is a child the page deletes after its members.
ProgressPage::~ProgressPage() = default;

ProgressView& ProgressPage::EnsureView() {
    if (view_)
        return *view_;
    kind_ = ChooseProgressView(QGuiApplication::platformName(),
                               QString::fromLocal8Bit(qgetenv(kProgressViewVariable)),
                               [] { return OpenGLRendererName(); });
    if (kind_ == ProgressViewKind::Scatter3D)
        view_ = ProgressScatterView::Create(this);
    if (!view_) {
        kind_ = ProgressViewKind::Drawn;
        view_ = std::make_unique<ProgressPaintedView>(this);
    }
    layout()->addWidget(view_->widget());
    if (isVisible())
        view_->widget()->show();
    view_->ShowSuspects(model_, suspectNodes_);
    if (!Moving())
        view_->Draw(model_);
    return *view_;
}

void ProgressPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!view_)
        EnsureView();
}

Q3DScatter* ProgressPage::scatter() const {
    const auto* graph = dynamic_cast<const ProgressScatterView*>(view_.get());
    return graph ? graph->scatter() : nullptr;
}

void ProgressPage::SetSuspectElectrodes(const std::vector<int32_t>& nodes) {
    std::vector<int32_t> sorted = nodes;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == suspectNodes_)
        return;
    suspectNodes_ = sorted;
    if (view_)
        view_->ShowSuspects(model_, suspectNodes_);
}

void ProgressPage::SetupProgressView(const Sequence& sequence, int firstNode, int lastNode) {
    model_.SetupProgressView(sequence, firstNode, lastNode, Moving());
    suspectNodes_.clear();
    if (view_)
        view_->ShowSuspects(model_, suspectNodes_);
    if (Moving())
        return;
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
    if (!view_) {
        if (!isVisible())
            return; // made, and drawn whole, when first shown
        EnsureView();
        return;
    }
    try {
        view_->Draw(model_);
    } catch (...) {
        // The progress view is decoration: never stop an acquisition for it.
    }
}

QImage ProgressPage::RenderImage(const QSize& size) {
    EnsureView().Draw(model_);
    return view_->Render(size);
}
