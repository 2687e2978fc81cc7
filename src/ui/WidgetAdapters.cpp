#include "ui/WidgetAdapters.h"

#include <QProgressBar>
#include <QTabWidget>

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
    // A thousandth of the bar is about a pixel: a position that moves the
    // fill by less repaints nothing (a 16 000-quadripole run would
    // otherwise repaint both bars after every batch).
    constexpr int kSteps = 1000;
    bar_->setRange(0, kSteps);
    bar_->setValue(
        int(int64_t(position_ - minimum_) * kSteps / (int64_t(maximum_) - int64_t(minimum_))));
}

void LabelIndicator::Show() {
    label_->show();
}

void LabelIndicator::Hide() {
    label_->hide();
}

PageDrawScheduler::PageDrawScheduler(QTabWidget* pages, int intervalMs) : pages_(pages) {
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { OnInterval(); });
    QObject::connect(pages_, &QTabWidget::currentChanged, &timer_, [this] { OnPageShown(); });
}

std::function<void()> PageDrawScheduler::Register(QWidget* page, std::function<void()> draw,
                                                  int intervalMs) {
    entries_.push_back(
        Entry{page, std::move(draw), intervalMs > 0 ? intervalMs : timer_.interval()});
    return [this, page] { MarkStale(page); };
}

PageDrawScheduler::Entry* PageDrawScheduler::Find(QWidget* page) {
    for (Entry& e : entries_) {
        if (e.page == page)
            return &e;
    }
    return nullptr;
}

const PageDrawScheduler::Entry* PageDrawScheduler::Find(QWidget* page) const {
    return const_cast<PageDrawScheduler*>(this)->Find(page);
}

void PageDrawScheduler::MarkStale(QWidget* page) {
    Entry* entry = Find(page);
    if (!entry)
        return;
    entry->stale = true;
    // A hidden page waits until it is shown. The shown one is drawn at
    // once when it was not drawn in the last interval, else when the
    // interval ends, with whatever else arrives before.
    if (held_ || pages_->currentWidget() != page || timer_.isActive())
        return;
    DrawIfStale(*entry);
    timer_.start(entry->intervalMs);
}

bool PageDrawScheduler::IsStale(QWidget* page) const {
    const Entry* entry = Find(page);
    return entry && entry->stale;
}

int PageDrawScheduler::DrawCount(QWidget* page) const {
    const Entry* entry = Find(page);
    return entry ? entry->draws : 0;
}

void PageDrawScheduler::DrawIfStale(Entry& entry) {
    if (!entry.stale || held_)
        return;
    // Cleared first: a drawing that fails is not retried for ever, and a
    // change made while drawing marks the page again.
    entry.stale = false;
    ++entry.draws;
    try {
        entry.draw();
    } catch (...) {
        // A drawing failure must never stop an acquisition.
    }
}

void PageDrawScheduler::Flush() {
    timer_.stop();
    if (Entry* entry = Find(pages_->currentWidget()))
        DrawIfStale(*entry);
}

void PageDrawScheduler::OnInterval() {
    Entry* entry = Find(pages_->currentWidget());
    if (!entry || !entry->stale || held_)
        return;
    DrawIfStale(*entry);
    // The next change waits out a whole interval again.
    timer_.start(entry->intervalMs);
}

void PageDrawScheduler::OnPageShown() {
    if (Entry* entry = Find(pages_->currentWidget()))
        DrawIfStale(*entry);
}

void PageDrawScheduler::SetHeld(bool held) {
    held_ = held;
    if (held)
        timer_.stop();
    else
        Flush();
}
