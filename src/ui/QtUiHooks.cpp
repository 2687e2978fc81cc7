#include "ui/QtUiHooks.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>

void QtUiHooks::Pump() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUiHooks::ShowWaitCursor() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ++cursorDepth_;
}

void QtUiHooks::RestoreCursor() {
    // Only undo what this object did: an unbalanced restore would pop a
    // cursor some dialog set for itself.
    if (cursorDepth_ == 0)
        return;
    --cursorDepth_;
    QGuiApplication::restoreOverrideCursor();
}

void QtUiHooks::ShowMessage(const std::string& text) {
    if (silent_ || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "Pylorix: %s\n", text.c_str());
        return;
    }
    // A message box must show the normal cursor even inside a long wait.
    const int held = cursorDepth_;
    for (int i = 0; i < held; ++i)
        QGuiApplication::restoreOverrideCursor();
    QMessageBox::critical(parent_, QStringLiteral("Pylorix"), QString::fromStdString(text),
                          QMessageBox::Ok);
    for (int i = 0; i < held; ++i)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

bool QtUiHooks::Confirm(const std::string& caption, const std::string& text) {
    if (autoConfirm_ || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return true;
    QMessageBox box(QMessageBox::Information, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

bool QtUiHooks::InputText(const std::string& caption, const std::string& prompt,
                          std::string& value) {
    if (autoConfirm_ || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return true;
    bool ok = false;
    const QString answer = QInputDialog::getText(parent_, QString::fromStdString(caption),
                                                 QString::fromStdString(prompt), QLineEdit::Normal,
                                                 QString::fromStdString(value), &ok);
    if (ok)
        value = answer.trimmed().toStdString();
    return ok;
}
