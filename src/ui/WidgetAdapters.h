#pragma once
// The link layer's progress and indicator interfaces over Qt widgets, and
// the drawing schedule of the main window's pages.
#include "link/UiHooks.h"

#include <QTimer>

#include <functional>
#include <vector>

class QProgressBar;
class QTabWidget;
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

// When the pages of a tab widget draw what their data became. A batch only
// changes a page's data and marks it stale: a hidden page draws once when
// it is shown, the shown page at most once per interval (at once when it
// was not drawn in the last one), the changes of every batch in between
// drawn together. A pending drawing is never lost: the interval ends with
// one, and Flush() draws at once (the end of a run). While held (a
// recording read at once) nothing is drawn; the release draws the shown
// page.
class PageDrawScheduler {
public:
    static constexpr int kDefaultIntervalMs = 100;

    explicit PageDrawScheduler(QTabWidget* pages, int intervalMs = kDefaultIntervalMs);
    PageDrawScheduler(const PageDrawScheduler&) = delete;
    PageDrawScheduler& operator=(const PageDrawScheduler&) = delete;

    // `draw` brings the page up to date with its data; a page whose
    // drawing is costly may ask for a longer interval (0: the default).
    // Returns what the page calls when its data changed (the same as
    // MarkStale(page)).
    std::function<void()> Register(QWidget* page, std::function<void()> draw, int intervalMs = 0);
    void MarkStale(QWidget* page);
    bool IsStale(QWidget* page) const;
    // Draws the shown page now when it is stale.
    void Flush();
    void SetHeld(bool held);
    bool held() const { return held_; }
    // How many times a page was drawn (for tests and the benchmark).
    int DrawCount(QWidget* page) const;

private:
    struct Entry {
        QWidget* page;
        std::function<void()> draw;
        int intervalMs = 0;
        bool stale = false;
        int draws = 0;
    };
    Entry* Find(QWidget* page);
    const Entry* Find(QWidget* page) const;
    void DrawIfStale(Entry& entry);
    void OnPageShown();
    void OnInterval();

    QTabWidget* pages_;
    QTimer timer_;
    std::vector<Entry> entries_;
    bool held_ = false;
};
