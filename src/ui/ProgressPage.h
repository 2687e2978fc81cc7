#pragma once
// The " Progress status" page: a 3D view of every quadripole's report
// point and every electrode, measured quadripoles in grey and the block
// being measured highlighted. The main window embeds it as its page StateTb.
// The view itself is made when the page is first shown, so that a session
// that never looks at it loads no graphics driver for it.
#include "imaging/ImagingOptions.h"
#include "imaging/ProgressModel.h"
#include "ui/ProgressView.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class Q3DScatter;

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
    // Brings the view up to date with the model, making the view first
    // when the page is on screen.
    void Draw();

    // Electrodes the quality checks suspect, drawn large in red over their
    // place; redrawn only when the list changes.
    void SetSuspectElectrodes(const std::vector<int32_t>& nodes);
    const std::vector<int32_t>& suspectElectrodes() const { return suspectNodes_; }

    const ProgressModel& model() const { return model_; }
    // Makes the view now if it is not made yet (it otherwise waits for the
    // page to be shown) and returns it.
    ProgressView& EnsureView();
    // Null until the view is made.
    ProgressView* view() const { return view_.get(); }
    ProgressViewKind viewKind() const { return kind_; }
    // The OpenGL graph when that is the view made, else null.
    Q3DScatter* scatter() const;
    QImage RenderImage(const QSize& size);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Changed();
    bool Moving() const { return options_ && options_->movingArrayMode; }

    const ImagingOptions* options_;
    ProgressModel model_;
    bool pageActive_ = true;
    std::function<void()> drawRequest_;
    std::unique_ptr<ProgressView> view_;
    ProgressViewKind kind_ = ProgressViewKind::Drawn;
    std::vector<int32_t> suspectNodes_;
};
