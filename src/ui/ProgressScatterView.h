#pragma once
// The progress view as an OpenGL scatter graph: one series per point state,
// points moved between series as their state changes, suspect electrodes
// in a series of their own.
#include "ui/ProgressView.h"

class Q3DScatter;
class QScatter3DSeries;

class ProgressScatterView : public ProgressView {
public:
    // Null when no graph with an OpenGL context could be made.
    static std::unique_ptr<ProgressScatterView> Create(QWidget* parent);
    ~ProgressScatterView() override;

    QWidget* widget() override { return container_; }
    void Draw(const ProgressModel& model) override;
    void ShowSuspects(const ProgressModel& model, const std::vector<int32_t>& nodes) override;
    QImage Render(const QSize& size) override;
    std::array<int, kProgressStateCount> DrawnCounts() const override;
    int SuspectMarkCount() const override;

    Q3DScatter* scatter() const { return scatter_; }

private:
    ProgressScatterView(Q3DScatter* scatter, QWidget* parent);
    void Rebuild(const ProgressModel& model);

    Q3DScatter* scatter_;
    QWidget* container_;
    uint64_t shownRevision_ = ~uint64_t{0};
    uint64_t shownLayout_ = ~uint64_t{0};
    // What the series show, point by point (quadripoles, then electrodes):
    // the state drawn, and the point's slot in that state's series (-1:
    // not drawn). owners_[s][k] is the point in slot k of series s.
    std::vector<ProgressState> shownState_;
    std::vector<int32_t> slot_;
    std::array<std::vector<int32_t>, kProgressStateCount> owners_{};
    std::array<QScatter3DSeries*, kProgressStateCount> series_{};
    QScatter3DSeries* suspectSeries_ = nullptr;
};
