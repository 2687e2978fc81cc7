#pragma once
// The status strip at the bottom of the main window (Panel1): Settings and
// Reset, the battery and temperature gauges with Pause, Restart and Stop,
// the rho-only warning, the session status with its progress bar, the
// receive and checksum indicators and the connection picture.
#include <QFrame>
#include <QTimer>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedLayout;

struct BatteryState;

// The bar colours of the gauges (0xRRGGBB).
inline constexpr unsigned kGaugeLime = 0x00FF00;
inline constexpr unsigned kGaugeOrange = 0xFF8000;
inline constexpr unsigned kGaugeRed = 0xFF0000;

class StatusStrip : public QFrame {
    Q_OBJECT
public:
    // Number of connection pictures: USB absent/present, serial ports 1
    // to 6, another serial port, TCP/IP.
    static constexpr int kPictureCount = 10;

    explicit StatusStrip(QWidget* parent = nullptr);

    // Fills the battery part from one record's values; false when a value
    // is in the alarm range. Three values of -1 mean the instrument did not
    // send them: `query` then asks it (command 45). In rho-only mode, or
    // when the instrument reports no battery at all, the panel is hidden.
    bool ShowBatteryState(float temperature, float txBattery, float rxBattery, bool rhoOnly,
                          const std::function<bool(BatteryState&)>& query);
    // The values on screen (after the query, when one was made).
    float shownTx = 0.0f;
    float shownRx = 0.0f;
    float shownTemperature = 0.0f;

    // RsOnImg while data may arrive, RsOffImg when idle. The pictures
    // change at most about ten times a second: a fast acquisition turns
    // the state off and on around every batch, and each swap lays the
    // strip out again. The last state asked for is always shown.
    void SetReceiving(bool on);
    bool receiving() const { return receivingWanted_; }
    // The connection picture by index, with the link's description as hint.
    void SetPortPicture(int index, const QString& hint);
    int portPictureIndex() const { return pictureIndex_; }

    QPushButton* settingsSpdBtn;
    QPushButton* resetBitBtn;
    // "Export..." the acquisition on screen for the inversion codes.
    QPushButton* exportBtn;
    // The live quality line ("QC: 23 flagged, electrode 17 suspect");
    // clicking it opens the list behind it.
    QPushButton* qcBtn;
    // Changes the QC text only when it differs (a new text lays the strip
    // out again).
    void SetQualityText(const QString& text);
    QFrame* batPannel;
    QLabel* txBatLblx;
    QLabel* rxBatLblx;
    QLabel* rxTempLblx;
    QProgressBar* txGauge;
    QProgressBar* rxGauge;
    QProgressBar* tempGauge;
    QPushButton* pauseBtn;
    QPushButton* reStartBtn;
    QPushButton* stopBtn;
    QLabel* rhoOnlyLbl;
    QFrame* progressGB;
    QLabel* mainGB;
    QProgressBar* progressBar1;
    QLabel* rsOnImg;
    QLabel* rsOffImg;
    QLabel* errorSetUp;
    QLabel* image2;

private:
    void ShowReceiving();

    int pictureIndex_ = -1;
    bool receivingWanted_ = false;
    int receivingShown_ = -1; // unknown
    QTimer receivingPace_;
    QStackedLayout* receiveLight_;
};

// A gauge's position for a value, kept inside its range (a bar given a
// value outside its range would otherwise ignore it and show the old one).
int GaugePosition(const QProgressBar* gauge, double value);
void SetGaugeColor(QProgressBar* gauge, unsigned color);
