#pragma once
// The "  Acquisition" page: the values of the last batch channel by channel
// with the electrodes involved, lime on black. Every field keeps the
// component name the rest of the program and the tests look it up by.
#include "sequence/Sequence.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QGroupBox;
class QLabel;
class QScrollArea;

// Number texts of the panel: at least one integer digit and `decimals`
// decimals, the user's decimal separator, no grouping ("#0.00").
QString FormatFixed(double value, int decimals);
// The same without the mandatory integer digit ("#.0": 0.5 gives ".5";
// "#": 0 gives the empty text).
QString FormatOptionalInteger(double value, int decimals);

// What a field shows instead of a value the instrument did not deliver.
inline constexpr const char* kNoDataText = "no data";
// Whether a value is a marker rather than a measurement: the rho of a slot
// that received nothing (-9e30), the instrument's "measured without a
// value" (-8e30), or anything not finite. No quantity of the panel comes
// near 1e30, and printed in full such a marker overflows its field, which
// then shows a plausible-looking tail of digits.
bool IsNoDataValue(double value);
// FormatFixed, or kNoDataText for a marker.
QString FormatMeasured(double value, int decimals);

// The value fields' colours.
inline constexpr unsigned kLime = 0x00FF00;
inline constexpr unsigned kGrey = 0x808080;

class LivePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kChannels = 20;
    static constexpr int kPotentialRows = 21;

    explicit LivePanel(QWidget* parent = nullptr);

    // Fills the page from one batch of `count` records (1 to 20): the first
    // `count` channel rows and `count` + 1 electrode rows are shown, every
    // row is written. Rows are shown and hidden only when their number
    // changes: each change lays the page out again.
    void ShowLiveValues(const MeasureRecord* records, const int16_t* electrodeList, int count);
    // Keeps a copy of a batch for a later ShowStoredValues: the window
    // draws the page when it is seen, not at every batch.
    void StoreLiveValues(const MeasureRecord* records, const int16_t* electrodeList, int count);
    // The batch's quadripole range and time estimate, shown with its values.
    void StoreQuadripoleText(const QString& text) { storedQuadripoleText_ = text; }
    void StoreEstimatedTime(const QString& text) { storedEstimate_ = text; }
    void ShowStoredValues();
    bool hasStoredValues() const { return storedCount_ > 0; }
    // Grey value fields in rho-only mode (only rho and the coordinates mean
    // something then), lime otherwise; the rho fields stay lime.
    void SetValueLabelsRhoOnly(bool rhoOnly);
    void SetQuadripoleText(const QString& text);
    void SetEstimatedTime(const QString& text);

    QGroupBox* dataGroup() const { return dataGB_; }

private:
    QLabel* AddValue(QWidget* parent, const QString& name, int width, int tag = -1);

    QGroupBox* dataGB_;
    QScrollArea* spacingPannel_;
    QWidget* electrodeRows_;
    QWidget* acqPannel_;
    QLabel* inLblx_;
    QLabel* quadripoleLblx_;
    QLabel* estimatedTimeLblx_;
    std::array<QLabel*, 4> caFields_{}; // node, x, y, z of A
    std::array<QLabel*, 4> cbFields_{}; // node, x, y, z of B
    std::array<std::array<QLabel*, 4>, kPotentialRows> potential_{};
    std::array<std::array<QLabel*, 5>, kChannels> channel_{}; // V, Rho, M, Sp, Q
    // The widgets shown with channel i: its own row and the row of the
    // potential electrode P i+2.
    std::array<std::vector<QWidget*>, kChannels> rowWidgets_{};
    int shownRows_ = -1; // unknown until the first batch
    std::array<MeasureRecord, kChannels> stored_{};
    std::array<int16_t, kPotentialRows + 2> storedList_{};
    int storedCount_ = 0;
    QString storedQuadripoleText_;
    QString storedEstimate_;
};

// Sets a value field's text and background colours (0xRRGGBB).
void SetFieldColors(QLabel* field, unsigned text, unsigned background);
