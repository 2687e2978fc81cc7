// The live panel and the battery part of the status strip, as the
// acquisition loop fills them after each batch.
#include "ui/LivePanel.h"
#include "AppHarness.h"
#include "FakeLink.h"
#include "ui/StatusStrip.h"
#include "ui/WidgetAdapters.h"

#include <QLabel>
#include <QProgressBar>

#include <array>
#include <limits>

namespace {

QString Text(MainWindow& w, const QString& name) {
    auto* label = w.findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<missing %1>").arg(name);
}

bool Hidden(MainWindow& w, const QString& name) {
    auto* widget = w.findChild<QWidget*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget && widget->isHidden();
}

// One batch through the window's view, then whatever drawing the window
// left pending (it draws the shown page at most every tenth of a second).
void ShowBatch(MainWindow& w, const MeasureRecord* records, const int16_t* list, int count) {
    w.ShowLiveValues(records, list, count);
    w.pageDrawing().Flush();
}

QColor Background(MainWindow& w, const char* name) {
    return w.findChild<QLabel*>(name)->palette().color(QPalette::Window);
}

QColor Bar(MainWindow& w, const char* name) {
    return w.findChild<QProgressBar*>(name)->palette().color(QPalette::Highlight);
}

// A batch whose every slot and electrode is recognisable by its number.
struct LiveBatch {
    std::array<MeasureRecord, 20> records{};
    std::array<int16_t, 23> list{};
    LiveBatch() {
        for (int k = 0; k < 20; ++k) {
            MeasureRecord& r = records[size_t(k)];
            r.current = 100.0f + float(k);
            r.vp = 10.0f + float(k);
            r.rho = 200.0f + float(k);
            r.chargeability = 1.5f + float(k);
            r.sp = -2.24f;
            r.q = 0.5f;
            for (int e = 0; e < 4; ++e) {
                r.x[e] = float(k * 10 + e);
                r.y[e] = 0.5f;
                r.z[e] = -1.0f;
            }
        }
        for (int e = 0; e < 23; ++e)
            list[size_t(e)] = int16_t(e + 1);
    }
};

} // namespace

TEST(LivePanel, OneRecordShowsTheFirstRowsAndWritesEveryRow) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    LiveBatch batch;
    batch.list[22] = -1; // written as an unsigned 16-bit number
    ShowBatch(w, batch.records.data(), batch.list.data(), 1);

    EXPECT_FALSE(Hidden(w, "Ch1Lbl"));
    EXPECT_FALSE(Hidden(w, "V1Lblx"));
    EXPECT_FALSE(Hidden(w, "P1Lbl"));
    EXPECT_FALSE(Hidden(w, "N1Lblx"));
    EXPECT_FALSE(Hidden(w, "P2Lbl"));
    EXPECT_FALSE(Hidden(w, "Z2Lblx"));
    EXPECT_TRUE(Hidden(w, "Ch2Lbl"));
    EXPECT_TRUE(Hidden(w, "Q2Lblx"));
    EXPECT_TRUE(Hidden(w, "P3Lbl"));
    EXPECT_TRUE(Hidden(w, "X3Lblx"));
    EXPECT_TRUE(Hidden(w, "Rho20Lblx"));
    EXPECT_TRUE(Hidden(w, "N21Lblx"));

    EXPECT_EQ(Text(w, "InLblx"), "100.000");
    EXPECT_EQ(Text(w, "NaLblx"), "1");
    EXPECT_EQ(Text(w, "XaLblx"), "0.00");
    EXPECT_EQ(Text(w, "NbLblx"), "2");
    EXPECT_EQ(Text(w, "XbLblx"), "1.00");
    EXPECT_EQ(Text(w, "YbLblx"), "0.50");
    EXPECT_EQ(Text(w, "ZbLblx"), "-1.00");
    // P1: M of slot 0; P k: N of slot k - 2.
    EXPECT_EQ(Text(w, "N1Lblx"), "3");
    EXPECT_EQ(Text(w, "X1Lblx"), "2.00");
    EXPECT_EQ(Text(w, "N2Lblx"), "4");
    EXPECT_EQ(Text(w, "X2Lblx"), "3.00");
    EXPECT_EQ(Text(w, "X21Lblx"), "193.00");
    EXPECT_EQ(Text(w, "N21Lblx"), "65535");
    // Hidden rows are written too.
    EXPECT_EQ(Text(w, "V1Lblx"), "10.00");
    EXPECT_EQ(Text(w, "Rho20Lblx"), "219.00");
    EXPECT_EQ(Text(w, "M20Lblx"), "20.500");
    EXPECT_EQ(Text(w, "Sp20Lblx"), "-2.2");
    EXPECT_EQ(Text(w, "Q20Lblx"), "0.5");

    // A longer batch afterwards reveals its rows again.
    ShowBatch(w, batch.records.data(), batch.list.data(), 20);
    EXPECT_FALSE(Hidden(w, "Ch20Lbl"));
    EXPECT_FALSE(Hidden(w, "P21Lbl"));
}

// A slot that received nothing keeps the no-data rho (-9e30) and stale
// values from an earlier batch; printed, the marker's 33 characters overflow
// the field, which then shows a plausible tail such as "52857088.00".
TEST(LivePanel, SlotWithoutDataShowsNoDataMarkers) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    LiveBatch batch;
    batch.records[3].rho = NoDataValue;
    ShowBatch(w, batch.records.data(), batch.list.data(), 4);
    // Channel 4 is slot 3, and P5 is the N electrode of slot 3.
    for (const char* name :
         {"V4Lblx", "Rho4Lblx", "M4Lblx", "Sp4Lblx", "Q4Lblx", "X5Lblx", "Y5Lblx", "Z5Lblx"})
        EXPECT_EQ(Text(w, name).toStdString(), kNoDataText) << name;
    EXPECT_EQ(Text(w, "N5Lblx"), "7"); // node numbers come from the sequence
    EXPECT_EQ(Text(w, "Rho3Lblx"), "202.00");
    EXPECT_EQ(Text(w, "X4Lblx"), "23.00");
    EXPECT_EQ(Text(w, "InLblx"), "100.000");

    // Slot 0 empty: the current and the coordinates of A, B and P1 too.
    batch.records[0].rho = NoDataValue;
    ShowBatch(w, batch.records.data(), batch.list.data(), 4);
    for (const char* name :
         {"InLblx", "XaLblx", "ZbLblx", "X1Lblx", "Z1Lblx", "X2Lblx", "Rho1Lblx", "Q1Lblx"})
        EXPECT_EQ(Text(w, name).toStdString(), kNoDataText) << name;
    EXPECT_EQ(Text(w, "NaLblx"), "1");

    // Single values the instrument marks as missing, in a slot with data;
    // large and negative measurements stay values.
    LiveBatch marked;
    marked.records[1].vp = -8e30f;
    marked.records[1].sp = std::numeric_limits<float>::quiet_NaN();
    marked.records[1].q = std::numeric_limits<float>::infinity();
    marked.records[1].chargeability = -1e29f;
    ShowBatch(w, marked.records.data(), marked.list.data(), 3);
    for (const char* name : {"V2Lblx", "Sp2Lblx", "Q2Lblx"})
        EXPECT_EQ(Text(w, name).toStdString(), kNoDataText) << name;
    EXPECT_EQ(Text(w, "M2Lblx"), FormatFixed(-1e29f, 3));
    EXPECT_EQ(Text(w, "InLblx"), "100.000"); // the markers of before are gone
}

TEST(LivePanel, RhoOnlyGreysEveryValueButRho) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.SetValueLabelsRhoOnly(true);
    auto text = [&](const char* name) {
        return w.findChild<QLabel*>(name)->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF;
    };
    EXPECT_EQ(text("InLblx"), kGrey);
    EXPECT_EQ(text("V1Lblx"), kGrey);
    EXPECT_EQ(text("Q20Lblx"), kGrey);
    EXPECT_EQ(text("Rho1Lblx"), kLime);
    EXPECT_EQ(text("XaLblx"), kLime);
    w.SetValueLabelsRhoOnly(false);
    EXPECT_EQ(text("M7Lblx"), kLime);
}

TEST(LivePanel, NumberFormats) {
    EXPECT_EQ(FormatFixed(0.0, 3), "0.000");
    EXPECT_EQ(FormatFixed(1234567.891, 2), "1234567.89"); // no grouping
    EXPECT_EQ(FormatOptionalInteger(0.5, 1), ".5");
    EXPECT_EQ(FormatOptionalInteger(-0.5, 1), "-.5");
    EXPECT_EQ(FormatOptionalInteger(12.34, 1), "12.3");
    EXPECT_EQ(FormatOptionalInteger(0.2, 0), "");
    EXPECT_EQ(FormatOptionalInteger(35.0, 0), "35");
}

// ---- battery and temperature ----------------------------------------------

TEST(BatteryState, HealthyValuesAreLime) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    EXPECT_TRUE(w.ApplyBatteryState(30.0f, 12.1f, 12.3f));
    EXPECT_FALSE(Hidden(w, "BatPannel"));
    EXPECT_EQ(Text(w, "TxBatLblx"), "12.1");
    EXPECT_EQ(Text(w, "RxBatLblx"), "12.3");
    EXPECT_EQ(Text(w, "RxTempLblx"), "30");
    EXPECT_EQ(w.findChild<QProgressBar*>("TxGauge")->value(), 121);
    EXPECT_EQ(w.findChild<QProgressBar*>("RxGauge")->value(), 123);
    EXPECT_EQ(w.findChild<QProgressBar*>("TempGauge")->value(), 70);
    for (const char* gauge : {"TxGauge", "RxGauge", "TempGauge"})
        EXPECT_EQ(Bar(w, gauge).rgb() & 0xFFFFFF, kGaugeLime) << gauge;
    for (const char* field : {"TxBatLblx", "RxBatLblx", "RxTempLblx"})
        EXPECT_EQ(Background(w, field).rgb() & 0xFFFFFF, 0u) << field;
}

TEST(BatteryState, WarningAndAlarmColours) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    EXPECT_TRUE(w.ApplyBatteryState(30.0f, 10.0f, 12.3f));
    EXPECT_EQ(Background(w, "TxBatLblx").rgb() & 0xFFFFFF, kGaugeOrange);
    EXPECT_EQ(Bar(w, "TxGauge").rgb() & 0xFFFFFF, kGaugeOrange);
    EXPECT_EQ(Background(w, "RxBatLblx").rgb() & 0xFFFFFF, 0u);

    EXPECT_FALSE(w.ApplyBatteryState(30.0f, 9.4f, 12.3f));
    EXPECT_EQ(Background(w, "TxBatLblx").rgb() & 0xFFFFFF, kGaugeRed);
    EXPECT_EQ(Bar(w, "TxGauge").rgb() & 0xFFFFFF, kGaugeRed);
    EXPECT_EQ(w.findChild<QProgressBar*>("TxGauge")->value(), 93); // 9.4 x 10, truncated
    // Below the gauge's range: it shows empty, not the previous value.
    EXPECT_FALSE(w.ApplyBatteryState(30.0f, 8.0f, 12.3f));
    EXPECT_EQ(w.findChild<QProgressBar*>("TxGauge")->value(), 90);

    EXPECT_FALSE(w.ApplyBatteryState(70.0f, 12.1f, 12.3f));
    EXPECT_EQ(Background(w, "RxTempLblx").rgb() & 0xFFFFFF, kGaugeRed);
    EXPECT_EQ(Bar(w, "TempGauge").rgb() & 0xFFFFFF, kGaugeRed);
    EXPECT_EQ(Background(w, "TxBatLblx").rgb() & 0xFFFFFF, 0u);
    // A gauge whose rule did not fire keeps its colour.
    EXPECT_EQ(Bar(w, "TxGauge").rgb() & 0xFFFFFF, kGaugeRed);

    EXPECT_TRUE(w.ApplyBatteryState(56.0f, 11.0f, 11.0f));
    EXPECT_EQ(Bar(w, "TempGauge").rgb() & 0xFFFFFF, kGaugeOrange);
    EXPECT_EQ(Background(w, "RxTempLblx").rgb() & 0xFFFFFF, kGaugeOrange);
}

TEST(BatteryState, NoBatteryOrRhoOnlyHidesThePanel) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    ASSERT_TRUE(w.ApplyBatteryState(30.0f, 12.0f, 12.0f));
    EXPECT_TRUE(w.ApplyBatteryState(25.0f, 0.0f, 0.0f));
    EXPECT_TRUE(Hidden(w, "BatPannel"));
    ASSERT_TRUE(w.ApplyBatteryState(30.0f, 12.0f, 12.0f));
    w.settings().rhoOnly = true;
    EXPECT_TRUE(w.ApplyBatteryState(30.0f, 9.0f, 9.0f));
    EXPECT_TRUE(Hidden(w, "BatPannel"));
}

TEST(BatteryState, MissingValuesAreAskedFromTheInstrument) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    ScopedFakeHooks fake;
    FakeLink* link = nullptr;
    w.engine().linkFactory = [&](int) {
        auto l = std::make_unique<FakeLink>();
        link = l.get();
        // Wake-up echo, command and complement, then the three values and
        // the prompt.
        l->instrument = [l = l.get(), last = -1](uint8_t b) mutable {
            if (b == '@')
                l->Answer('@');
            if (last == 45 && b == (45 ^ 0xFF)) {
                l->Answer(45);
                testsupport::Bytes values;
                values.f32(11.2f).f32(12.4f).f32(41.0f);
                l->Answer(values.data());
                l->Answer({':', '>'});
            }
            last = b;
        };
        return l;
    };
    w.engine().ShowPortImage(true);
    ASSERT_NE(link, nullptr);

    EXPECT_TRUE(w.ApplyBatteryState(-1.0f, -1.0f, -1.0f));
    EXPECT_EQ(Text(w, "TxBatLblx"), "11.2");
    EXPECT_EQ(Text(w, "RxBatLblx"), "12.4");
    EXPECT_EQ(Text(w, "RxTempLblx"), "41");
    float tx = 0, rx = 0, t = 0;
    w.DisplayedBatteryState(tx, rx, t);
    EXPECT_FLOAT_EQ(tx, 11.2f);
    EXPECT_FLOAT_EQ(t, 41.0f);
    EXPECT_NE(std::find(link->sent.begin(), link->sent.end(), uint8_t(45)), link->sent.end());

    // A link that no longer answers leaves the last values on screen.
    link->Close();
    EXPECT_TRUE(w.ApplyBatteryState(-1.0f, -1.0f, -1.0f));
    EXPECT_EQ(Text(w, "TxBatLblx"), "11.2");
}

TEST(BatteryState, ButtonsHiddenForAnInstrumentWithoutControlsStayHidden) {
    ProgramRig rig;
    MainWindow& w = rig.main();
    w.SetButtonVisible(RunButton::Stop, false);
    w.SetButtonVisible(RunButton::Pause, false);
    w.SetButtonEnabled(RunButton::Stop, false);
    w.ApplyBatteryState(30.0f, 12.0f, 12.0f);
    EXPECT_TRUE(Hidden(w, "StopBtn"));
    EXPECT_TRUE(Hidden(w, "PauseBtn"));
    EXPECT_TRUE(w.findChild<QWidget*>("StopBtn")->isEnabled());
}
