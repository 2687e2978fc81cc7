#pragma once
// The "Rho display options" dialog: full, optimized or manual colour range,
// the bounds, and the statistics of the last optimized range. Modeless; it
// lives for the whole program run and closing it only hides it.
#include "imaging/ColorScale.h"

#include <QDialog>

#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class RangeDialog : public QDialog {
    Q_OBJECT
public:
    // The colour-range state belongs to the main window and must outlive
    // the dialog.
    explicit RangeDialog(ColorScale* colorScale, QWidget* parent = nullptr);

    // After every block (smooth true), once unsmoothed at the end of viewing
    // a file, and by the "Optimized range" button.
    void ComputeColorRange(bool smooth);
    void UpdateOutOfScaleCount();
    void StoreRangeChoice();
    // At the start of every run.
    void ResetRunStatistics();
    // When the marker of the next block arrives, with the time waited.
    void AdjustSampleLimit(uint32_t idleMs);
    // Time the views took for the last block.
    void ShowUpdateGuiTime(qint64 ms);

    // The choice the radio buttons show.
    ColorScaleMode SelectedMode() const;

signals:
    // A choice was stored: the main window calls UpdateColorScale.
    void choiceStored();
    // The range changed: the distribution chart redraws its range box.
    void colorRangeBoxRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnFullClicked();
    void OnOptimizedClicked();
    void OnManualClicked();
    void OnEditChanged();
    void OnOk();
    void SetPanelEnabled(bool enabled);
    std::optional<double> ReadNumber(const QLineEdit* edit) const;

    ColorScale* colorScale_;
    QRadioButton* fullRB_;
    QRadioButton* smartRB_;
    QRadioButton* manualRB_;
    QFrame* scalePanel_;
    QLineEdit* minEdt_;
    QLineEdit* maxEdt_;
    QPushButton* ok_;
    QLabel* outOfScale_;
    QLabel* sampleCount_;
    QLabel* computeTime_;
    QLabel* availableTime_;
    QLabel* updateGuiTime_;
};
