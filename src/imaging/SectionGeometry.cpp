#include "imaging/SectionGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

int32_t CentimetreKey(float v) {
    const double k = std::floor(100.0 * static_cast<double>(v) + 0.5);
    if (std::isnan(k))
        return std::numeric_limits<int32_t>::min();
    if (k >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (k <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(k);
}

int BisectKey(const std::vector<int32_t>& list, int32_t key) {
    int low = 0;
    int high = static_cast<int>(list.size()) - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        if (list[mid] == key)
            return mid;
        if (list[mid] < key)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return -1 - low;
}

bool InsertKey(std::vector<int32_t>& list, int32_t key) {
    const int at = BisectKey(list, key);
    if (at >= 0)
        return false;
    list.insert(list.begin() + (-1 - at), key);
    return true;
}

bool QuadCoord::HasRemoteElectrode() const {
    return std::any_of(std::begin(xCm), std::end(xCm), [](int32_t k) { return k >= kRemoteKey; });
}

bool QuadCoord::SameX() const {
    return xCm[0] == xCm[1] && xCm[0] == xCm[2] && xCm[0] == xCm[3];
}

bool QuadCoord::SameY() const {
    return yCm[0] == yCm[1] && yCm[0] == yCm[2] && yCm[0] == yCm[3];
}

const char* PlaneCaption(Plane plane) {
    switch (plane) {
    case Plane::XZ:
        return "XZ";
    case Plane::YZ:
        return "YZ";
    case Plane::XY:
        return "XY";
    }
    return "";
}

std::optional<Plane> PlaneFromCaption(std::string_view caption) {
    if (caption == "XZ")
        return Plane::XZ;
    if (caption == "YZ")
        return Plane::YZ;
    if (caption == "XY")
        return Plane::XY;
    return std::nullopt;
}

std::string SectionCaption(Plane plane, int32_t key) {
    // A profile along x is told apart by its y, one along y by its x, a
    // plan-view level by its depth.
    std::string text = plane == Plane::XZ ? "Y " : plane == Plane::YZ ? "X " : "Z ";
    // Work on the integer key so the caption is exact: no binary rounding.
    const int64_t k = key;
    const int64_t magnitude = k < 0 ? -k : k;
    if (k < 0)
        text += '-';
    text += std::to_string(magnitude / 100);
    const int64_t cents = magnitude % 100;
    if (cents != 0) {
        text += '.';
        text += static_cast<char>('0' + cents / 10);
        if (cents % 10 != 0)
            text += static_cast<char>('0' + cents % 10);
    }
    return text;
}

void PlaneBounds::Widen(float h, float v) {
    if (h < minH)
        minH = h;
    if (h > maxH)
        maxH = h;
    if (v < minV)
        minV = v;
    if (v > maxV)
        maxV = v;
}

float SectionGeometry::H(const QuadPlacement& q, Plane p) {
    return p == Plane::YZ ? q.my : q.mx;
}

float SectionGeometry::V(const QuadPlacement& q, Plane p) {
    return p == Plane::XY ? q.my : q.d;
}

namespace {

int32_t SectionKey(const QuadPlacement& q, Plane p) {
    switch (p) {
    case Plane::XZ:
        return q.ky;
    case Plane::YZ:
        return q.kx;
    case Plane::XY:
        return q.kd;
    }
    return 0;
}

int32_t HorizontalKey(const QuadPlacement& q, Plane p) {
    return p == Plane::YZ ? q.ky : q.kx;
}

int32_t VerticalKey(const QuadPlacement& q, Plane p) {
    return p == Plane::XY ? q.ky : q.kd;
}

// Floor of the integer midpoint: -5 / 2 must give -3, not -2, so that two
// negative neighbours split their columns like positive ones.
int32_t FloorMidpoint(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    return static_cast<int32_t>(sum >= 0 ? sum / 2 : -((-sum + 1) / 2));
}

} // namespace

bool SectionGeometry::HasSections() const {
    return std::any_of(planes_.begin(), planes_.end(),
                       [](const PlaneGeometry& g) { return !g.sections.empty(); });
}

bool SectionGeometry::BuildSectionGeometry(const Sequence& sequence, bool showGapFillers) {
    shownPlane_ = -1;
    shownSection_ = -1;
    grid_ = SectionGrid{};
    try {
        const int count = sequence.QuadripoleCountCapped();
        sectionValues_.assign(count, 0.0f);
        quadCoords_.clear();
        placements_.clear();
        for (PlaneGeometry& g : planes_)
            g = PlaneGeometry{};
        quadCoords_.reserve(count);
        placements_.reserve(count);

        for (int i = 0; i < count; ++i) {
            const QuadripoleRecord& quad = sequence.quadripoles[i];
            QuadCoord qc{};
            const int32_t electrodes[4] = {quad.a, quad.b, quad.m, quad.n};
            for (int e = 0; e < 4; ++e) {
                const NodeRecord& node = sequence.NodeOrInfinity(electrodes[e]);
                qc.xCm[e] = CentimetreKey(node.x);
                qc.yCm[e] = CentimetreKey(node.y);
            }
            quadCoords_.push_back(qc);

            QuadPlacement q{};
            q.gapFiller = quad.gapFiller < 0;
            q.shown = quad.gapFiller >= 0 || showGapFillers;
            if (q.shown) {
                float coords[12];
                sequence.QuadripoleCoordinates(i, coords);
                q.mx = Sequence::MidPoint(coords, 0);
                q.my = Sequence::MidPoint(coords, 4);
                q.d = Sequence::PseudoDepth(coords);
                q.kx = CentimetreKey(q.mx);
                q.ky = CentimetreKey(q.my);
                q.kd = CentimetreKey(q.d);
                const bool remote = qc.HasRemoteElectrode();
                q.inPlane[static_cast<int>(Plane::XZ)] = qc.SameY() || remote;
                q.inPlane[static_cast<int>(Plane::YZ)] = qc.SameX() || remote;
                q.inPlane[static_cast<int>(Plane::XY)] = true;
            }
            placements_.push_back(q);
        }

        // Sections per plane: distinct section keys, ascending.
        std::array<std::vector<int32_t>, kPlaneCount> keys;
        for (const QuadPlacement& q : placements_) {
            if (!q.shown)
                continue;
            for (Plane p : kBuildOrder) {
                const int pi = static_cast<int>(p);
                if (!q.inPlane[pi])
                    continue;
                planes_[pi].bounds.Widen(H(q, p), V(q, p));
                InsertKey(keys[pi], SectionKey(q, p));
            }
        }
        for (int pi = 0; pi < kPlaneCount; ++pi) {
            for (int32_t key : keys[pi])
                planes_[pi].sections.push_back(SlistPoint{key, 0, 0});
        }
        if (!HasSections())
            return false;
        for (Plane p : kBuildOrder)
            BuildGrids(p);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void SectionGeometry::BuildGrids(Plane p) {
    const int pi = static_cast<int>(p);
    PlaneGeometry& g = planes_[pi];
    const int count = quadripoleCount();
    g.graphPoints.assign(count, GraphPoint{0, 0, 0});
    g.sectionOf.assign(count, -1);
    g.members.assign(g.sections.size(), {});

    std::vector<int32_t> sectionKeys;
    sectionKeys.reserve(g.sections.size());
    for (const SlistPoint& s : g.sections)
        sectionKeys.push_back(s.key);
    // Group once instead of scanning every quadripole for every section.
    for (int i = 0; i < count; ++i) {
        const QuadPlacement& q = placements_[i];
        if (!q.shown || !q.inPlane[pi])
            continue;
        const int s = BisectKey(sectionKeys, SectionKey(q, p));
        if (s < 0)
            continue;
        g.sectionOf[i] = s;
        g.members[s].push_back(i);
    }

    std::vector<int32_t> columnPositions;
    std::vector<int32_t> rowLevels;
    std::vector<std::vector<int32_t>> rowPositions;
    std::vector<std::vector<int32_t>> rowBounds;
    for (size_t s = 0; s < g.sections.size(); ++s) {
        const std::vector<int32_t>& members = g.members[s];
        columnPositions.clear();
        rowLevels.clear();
        for (int32_t i : members) {
            columnPositions.push_back(HorizontalKey(placements_[i], p));
            rowLevels.push_back(VerticalKey(placements_[i], p));
        }
        std::sort(columnPositions.begin(), columnPositions.end());
        columnPositions.erase(std::unique(columnPositions.begin(), columnPositions.end()),
                              columnPositions.end());
        std::sort(rowLevels.begin(), rowLevels.end());
        rowLevels.erase(std::unique(rowLevels.begin(), rowLevels.end()), rowLevels.end());
        const int rowCount = static_cast<int>(rowLevels.size());
        const int columnCount = static_cast<int>(columnPositions.size());
        g.sections[s].rowCount = rowCount;
        g.sections[s].columnCount = columnCount;

        rowPositions.assign(rowCount, {});
        for (int32_t i : members) {
            const int r = BisectKey(rowLevels, VerticalKey(placements_[i], p));
            rowPositions[r].push_back(HorizontalKey(placements_[i], p));
        }
        rowBounds.assign(rowCount, {});
        for (int r = 0; r < rowCount; ++r) {
            std::vector<int32_t>& pos = rowPositions[r];
            std::sort(pos.begin(), pos.end());
            pos.erase(std::unique(pos.begin(), pos.end()), pos.end());
            const int n = static_cast<int>(pos.size());
            std::vector<int32_t>& bounds = rowBounds[r];
            bounds.resize(n);
            // Each column goes to the nearest measurement of the row; a column
            // exactly on the midpoint goes to the left neighbour.
            for (int j = 0; j + 1 < n; ++j) {
                const int32_t m = FloorMidpoint(pos[j], pos[j + 1]);
                const auto after =
                    std::upper_bound(columnPositions.begin() + 1, columnPositions.end(), m);
                bounds[j] = static_cast<int32_t>(after - columnPositions.begin()) - 1;
            }
            bounds[n - 1] = columnCount - 1;
        }
        for (int32_t i : members) {
            const QuadPlacement& q = placements_[i];
            const int r = BisectKey(rowLevels, VerticalKey(q, p));
            const int j = BisectKey(rowPositions[r], HorizontalKey(q, p));
            GraphPoint& gp = g.graphPoints[i];
            gp.row = r;
            gp.firstColumn = j == 0 ? 0 : rowBounds[r][j - 1] + 1;
            gp.lastColumn = rowBounds[r][j];
            sectionValues_[i] = kNotMeasuredValue;
        }
    }
}

void SectionGeometry::WriteCells(const GraphPoint& gp, float value) {
    for (int c = gp.firstColumn; c <= gp.lastColumn; ++c) {
        grid_.z[grid_.Index(gp.row, c)] = value;
        if (singleRow_)
            grid_.z[grid_.Index(1, c)] = value;
    }
}

void SectionGeometry::FillGrid(Plane p, int section, bool showGapFillers) {
    const int pi = static_cast<int>(p);
    const PlaneGeometry& g = planes_[pi];
    const SlistPoint& s = g.sections[section];
    singleRow_ = s.rowCount == 1;
    grid_.rows = singleRow_ ? 2 : s.rowCount;
    grid_.columns = s.columnCount;
    const size_t nodes = static_cast<size_t>(grid_.rows) * grid_.columns;
    grid_.x.assign(nodes, kGridNullValue);
    grid_.y.assign(nodes, kGridNullValue);
    grid_.z.assign(nodes, kNotMeasuredValue);
    grid_.annotations.clear();
    grid_.annotations.reserve(g.members[section].size());
    for (int32_t i : g.members[section]) {
        const QuadPlacement& q = placements_[i];
        const float h = H(q, p);
        const float v = -V(q, p);
        grid_.annotations.push_back(AnnotationPoint{h, v});
        // A gap filler placed at build time but hidden now is drawn as not
        // measured, so the setting is honoured without a rebuild.
        const bool shown = !q.gapFiller || showGapFillers;
        const float value = shown ? sectionValues_[i] : kNotMeasuredValue;
        const GraphPoint& gp = g.graphPoints[i];
        for (int c = gp.firstColumn; c <= gp.lastColumn; ++c) {
            for (int r = gp.row; r <= (singleRow_ ? 1 : gp.row); ++r) {
                const int k = grid_.Index(r, c);
                grid_.x[k] = h;
                grid_.y[k] = v;
                grid_.z[k] = value;
            }
        }
    }
}

SectionGeometry::PlotOutcome SectionGeometry::PlotSectionData(const MeasureRecord* records,
                                                              int firstIndex, int count,
                                                              bool showGapFillers, Plane plane,
                                                              int section, float& rhoMin,
                                                              float& rhoMax) {
    PlotOutcome outcome;
    const int pi = static_cast<int>(plane);
    const PlaneGeometry& g = planes_[pi];
    const bool validSection = section >= 0 && section < static_cast<int>(g.sections.size());
    if (validSection && (pi != shownPlane_ || section != shownSection_)) {
        FillGrid(plane, section, showGapFillers);
        shownPlane_ = pi;
        shownSection_ = section;
        outcome.redrawn = true;
    }
    if (records == nullptr)
        return outcome;
    const int total = quadripoleCount();
    for (int k = 0; k < count; ++k) {
        const int64_t i = static_cast<int64_t>(firstIndex) + k;
        if (i < 0 || i >= total)
            continue;
        const QuadPlacement& q = placements_[i];
        if (q.gapFiller && !showGapFillers)
            continue;
        float v = records[k].rho;
        // A missing value (or one that is not a number) is marked, and does
        // not stretch the full colour range over 30 decades.
        const bool real = std::isfinite(v) && v != kNotMeasuredValue && v != kNoValueValue;
        if (!real)
            v = kNoValueValue;
        sectionValues_[i] = v;
        if (real) {
            if (v < rhoMin)
                rhoMin = v;
            if (v > rhoMax)
                rhoMax = v;
        }
        if (validSection && pi == shownPlane_ && section == shownSection_ &&
            g.sectionOf[i] == section) {
            WriteCells(g.graphPoints[i], v);
            outcome.valuesChanged = true;
        }
    }
    return outcome;
}
