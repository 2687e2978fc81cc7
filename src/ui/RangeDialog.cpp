#include "ui/RangeDialog.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QLabel* Label(const char* name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QString Whole(double v) {
    return QString::number(v, 'f', 0);
}

QString Number(double v) {
    return QString::number(v, 'g', 10);
}

QString UnitText(float factor) {
    return factor == 1.0f ? "Ohm.m" : "Ohm.cm";
}

} // namespace

RangeDialog::RangeDialog(ColorScale* colorScale, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      colorScale_(colorScale) {
    setObjectName("RangeFrm");
    setWindowTitle("Rho display options");
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(4);
    fullRB_ = new QRadioButton("Full range", this);
    fullRB_->setObjectName("FullAutoScaleRB");
    smartRB_ = new QRadioButton("Optimized range", this);
    smartRB_->setObjectName("SmartAutoScaleRB");
    manualRB_ = new QRadioButton("Manual range:", this);
    manualRB_->setObjectName("ManualAutoScaleRB");
    smartRB_->setChecked(true);
    auto* group = new QButtonGroup(this);
    for (QRadioButton* rb : {fullRB_, smartRB_, manualRB_}) {
        group->addButton(rb);
        layout->addWidget(rb);
    }

    scalePanel_ = new QFrame(this);
    scalePanel_->setObjectName("ScalePanel");
    auto* grid = new QGridLayout(scalePanel_);
    grid->setContentsMargins(8, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setColumnStretch(1, 1); // the boxes take what the labels leave
    grid->addWidget(Label("Label1", "Minimum:", scalePanel_), 0, 0);
    minEdt_ = new QLineEdit("0", scalePanel_);
    minEdt_->setObjectName("MinEdt");
    grid->addWidget(minEdt_, 0, 1);
    minUnit_ = Label("LabelMinUnit", UnitText(1), scalePanel_);
    grid->addWidget(minUnit_, 0, 2);
    grid->addWidget(Label("Label2", "Maximum:", scalePanel_), 1, 0);
    maxEdt_ = new QLineEdit("1000", scalePanel_);
    maxEdt_->setObjectName("MaxEdt");
    grid->addWidget(maxEdt_, 1, 1);
    maxUnit_ = Label("LabelMaxUnit", UnitText(1), scalePanel_);
    grid->addWidget(maxUnit_, 1, 2);
    layout->addWidget(scalePanel_);

    auto* panel1 = new QFrame(this);
    panel1->setObjectName("Panel1");
    panel1->setFrameShape(QFrame::StyledPanel);
    auto* row = new QGridLayout(panel1);
    row->addWidget(Label("Label7", "Rejected points:", panel1), 0, 0);
    outOfScale_ = Label("LabelOutOfScale", "0", panel1);
    row->addWidget(outOfScale_, 0, 1);
    layout->addWidget(panel1);

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("BitBtn1");
    ok_->setDefault(true);
    layout->addWidget(ok_);
    layout->addStretch(1);

    // Statistics of the last optimized range: kept up to date, not shown.
    auto* hidden = new QFrame(this);
    hidden->setObjectName("StatisticsPanel");
    auto* stats = new QGridLayout(hidden);
    stats->addWidget(Label("Label4", "Sampled:", hidden), 0, 0);
    sampleCount_ = Label("LabelSampleCount", "-", hidden);
    stats->addWidget(sampleCount_, 0, 1);
    stats->addWidget(Label("Label3", "CPU to filter:", hidden), 1, 0);
    computeTime_ = Label("LabelComputeTime", "-", hidden);
    stats->addWidget(computeTime_, 1, 1);
    stats->addWidget(Label("Label5", "CPU available:", hidden), 2, 0);
    availableTime_ = Label("LabelAvailableTime", "-", hidden);
    stats->addWidget(availableTime_, 2, 1);
    stats->addWidget(Label("Label8", "CPU upd GUI:", hidden), 3, 0);
    updateGuiTime_ = Label("LabelUpdateGUITime", "-", hidden);
    stats->addWidget(updateGuiTime_, 3, 1);
    hidden->setVisible(false);
    layout->addWidget(hidden);

    // Wide enough for the unit beside each bound box.
    setFixedSize(210, 272);
    SetPanelEnabled(false);

    connect(fullRB_, &QRadioButton::clicked, this, &RangeDialog::OnFullClicked);
    connect(smartRB_, &QRadioButton::clicked, this, &RangeDialog::OnOptimizedClicked);
    connect(manualRB_, &QRadioButton::clicked, this, &RangeDialog::OnManualClicked);
    connect(minEdt_, &QLineEdit::textChanged, this, &RangeDialog::OnEditChanged);
    connect(maxEdt_, &QLineEdit::textChanged, this, &RangeDialog::OnEditChanged);
    connect(ok_, &QPushButton::clicked, this, &RangeDialog::OnOk);

    colorScale_->colorScaleMode = ColorScaleMode::Optimized;
    shownFactor_ = colorScale_->UnitFactor();
    minUnit_->setText(UnitText(shownFactor_));
    maxUnit_->setText(UnitText(shownFactor_));
    colorScale_->typedMin = ReadNumber(minEdt_);
    colorScale_->typedMax = ReadNumber(maxEdt_);
    colorScale_->typedFactor = shownFactor_;
}

ColorScaleMode RangeDialog::SelectedMode() const {
    if (smartRB_->isChecked())
        return ColorScaleMode::Optimized;
    if (fullRB_->isChecked())
        return ColorScaleMode::Full;
    return ColorScaleMode::Manual;
}

std::optional<double> RangeDialog::ReadNumber(const QLineEdit* edit) const {
    const QString text = edit->text().trimmed();
    bool ok = false;
    double v = QLocale::c().toDouble(text, &ok);
    if (!ok)
        v = QLocale::system().toDouble(text, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void RangeDialog::SetBox(QLineEdit* edit, const QString& text) {
    const QSignalBlocker block(edit);
    edit->setText(text);
}

void RangeDialog::ShowRange(ValueRange range, bool wholeNumbers) {
    FollowUnit();
    // Before the first value the range is the start values (about +-9e30):
    // nothing a person should read.
    if (!colorScale_->HasValues() || !std::isfinite(range.lo) || !std::isfinite(range.hi)) {
        minEdt_->setText(QString());
        maxEdt_->setText(QString());
        return;
    }
    minEdt_->setText(wholeNumbers ? Whole(range.lo) : Number(range.lo));
    maxEdt_->setText(wholeNumbers ? Whole(range.hi) : Number(range.hi));
}

void RangeDialog::FollowUnit() {
    const float factor = colorScale_->UnitFactor();
    if (factor == shownFactor_)
        return;
    // The numbers keep their meaning: 250 ohm.cm become 2.5 ohm.m.
    for (QLineEdit* edit : {minEdt_, maxEdt_}) {
        if (const auto v = ReadNumber(edit))
            SetBox(edit, Number(*v * factor / shownFactor_));
    }
    shownFactor_ = factor;
    minUnit_->setText(UnitText(factor));
    maxUnit_->setText(UnitText(factor));
    colorScale_->typedMin = ReadNumber(minEdt_);
    colorScale_->typedMax = ReadNumber(maxEdt_);
    colorScale_->typedFactor = factor;
    // A manual range keeps its own unit and converts itself; re-storing it
    // here would only repeat that.
}

void RangeDialog::SetPanelEnabled(bool enabled) {
    for (QWidget* w : scalePanel_->findChildren<QWidget*>())
        w->setEnabled(enabled);
}

void RangeDialog::ComputeColorRange(bool smooth) {
    FollowUnit();
    if (!smartRB_->isChecked()) {
        if (fullRB_->isChecked())
            ShowRange(colorScale_->FullRange(), true);
        computeTime_->setText("-");
        UpdateOutOfScaleCount();
        return;
    }
    const auto result = colorScale_->ComputeOptimizedRange(smooth);
    if (result.computed) {
        sampleCount_->setText(QString::number(result.samples));
        computeTime_->setText(QString::number(std::llround(result.elapsedMs)) + " ms");
    } else {
        computeTime_->setText("-");
    }
    ShowRange(colorScale_->OptimizedRange(), false);
    UpdateOutOfScaleCount();
}

void RangeDialog::UpdateOutOfScaleCount() {
    FollowUnit();
    if (fullRB_->isChecked()) {
        sampleCount_->setText("-");
        computeTime_->setText("-");
        outOfScale_->setText("-");
        return;
    }
    const auto count = colorScale_->OutOfScaleCount(ReadNumber(minEdt_), ReadNumber(maxEdt_));
    if (!count) {
        ok_->setEnabled(false);
        outOfScale_->setText("-");
        return;
    }
    outOfScale_->setText(QString::number(*count));
    ok_->setEnabled(true);
}

void RangeDialog::StoreRangeChoice() {
    colorScale_->StoreRangeChoice(SelectedMode(), ReadNumber(minEdt_), ReadNumber(maxEdt_));
    emit choiceStored();
}

void RangeDialog::ResetRunStatistics() {
    colorScale_->ResetRunStatistics();
}

void RangeDialog::AdjustSampleLimit(uint32_t idleMs) {
    availableTime_->setText(QString::number(idleMs) + " ms");
    colorScale_->AdjustSampleLimit(idleMs);
}

void RangeDialog::ShowUpdateGuiTime(qint64 ms) {
    updateGuiTime_->setText(QString::number(ms) + " ms");
}

void RangeDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (parentWidget()) {
        const QRect p = parentWidget()->window()->geometry();
        move(p.center() - rect().center());
    }
    if (fullRB_->isChecked())
        OnFullClicked();
    else if (smartRB_->isChecked())
        OnOptimizedClicked();
}

void RangeDialog::OnFullClicked() {
    SetPanelEnabled(false);
    ShowRange(colorScale_->FullRange(), true);
    sampleCount_->setText("-");
    computeTime_->setText("-");
    outOfScale_->setText("-");
    StoreRangeChoice();
    emit colorRangeBoxRequested();
}

void RangeDialog::OnOptimizedClicked() {
    SetPanelEnabled(false);
    ComputeColorRange(true);
    ShowRange(colorScale_->OptimizedRange(), false);
    UpdateOutOfScaleCount();
    StoreRangeChoice();
    emit colorRangeBoxRequested();
}

void RangeDialog::OnManualClicked() {
    SetPanelEnabled(true);
    sampleCount_->setText("-");
    computeTime_->setText("-");
    UpdateOutOfScaleCount();
}

void RangeDialog::OnEditChanged() {
    // A bound typed while an older unit still labels the boxes would be
    // read in the wrong unit: bring the boxes up to date first.
    FollowUnit();
    colorScale_->typedMin = ReadNumber(minEdt_);
    colorScale_->typedMax = ReadNumber(maxEdt_);
    colorScale_->typedFactor = shownFactor_;
    StoreRangeChoice();
    UpdateOutOfScaleCount();
    emit colorRangeBoxRequested();
}

void RangeDialog::OnOk() {
    StoreRangeChoice();
    emit colorRangeBoxRequested();
    hide();
}
