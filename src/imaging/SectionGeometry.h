#pragma once
// Where every quadripole of a sequence appears in the pseudo-section: the
// three viewing planes, their sections, the contour grid of each section
// and the values drawn into it as measurements arrive.
//
// Plain C++: the section page (SectionPage.h) shows what this model holds.
#include "sequence/Sequence.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Value of a quadripole that has not been measured yet.
constexpr float kNotMeasuredValue = -9e30f;
// Value of a quadripole that was measured but came without a value.
constexpr float kNoValueValue = -8e30f;
// Null x or y of a contour grid node: the node is missing.
constexpr float kGridNullValue = -9e30f;
// An x key at or beyond this (99999 m) belongs to an electrode at infinity.
constexpr int32_t kRemoteKey = 9999900;
// Start values of the bounds pass (the largest float).
constexpr float kLargestFloat = 3.4028235e38f;

// Whole centimetres of a position or depth in metres: floor(100 v + 0.5).
// Positions beyond the int32 range (or not numbers) are clamped so that a
// corrupt node table cannot make the conversion undefined.
int32_t CentimetreKey(float v);

// Bisection in an ascending list: the index of `key`, or -1 - insertion
// index when it is absent.
int BisectKey(const std::vector<int32_t>& list, int32_t key);
// Inserts `key` keeping the list strictly ascending; false when present.
bool InsertKey(std::vector<int32_t>& list, int32_t key);

struct QuadCoord {
    int32_t xCm[4]; // A, B, M, N
    int32_t yCm[4];

    // Only x marks the remote electrode.
    bool HasRemoteElectrode() const;
    bool SameX() const;
    bool SameY() const;
};

enum class Plane : int { XZ = 0, YZ = 1, XY = 2 };
constexpr int kPlaneCount = 3;
// Order in which the build visits the planes.
constexpr std::array<Plane, 3> kBuildOrder = {Plane::YZ, Plane::XZ, Plane::XY};

const char* PlaneCaption(Plane plane);
std::optional<Plane> PlaneFromCaption(std::string_view caption);
// "Y 12.5", "X 0", "Z 3.42": the plane's prefix and the key in metres with
// at most two decimals and no trailing zeros.
std::string SectionCaption(Plane plane, int32_t key);

struct PlaneBounds {
    float minH = kLargestFloat;
    float maxH = -kLargestFloat;
    float minV = kLargestFloat;
    float maxV = -kLargestFloat;

    bool Valid() const { return minH <= maxH && minV <= maxV; }
    void Widen(float h, float v);
};

struct SlistPoint {
    int32_t key;
    int32_t rowCount;
    int32_t columnCount;
};

struct GraphPoint {
    int32_t row;
    int32_t firstColumn;
    int32_t lastColumn;
};

// The position of one quadripole, kept from the build so that plotting
// needs no geometry again.
struct QuadPlacement {
    float mx, my, d;    // mid point x, mid point y, pseudo-depth (m)
    int32_t kx, ky, kd; // their centimetre keys
    bool shown;         // shown at build time (gap fillers only when asked)
    bool gapFiller;
    bool inPlane[kPlaneCount];
};

struct PlaneGeometry {
    PlaneBounds bounds;
    std::vector<SlistPoint> sections;    // ascending key
    std::vector<GraphPoint> graphPoints; // one per quadripole
    // Section list index of each quadripole, -1 when it has no grid cell.
    std::vector<int32_t> sectionOf;
    // Member quadripoles of each section, ascending index.
    std::vector<std::vector<int32_t>> members;
};

struct AnnotationPoint {
    float x;
    float y;
};

// One section laid out for the contour graph: rows (graph subsets) by
// columns (graph points), each node with its own x, y and value.
struct SectionGrid {
    int rows = 0;
    int columns = 0;
    std::vector<float> x; // row-major, rows * columns
    std::vector<float> y; // negated vertical coordinate
    std::vector<float> z; // value (ohm.m) or one of the two markers
    std::vector<AnnotationPoint> annotations;

    int Index(int row, int column) const { return row * columns + column; }
};

class SectionGeometry {
public:
    struct PlotOutcome {
        bool redrawn = false;       // the grid was rebuilt for another section
        bool valuesChanged = false; // cells of the shown section took new values
    };

    // Places every quadripole in its planes and sections and builds the
    // grid of every section. False when nothing could be placed (no
    // section in any plane) or the build failed; what was built stays.
    bool BuildSectionGeometry(const Sequence& sequence, bool showGapFillers);

    // Stores the values of `count` consecutive records for the quadripoles
    // from `firstIndex` on and writes them into the grid of the shown
    // section; rebuilds that grid first when (plane, section) differs from
    // the last one drawn. rhoMin and rhoMax are widened by real values.
    // Records whose index lies outside the sequence are skipped.
    PlotOutcome PlotSectionData(const MeasureRecord* records, int firstIndex, int count,
                                bool showGapFillers, Plane plane, int section, float& rhoMin,
                                float& rhoMax);

    int quadripoleCount() const { return static_cast<int>(placements_.size()); }
    const std::vector<QuadCoord>& quadCoords() const { return quadCoords_; }
    const std::vector<QuadPlacement>& placements() const { return placements_; }
    const PlaneGeometry& plane(Plane p) const { return planes_[static_cast<int>(p)]; }
    bool HasSections() const;
    const std::vector<float>& sectionValues() const { return sectionValues_; }
    int shownPlane() const { return shownPlane_; }
    int shownSection() const { return shownSection_; }
    const SectionGrid& grid() const { return grid_; }

    // Horizontal and vertical coordinate of a quadripole in a plane.
    static float H(const QuadPlacement& q, Plane p);
    static float V(const QuadPlacement& q, Plane p);

private:
    void BuildGrids(Plane p);
    void FillGrid(Plane p, int section, bool showGapFillers);
    void WriteCells(const GraphPoint& gp, float value);

    std::vector<QuadCoord> quadCoords_;
    std::vector<QuadPlacement> placements_;
    std::array<PlaneGeometry, kPlaneCount> planes_;
    std::vector<float> sectionValues_;
    int shownPlane_ = -1;
    int shownSection_ = -1;
    bool singleRow_ = false;
    SectionGrid grid_;
};
