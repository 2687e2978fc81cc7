#pragma once
// The link layer's progress and indicator interfaces over Qt widgets.
#include "link/UiHooks.h"

class QProgressBar;
class QWidget;

// A QProgressBar as the engine and the block transfers drive it. The engine
// may set a maximum below the position (the end of viewing a file sets 1 to
// show a full bar): the position follows it down, as a progress bar does,
// so that "full" stays position == maximum.
class ProgressBarAdapter : public ProgressBar {
public:
    explicit ProgressBarAdapter(QProgressBar* bar) : bar_(bar) {}
    void SetMinimum(int value) override;
    void SetMaximum(int value) override;
    int Maximum() const override { return maximum_; }
    int Position() const override { return position_; }
    void SetPosition(int value) override;

private:
    void Apply();

    QProgressBar* bar_;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
};

// A widget shown and hidden as an indicator (the "Crc error" label).
class LabelIndicator : public Indicator {
public:
    explicit LabelIndicator(QWidget* label) : label_(label) {}
    void Show() override;
    void Hide() override;

private:
    QWidget* label_;
};
