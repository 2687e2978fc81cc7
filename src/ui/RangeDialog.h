#pragma once
// The "Rho display options" dialog: full, optimized or manual colour range,
// the bounds, and the statistics of the last optimized range. Modeless; it
// lives for the whole program run and closing it only hides it.
//
// The bounds are shown and typed in the unit the section is drawn in (ohm.m,
// or ohm.cm when every value is small); the unit stands beside each box, and
// when it changes the numbers in the boxes are converted with it. Before the
// first value there is no range and the boxes stay empty.
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
    // Writes a bound into a box without running its change handler.
    void SetBox(QLineEdit* edit, const QString& text);
    void ShowRange(ValueRange range, bool wholeNumbers);
    // Converts the boxes and relabels them when the display unit changed.
    void FollowUnit();

    ColorScale* colorScale_;
    QRadioButton* fullRB_;
    QRadioButton* smartRB_;
    QRadioButton* manualRB_;
    QFrame* scalePanel_;
    QLineEdit* minEdt_;
    QLineEdit* maxEdt_;
    QLabel* minUnit_;
    QLabel* maxUnit_;
    float shownFactor_ = 1; // the unit the boxes hold
    QPushButton* ok_;
    QLabel* outOfScale_;
    QLabel* sampleCount_;
    QLabel* computeTime_;
    QLabel* availableTime_;
    QLabel* updateGuiTime_;
};
