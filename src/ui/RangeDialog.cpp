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
    grid->setContentsMargins(16, 0, 0, 0);
    grid->addWidget(Label("Label1", "Minimum:", scalePanel_), 0, 0);
    minEdt_ = new QLineEdit("0", scalePanel_);
    minEdt_->setObjectName("MinEdt");
    grid->addWidget(minEdt_, 0, 1);
    grid->addWidget(Label("Label2", "Maximum:", scalePanel_), 1, 0);
    maxEdt_ = new QLineEdit("1000", scalePanel_);
    maxEdt_->setObjectName("MaxEdt");
    grid->addWidget(maxEdt_, 1, 1);
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

    setFixedSize(178, 272);
    SetPanelEnabled(false);

    connect(fullRB_, &QRadioButton::clicked, this, &RangeDialog::OnFullClicked);
    connect(smartRB_, &QRadioButton::clicked, this, &RangeDialog::OnOptimizedClicked);
    connect(manualRB_, &QRadioButton::clicked, this, &RangeDialog::OnManualClicked);
    connect(minEdt_, &QLineEdit::textChanged, this, &RangeDialog::OnEditChanged);
    connect(maxEdt_, &QLineEdit::textChanged, this, &RangeDialog::OnEditChanged);
    connect(ok_, &QPushButton::clicked, this, &RangeDialog::OnOk);

    colorScale_->colorScaleMode = ColorScaleMode::Optimized;
    colorScale_->typedMin = ReadNumber(minEdt_);
    colorScale_->typedMax = ReadNumber(maxEdt_);
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

void RangeDialog::SetPanelEnabled(bool enabled) {
    for (QWidget* w : scalePanel_->findChildren<QWidget*>())
        w->setEnabled(enabled);
}

void RangeDialog::ComputeColorRange(bool smooth) {
    if (!smartRB_->isChecked()) {
        if (fullRB_->isChecked()) {
            const ValueRange full = colorScale_->FullRange();
            minEdt_->setText(Whole(full.lo));
            maxEdt_->setText(Whole(full.hi));
        }
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
    minEdt_->setText(Number(colorScale_->optimizedMin));
    maxEdt_->setText(Number(colorScale_->optimizedMax));
    UpdateOutOfScaleCount();
}

void RangeDialog::UpdateOutOfScaleCount() {
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
    const ValueRange full = colorScale_->FullRange();
    minEdt_->setText(Whole(full.lo));
    maxEdt_->setText(Whole(full.hi));
    sampleCount_->setText("-");
    computeTime_->setText("-");
    outOfScale_->setText("-");
    StoreRangeChoice();
    emit colorRangeBoxRequested();
}

void RangeDialog::OnOptimizedClicked() {
    SetPanelEnabled(false);
    ComputeColorRange(true);
    minEdt_->setText(Number(colorScale_->optimizedMin));
    maxEdt_->setText(Number(colorScale_->optimizedMax));
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
    colorScale_->typedMin = ReadNumber(minEdt_);
    colorScale_->typedMax = ReadNumber(maxEdt_);
    StoreRangeChoice();
    UpdateOutOfScaleCount();
    emit colorRangeBoxRequested();
}

void RangeDialog::OnOk() {
    StoreRangeChoice();
    emit colorRangeBoxRequested();
    hide();
}
