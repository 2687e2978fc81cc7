#pragma once
// "Export...": the acquisition on screen (the live run's files as recorded
// so far, or the recording replayed) written for the inversion codes, in
// the formats the operator ticks, under a name chosen in a file dialog.
#include "export/InversionExport.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

class ExportDialog : public QDialog {
    Q_OBJECT
public:
    // heqPath: the ".heq" of the acquisition on screen (empty: none yet).
    // options: the quality limits, and whether flagged measurements start
    // left out (the operator's tick decides).
    explicit ExportDialog(const std::string& heqPath, QWidget* parent = nullptr,
                          const ExportOptions& options = {});

    // Replaceable in tests: the save dialog. Gets a suggested path and
    // returns the chosen one, empty on Cancel. Any export extension on the
    // answer is dropped: each format adds its own.
    std::function<std::string(const std::string& suggested)> chooseDestination;

    // The "Export..." button: asks for the destination, exports, shows what
    // was written and left out. False on Cancel or a failure (a failure is
    // also said in a message box).
    bool ChooseAndExport();
    // Exports to basePath (a path without extension) in the ticked formats.
    ExportReport ExportTo(const std::string& basePath);
    std::vector<ExportFormat> CheckedFormats() const;
    std::string ReportText() const;

    // What the window's "Export..." button runs.
    static void Open(QWidget* parent, const std::string& heqPath,
                     const ExportOptions& options = {});
    ExportOptions Options() const;

private:
    std::string heqPath_;
    QCheckBox* formatCb_[3];
    QCheckBox* leaveOutFlaggedCb_;
    ExportOptions options_;
    QPushButton* exportBtn_;
    QPlainTextEdit* reportText_;
};
