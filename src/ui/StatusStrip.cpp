#include "ui/StatusStrip.h"

#include "instrument/Instrument.h"
#include "ui/LivePanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QLabel* SmallCaption(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QProgressBar* Gauge(QWidget* parent, const char* name, int minimum, int maximum) {
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setRange(minimum, maximum);
    gauge->setValue(minimum);
    gauge->setTextVisible(false);
    gauge->setFixedSize(46, 12);
    SetGaugeColor(gauge, kGaugeLime);
    return gauge;
}

QLabel* BatteryValue(QWidget* parent, const char* name) {
    auto* field = new QLabel(QStringLiteral("-"), parent);
    field->setObjectName(name);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFixedWidth(46);
    field->setAutoFillBackground(true);
    field->setMargin(2);
    SetFieldColors(field, kLime, 0x000000);
    return field;
}

QLabel* Picture(QWidget* parent, const char* name, const QString& resource) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(QPixmap(resource));
    label->setFixedSize(20, 20);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

int GaugePosition(const QProgressBar* gauge, double value) {
    const double truncated = std::trunc(value);
    if (!std::isfinite(truncated))
        return truncated > 0 ? gauge->maximum() : gauge->minimum();
    return int(std::clamp(truncated, double(gauge->minimum()), double(gauge->maximum())));
}

void SetGaugeColor(QProgressBar* gauge, unsigned color) {
    QPalette palette = gauge->palette();
    palette.setColor(QPalette::Highlight, QColor::fromRgb(color));
    gauge->setPalette(palette);
}

StatusStrip::StatusStrip(QWidget* parent) : QFrame(parent) {
    setObjectName("Panel1");
    setFrameShape(QFrame::StyledPanel);
    receivingPace_.setSingleShot(true);
    receivingPace_.setInterval(100);
    connect(&receivingPace_, &QTimer::timeout, this, [this] { ShowReceiving(); });
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 3, 4, 3);

    settingsSpdBtn = new QPushButton(QStringLiteral("Settings"), this);
    settingsSpdBtn->setObjectName("SettingsSpdBtn");
    settingsSpdBtn->setFlat(true);
    settingsSpdBtn->setIcon(QIcon(QStringLiteral(":/pylorix/settings.png")));
    layout->addWidget(settingsSpdBtn);

    resetBitBtn = new QPushButton(QStringLiteral(" Reset  "), this);
    resetBitBtn->setObjectName("ResetBitBtn");
    resetBitBtn->setIcon(QIcon(QStringLiteral(":/pylorix/reset.png")));
    layout->addWidget(resetBitBtn);

    exportBtn = new QPushButton(QStringLiteral("Export..."), this);
    exportBtn->setObjectName("ExportBtn");
    exportBtn->setFlat(true);
    exportBtn->setToolTip(QStringLiteral("Export the acquisition on screen for an inversion code"));
    layout->addWidget(exportBtn);

    batPannel = new QFrame(this);
    batPannel->setObjectName("BatPannel");
    auto* battery = new QHBoxLayout(batPannel);
    battery->setContentsMargins(6, 0, 6, 0);
    battery->setSpacing(4);
    txBatLblx = BatteryValue(batPannel, "TxBatLblx");
    rxBatLblx = BatteryValue(batPannel, "RxBatLblx");
    rxTempLblx = BatteryValue(batPannel, "RxTempLblx");
    txGauge = Gauge(batPannel, "TxGauge", 90, 130);
    rxGauge = Gauge(batPannel, "RxGauge", 90, 130);
    tempGauge = Gauge(batPannel, "TempGauge", 40, 80);
    const std::pair<const char*, std::pair<QLabel*, QProgressBar*>> gauges[] = {
        {"Tx:", {txBatLblx, txGauge}},
        {"Rx:", {rxBatLblx, rxGauge}},
        {"Temp:", {rxTempLblx, tempGauge}},
    };
    for (const auto& [caption, parts] : gauges) {
        battery->addWidget(SmallCaption(batPannel, QString::fromLatin1(caption)));
        auto* column = new QVBoxLayout;
        column->setSpacing(1);
        column->addWidget(parts.first);
        column->addWidget(parts.second);
        battery->addLayout(column);
    }
    pauseBtn = new QPushButton(QStringLiteral(" Pause"), batPannel);
    pauseBtn->setObjectName("PauseBtn");
    pauseBtn->setIcon(QIcon(QStringLiteral(":/pylorix/pause.png")));
    reStartBtn = new QPushButton(QStringLiteral("Restart"), batPannel);
    reStartBtn->setObjectName("ReStartBtn");
    reStartBtn->setIcon(QIcon(QStringLiteral(":/pylorix/restart.png")));
    reStartBtn->hide();
    stopBtn = new QPushButton(QStringLiteral(" Stop"), batPannel);
    stopBtn->setObjectName("StopBtn");
    stopBtn->setIcon(QIcon(QStringLiteral(":/pylorix/stop.png")));
    battery->addSpacing(6);
    battery->addWidget(pauseBtn);
    battery->addWidget(reStartBtn);
    battery->addWidget(stopBtn);
    batPannel->hide();
    layout->addWidget(batPannel);

    rhoOnlyLbl = new QLabel(QStringLiteral("RHO  DISPLAY  ONLY"), this);
    rhoOnlyLbl->setObjectName("RhoOnlyLbl");
    rhoOnlyLbl->setAutoFillBackground(true);
    rhoOnlyLbl->setMargin(4);
    QFont bold = rhoOnlyLbl->font();
    bold.setBold(true);
    rhoOnlyLbl->setFont(bold);
    SetFieldColors(rhoOnlyLbl, 0xFFFFFF, 0xFF0000);
    rhoOnlyLbl->hide();
    layout->addWidget(rhoOnlyLbl);

    progressGB = new QFrame(this);
    progressGB->setObjectName("ProgressGB");
    progressGB->setFrameShape(QFrame::StyledPanel);
    auto* progress = new QHBoxLayout(progressGB);
    progress->setContentsMargins(6, 2, 6, 2);
    auto* statusColumn = new QVBoxLayout;
    statusColumn->setSpacing(2);
    mainGB = new QLabel(progressGB);
    mainGB->setObjectName("MainGB");
    mainGB->setTextFormat(Qt::PlainText);
    mainGB->setMinimumWidth(150);
    mainGB->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progressBar1 = new QProgressBar(progressGB);
    progressBar1->setObjectName("ProgressBar1");
    progressBar1->setTextVisible(false);
    progressBar1->setFixedHeight(8);
    statusColumn->addWidget(mainGB);
    statusColumn->addWidget(progressBar1);
    progress->addLayout(statusColumn, 1);
    // The two pictures share one place: switching between them changes no
    // size, so the strip is not laid out again twice a batch.
    auto* receiveLight = new QWidget(progressGB);
    receiveLight_ = new QStackedLayout(receiveLight);
    receiveLight_->setContentsMargins(0, 0, 0, 0);
    rsOnImg = Picture(receiveLight, "RsOnImg", QStringLiteral(":/pylorix/receive-on.png"));
    rsOffImg = Picture(receiveLight, "RsOffImg", QStringLiteral(":/pylorix/receive-off.png"));
    rsOnImg->setToolTip(QStringLiteral("Receiving"));
    rsOffImg->setToolTip(QStringLiteral("Idle"));
    receiveLight_->addWidget(rsOffImg);
    receiveLight_->addWidget(rsOnImg);
    receiveLight_->setCurrentWidget(rsOffImg);
    progress->addWidget(receiveLight);
    errorSetUp = new QLabel(QStringLiteral("Crc error"), progressGB);
    errorSetUp->setObjectName("ErrorSetUp");
    errorSetUp->setAutoFillBackground(true);
    errorSetUp->setMargin(2);
    SetFieldColors(errorSetUp, 0xFFFFFF, 0xFF0000);
    errorSetUp->hide();
    progress->addWidget(errorSetUp);
    image2 = new QLabel(progressGB);
    image2->setObjectName("Image2");
    image2->setFixedSize(34, 26);
    image2->setAlignment(Qt::AlignCenter);
    progress->addWidget(image2);
    layout->addWidget(progressGB, 2);

    qcBtn = new QPushButton(QStringLiteral("QC: no data"), this);
    qcBtn->setObjectName("QcBtn");
    qcBtn->setFlat(true);
    // Gives way before the gauges and the run buttons do: when the strip
    // is short of room the line is cut, and its tip holds it whole.
    qcBtn->setMinimumWidth(110);
    qcBtn->setMaximumWidth(250);
    qcBtn->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    qcBtn->setStyleSheet(QStringLiteral("text-align: left; padding-left: 4px;"));
    qcBtn->setToolTip(QStringLiteral("Live quality checks: click for the flagged measurements "
                                     "and the suspect electrodes"));
    layout->addWidget(qcBtn, 1);
}

void StatusStrip::SetQualityText(const QString& text) {
    if (qcBtn->text() != text) {
        qcBtn->setText(text);
        qcBtn->setToolTip(text + QStringLiteral("\nClick for the flagged measurements and the "
                                                "suspect electrodes."));
    }
}

void StatusStrip::SetReceiving(bool on) {
    receivingWanted_ = on;
    if (receivingPace_.isActive())
        return; // shown when the interval ends
    ShowReceiving();
    receivingPace_.start();
}

void StatusStrip::ShowReceiving() {
    if (receivingShown_ == int(receivingWanted_))
        return;
    receivingShown_ = int(receivingWanted_);
    receiveLight_->setCurrentWidget(receivingWanted_ ? rsOnImg : rsOffImg);
}

void StatusStrip::SetPortPicture(int index, const QString& hint) {
    image2->clear();
    pictureIndex_ = index;
    if (index >= 0 && index < kPictureCount)
        image2->setPixmap(QPixmap(QStringLiteral(":/pylorix/connection-%1.png").arg(index)));
    image2->setToolTip(hint);
    image2->update();
}

bool StatusStrip::ShowBatteryState(float temperature, float tx, float rx, bool rhoOnly,
                                   const std::function<bool(BatteryState&)>& query) {
    if (rhoOnly || (rx == 0.0f && tx == 0.0f)) {
        batPannel->hide();
        return true;
    }
    batPannel->show();
    // The buttons are enabled but not shown again: the session hides them
    // for an instrument that accepts neither Pause nor Stop.
    stopBtn->setEnabled(true);
    pauseBtn->setEnabled(true);

    if (tx == -1.0f && rx == -1.0f && temperature == -1.0f) {
        BatteryState state;
        if (!query || !query(state))
            return true; // nothing known: the last values stay on screen
        tx = state.txBattery;
        rx = state.rxBattery;
        temperature = state.temperature;
    }
    shownTx = tx;
    shownRx = rx;
    shownTemperature = temperature;

    txBatLblx->setText(FormatOptionalInteger(tx, 1));
    txGauge->setValue(GaugePosition(txGauge, double(tx) * 10.0));
    rxBatLblx->setText(FormatOptionalInteger(rx, 1));
    rxGauge->setValue(GaugePosition(rxGauge, double(rx) * 10.0));
    rxTempLblx->setText(FormatOptionalInteger(temperature, 0));
    // The temperature gauge empties as the instrument heats up.
    tempGauge->setValue(GaugePosition(tempGauge, 100.0 - double(temperature)));

    for (QLabel* field : {txBatLblx, rxBatLblx, rxTempLblx})
        SetFieldColors(field, kLime, 0x000000);

    struct Rule {
        bool alarm;
        bool warning;
        QLabel* field;
        QProgressBar* gauge;
    };
    const Rule rules[] = {
        {tx < 9.5f, tx < 10.5f, txBatLblx, txGauge},
        {rx < 9.5f, rx < 10.5f, rxBatLblx, rxGauge},
        {temperature > 65.0f, temperature > 55.0f, rxTempLblx, tempGauge},
    };
    if (rules[0].alarm || rules[1].alarm || rules[2].alarm) {
        for (const Rule& rule : rules) {
            if (rule.alarm) {
                SetFieldColors(rule.field, kLime, kGaugeRed);
                SetGaugeColor(rule.gauge, kGaugeRed);
            }
        }
        return false;
    }
    if (!rules[0].warning && !rules[1].warning && !rules[2].warning) {
        for (const Rule& rule : rules)
            SetGaugeColor(rule.gauge, kGaugeLime);
        return true;
    }
    for (const Rule& rule : rules) {
        if (rule.warning) {
            SetFieldColors(rule.field, kLime, kGaugeOrange);
            SetGaugeColor(rule.gauge, kGaugeOrange);
        }
    }
    return true;
}
