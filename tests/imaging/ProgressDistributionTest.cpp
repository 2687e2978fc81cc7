#include "SyntheticSequence.h"
#include "imaging/DistributionModel.h"
#include "imaging/ProgressModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

std::vector<MeasureRecord> Values(std::initializer_list<float> rho) {
    std::vector<MeasureRecord> r(rho.size());
    size_t k = 0;
    for (float v : rho) {
        std::memset(&r[k], 0, sizeof(MeasureRecord));
        r[k++].rho = v;
    }
    return r;
}

int Count(const std::vector<ProgressPoint>& pts, ProgressState s) {
    int n = 0;
    for (const ProgressPoint& p : pts)
        n += !p.IsNull() && p.state == s;
    return n;
}

} // namespace

TEST(ProgressModelTest, PolePoleShowsNoRemoteElectrodeAndWidensTheZRange) {
    auto s = synthetic::MakePolePole(10);
    ProgressModel m;
    m.SetupProgressView(*s, 0, 12, false);
    const auto& e = m.electrodePoints();
    EXPECT_TRUE(e[0].IsNull());  // node 0, the electrode at infinity
    EXPECT_TRUE(e[11].IsNull()); // remote electrodes with numbers of their own
    EXPECT_TRUE(e[12].IsNull());
    EXPECT_EQ(Count(e, ProgressState::ElectrodeIdle), 10);
    EXPECT_FLOAT_EQ(e[3].x, 2.0f); // x with its true sign
    // Every report point at y = 0: the z range is widened to 1.
    EXPECT_EQ(m.manualMinZ(), 0);
    EXPECT_EQ(m.manualMaxZ(), 1);
    EXPECT_EQ(Count(m.quadripolePoints(), ProgressState::QuadNotMeasured), s->quadripoleCount);
}

TEST(ProgressModelTest, BlocksMoveThroughTheirStates) {
    synthetic::Layout l;
    l.electrodes = 30;
    l.channels = 4;
    auto s = synthetic::MakeDipoleDipole(l);
    s->quadripoles[5].gapFiller = -1;
    ProgressModel m;
    m.SetupProgressView(*s, 1, 30, false);
    const auto& q = m.quadripolePoints();
    const auto& e = m.electrodePoints();

    m.MarkCurrentQuadripoles(4, 0, false);
    EXPECT_EQ(Count(q, ProgressState::QuadMeasuring), 4);
    EXPECT_EQ(Count(e, ProgressState::ElectrodeCurrent), 2);
    EXPECT_EQ(Count(e, ProgressState::ElectrodePotential), 5); // chained dipoles share electrodes
    EXPECT_EQ(e[s->quadripoles[0].a].state, ProgressState::ElectrodeCurrent);

    m.MarkCurrentQuadripoles(4, 4, false);
    EXPECT_EQ(Count(q, ProgressState::QuadMeasured), 4);
    EXPECT_EQ(Count(q, ProgressState::QuadMeasuring), 3);
    EXPECT_EQ(q[5].state, ProgressState::QuadMeasuringGapFiller);
    EXPECT_EQ(ProgressPointType(q[5].state), 3);
    EXPECT_EQ(Count(e, ProgressState::ElectrodeCurrent), 2);

    m.ClearCurrentQuadripoles(false);
    EXPECT_EQ(Count(q, ProgressState::QuadMeasured), 8);
    EXPECT_EQ(Count(e, ProgressState::ElectrodeIdle), 30);

    // A block past the end highlights nothing and breaks nothing.
    m.MarkCurrentQuadripoles(20, s->quadripoleCount - 2, false);
    m.MarkCurrentQuadripoles(3, 100000, false);
    EXPECT_EQ(Count(q, ProgressState::QuadMeasuring), 0);
}

TEST(ProgressModelTest, OnlyBlockAtIndexZeroIsClearedAndMovingArrayChangesNothing) {
    synthetic::Layout l;
    l.electrodes = 20;
    l.channels = 2;
    auto s = synthetic::MakeDipoleDipole(l);
    ProgressModel m;
    m.SetupProgressView(*s, 1, 20, false);
    m.MarkCurrentQuadripoles(2, 0, false);
    m.ClearCurrentQuadripoles(false);
    EXPECT_EQ(Count(m.quadripolePoints(), ProgressState::QuadMeasured), 2);

    const uint64_t before = m.revision();
    m.MarkCurrentQuadripoles(2, 2, true);
    EXPECT_EQ(m.revision(), before);
    EXPECT_EQ(Count(m.quadripolePoints(), ProgressState::QuadMeasuring), 0);
}

TEST(DistributionModelTest, AxesSpanWholeDecades) {
    synthetic::Layout l;
    l.electrodes = 20;
    l.channels = 2;
    auto s = synthetic::MakeDipoleDipole(l);
    DistributionModel m;
    m.ResetDistributionChart();
    // The final call of a replay with no points keeps the reset axes.
    m.AddDistributionPoints(*s, nullptr, 0, false, 0);
    EXPECT_EQ(m.topAxis().min, 0.001);
    EXPECT_EQ(m.topAxis().max, 1000000);

    const auto r = Values({3.2f, 870.0f, 55.0f});
    m.AddDistributionPoints(*s, r.data(), 0, false, 3);
    EXPECT_NEAR(m.topAxis().min, 0.9991, 1e-9);
    EXPECT_NEAR(m.topAxis().max, 1000.01, 1e-9);
    const auto& p = m.points();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[2].label, 2);
    EXPECT_FLOAT_EQ(p[0].y, 0.57f);

    // Resistivities of 10 000 000 ohm.m and more still get a valid axis.
    const auto big = Values({2.5e7f});
    m.AddDistributionPoints(*s, big.data(), 3, false, 1);
    EXPECT_LT(m.topAxis().min, m.topAxis().max);
    EXPECT_NEAR(m.topAxis().max, 1e8 + 0.01, 1e-3);
}

TEST(DistributionModelTest, MissingValuesGoSilverAndGapFillersFollowTheSetting) {
    synthetic::Layout l;
    l.electrodes = 20;
    l.channels = 2;
    auto s = synthetic::MakeDipoleDipole(l);
    s->quadripoles[1].gapFiller = -1;
    DistributionModel m;
    m.ResetDistributionChart();
    const auto r = Values({0.0f, 12.0f, -9e30f, NAN});
    m.AddDistributionPoints(*s, r.data(), 0, false, 4);
    const auto& p = m.points();
    ASSERT_EQ(p.size(), 3u);
    for (const DistributionPoint& d : p) {
        EXPECT_TRUE(d.silver);
        EXPECT_EQ(d.x, kDistributionMinimum);
    }
    EXPECT_NEAR(m.topAxis().min, 0.0009, 1e-12);
    m.AddDistributionPoints(*s, r.data(), 0, true, 2);
    EXPECT_EQ(m.points().size(), 5u);
    // One report point only: the left axis still has a height.
    EXPECT_LT(m.leftAxis().min, m.leftAxis().max);

    EXPECT_FALSE(m.ColorRangeBox({20, 20}).has_value());
    const auto box = m.ColorRangeBox({10, 200});
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->top, m.leftAxis().min);
    EXPECT_EQ(box->bottom, m.leftAxis().max);
}
