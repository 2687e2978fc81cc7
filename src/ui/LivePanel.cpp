#include "ui/LivePanel.h"

#include "engine/SessionEngine.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRowHeight = 22;
constexpr int kRowSpacing = 3;
constexpr int kLabelWidth = 44;
constexpr int kNodeWidth = 70;
constexpr int kCoordinateWidth = 80;
constexpr int kChannelWidth = 96;
constexpr int kGap = 24;

QLocale PanelLocale() {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

QString NodeText(int16_t node) {
    return QString::number(uint16_t(node));
}

QLabel* Caption(QWidget* parent, const QString& text, int width = -1) {
    auto* label = new QLabel(text, parent);
    if (width > 0)
        label->setFixedWidth(width);
    label->setFixedHeight(kRowHeight);
    return label;
}

QLabel* Header(QWidget* parent, const QString& text, int width) {
    auto* label = new QLabel(text, parent);
    label->setFixedWidth(width);
    label->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    return label;
}

} // namespace

QString FormatFixed(double value, int decimals) {
    return PanelLocale().toString(value, 'f', decimals);
}

QString FormatOptionalInteger(double value, int decimals) {
    QString text = FormatFixed(value, decimals);
    if (decimals == 0)
        return text == QLatin1String("0") || text == QLatin1String("-0") ? QString() : text;
    const QString point = PanelLocale().decimalPoint();
    if (text.startsWith(QLatin1Char('0') + point))
        text.remove(0, 1);
    else if (text.startsWith(QLatin1String("-0") + point))
        text.remove(1, 1);
    return text;
}

bool IsNoDataValue(double value) {
    return !std::isfinite(value) || std::fabs(value) >= 1e30;
}

QString FormatMeasured(double value, int decimals) {
    return IsNoDataValue(value) ? QString::fromLatin1(kNoDataText) : FormatFixed(value, decimals);
}

void SetFieldColors(QLabel* field, unsigned text, unsigned background) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(text));
    palette.setColor(QPalette::Window, QColor::fromRgb(background));
    field->setPalette(palette);
}

LivePanel::LivePanel(QWidget* parent) : QWidget(parent) {
    setObjectName("AcquisitonDataTb");
    auto* pageLayout = new QVBoxLayout(this);

    dataGB_ = new QGroupBox(QStringLiteral("Data"), this);
    dataGB_->setObjectName("DataGB");
    pageLayout->addWidget(dataGB_);
    auto* dataLayout = new QVBoxLayout(dataGB_);

    // Current, quadripole range and time remaining.
    auto* summary = new QHBoxLayout;
    summary->addWidget(Caption(dataGB_, QStringLiteral("In (mA)")));
    inLblx_ = AddValue(dataGB_, "InLblx", kChannelWidth);
    summary->addWidget(inLblx_);
    summary->addSpacing(kGap);
    summary->addWidget(Caption(dataGB_, QStringLiteral("Quadripole")));
    quadripoleLblx_ = AddValue(dataGB_, "QuadripoleLblx", 2 * kChannelWidth);
    summary->addWidget(quadripoleLblx_);
    summary->addSpacing(kGap);
    summary->addWidget(Caption(dataGB_, QStringLiteral("Estimated time remaining ")));
    estimatedTimeLblx_ = AddValue(dataGB_, "EstimatedTimeLblx", kChannelWidth);
    summary->addWidget(estimatedTimeLblx_);
    summary->addStretch(1);
    dataLayout->addLayout(summary);

    // Current electrodes A and B.
    auto* current = new QGridLayout;
    current->setHorizontalSpacing(6);
    current->setVerticalSpacing(kRowSpacing);
    current->addWidget(Header(dataGB_, QStringLiteral("Node"), kNodeWidth), 0, 1);
    current->addWidget(Header(dataGB_, QStringLiteral("X (m)"), kCoordinateWidth), 0, 2);
    current->addWidget(Header(dataGB_, QStringLiteral("Y (m)"), kCoordinateWidth), 0, 3);
    current->addWidget(Header(dataGB_, QStringLiteral("Z (m)"), kCoordinateWidth), 0, 4);
    const char* axes[4] = {"N", "X", "Y", "Z"};
    for (int row = 0; row < 2; ++row) {
        const QString suffix = row == 0 ? QStringLiteral("a") : QStringLiteral("b");
        current->addWidget(
            Caption(dataGB_, row == 0 ? QStringLiteral("Ca") : QStringLiteral("Cb"), kLabelWidth),
            row + 1, 0);
        auto& fields = row == 0 ? caFields_ : cbFields_;
        for (int k = 0; k < 4; ++k) {
            fields[k] = AddValue(dataGB_, QString(axes[k]) + suffix + "Lblx",
                                 k == 0 ? kNodeWidth : kCoordinateWidth);
            current->addWidget(fields[k], row + 1, k + 1);
        }
    }
    current->setColumnStretch(5, 1);
    dataLayout->addLayout(current);

    // Column headers of the scrolled part: potential electrodes, channels.
    auto* headers = new QHBoxLayout;
    headers->setSpacing(6);
    headers->addSpacing(kLabelWidth);
    headers->addWidget(Header(dataGB_, QStringLiteral("Node"), kNodeWidth));
    headers->addWidget(Header(dataGB_, QStringLiteral("X (m)"), kCoordinateWidth));
    headers->addWidget(Header(dataGB_, QStringLiteral("Y (m)"), kCoordinateWidth));
    headers->addWidget(Header(dataGB_, QStringLiteral("Z (m)"), kCoordinateWidth));
    headers->addSpacing(kGap + kLabelWidth);
    const char* channelHeads[5] = {"Vp (mV)", "Rho (Ohm.m)", "M (mV/V)", "Sp (mV)", "Q "};
    for (const char* head : channelHeads)
        headers->addWidget(Header(dataGB_, QString::fromLatin1(head), kChannelWidth));
    headers->addStretch(1);
    dataLayout->addLayout(headers);

    spacingPannel_ = new QScrollArea(dataGB_);
    spacingPannel_->setObjectName("SpacingPannel");
    spacingPannel_->setFrameShape(QFrame::NoFrame);
    spacingPannel_->setWidgetResizable(true);
    auto* content = new QWidget;
    auto* contentLayout = new QHBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(kGap);

    // Potential electrodes P1..P21: row k carries Tag k.
    electrodeRows_ = new QWidget(content);
    electrodeRows_->setObjectName("ElectrodeRows");
    auto* electrodes = new QGridLayout(electrodeRows_);
    electrodes->setContentsMargins(0, 0, 0, 0);
    electrodes->setHorizontalSpacing(6);
    electrodes->setVerticalSpacing(kRowSpacing);
    for (int k = 1; k <= kPotentialRows; ++k) {
        QLabel* label = Caption(electrodeRows_, QStringLiteral("P%1").arg(k), kLabelWidth);
        label->setObjectName(QStringLiteral("P%1Lbl").arg(k));
        label->setProperty("Tag", k);
        if (k >= 2)
            rowWidgets_[k - 2].push_back(label);
        electrodes->addWidget(label, k - 1, 0);
        for (int a = 0; a < 4; ++a) {
            QLabel* field = AddValue(electrodeRows_, QString(axes[a]) + QString::number(k) + "Lblx",
                                     a == 0 ? kNodeWidth : kCoordinateWidth, k);
            potential_[k - 1][a] = field;
            if (k >= 2)
                rowWidgets_[k - 2].push_back(field);
            electrodes->addWidget(field, k - 1, a + 1);
        }
    }
    electrodes->setRowStretch(kPotentialRows, 1);

    // Channels Ch 1..Ch 20, half a row lower: channel k measures between
    // P k and P k + 1 and sits between their rows. Row k carries Tag k - 1.
    acqPannel_ = new QWidget(content);
    acqPannel_->setObjectName("AcqPannel");
    auto* channels = new QGridLayout(acqPannel_);
    channels->setContentsMargins(0, (kRowHeight + kRowSpacing) / 2, 0, 0);
    channels->setHorizontalSpacing(6);
    channels->setVerticalSpacing(kRowSpacing);
    const char* channelNames[5] = {"V", "Rho", "M", "Sp", "Q"};
    for (int k = 1; k <= kChannels; ++k) {
        QLabel* label = Caption(acqPannel_, QStringLiteral("Ch %1").arg(k), kLabelWidth);
        label->setObjectName(QStringLiteral("Ch%1Lbl").arg(k));
        label->setProperty("Tag", k - 1);
        rowWidgets_[k - 1].push_back(label);
        channels->addWidget(label, k - 1, 0);
        for (int f = 0; f < 5; ++f) {
            QLabel* field = AddValue(
                acqPannel_, QString::fromLatin1(channelNames[f]) + QString::number(k) + "Lblx",
                kChannelWidth, k - 1);
            channel_[k - 1][f] = field;
            rowWidgets_[k - 1].push_back(field);
            channels->addWidget(field, k - 1, f + 1);
        }
    }
    channels->setRowStretch(kChannels, 1);

    contentLayout->addWidget(electrodeRows_, 0, Qt::AlignTop);
    contentLayout->addWidget(acqPannel_, 0, Qt::AlignTop);
    contentLayout->addStretch(1);
    spacingPannel_->setWidget(content);
    dataLayout->addWidget(spacingPannel_, 1);
}

QLabel* LivePanel::AddValue(QWidget* parent, const QString& name, int width, int tag) {
    auto* field = new QLabel(QStringLiteral("-"), parent);
    field->setObjectName(name);
    field->setTextFormat(Qt::PlainText);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFixedSize(width, kRowHeight);
    field->setAutoFillBackground(true);
    field->setMargin(3);
    QFont font = field->font();
    font.setBold(true);
    field->setFont(font);
    SetFieldColors(field, kLime, 0x000000);
    if (tag >= 0)
        field->setProperty("Tag", tag);
    return field;
}

void LivePanel::ShowLiveValues(const MeasureRecord* records, const int16_t* list, int count) {
    if (dataGB_->isHidden())
        dataGB_->show();
    // Rows beyond the batch are hidden but still written below, so that a
    // later, longer batch never shows stale text in a row it reveals.
    const int rows = std::clamp(count, 0, int(kChannels));
    if (rows != shownRows_) {
        for (int i = 0; i < kChannels; ++i) {
            const bool shown = i < rows;
            if (shownRows_ >= 0 && (i < shownRows_) == shown)
                continue;
            for (QWidget* w : rowWidgets_[i])
                w->setVisible(shown);
        }
        shownRows_ = rows;
    }

    // A slot that received nothing holds the no-data rho and, in its other
    // fields, whatever an earlier batch left there: none of it is shown as
    // a value. Node numbers come from the sequence and stay.
    auto slotEmpty = [](const MeasureRecord& r) { return r.rho == NoDataValue; };
    auto measured = [&](const MeasureRecord& r, float value, int decimals) {
        return slotEmpty(r) ? QString::fromLatin1(kNoDataText) : FormatMeasured(value, decimals);
    };

    const MeasureRecord& first = records[0];
    inLblx_->setText(measured(first, first.current, 3));
    caFields_[0]->setText(NodeText(list[0]));
    caFields_[1]->setText(measured(first, first.x[0], 2));
    caFields_[2]->setText(measured(first, first.y[0], 2));
    caFields_[3]->setText(measured(first, first.z[0], 2));
    cbFields_[0]->setText(NodeText(list[1]));
    cbFields_[1]->setText(measured(first, first.x[1], 2));
    cbFields_[2]->setText(measured(first, first.y[1], 2));
    cbFields_[3]->setText(measured(first, first.z[1], 2));

    // P1 is the M electrode of the first channel; P k (k >= 2) the N
    // electrode of channel k - 1.
    potential_[0][0]->setText(NodeText(list[2]));
    potential_[0][1]->setText(measured(first, first.x[2], 2));
    potential_[0][2]->setText(measured(first, first.y[2], 2));
    potential_[0][3]->setText(measured(first, first.z[2], 2));
    for (int k = 2; k <= kPotentialRows; ++k) {
        const MeasureRecord& r = records[k - 2];
        auto& row = potential_[k - 1];
        row[0]->setText(NodeText(list[k + 1]));
        row[1]->setText(measured(r, r.x[3], 2));
        row[2]->setText(measured(r, r.y[3], 2));
        row[3]->setText(measured(r, r.z[3], 2));
    }

    for (int k = 0; k < kChannels; ++k) {
        const MeasureRecord& r = records[k];
        auto& row = channel_[k];
        row[0]->setText(measured(r, r.vp, 2));
        row[1]->setText(measured(r, r.rho, 2));
        row[2]->setText(measured(r, r.chargeability, 3));
        row[3]->setText(measured(r, r.sp, 1));
        row[4]->setText(measured(r, r.q, 1));
    }
}

void LivePanel::StoreLiveValues(const MeasureRecord* records, const int16_t* list, int count) {
    std::copy(records, records + kChannels, stored_.begin());
    std::copy(list, list + storedList_.size(), storedList_.begin());
    storedCount_ = count;
}

void LivePanel::ShowStoredValues() {
    if (storedCount_ > 0)
        ShowLiveValues(stored_.data(), storedList_.data(), storedCount_);
    // The texts of the same batch, so that the page never pairs one
    // batch's range with another's values.
    SetQuadripoleText(storedQuadripoleText_);
    SetEstimatedTime(storedEstimate_);
}

void LivePanel::SetValueLabelsRhoOnly(bool rhoOnly) {
    const unsigned color = rhoOnly ? kGrey : kLime;
    SetFieldColors(inLblx_, color, 0x000000);
    for (auto& row : channel_) {
        // V, M, Sp and Q; the rho field (index 1) keeps its colour.
        for (int f : {0, 2, 3, 4})
            SetFieldColors(row[f], color, 0x000000);
    }
}

void LivePanel::SetQuadripoleText(const QString& text) {
    quadripoleLblx_->setText(text);
}

void LivePanel::SetEstimatedTime(const QString& text) {
    estimatedTimeLblx_->setText(text);
}
