#include "imaging/SectionGeometry.h"
#include "SyntheticSequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Builds sequences quadripole by quadripole, each with four nodes of its own.
struct Builder {
    std::unique_ptr<Sequence> s = std::make_unique<Sequence>();
    int nextNode = 1;

    Builder() { s->nodes[0] = {kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate, 0}; }
    int Node(float x, float y) {
        const int n = nextNode++;
        s->nodes[n] = NodeRecord{x, y, 0, n};
        s->nodeCount = n;
        return n;
    }
    // A dipole-dipole quadripole along x at (x0, x0+a, x0+3a, x0+4a): mid
    // point x0 + 2a, depth 0.76 a.
    int DipoleX(float x0, float a, float y, int gapFiller = 0) {
        const int q = s->quadripoleCount++;
        s->quadripoles[q] = QuadripoleRecord{Node(x0, y), Node(x0 + a, y), Node(x0 + 3 * a, y),
                                             Node(x0 + 4 * a, y), gapFiller};
        return q;
    }
};

MeasureRecord Rho(float v) {
    MeasureRecord r;
    std::memset(&r, 0, sizeof r);
    r.rho = v;
    return r;
}

int SectionIndex(const SectionGeometry& img, Plane p, int32_t key) {
    const auto& sections = img.plane(p).sections;
    for (size_t i = 0; i < sections.size(); ++i)
        if (sections[i].key == key)
            return static_cast<int>(i);
    return -1;
}

} // namespace

TEST(CentimetreKeyTest, RoundsHalfUpIncludingNegatives) {
    EXPECT_EQ(CentimetreKey(-1.234f), -123);
    EXPECT_EQ(CentimetreKey(-2.5f), -250);
    EXPECT_EQ(CentimetreKey(2.5f), 250);
    EXPECT_EQ(CentimetreKey(2.003f), 200);
    EXPECT_EQ(CentimetreKey(2.006f), 201);
    EXPECT_EQ(CentimetreKey(kInfinityCoordinate), 9999999);
    // Corrupt coordinates must not overflow the conversion.
    EXPECT_EQ(CentimetreKey(1e30f), INT32_MAX);
    EXPECT_EQ(CentimetreKey(-1e30f), INT32_MIN);
}

TEST(SectionCaptionTest, AtMostTwoDecimalsWithoutTrailingZeros) {
    EXPECT_EQ(SectionCaption(Plane::XZ, 1250), "Y 12.5");
    EXPECT_EQ(SectionCaption(Plane::YZ, 0), "X 0");
    EXPECT_EQ(SectionCaption(Plane::XY, 342), "Z 3.42");
    EXPECT_EQ(SectionCaption(Plane::XZ, -50), "Y -0.5");
    EXPECT_EQ(SectionCaption(Plane::XZ, -123), "Y -1.23");
    EXPECT_EQ(SectionCaption(Plane::XY, 57), "Z 0.57");
}

TEST(SectionGeometryTest, EmptySequenceHasNoSections) {
    Sequence s;
    SectionGeometry img;
    EXPECT_FALSE(img.BuildSectionGeometry(s, false));
    EXPECT_FALSE(img.HasSections());
    EXPECT_TRUE(img.quadCoords().empty());
}

TEST(SectionGeometryTest, ProfilesAreToldApartOnWholeCentimetres) {
    Builder same;
    same.DipoleX(0, 1, 2.003f);
    same.DipoleX(0, 1, 2.004f);
    SectionGeometry a;
    ASSERT_TRUE(a.BuildSectionGeometry(*same.s, false));
    ASSERT_EQ(a.plane(Plane::XZ).sections.size(), 1u);
    EXPECT_EQ(a.plane(Plane::XZ).sections[0].key, 200);

    Builder apart;
    apart.DipoleX(0, 1, 2.006f);
    apart.DipoleX(0, 1, 2.004f);
    SectionGeometry b;
    ASSERT_TRUE(b.BuildSectionGeometry(*apart.s, false));
    const auto& sections = b.plane(Plane::XZ).sections;
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].key, 200); // kept ascending whatever the order met
    EXPECT_EQ(sections[1].key, 201);
}

TEST(SectionGeometryTest, ProfileAlongXFillsXZAndXYOnly) {
    synthetic::Layout l;
    l.electrodes = 24;
    l.channels = 4;
    auto s = synthetic::MakeDipoleDipole(l);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*s, false));
    ASSERT_EQ(img.plane(Plane::XZ).sections.size(), 1u);
    EXPECT_EQ(SectionCaption(Plane::XZ, img.plane(Plane::XZ).sections[0].key), "Y 0");
    EXPECT_TRUE(img.plane(Plane::YZ).sections.empty());
    EXPECT_GT(img.plane(Plane::XY).sections.size(), 1u);
    const PlaneBounds& b = img.plane(Plane::XZ).bounds;
    EXPECT_TRUE(b.Valid());
    EXPECT_FLOAT_EQ(b.minV, 0.57f);
}

TEST(SectionGeometryTest, RemoteElectrodesPutQuadripolesInBothProfilePlanes) {
    auto s = synthetic::MakePolePole(8);
    // An electrode far away but not at infinity is an ordinary one.
    Builder far;
    far.DipoleX(1500, 1, 0);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*s, false));
    for (const QuadPlacement& q : img.placements()) {
        EXPECT_TRUE(q.inPlane[static_cast<int>(Plane::XZ)]);
        EXPECT_TRUE(q.inPlane[static_cast<int>(Plane::YZ)]);
        EXPECT_LT(q.mx, 10.0f); // the remote electrodes do not move the mid point
    }
    SectionGeometry f;
    ASSERT_TRUE(f.BuildSectionGeometry(*far.s, false));
    EXPECT_FALSE(f.quadCoords()[0].HasRemoteElectrode());
    EXPECT_TRUE(f.plane(Plane::YZ).sections.empty());
}

TEST(SectionGeometryTest, GapFillersOnlyWhenAskedButAlwaysIndexed) {
    Builder b;
    b.DipoleX(0, 1, 0);
    b.DipoleX(0, 1, 7, -1);
    b.DipoleX(1, 1, 0);
    SectionGeometry hidden;
    ASSERT_TRUE(hidden.BuildSectionGeometry(*b.s, false));
    EXPECT_EQ(hidden.quadCoords().size(), 3u);
    EXPECT_EQ(hidden.plane(Plane::XZ).sections.size(), 1u);
    EXPECT_EQ(hidden.sectionValues()[1], 0.0f); // no grid cell
    SectionGeometry shown;
    ASSERT_TRUE(shown.BuildSectionGeometry(*b.s, true));
    EXPECT_EQ(shown.plane(Plane::XZ).sections.size(), 2u);

    // Only gap fillers, not shown: nothing to place.
    Builder only;
    only.DipoleX(0, 1, 0, -1);
    SectionGeometry none;
    EXPECT_FALSE(none.BuildSectionGeometry(*only.s, false));
}

TEST(SectionGridTest, MidpointRuleGivesEachNeighbourItsOwnColumn) {
    // Row at depth 0.76: mid points 2.00 and 2.01; a deeper row adds nothing
    // between them.
    Builder b;
    const int q1 = b.DipoleX(0.0f, 1, 0);
    const int q2 = b.DipoleX(0.01f, 1, 0);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*b.s, false));
    const auto& gp = img.plane(Plane::XZ).graphPoints;
    EXPECT_EQ(gp[q1].firstColumn, 0);
    EXPECT_EQ(gp[q1].lastColumn, 0);
    EXPECT_EQ(gp[q2].firstColumn, 1);
    EXPECT_EQ(gp[q2].lastColumn, 1);

    // Negative positions -0.03 and -0.02: the midpoint is -3 (floor), so
    // each keeps its own column.
    Builder n;
    const int n1 = n.DipoleX(-2.03f, 1, 0);
    const int n2 = n.DipoleX(-2.02f, 1, 0);
    SectionGeometry neg;
    ASSERT_TRUE(neg.BuildSectionGeometry(*n.s, false));
    const auto& ng = neg.plane(Plane::XZ).graphPoints;
    EXPECT_EQ(ng[n1].lastColumn, 0);
    EXPECT_EQ(ng[n2].firstColumn, 1);
}

TEST(SectionGridTest, ColumnOnTheMidpointGoesLeftAndLoneMeasurementOwnsTheRow) {
    Builder b;
    const int left = b.DipoleX(0.0f, 1, 0);   // mid 2.00, depth 0.76
    const int right = b.DipoleX(0.02f, 1, 0); // mid 2.02
    const int lone = b.DipoleX(-1.99f, 2, 0); // mid 2.01, depth 1.52
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*b.s, false));
    const SlistPoint& s = img.plane(Plane::XZ).sections[0];
    EXPECT_EQ(s.rowCount, 2);
    EXPECT_EQ(s.columnCount, 3);
    const auto& gp = img.plane(Plane::XZ).graphPoints;
    EXPECT_EQ(gp[left].firstColumn, 0);
    EXPECT_EQ(gp[left].lastColumn, 1); // column 2.01 is exactly on the midpoint
    EXPECT_EQ(gp[right].firstColumn, 2);
    EXPECT_EQ(gp[right].lastColumn, 2);
    EXPECT_EQ(gp[lone].row, 1);
    EXPECT_EQ(gp[lone].firstColumn, 0);
    EXPECT_EQ(gp[lone].lastColumn, 2);
}

TEST(SectionGridTest, EveryColumnOfEveryRowHasExactlyOneOwner) {
    auto s = synthetic::MakeLargeSequence();
    ASSERT_EQ(s->quadripoleCount, 16000);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*s, false));
    for (Plane p : kBuildOrder) {
        const PlaneGeometry& g = img.plane(p);
        for (size_t sec = 0; sec < g.sections.size(); ++sec) {
            const SlistPoint& sl = g.sections[sec];
            std::vector<int> owners(static_cast<size_t>(sl.rowCount) * sl.columnCount, 0);
            std::vector<int> ownersAtPosition; // quadripoles sharing a position share cells
            for (int32_t q : g.members[sec]) {
                const GraphPoint& gp = g.graphPoints[q];
                ASSERT_LE(gp.firstColumn, gp.lastColumn);
                for (int c = gp.firstColumn; c <= gp.lastColumn; ++c)
                    owners[gp.row * sl.columnCount + c] = 1;
            }
            for (int o : owners)
                ASSERT_EQ(o, 1) << PlaneCaption(p) << " section " << sec;
        }
    }
}

TEST(PlotSectionDataTest, SingleRowSectionIsDrawnAsTwoIdenticalRows) {
    Builder b;
    b.DipoleX(0, 1, 0);
    b.DipoleX(1, 1, 0);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*b.s, false));
    float lo = 9e30f, hi = -9e30f;
    auto out = img.PlotSectionData(nullptr, 0, 0, false, Plane::XZ, 0, lo, hi);
    EXPECT_TRUE(out.redrawn);
    const SectionGrid& g = img.grid();
    ASSERT_EQ(g.rows, 2);
    ASSERT_EQ(g.columns, 2);
    EXPECT_EQ(g.annotations.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(g.z[g.Index(0, c)], kNotMeasuredValue);
        EXPECT_EQ(g.x[g.Index(1, c)], g.x[g.Index(0, c)]);
        EXPECT_FLOAT_EQ(g.y[g.Index(1, c)], -0.76f);
    }
    const MeasureRecord r[2] = {Rho(50), Rho(70)};
    out = img.PlotSectionData(r, 0, 2, false, Plane::XZ, 0, lo, hi);
    EXPECT_FALSE(out.redrawn); // same section: only the new cells change
    EXPECT_TRUE(out.valuesChanged);
    EXPECT_EQ(g.z[g.Index(1, 1)], 70.0f);
    EXPECT_EQ(lo, 50.0f);
    EXPECT_EQ(hi, 70.0f);
}

TEST(PlotSectionDataTest, MissingValuesAreMarkedAndLeaveTheRangeAlone) {
    Builder b;
    b.DipoleX(0, 1, 0);
    b.DipoleX(1, 1, 0);
    b.DipoleX(2, 1, 0);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*b.s, false));
    float lo = 9e30f, hi = -9e30f;
    const MeasureRecord r[3] = {Rho(kNotMeasuredValue), Rho(12), Rho(NAN)};
    img.PlotSectionData(r, 0, 3, false, Plane::XZ, 0, lo, hi);
    EXPECT_EQ(img.sectionValues()[0], kNoValueValue);
    EXPECT_EQ(img.sectionValues()[2], kNoValueValue);
    EXPECT_EQ(img.grid().z[0], kNoValueValue);
    EXPECT_EQ(lo, 12.0f);
    EXPECT_EQ(hi, 12.0f);
}

TEST(PlotSectionDataTest, SwitchingSectionRedrawsWithStoredValuesAndBadIndicesAreSkipped) {
    synthetic::Layout l;
    l.lines = 2;
    l.electrodes = 20;
    l.channels = 3;
    auto s = synthetic::MakeDipoleDipole(l);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*s, false));
    const int count = s->quadripoleCount;
    auto records = synthetic::MakeRecords(*s, 0, count);
    float lo = 9e30f, hi = -9e30f;
    img.PlotSectionData(records.data(), 0, count, false, Plane::XZ, 0, lo, hi);
    // Records past the end of the sequence are ignored, not written.
    img.PlotSectionData(records.data(), count - 2, 5, false, Plane::XZ, 0, lo, hi);
    img.PlotSectionData(records.data(), -3, 2, false, Plane::XZ, 0, lo, hi);

    const int second = SectionIndex(img, Plane::XZ, 500);
    ASSERT_EQ(second, 1);
    auto out = img.PlotSectionData(nullptr, 0, 0, false, Plane::XZ, second, lo, hi);
    EXPECT_TRUE(out.redrawn);
    EXPECT_EQ(img.shownSection(), second);
    const SectionGrid& g = img.grid();
    for (float z : g.z)
        EXPECT_GT(z, 0.0f); // every cell of the second line carries its value
    for (float y : g.y)
        EXPECT_LT(y, 0.0f);
    // No selected section: values are still kept, nothing is drawn.
    out = img.PlotSectionData(records.data(), 0, 1, false, Plane::XZ, -1, lo, hi);
    EXPECT_FALSE(out.redrawn || out.valuesChanged);
}

TEST(PlotSectionDataTest, GapFillerShownOnlyAfterTheBuildDoesNotOverwriteAnotherCell) {
    Builder b;
    b.DipoleX(0, 1, 0);
    b.DipoleX(0.5f, 1, 0, -1);
    SectionGeometry img;
    ASSERT_TRUE(img.BuildSectionGeometry(*b.s, false));
    float lo = 9e30f, hi = -9e30f;
    const MeasureRecord r[2] = {Rho(10), Rho(99)};
    img.PlotSectionData(r, 0, 2, true, Plane::XZ, 0, lo, hi);
    for (float z : img.grid().z)
        EXPECT_EQ(z, 10.0f);
    EXPECT_EQ(img.sectionValues()[1], 99.0f);
}
