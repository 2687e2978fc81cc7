// The live quality checks on hand-built batches: each flag, the spatial and
// reciprocal checks as values arrive out of order, values measured again,
// and which electrode is blamed for a run of bad readings.
#include "quality/QualityControl.h"

#include "SyntheticSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <sstream>

namespace {

std::unique_ptr<Sequence> Line(int electrodes = 48) {
    synthetic::Layout layout;
    layout.electrodes = electrodes;
    layout.channels = 6;
    return synthetic::MakeDipoleDipole(layout);
}

// Smooth, plausible records with every field in range: resistivity rising
// gently along the line and with depth.
std::vector<MeasureRecord> Good(const Sequence& s, int first, int count) {
    auto records = synthetic::MakeRecords(s, first, count);
    for (int k = 0; k < count; ++k) {
        MeasureRecord& r = records[size_t(k)];
        float c[12];
        s.QuadripoleCoordinates(first + k, c);
        r.rho = 80.0f + 1.5f * Sequence::MidPoint(c, 0) + 12.0f * Sequence::PseudoDepth(c);
        r.q = 0.4f;
        r.current = 120.0f;
        r.vp = 35.0f;
    }
    return records;
}

void FeedAll(QualityControl& qc, const Sequence& s, std::vector<MeasureRecord>& records,
             int batch = 6) {
    for (int first = 0; first < int(records.size()); first += batch) {
        const int count = std::min(batch, int(records.size()) - first);
        qc.AddRecords(records.data() + first, first, count);
    }
    (void)s;
}

bool Involves(const Sequence& s, int index, int node) {
    const QuadripoleRecord& q = s.quadripoles[index];
    return q.a == node || q.b == node || q.m == node || q.n == node;
}

} // namespace

TEST(QualityControl, SmoothDataRaisesNoFlagAndNoSuspect) {
    auto s = Line();
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, s->quadripoleCount);
    FeedAll(qc, *s, records);
    EXPECT_EQ(qc.measuredCount(), s->quadripoleCount);
    EXPECT_EQ(qc.flaggedCount(), 0);
    EXPECT_TRUE(qc.SuspectElectrodes().empty());
    EXPECT_EQ(qc.SummaryLine(), "QC: 0 flagged");
    // Every measurement far enough into the line has been judged spatially.
    int judged = 0;
    for (int i = 0; i < qc.quadripoleCount(); ++i)
        judged += qc.quality(i).outlierScore >= 0 ? 1 : 0;
    EXPECT_EQ(judged, qc.quadripoleCount());
}

TEST(QualityControl, EachRecordCheckFlagsAtItsLimitAndNotBefore) {
    auto s = Line();
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, 8);
    records[0].rho = -3.0f;
    records[1].rho = 0.0f;
    records[2].q = 5.0f; // at the limit: kept
    records[3].q = 5.5f;
    records[4].current = 0.6f;
    records[5].current = -150.0f; // polarity alone is no fault
    records[6].vp = -0.05f;
    records[7].vp = std::nanf("");
    qc.AddRecords(records.data(), 0, 8);
    EXPECT_EQ(qc.flags(0), kFlagNonPositiveRho);
    EXPECT_EQ(qc.flags(1), kFlagNonPositiveRho);
    EXPECT_EQ(qc.flags(2), 0);
    EXPECT_EQ(qc.flags(3), kFlagHighQ);
    EXPECT_EQ(qc.flags(4), kFlagLowCurrent);
    EXPECT_EQ(qc.flags(5), 0);
    EXPECT_EQ(qc.flags(6), kFlagLowPotential);
    EXPECT_EQ(qc.flags(7), kFlagLowPotential);
    EXPECT_EQ(qc.KindCount(0), 2);
    EXPECT_EQ(qc.flaggedCount(), 6);
    EXPECT_EQ(QualityReasons(kFlagHighQ | kFlagLowCurrent), "high q; low current");

    // Records that carry rho alone are judged on rho alone.
    QualityControl rhoOnly;
    rhoOnly.Build(*s, {}, true);
    auto bare = synthetic::MakeRecords(*s, 0, 4);
    bare[3].rho = -1.0f;
    rhoOnly.AddRecords(bare.data(), 0, 4);
    EXPECT_EQ(rhoOnly.flaggedCount(), 1);
    EXPECT_EQ(rhoOnly.flags(3), kFlagNonPositiveRho);
}

TEST(QualityControl, SlotsWithoutValueGapFillersAndStrayIndicesAreNotJudged) {
    auto s = Line();
    s->quadripoles[2].gapFiller = -1;
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, 6);
    records[0].rho = -9e30f; // the slot received nothing
    records[1].rho = std::numeric_limits<float>::infinity();
    records[2].q = 50.0f;
    records[3].recordFlags = kRecordFlagGapFiller;
    records[3].q = 50.0f;
    qc.AddRecords(records.data(), 0, 6);
    EXPECT_EQ(qc.measuredCount(), 2);
    EXPECT_EQ(qc.flaggedCount(), 0);
    auto good = Good(*s, 0, 6);
    qc.AddRecords(good.data(), s->quadripoleCount - 2, 6); // runs past the end
    EXPECT_EQ(qc.measuredCount(), 4);
    qc.AddRecords(good.data(), -3, 4); // starts before the sequence
    EXPECT_EQ(qc.measuredCount(), 5);
    EXPECT_TRUE(qc.quality(0).measured);
}

TEST(QualityControl, SpatialOutlierIsJudgedOnceEnoughNeighboursAreIn) {
    auto s = Line();
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, s->quadripoleCount);
    const int odd = 40;
    records[size_t(odd)].rho *= 6.0f;
    // The odd value first, alone: nothing to compare it with.
    qc.AddRecords(&records[size_t(odd)], odd, 1);
    EXPECT_EQ(qc.flags(odd), 0);
    EXPECT_LT(qc.quality(odd).outlierScore, 0);
    // Its neighbours arrive later; it is judged again as they come.
    const auto& near = qc.Neighbours(odd);
    ASSERT_EQ(int(near.size()), kQualityNeighbours);
    for (int k = 0; k < kQualityMinNeighbours - 1; ++k)
        qc.AddRecords(&records[size_t(near[size_t(k)])], near[size_t(k)], 1);
    EXPECT_EQ(qc.flags(odd), 0);
    qc.AddRecords(&records[size_t(near[kQualityMinNeighbours - 1])],
                  near[kQualityMinNeighbours - 1], 1);
    EXPECT_EQ(qc.flags(odd), kFlagSpatialOutlier);
    FeedAll(qc, *s, records);
    EXPECT_EQ(qc.flags(odd), kFlagSpatialOutlier);
    EXPECT_EQ(qc.flaggedCount(), 1) << "the outlier's neighbours stay clean";
    // Measured again with a sound value, it is cleared.
    records[size_t(odd)].rho /= 6.0f;
    qc.AddRecords(&records[size_t(odd)], odd, 1);
    EXPECT_EQ(qc.flaggedCount(), 0);
    EXPECT_EQ(qc.KindCount(4), 0);
}

TEST(QualityControl, NeighboursAreTheNearestReportPointsOfTheSameSection) {
    synthetic::Layout layout;
    layout.lines = 2;
    layout.electrodes = 24;
    layout.channels = 4;
    auto s = synthetic::MakeDipoleDipole(layout);
    QualityControl qc;
    qc.Build(*s, {}, false);
    for (int i = 0; i < s->quadripoleCount; ++i) {
        float c[12];
        s->QuadripoleCoordinates(i, c);
        const float y = Sequence::MidPoint(c, 4);
        for (int32_t other : qc.Neighbours(i)) {
            float o[12];
            s->QuadripoleCoordinates(other, o);
            ASSERT_EQ(Sequence::MidPoint(o, 4), y) << "neighbour taken from another profile";
            ASSERT_NE(other, i);
        }
    }
}

TEST(QualityControl, ReciprocalsArePairedInEitherElectrodeOrderAndFlaggedTogether) {
    auto s = Line(24);
    const int normal = s->quadripoleCount;
    // Reciprocals of the first four, the last two with swapped electrodes.
    for (int k = 0; k < 4; ++k) {
        const QuadripoleRecord q = s->quadripoles[k];
        s->quadripoles[normal + k] = k < 2 ? QuadripoleRecord{q.m, q.n, q.a, q.b, 0}
                                           : QuadripoleRecord{q.n, q.m, q.b, q.a, 0};
    }
    s->quadripoleCount = normal + 4;
    QualityControl qc;
    qc.Build(*s, {}, false);
    EXPECT_EQ(qc.reciprocalPairs(), 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(qc.ReciprocalOf(k), normal + k);
        EXPECT_EQ(qc.ReciprocalOf(normal + k), k);
    }
    EXPECT_EQ(qc.ReciprocalOf(5), -1);

    auto records = Good(*s, 0, normal);
    qc.AddRecords(records.data(), 0, normal);
    std::vector<MeasureRecord> rec(records.begin(), records.begin() + 4);
    rec[0].rho *= 1.04f; // within 5 %
    rec[1].rho *= 1.10f;
    rec[2].rho *= 0.90f;
    // Only three of the four reciprocals arrive.
    qc.AddRecords(rec.data(), normal, 3);
    EXPECT_NEAR(qc.quality(0).reciprocalError, 0.04f / 1.02f, 1e-4);
    EXPECT_EQ(qc.flags(0) & kFlagReciprocal, 0);
    EXPECT_NE(qc.flags(1) & kFlagReciprocal, 0);
    EXPECT_NE(qc.flags(normal + 1) & kFlagReciprocal, 0) << "both members are shown";
    EXPECT_NE(qc.flags(2) & kFlagReciprocal, 0);
    EXPECT_LT(qc.quality(3).reciprocalError, 0) << "its reciprocal is not in yet";
    EXPECT_EQ(qc.KindCount(5), 4);
}

TEST(QualityControl, ElectrodeInEveryBadReadingIsSuspectButNotItsPartners) {
    auto s = Line(48);
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, s->quadripoleCount);
    const int bad = 17;
    int touching = 0;
    for (int i = 0; i < s->quadripoleCount; ++i) {
        if (Involves(*s, i, bad)) {
            records[size_t(i)].q = 18.0f;
            ++touching;
        }
    }
    // A few unrelated bad readings elsewhere in the line.
    for (int i : {3, 150, 240}) {
        if (!Involves(*s, i, bad))
            records[size_t(i)].q = 9.0f;
    }
    // Suspicion comes with the first measurements, long before the end.
    const int half = s->quadripoleCount / 2;
    std::vector<MeasureRecord> firstHalf(records.begin(), records.begin() + half);
    FeedAll(qc, *s, firstHalf);
    EXPECT_EQ(qc.SuspectElectrodes(), std::vector<int32_t>{bad});
    FeedAll(qc, *s, records);
    ASSERT_EQ(qc.SuspectElectrodes(), std::vector<int32_t>{bad});
    EXPECT_EQ(qc.SummaryLine(),
              "QC: " + std::to_string(qc.flaggedCount()) + " flagged, electrode 17 suspect");
    for (const ElectrodeQuality& e : qc.Electrodes()) {
        if (e.node == bad) {
            EXPECT_EQ(e.measurements, touching);
            EXPECT_EQ(e.flagged, touching);
            EXPECT_TRUE(e.suspect);
        } else {
            EXPECT_FALSE(e.suspect) << "electrode " << e.node;
        }
    }
    // Two bad electrodes are both named, in ascending order in the line.
    for (int i = 0; i < s->quadripoleCount; ++i) {
        if (Involves(*s, i, 40))
            records[size_t(i)].current = 0.2f;
    }
    FeedAll(qc, *s, records);
    std::set<int32_t> suspects;
    for (int32_t n : qc.SuspectElectrodes())
        suspects.insert(n);
    EXPECT_EQ(suspects, (std::set<int32_t>{17, 40}));
    EXPECT_NE(qc.SummaryLine().find("electrodes 17, 40 suspect"), std::string::npos);
}

TEST(QualityControl, ScatteredBadReadingsBlameNoElectrode) {
    auto s = Line(48);
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, s->quadripoleCount);
    for (int i = 0; i < s->quadripoleCount; i += 23)
        records[size_t(i)].q = 7.0f;
    FeedAll(qc, *s, records);
    EXPECT_GT(qc.flaggedCount(), 5);
    EXPECT_TRUE(qc.SuspectElectrodes().empty());
}

TEST(QualityControl, WorstListAndSidecarNameEveryFlaggedMeasurement) {
    auto s = Line();
    QualityControl qc;
    qc.Build(*s, {}, false);
    auto records = Good(*s, 0, 10);
    records[2].q = 6.0f;
    records[7].rho = -12.5f;
    records[9].q = 40.0f;
    qc.AddRecords(records.data(), 0, 10);
    EXPECT_EQ(qc.WorstMeasurements(10), (std::vector<int>{7, 9, 2}));
    EXPECT_EQ(qc.WorstMeasurements(1), std::vector<int>{7});

    std::istringstream csv(qc.SidecarCsv());
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "position,a,b,m,n,rhoa,q,current_mA,vp_mV,reciprocal,reciprocal_error,reasons");
    std::vector<std::string> lines;
    while (std::getline(csv, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const QuadripoleRecord& q = s->quadripoles[7];
    EXPECT_EQ(lines[1], "8," + std::to_string(q.a) + "," + std::to_string(q.b) + "," +
                            std::to_string(q.m) + "," + std::to_string(q.n) +
                            ",-12.5,0.4,120,35,,,non-positive rho");
    for (const std::string& l : lines)
        EXPECT_EQ(std::count(l.begin(), l.end(), ','), 11) << l;
}
