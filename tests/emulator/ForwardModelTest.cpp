// The earth model and the survey layout, tested as library functions.
#include "ForwardModel.h"
#include "EmuOptions.h"
#include "InstrumentModel.h"
#include "Survey.h"

#include <QString>
#include <cstring>
#include <gtest/gtest.h>

using namespace varmexemu;

namespace {

EarthPoint at(const EmuSurvey& s, int node) {
    const EmuNode& n = s.nodes.at(size_t(node));
    return earthPoint(n.x, n.y);
}

EmuSurvey layout(ArrayType array, int electrodes = 24, int lines = 1, int channels = 10) {
    EmuOptions o;
    o.array = array;
    o.electrodes = electrodes;
    o.lines = lines;
    o.channels = channels;
    o.levels = 6;
    EmuSurvey s;
    QString error;
    EXPECT_TRUE(EmuSurvey::build(o, s, error)) << error.toStdString();
    return s;
}

const ArrayType kArrays[] = {ArrayType::Wenner, ArrayType::Schlumberger, ArrayType::DipoleDipole,
                             ArrayType::PoleDipole};

} // namespace

TEST(ForwardModel, HomogeneousEarthGivesRho1ForEveryArrayType) {
    for (ArrayType array : kArrays) {
        const EmuSurvey s = layout(array);
        for (double thickness : {0.0, 3.0, 40.0}) {
            const TwoLayerEarth earth{137.5, 137.5, thickness};
            for (const EmuQuad& q : s.quads) {
                const double rho =
                    apparentResistivity(earth, at(s, q.a), at(s, q.b), at(s, q.m), at(s, q.n));
                ASSERT_NEAR(rho, 137.5, 1e-6) << arrayName(array) << " quadripole " << q.a << ","
                                              << q.b << "," << q.m << "," << q.n;
            }
        }
    }
}

TEST(ForwardModel, TwoLayerEarthTendsToEachLayer) {
    // Wenner a: small against h reads the upper layer, large the lower one.
    const TwoLayerEarth earth{50.0, 800.0, 10.0};
    auto wenner = [&](double a) {
        return apparentResistivity(earth, earthPoint(0, 0), earthPoint(3 * a, 0), earthPoint(a, 0),
                                   earthPoint(2 * a, 0));
    };
    EXPECT_NEAR(wenner(0.1), 50.0, 0.5);
    EXPECT_NEAR(wenner(2000.0), 800.0, 800.0 * 0.02);
    double previous = 0.0;
    for (double a : {1.0, 5.0, 20.0, 80.0, 300.0}) {
        const double rho = wenner(a);
        EXPECT_GT(rho, previous) << a;
        previous = rho;
    }
    // No upper layer at all: the half-space below.
    const TwoLayerEarth bare{50.0, 800.0, 0.0};
    EXPECT_NEAR(apparentResistivity(bare, earthPoint(0, 0), earthPoint(30, 0), earthPoint(10, 0),
                                    earthPoint(20, 0)),
                800.0, 1e-6);
}

TEST(ForwardModel, ReciprocityAndRemoteElectrodes) {
    // Exchanging the current and potential pairs changes nothing.
    const TwoLayerEarth earth{200.0, 20.0, 7.0};
    const EarthPoint a = earthPoint(0, 0), b = earthPoint(5, 0), m = earthPoint(15, 0),
                     n = earthPoint(20, 0);
    const double direct = apparentResistivity(earth, a, b, m, n);
    EXPECT_NEAR(apparentResistivity(earth, m, n, a, b), direct, 1e-9 * direct);
    EXPECT_LT(direct, 200.0);

    // A remote B drops its terms: K = 2 pi / (1/AM - 1/AN).
    const EarthPoint remote = earthPoint(99999.99, 99999.99);
    EXPECT_TRUE(remote.atInfinity);
    EXPECT_NEAR(geometricFactor(a, remote, m, n), 2 * 3.141592653589793 / (1.0 / 15 - 1.0 / 20),
                1e-9);
    // Coincident electrodes have no finite answer.
    EXPECT_EQ(geometricFactor(a, b, a, n), 0.0);
}

TEST(Survey, BatchesShareCurrentPairAndChainPotentialElectrodes) {
    for (ArrayType array : kArrays) {
        const EmuSurvey s = layout(array, 24, 1, 4);
        ASSERT_FALSE(s.batches.empty());
        int expected = 0;
        for (const EmuBatch& b : s.batches) {
            ASSERT_EQ(b.first, expected) << arrayName(array);
            ASSERT_GE(b.count, 1);
            ASSERT_LE(b.count, 4);
            for (int k = 1; k < b.count; ++k) {
                const EmuQuad& prev = s.quads[size_t(b.first + k - 1)];
                const EmuQuad& q = s.quads[size_t(b.first + k)];
                EXPECT_EQ(q.a, prev.a);
                EXPECT_EQ(q.b, prev.b);
                EXPECT_EQ(q.m, prev.n) << arrayName(array) << " batch at " << b.first;
            }
            expected += b.count;
        }
        EXPECT_EQ(expected, s.quadripoleCount());
        for (const EmuQuad& q : s.quads) {
            EXPECT_EQ(q.b == 0, array == ArrayType::PoleDipole);
            for (int node : {q.a, q.m, q.n})
                EXPECT_TRUE(node >= 1 && node <= s.lastNode);
            // Positive geometric factor: the reading has the sign of the earth.
            EXPECT_GT(geometricFactor(at(s, q.a), at(s, q.b), at(s, q.m), at(s, q.n)), 0.0);
        }
    }
}

TEST(Survey, SeveralLinesAddCrossLineProfilesAndGapFillers) {
    EmuOptions o;
    o.electrodes = 10;
    o.lines = 5;
    o.gapFillers = 0.25;
    EmuSurvey s;
    QString error;
    ASSERT_TRUE(EmuSurvey::build(o, s, error));
    bool alongX = false, alongY = false;
    int gaps = 0;
    for (const EmuQuad& q : s.quads) {
        const EmuNode &a = s.nodes[size_t(q.a)], &n = s.nodes[size_t(q.n)];
        alongX |= a.y == n.y && a.x != n.x;
        alongY |= a.x == n.x && a.y != n.y;
        gaps += q.gapFiller ? 1 : 0;
    }
    EXPECT_TRUE(alongX);
    EXPECT_TRUE(alongY);
    EXPECT_GT(gaps, s.quadripoleCount() / 8);
    EXPECT_LT(gaps, s.quadripoleCount() / 2);

    o.electrodes = 2000;
    o.lines = 1;
    EXPECT_FALSE(EmuSurvey::build(o, s, error)); // more than the 16000 quadripoles
}

TEST(Survey, SkipsSplitBatches) {
    const std::vector<EmuBatch> plan{{0, 4}, {4, 4}, {8, 2}};
    const std::vector<EmuBatch> out = applySkips(plan, {{5, 2}, {8, 2}});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].first, 0);
    EXPECT_EQ(out[0].count, 4);
    EXPECT_EQ(out[1].first, 4);
    EXPECT_EQ(out[1].count, 1);
    EXPECT_EQ(out[2].first, 7);
    EXPECT_EQ(out[2].count, 1);
}

TEST(InstrumentModel, ReadingsAreConsistentAndBatteriesRunDown) {
    EmuOptions o;
    o.electrodes = 16;
    o.noise = 0.0;
    o.outliers = 0.0;
    EmuSurvey s;
    QString error;
    ASSERT_TRUE(EmuSurvey::build(o, s, error));
    InstrumentModel model(o, s);
    model.beginAcquisition(1);
    const float tx0 = model.txBattery();
    for (const EmuBatch& b : s.batches)
        for (const EmuMeasurement& m : model.inject(b)) {
            const EarthPoint p[4] = {earthPoint(m.x[0], m.y[0]), earthPoint(m.x[1], m.y[1]),
                                     earthPoint(m.x[2], m.y[2]), earthPoint(m.x[3], m.y[3])};
            const double k = geometricFactor(p[0], p[1], p[2], p[3]);
            EXPECT_NEAR(k * m.vp / m.current, m.rho, 1e-4 * m.rho);
            EXPECT_NEAR(m.rho, model.modelRho(m.x, m.y), 1e-4 * m.rho);
            // Layered-earth readings stay near the range of the two layers
            // (a dipole-dipole dips a little below the upper one).
            EXPECT_GT(m.rho, o.rho1 * 0.9);
            EXPECT_LT(m.rho, o.rho2 * 1.1);
        }
    EXPECT_LT(model.txBattery(), tx0);
    EXPECT_GT(model.txBattery(), 10.0f);
}

TEST(Survey, FirstNodeAndFirstQuadripoleShiftTheNumbers) {
    EmuOptions o;
    o.electrodes = 12;
    o.lines = 2;
    o.firstNode = 5;
    o.firstQuadripole = 100;
    EmuSurvey s;
    QString error;
    ASSERT_TRUE(EmuSurvey::build(o, s, error)) << error.toStdString();
    EXPECT_EQ(s.firstNode, 5);
    EXPECT_EQ(s.lastNode, 28);
    EXPECT_EQ(s.nodeCount, 24);
    for (int k = 1; k < 5; ++k)
        EXPECT_EQ(s.nodes[size_t(k)].number, 0) << k; // not planted
    EXPECT_EQ(s.nodes[5].number, 5);
    EXPECT_EQ(s.nodes[5].x, 0.0f);
    for (const EmuQuad& q : s.quads)
        for (int node : {q.a, q.b, q.m, q.n})
            EXPECT_TRUE(node >= 5 && node <= 28) << node;
    EXPECT_EQ(s.number(0), 100);
    EXPECT_EQ(s.number(s.quadripoleCount() - 1), 100 + s.quadripoleCount() - 1);

    // Skips name the numbers the records go out with.
    const std::vector<EmuBatch> out = applySkips({{0, 4}, {4, 4}}, {{105, 2}}, 100);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].first, 4);
    EXPECT_EQ(out[1].count, 1);
    EXPECT_EQ(out[2].first, 7);

    // The last number must stay within the instrument's int32.
    o.firstQuadripole = 2147483647 - s.quadripoleCount() + 1;
    EXPECT_TRUE(EmuSurvey::build(o, s, error));
    ++o.firstQuadripole;
    EXPECT_FALSE(EmuSurvey::build(o, s, error));
    EXPECT_TRUE(error.contains(QLatin1String("--first-quadripole")));
}

TEST(Survey, MovingArrayRunsPastTheLengthOfTheQuadripoleTable) {
    EmuOptions o;
    o.generation = Generation::Wifi;
    o.movingArray = true;
    o.channels = 10;
    o.positions = 1610;
    EmuSurvey s;
    QString error;
    ASSERT_TRUE(EmuSurvey::build(o, s, error)) << error.toStdString();
    EXPECT_EQ(s.recordCount(), 16100);
    EXPECT_EQ(s.batches.back().first, 16090);
    EXPECT_EQ(s.quad(16099).m, 3 + 9);
    InstrumentModel model(o, s);
    const std::vector<uint8_t>& p = model.parameters();
    auto i32 = [&](size_t at) {
        return int32_t(uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
                       uint32_t(p[at + 3]) << 24);
    };
    EXPECT_EQ(i32(256), 1);
    EXPECT_EQ(i32(260), 16100);
    EXPECT_NE(p[2246] & 0x30, 0);

    // A first-quadripole number of 0 in the block, records still from 0.
    o.firstQuadripole = -1;
    ASSERT_TRUE(EmuSurvey::build(o, s, error));
    InstrumentModel zero(o, s);
    EXPECT_EQ(s.number(0), 0);
    EXPECT_EQ(zero.parameters()[256], 0);
    EXPECT_EQ(zero.parameters()[257], 0);
}

TEST(InstrumentModel, WifiRecordsTakeEitherDecodingBranch) {
    EmuOptions o;
    o.generation = Generation::Wifi;
    o.channels = 4;
    o.electrodes = 12;
    EmuSurvey s;
    QString error;
    ASSERT_TRUE(EmuSurvey::build(o, s, error));
    for (bool alt : {false, true}) {
        o.altDecoding = alt;
        InstrumentModel model(o, s);
        model.beginAcquisition(1);
        const EmuMeasurement m = model.inject(s.batches.front()).front();
        EXPECT_EQ(m.altDecoding, alt);
        const std::vector<uint8_t> r = InstrumentModel::rawRecord(m, "X");
        auto f64 = [&](size_t at) {
            uint64_t u = 0;
            for (int i = 7; i >= 0; --i)
                u = u << 8 | r[at + size_t(i)];
            double d;
            std::memcpy(&d, &u, 8);
            return d;
        };
        const bool qFirst = (r[58] >> 6) == 1;
        const bool extras = ((r[528] >> 1) & 7) == 4;
        EXPECT_EQ(qFirst, !alt);
        EXPECT_EQ(extras, !alt);
        EXPECT_EQ(float(f64(qFirst ? 816 : 824)), m.q);
        EXPECT_NE(float(f64(qFirst ? 824 : 816)), m.q); // the other offset holds something else
        // The extra values are in the record either way; only the flag says
        // whether they mean anything.
        EXPECT_EQ(float(f64(536)), m.extra[0]);
        EXPECT_EQ(float(f64(544)), m.extra[1]);
        EXPECT_NE(m.extra[0], 0.0f);
    }
}
