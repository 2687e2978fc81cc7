#pragma once
// The " Progress status" page: a 3D scatter of every quadripole's report
// point and every electrode, measured quadripoles in grey and the block
// being measured highlighted. The main window embeds it as its page StateTb.
#include "imaging/ImagingOptions.h"
#include "imaging/ProgressModel.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class Q3DScatter;
class QLabel;
class QScatter3DSeries;

class ProgressPage : public QWidget {
    Q_OBJECT
public:
    explicit ProgressPage(const ImagingOptions* options, QWidget* parent = nullptr);
    ~ProgressPage() override;

    // At window creation and at every run start.
    void SetupProgressView(const Sequence& sequence, int firstNode, int lastNode);
    // For every received block (not while a file is viewed at once).
    void MarkCurrentQuadripoles(int count, int start);
    // When a run has ended.
    void ClearCurrentQuadripoles();

    // The view is repainted after a change only while its page is active.
    void SetPageActive(bool active);
    bool pageActive() const { return pageActive_; }
    // When set, a change calls `request` instead of repainting, and the
    // owner calls Draw() when the page is to be seen.
    void SetDrawRequest(std::function<void()> request) { drawRequest_ = std::move(request); }
    // Brings the view up to date with the model: only the points whose
    // state changed move between series.
    void Draw();

    // Electrodes the quality checks suspect, drawn large in red over their
    // place; redrawn only when the list changes.
    void SetSuspectElectrodes(const std::vector<int32_t>& nodes);
    const std::vector<int32_t>& suspectElectrodes() const { return suspectNodes_; }
    QScatter3DSeries* suspectSeries() const { return suspectSeries_; }

    const ProgressModel& model() const { return model_; }
    // False when OpenGL is missing: the page then shows a notice instead.
    bool hasView() const { return scatter_ != nullptr; }
    Q3DScatter* scatter() const { return scatter_; }
    QImage RenderImage(const QSize& size);

    // Whether 3D views can be shown on a platform (QGuiApplication's
    // platform name): not on those that have no real windows.
    static bool PlatformShows3D(const QString& platformName);

private:
    void Changed();
    void Rebuild();
    bool Moving() const { return options_ && options_->movingArrayMode; }
    void ShowNotice(const QString& text);

    const ImagingOptions* options_;
    ProgressModel model_;
    bool pageActive_ = true;
    uint64_t shownRevision_ = ~uint64_t{0};
    uint64_t shownLayout_ = ~uint64_t{0};
    std::function<void()> drawRequest_;
    // What the series show, point by point (quadripoles, then electrodes):
    // the state drawn, and the point's slot in that state's series (-1:
    // not drawn). owners_[s][k] is the point in slot k of series s.
    std::vector<ProgressState> shownState_;
    std::vector<int32_t> slot_;
    std::array<std::vector<int32_t>, kProgressStateCount> owners_{};
    Q3DScatter* scatter_ = nullptr;
    QWidget* container_ = nullptr;
    QLabel* notice_ = nullptr;
    std::array<QScatter3DSeries*, kProgressStateCount> series_{};
    QScatter3DSeries* suspectSeries_ = nullptr;
    std::vector<int32_t> suspectNodes_;
    void ShowSuspects();
};
