#pragma once
// The "About" box: program name, version, icon and comments, from the
// version information compiled into the program.
#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// What an executable's version resource says about the program.
struct VersionInfo {
    std::array<uint16_t, 4> fileVersion{}; // major, minor, release, build
    struct Translation {
        std::optional<QString> comments;
        std::optional<QString> productName;
    };
    std::vector<Translation> translations;
};

// This program's version information: the build's version number and
// its comments.
VersionInfo ProgramVersionResource();
// "V%02d.%02d.%02d" of the first three numbers (2.0.2.0 gives V02.00.02).
QString VersionText(const std::array<uint16_t, 4>& fileVersion);
// Up to four dot-separated numbers ("0.1.0"); missing ones are 0.
std::array<uint16_t, 4> ParseVersion(const QString& text);

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr,
                         const VersionInfo& resource = ProgramVersionResource());

    QLabel* productName() const { return productName_; }
    QLabel* version() const { return version_; }
    QPlainTextEdit* memo() const { return memo1_; }

private:
    QLabel* productName_;
    QLabel* version_;
    QLabel* image1_;
    QPlainTextEdit* memo1_;
    QPushButton* bitBtn1_;
};
