#pragma once
// The "Data quality" list behind the status line's QC text: how many
// measurements each check flagged, the suspect electrodes with their
// counts, and the worst measurements with their electrodes, apparent
// resistivity, quality value and reasons. Modeless; it follows the run
// while it is open.
#include <QDialog>

class QLabel;
class QTableWidget;
class QualityControl;

class QualityDialog : public QDialog {
    Q_OBJECT
public:
    explicit QualityDialog(QWidget* parent = nullptr);

    // Shows the model's state (nothing when null). Cheap enough for every
    // batch while the dialog is open: the worst list is capped.
    void ShowQuality(const QualityControl* quality);

    QTableWidget* flagsTable() const { return flags_; }
    QTableWidget* electrodesTable() const { return electrodes_; }
    QTableWidget* worstTable() const { return worst_; }

    static constexpr int kWorstShown = 50;

private:
    QLabel* summary_ = nullptr;
    QTableWidget* flags_ = nullptr;
    QTableWidget* electrodes_ = nullptr;
    QTableWidget* worst_ = nullptr;
};
