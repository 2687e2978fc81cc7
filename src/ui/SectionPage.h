#pragma once
// The " Rho pseudo section" page: the contour graph of one section, the
// plane tabs and section list that choose it, and the buttons that zoom,
// export, print and open the range dialog. The main window embeds it as its
// page RhoTb.
#include "imaging/ColorScale.h"
#include "imaging/ImagingOptions.h"
#include "imaging/SectionGeometry.h"
#include "ui/ContourGraph.h"

#include <QWidget>

#include <functional>
#include <optional>

class QFrame;
class QualityControl;
class QGroupBox;
class QListWidget;
class QPushButton;
class QSlider;
class QTabBar;

// Rebuilds the palette of `graph` from the two slider positions (crossed
// sliders are put back in order first) and re-initialises the graph.
void ApplyColorScale(ContourGraph* graph, QSlider* lowerSlider, QSlider* upperSlider);

class SectionPage : public QWidget {
    Q_OBJECT
public:
    // The colour-range state and the options belong to the main window and
    // must outlive the page.
    SectionPage(ColorScale* colorScale, const ImagingOptions* options, QWidget* parent = nullptr);

    // Once per acquisition, after the node and quadripole sets are in place.
    // False when no quadripole could be placed (the graph is left empty).
    bool BuildSectionGeometry(const Sequence& sequence, bool showGapFillers);
    // After each received block (count 0: redraw the chosen section only).
    void PlotSectionData(const MeasureRecord* records, int firstIndex, int count,
                         bool showGapFillers, bool applyPalette);
    void FillSectionList(Plane plane, bool showGapFillers);
    void ClearSectionAnnotations();
    // New unit title; value range and palette when this page is active.
    void UpdateColorScale();
    void SetContourScale();
    void ApplyColorScale();

    // When set, a received block calls `request` instead of drawing, and the
    // owner calls Draw() when the page is to be seen.
    void SetDrawRequest(std::function<void()> request) { drawRequest_ = std::move(request); }
    // Brings the graph up to date with the section's values and repaints it.
    void Draw();
    // Where the flags of the measurements come from (none: no marks).
    void SetQualitySource(std::function<const QualityControl*()> source) {
        qualitySource_ = std::move(source);
    }

    // Whether this page is the main window's active page (default true).
    void SetPageActive(bool active) { pageActive_ = active; }
    bool pageActive() const { return pageActive_; }
    // Whether the sequence progress bar is full: a new choice of section is
    // then drawn at once (default: always).
    void SetProgressFullQuery(std::function<bool()> query) { progressFull_ = std::move(query); }

    const SectionGeometry& imaging() const { return imaging_; }
    ContourGraph* graph() const { return graph_; }
    // The plane of the selected tab, if any.
    std::optional<Plane> SelectedPlane() const;

signals:
    // "Range" was pressed: show the range dialog without waiting for it.
    void rangeRequested();

private:
    void OnPlaneTabChanged(int index);
    void OnSectionClicked(int row);
    void ConfigureGraph();
    void ApplyRanges(Plane plane);
    void MarkFlaggedPoints();
    bool ProgressFull() const { return !progressFull_ || progressFull_(); }

    ColorScale* colorScale_;
    const ImagingOptions* options_;
    SectionGeometry imaging_;
    bool pageActive_ = true;
    bool rebuilding_ = false;
    std::function<bool()> progressFull_;
    std::function<void()> drawRequest_;
    std::function<const QualityControl*()> qualitySource_;
    bool gridStale_ = false;
    bool paletteStale_ = false;

    QFrame* panel2_ = nullptr;
    QTabBar* tabPlane_ = nullptr;
    QListWidget* sectionGroup_ = nullptr;
    QGroupBox* groupBox3_ = nullptr;
    QSlider* sMax_ = nullptr;
    QSlider* sMin_ = nullptr;
    ContourGraph* graph_ = nullptr;
};
