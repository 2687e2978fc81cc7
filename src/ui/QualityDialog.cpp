#include "ui/QualityDialog.h"

#include "quality/QualityControl.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QTableWidget* Table(const char* name, const QStringList& headers, QWidget* parent) {
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = table->item(row, c);
        if (!item) {
            item = new QTableWidgetItem;
            table->setItem(row, c, item);
        }
        item->setText(cells[c]);
        item->setTextAlignment(c + 1 < cells.size() ? (Qt::AlignRight | Qt::AlignVCenter)
                                                    : (Qt::AlignLeft | Qt::AlignVCenter));
    }
}

QString Value(float v, int decimals) {
    return std::isfinite(v) ? QString::number(double(v), 'f', decimals) : QString();
}

} // namespace

QualityDialog::QualityDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("QualityDialog");
    setWindowTitle("Data quality");
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setObjectName("QualitySummary");
    layout->addWidget(summary_);

    layout->addWidget(new QLabel("Flags by kind", this));
    flags_ = Table("QualityFlags", {"Check", "Flagged"}, this);
    flags_->setRowCount(kQualityFlagKinds);
    flags_->setMaximumHeight(flags_->verticalHeader()->defaultSectionSize() * 7 + 4);
    layout->addWidget(flags_);

    layout->addWidget(new QLabel("Suspect electrodes", this));
    electrodes_ = Table("QualitySuspects", {"Electrode", "Flagged", "Measurements", "Share"}, this);
    electrodes_->setMaximumHeight(electrodes_->verticalHeader()->defaultSectionSize() * 5 + 4);
    layout->addWidget(electrodes_);

    layout->addWidget(new QLabel("Worst measurements", this));
    worst_ = Table("QualityWorst", {"Quadripole", "A", "B", "M", "N", "Rho (Ohm.m)", "Q", "Reason"},
                   this);
    layout->addWidget(worst_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
    resize(640, 560);
    ShowQuality(nullptr);
}

void QualityDialog::ShowQuality(const QualityControl* quality) {
    if (!quality || quality->quadripoleCount() == 0) {
        summary_->setText("No acquisition on screen.");
        for (int k = 0; k < kQualityFlagKinds; ++k)
            SetRow(flags_, k, {QualityFlagName(k), "0"});
        electrodes_->setRowCount(0);
        worst_->setRowCount(0);
        return;
    }
    summary_->setText(QString("%1 of %2 measurements flagged")
                          .arg(quality->flaggedCount())
                          .arg(quality->measuredCount()));
    for (int k = 0; k < kQualityFlagKinds; ++k)
        SetRow(flags_, k, {QualityFlagName(k), QString::number(quality->KindCount(k))});

    const auto suspects = quality->SuspectElectrodes();
    const auto electrodes = quality->Electrodes();
    electrodes_->setRowCount(int(suspects.size()));
    for (int row = 0; row < int(suspects.size()); ++row) {
        const auto e =
            std::find_if(electrodes.begin(), electrodes.end(), [&](const ElectrodeQuality& x) {
                return x.node == suspects[size_t(row)];
            });
        if (e == electrodes.end())
            continue;
        SetRow(electrodes_, row,
               {QString::number(e->node), QString::number(e->flagged),
                QString::number(e->measurements),
                QString("%1 %").arg(100.0 * e->flagged / std::max(1, e->measurements), 0, 'f', 0)});
    }

    const auto worst = quality->WorstMeasurements(kWorstShown);
    worst_->setRowCount(int(worst.size()));
    const Sequence* sequence = quality->sequence();
    for (int row = 0; row < int(worst.size()); ++row) {
        const int index = worst[size_t(row)];
        const QuadripoleQuality& q = quality->quality(index);
        const QuadripoleRecord& r = sequence->quadripoles[index];
        SetRow(worst_, row,
               {QString::number(index + 1), QString::number(r.a), QString::number(r.b),
                QString::number(r.m), QString::number(r.n), Value(q.rho, 2), Value(q.q, 2),
                QString::fromStdString(QualityReasons(q.flags))});
    }
}
