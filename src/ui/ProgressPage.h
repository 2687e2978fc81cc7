#pragma once
// The " Progress status" page: a 3D scatter of every quadripole's report
// point and every electrode, measured quadripoles in grey and the block
// being measured highlighted. The main window embeds it as its page StateTb.
#include "imaging/ImagingOptions.h"
#include "imaging/ProgressModel.h"

#include <QImage>
#include <QWidget>

#include <array>

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

    const ProgressModel& model() const { return model_; }
    // False when OpenGL is missing: the page then shows a notice instead.
    bool hasView() const { return scatter_ != nullptr; }
    Q3DScatter* scatter() const { return scatter_; }
    QImage RenderImage(const QSize& size);

private:
    void Refresh();
    bool Moving() const { return options_ && options_->movingArrayMode; }

    const ImagingOptions* options_;
    ProgressModel model_;
    bool pageActive_ = true;
    uint64_t shownRevision_ = ~uint64_t{0};
    Q3DScatter* scatter_ = nullptr;
    QWidget* container_ = nullptr;
    QLabel* notice_ = nullptr;
    std::array<QScatter3DSeries*, kProgressStateCount> series_{};
};
