#include "ui/WidgetAdapters.h"

#include <QProgressBar>

#include <algorithm>

void ProgressBarAdapter::SetMinimum(int value) {
    minimum_ = value;
    maximum_ = std::max(maximum_, minimum_);
    Apply();
}

void ProgressBarAdapter::SetMaximum(int value) {
    maximum_ = value;
    minimum_ = std::min(minimum_, maximum_);
    Apply();
}

void ProgressBarAdapter::SetPosition(int value) {
    position_ = value;
    Apply();
}

void ProgressBarAdapter::Apply() {
    position_ = std::clamp(position_, minimum_, maximum_);
    if (minimum_ == maximum_) {
        // An empty range would make the bar spin: show it full.
        bar_->setRange(0, 1);
        bar_->setValue(1);
        return;
    }
    bar_->setRange(minimum_, maximum_);
    bar_->setValue(position_);
}

void LabelIndicator::Show() {
    label_->show();
}

void LabelIndicator::Hide() {
    label_->hide();
}
