#include "ui/ExportDialog.h"

#include "link/UiHooks.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cctype>
#include <filesystem>

namespace {

const ExportFormat kFormats[] = {ExportFormat::Ohm, ExportFormat::Res2dinv, ExportFormat::Csv};
const char* const kCaptions[] = {"pyGIMLi/BERT (.ohm)", "Res2DInv (.dat, one per profile line)",
                                 "CSV (.csv)"};
const char* const kNames[] = {"ExportOhmCb", "ExportRes2dinvCb", "ExportCsvCb"};

// The chosen name without an export extension: "X.ohm" gives "X".
std::string WithoutExportExtension(const std::string& chosen) {
    std::filesystem::path path = PathFromUtf8(chosen);
    std::string ext = PathToUtf8(path.extension());
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".ohm" || ext == ".dat" || ext == ".csv")
        path.replace_extension();
    return PathToUtf8(path);
}

} // namespace

ExportDialog::ExportDialog(const std::string& heqPath, QWidget* parent,
                           const ExportOptions& options)
    : QDialog(parent), heqPath_(heqPath), options_(options) {
    setObjectName("ExportFrm");
    setWindowTitle(QStringLiteral("Export"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    auto* source = new QLabel(
        heqPath.empty() ? QStringLiteral("No acquisition to export yet.")
                        : QString::fromUtf8(PathToUtf8(PathFromUtf8(heqPath).filename()).c_str()),
        this);
    source->setObjectName("ExportSourceLbl");
    layout->addWidget(source);
    auto* formats = new QGroupBox(QStringLiteral("Formats"), this);
    auto* boxes = new QVBoxLayout(formats);
    for (int i = 0; i < 3; ++i) {
        formatCb_[i] = new QCheckBox(QString::fromLatin1(kCaptions[i]), formats);
        formatCb_[i]->setObjectName(QString::fromLatin1(kNames[i]));
        formatCb_[i]->setChecked(true);
        boxes->addWidget(formatCb_[i]);
    }
    layout->addWidget(formats);
    leaveOutFlaggedCb_ =
        new QCheckBox(QStringLiteral("Leave measurements flagged by the quality checks out of "
                                     "the .ohm and Res2DInv files"),
                      this);
    leaveOutFlaggedCb_->setObjectName("LeaveOutFlaggedCb");
    leaveOutFlaggedCb_->setChecked(options.leaveOutFlagged);
    layout->addWidget(leaveOutFlaggedCb_);
    reportText_ = new QPlainTextEdit(this);
    reportText_->setObjectName("ExportReportText");
    reportText_->setReadOnly(true);
    layout->addWidget(reportText_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    exportBtn_ = buttons->addButton(QStringLiteral("Export..."), QDialogButtonBox::ActionRole);
    exportBtn_->setObjectName("ExportBtn");
    exportBtn_->setEnabled(!heqPath.empty());
    layout->addWidget(buttons);
    connect(exportBtn_, &QPushButton::clicked, this, [this] { ChooseAndExport(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QCheckBox* box : formatCb_)
        connect(box, &QCheckBox::toggled, this,
                [this] { exportBtn_->setEnabled(!heqPath_.empty() && !CheckedFormats().empty()); });
}

std::vector<ExportFormat> ExportDialog::CheckedFormats() const {
    std::vector<ExportFormat> formats;
    for (int i = 0; i < 3; ++i)
        if (formatCb_[i]->isChecked())
            formats.push_back(kFormats[i]);
    return formats;
}

ExportOptions ExportDialog::Options() const {
    ExportOptions options = options_;
    options.leaveOutFlagged = leaveOutFlaggedCb_->isChecked();
    return options;
}

std::string ExportDialog::ReportText() const {
    return reportText_->toPlainText().toStdString();
}

ExportReport ExportDialog::ExportTo(const std::string& basePath) {
    ExportReport report;
    report.source = heqPath_;
    // Read afresh: a live run's ".bin" holds whole records between batches,
    // so what it holds now is what has been recorded so far.
    AcquisitionData data;
    report.status = ReadAcquisition(heqPath_, data);
    if (report.status) {
        report = ExportAcquisitionData(data, CheckedFormats(), basePath, Options());
        report.source = heqPath_;
    }
    reportText_->setPlainText(QString::fromStdString(report.Describe()));
    return report;
}

bool ExportDialog::ChooseAndExport() {
    if (heqPath_.empty() || CheckedFormats().empty())
        return false;
    const std::filesystem::path heq = PathFromUtf8(heqPath_);
    const std::string suggested = PathToUtf8(heq.parent_path() / heq.stem());
    std::string chosen;
    if (chooseDestination) {
        chosen = chooseDestination(suggested);
    } else {
        chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Export to"),
                                              QString::fromStdString(suggested),
                                              QStringLiteral("Export files (*.ohm *.dat *.csv)"),
                                              nullptr, QFileDialog::DontConfirmOverwrite)
                     .toStdString();
    }
    if (chosen.empty())
        return false;
    const ExportReport report = ExportTo(WithoutExportExtension(chosen));
    if (!report.Ok())
        ActiveUiHooks().ShowMessage("The export failed:\n" + report.Describe());
    return report.Ok();
}

void ExportDialog::Open(QWidget* parent, const std::string& heqPath, const ExportOptions& options) {
    ExportDialog dialog(heqPath, parent, options);
    dialog.exec();
}
