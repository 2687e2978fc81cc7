#include "ui/SettingsDialog.h"

#include "link/UiHooks.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

const char* const kConnectionCaptions[] = {
    "USB link",    "WiConnect access point", "Wiconnect WIFI client", "WIFI access point",
    "WIFI client",
};

// The formats in the order of the setting's list: ohm, res2dinv, csv.
const char* const kExportFormatKeys[] = {"ohm", "res2dinv", "csv"};
const char* const kExportCaptions[] = {"pyGIMLi/BERT (.ohm)", "Res2DInv (.dat)", "CSV (.csv)"};
const char* const kExportNames[] = {"ExportOhmCb", "ExportRes2dinvCb", "ExportCsvCb"};

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const char* icon) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setIcon(QIcon(QStringLiteral(":/pylorix/") + QString::fromLatin1(icon)));
    return button;
}

} // namespace

SettingsDialog::SettingsDialog(Settings& settings, QWidget* mainWindow)
    : QDialog(mainWindow), settings_(settings) {
    setObjectName("SettingsFrm");
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    rhoOnlyCb_ = new QCheckBox(QStringLiteral("Rho display only"), this);
    rhoOnlyCb_->setObjectName("RhoOnlyCb");
    showGapFillersCb_ = new QCheckBox(QStringLiteral("Show gapfiller quad."), this);
    showGapFillersCb_->setObjectName("ShowGapFillersCb");
    activeCrcChkCb_ = new QCheckBox(QStringLiteral("Active CRC check"), this);
    activeCrcChkCb_->setObjectName("ActiveCRCChkCb");
    left->addWidget(rhoOnlyCb_);
    left->addWidget(showGapFillersCb_);
    left->addWidget(activeCrcChkCb_);

    exportAfterRunGB_ = new QGroupBox(QStringLiteral("Export after each acquisition"), this);
    exportAfterRunGB_->setObjectName("ExportAfterRunGB");
    auto* exports = new QVBoxLayout(exportAfterRunGB_);
    for (int i = 0; i < 3; ++i) {
        exportCb_[i] = new QCheckBox(QString::fromLatin1(kExportCaptions[i]), exportAfterRunGB_);
        exportCb_[i]->setObjectName(QString::fromLatin1(kExportNames[i]));
        exports->addWidget(exportCb_[i]);
    }
    left->addWidget(exportAfterRunGB_);

    connectionRdBtn_ = new QGroupBox(QStringLiteral("Connection"), this);
    connectionRdBtn_->setObjectName("ConnectionRdBtn");
    connectionGroup_ = new QButtonGroup(this);
    auto* radios = new QVBoxLayout(connectionRdBtn_);
    for (int item = 0; item < 5; ++item) {
        auto* radio =
            new QRadioButton(QString::fromLatin1(kConnectionCaptions[item]), connectionRdBtn_);
        radio->setObjectName(QStringLiteral("ConnectionItem%1").arg(item));
        connectionGroup_->addButton(radio, item);
        radios->addWidget(radio);
    }
    left->addWidget(connectionRdBtn_);
    left->addStretch(1);
    layout->addLayout(left);

    auto* right = new QVBoxLayout;
    viewFileBitBtn_ = Button(this, "ViewFileBitBtn", "View file", "view-file.png");
    simulateFileBitBtn_ = Button(this, "SimulateFileBitBtn", "Simulate file", "simulate-file.png");
    helpBitBtn_ = Button(this, "HelpBitBtn", "  Help    ", "help.png");
    aboutBitBtn_ = Button(this, "AboutBitBtn", " About  ", "about.png");
    bitBtn1_ = Button(this, "BitBtn1", "OK", "ok.png");
    bitBtn1_->setDefault(true);
    bitBtn1_->setAutoDefault(true);
    for (QPushButton* b : {viewFileBitBtn_, simulateFileBitBtn_, helpBitBtn_, aboutBitBtn_})
        right->addWidget(b);
    right->addStretch(1);
    right->addWidget(bitBtn1_);
    layout->addLayout(right);

    connect(rhoOnlyCb_, &QCheckBox::toggled, this, [this](bool on) { settings_.SetRhoOnly(on); });
    connect(activeCrcChkCb_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.activeCrcCheck = on; });
    connect(showGapFillersCb_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.showGapFillers = on; });
    for (QCheckBox* box : exportCb_)
        connect(box, &QCheckBox::toggled, this, &SettingsDialog::OnExportFormatsChanged);
    connect(connectionGroup_, &QButtonGroup::idClicked, this, &SettingsDialog::OnConnectionChosen);
    connect(viewFileBitBtn_, &QPushButton::clicked, this, &SettingsDialog::ViewRecordedFile);
    connect(simulateFileBitBtn_, &QPushButton::clicked, this,
            &SettingsDialog::SimulateRecordedFile);
    connect(helpBitBtn_, &QPushButton::clicked, this, &SettingsDialog::OpenHelp);
    connect(aboutBitBtn_, &QPushButton::clicked, this, &SettingsDialog::ShowAboutBox);
    connect(bitBtn1_, &QPushButton::clicked, this, &SettingsDialog::ShowRangeDialog);

    settings_.onRhoOnlyChanged = [this](bool) { OnRhoOnlyToggled(); };
    settings_.LoadSettings();
    SyncFromSettings();
}

SettingsDialog::~SettingsDialog() {
    settings_.onRhoOnlyChanged = nullptr;
}

int SettingsDialog::ConnectionIndex() const {
    return connectionGroup_->checkedId();
}

void SettingsDialog::SyncFromSettings() {
    rhoOnlyCb_->setChecked(settings_.rhoOnly);
    activeCrcChkCb_->setChecked(settings_.activeCrcCheck);
    showGapFillersCb_->setChecked(settings_.showGapFillers);
    const std::string exports = "," + settings_.exportAfterRun + ",";
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker quiet(exportCb_[i]);
        exportCb_[i]->setChecked(exports.find(std::string(",") + kExportFormatKeys[i] + ",") !=
                                 std::string::npos);
    }
    const int item = settings_.connectionItem;
    if (item >= 0 && item < 5) {
        connectionGroup_->button(item)->setChecked(true);
    } else if (QAbstractButton* checked = connectionGroup_->checkedButton()) {
        // No item: an exclusive group never unchecks its last button.
        connectionGroup_->setExclusive(false);
        checked->setChecked(false);
        connectionGroup_->setExclusive(true);
    }
    OnRhoOnlyToggled();
}

void SettingsDialog::SetRunControlsEnabled(bool enabled) {
    runControlsEnabled_ = enabled;
    rhoOnlyCb_->setEnabled(enabled);
    activeCrcChkCb_->setEnabled(enabled && !settings_.rhoOnly);
    showGapFillersCb_->setEnabled(enabled);
    viewFileBitBtn_->setEnabled(enabled);
    simulateFileBitBtn_->setEnabled(enabled);
    connectionRdBtn_->setEnabled(enabled);
}

void SettingsDialog::SetReplayButtonsEnabled(bool enabled) {
    viewFileBitBtn_->setEnabled(enabled && runControlsEnabled_);
    simulateFileBitBtn_->setEnabled(enabled && runControlsEnabled_);
}

bool SettingsDialog::IsDialogActive() const {
    return isVisible() && isActiveWindow();
}

void SettingsDialog::OnRhoOnlyToggled() {
    // In rho-only mode the instrument sends no checksums to check.
    activeCrcChkCb_->setEnabled(!settings_.rhoOnly && runControlsEnabled_);
    emit rhoOnlyChanged(settings_.rhoOnly);
}

void SettingsDialog::OnConnectionChosen(int item) {
    std::string message;
    const bool saved = settings_.SelectConnection(
        item, IsDialogActive(),
        [](std::string& address) {
            return ActiveUiHooks().InputText("IP address ex:192.168.1.15",
                                             "Enter IP address for WIFI client", address);
        },
        &message);
    if (!saved)
        ActiveUiHooks().ShowMessage(message);
}

void SettingsDialog::OnExportFormatsChanged() {
    std::string list;
    for (int i = 0; i < 3; ++i) {
        if (!exportCb_[i]->isChecked())
            continue;
        if (!list.empty())
            list += ',';
        list += kExportFormatKeys[i];
    }
    settings_.exportAfterRun = list;
}

void SettingsDialog::RunReplay(bool viewOnly) {
    viewFileBitBtn_->setEnabled(false);
    simulateFileBitBtn_->setEnabled(false);
    emit replayRequested(viewOnly);
    viewFileBitBtn_->setEnabled(true);
    simulateFileBitBtn_->setEnabled(true);
}

void SettingsDialog::ViewRecordedFile() {
    RunReplay(true);
}

void SettingsDialog::SimulateRecordedFile() {
    RunReplay(false);
}

void SettingsDialog::OpenHelp() {
    emit helpRequested(kSettingsHelpContext);
}

void SettingsDialog::ShowAboutBox() {
    emit aboutRequested();
}

void SettingsDialog::ShowRangeDialog() {
    accept();
}
