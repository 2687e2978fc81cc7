#include "ui/AboutDialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef PYLORIX_VERSION
#define PYLORIX_VERSION "0.0.0"
#endif

namespace {

const char* const kComments = "Monitor for multi-channel resistivity and induced-polarisation\n"
                              "field acquisitions: live values, pseudo-section, progress and\n"
                              "distribution views, acquisition files.";

} // namespace

std::array<uint16_t, 4> ParseVersion(const QString& text) {
    std::array<uint16_t, 4> numbers{};
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < parts.size() && i < 4; ++i) {
        bool ok = false;
        const uint value = parts[i].trimmed().toUInt(&ok);
        numbers[size_t(i)] = ok && value <= 0xFFFF ? uint16_t(value) : 0;
    }
    return numbers;
}

VersionInfo ProgramVersionResource() {
    VersionInfo resource;
    resource.fileVersion = ParseVersion(QStringLiteral(PYLORIX_VERSION));
    VersionInfo::Translation english;
    english.comments = QString::fromLatin1(kComments);
    english.productName = QStringLiteral("Pylorix");
    resource.translations.push_back(english);
    return resource;
}

QString VersionText(const std::array<uint16_t, 4>& v) {
    return QString::asprintf("V%02d.%02d.%02d", int(v[0]), int(v[1]), int(v[2]));
}

AboutDialog::AboutDialog(QWidget* parent, const VersionInfo& resource)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName("AboutBoxFrm");
    setWindowTitle(QStringLiteral("About"));

    image1_ = new QLabel(this);
    image1_->setObjectName("Image1");
    QIcon icon = QGuiApplication::windowIcon();
    if (icon.isNull() && parent)
        icon = parent->windowIcon();
    image1_->setPixmap(icon.pixmap(64, 64));
    image1_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    productName_ = new QLabel(QGuiApplication::applicationDisplayName(), this);
    productName_->setObjectName("ProductName");
    QFont big = productName_->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    productName_->setFont(big);
    version_ = new QLabel(VersionText(resource.fileVersion), this);
    version_->setObjectName("Version");
    memo1_ = new QPlainTextEdit(this);
    memo1_->setObjectName("Memo1");
    memo1_->setReadOnly(true);
    memo1_->setFrameShape(QFrame::NoFrame);
    memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo1_->setFixedHeight(90);
    bitBtn1_ = new QPushButton(QStringLiteral("OK"), this);
    bitBtn1_->setObjectName("BitBtn1");
    bitBtn1_->setDefault(true);
    connect(bitBtn1_, &QPushButton::clicked, this, &QDialog::accept);

    for (const VersionInfo::Translation& t : resource.translations) {
        if (t.comments)
            memo1_->appendPlainText(*t.comments);
        if (t.productName)
            productName_->setText(*t.productName);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(image1_);
    auto* texts = new QVBoxLayout;
    texts->addWidget(productName_);
    texts->addWidget(version_);
    texts->addStretch(1);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(memo1_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bitBtn1_);
    layout->addLayout(buttons);
    resize(520, 240);
}
