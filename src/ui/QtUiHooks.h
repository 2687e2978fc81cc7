#pragma once
// The user-interface hooks of the links and the engine, on Qt Widgets:
// event pumping, the hourglass cursor, and the program's message, question
// and input boxes. Installed once at start-up with SetUiHooks.
#include "link/UiHooks.h"

class QWidget;

class QtUiHooks : public UiHooks {
public:
    // parent: the window the boxes belong to (may be null, or set later).
    explicit QtUiHooks(QWidget* parent = nullptr) : parent_(parent) {}

    void SetParentWindow(QWidget* parent) { parent_ = parent; }
    // Answers every OK/Cancel question with OK and every input box with
    // its proposed value, without showing them: for unattended runs against
    // a known instrument (the --yes option).
    void SetAutoConfirm(bool on) { autoConfirm_ = on; }
    bool AutoConfirm() const { return autoConfirm_; }
    // Drops error boxes (the window is closing: nobody is left to read
    // them, and a modal box would hold the shutdown).
    void SetSilent(bool on) { silent_ = on; }

    void Pump() override;
    void ShowWaitCursor() override;
    void RestoreCursor() override;
    void ShowMessage(const std::string& text) override;
    bool Confirm(const std::string& caption, const std::string& text) override;
    bool InputText(const std::string& caption, const std::string& prompt,
                   std::string& value) override;

private:
    QWidget* parent_;
    bool autoConfirm_ = false;
    bool silent_ = false;
    int cursorDepth_ = 0;
};
