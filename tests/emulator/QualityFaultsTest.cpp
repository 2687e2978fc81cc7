// The faults a live quality check looks for: electrodes with a bad contact
// and reciprocal quadripoles, as options, in the survey and the readings,
// and end to end through the program for both generations.
#include "EmuOptions.h"
#include "ForwardModel.h"
#include "InstrumentModel.h"
#include "MonitorClient.h"
#include "Survey.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>

using namespace varmexemu;

namespace {

constexpr int kWait = 8000;

const ArrayType kArrays[] = {ArrayType::Wenner, ArrayType::Schlumberger, ArrayType::DipoleDipole,
                             ArrayType::PoleDipole};

EmuParseResult parse(const QStringList& arguments, EmuOptions& o) {
    return parseEmuOptions(QStringList{"varmex-emulator"} + arguments, o);
}

EmuOptions surveyOptions(ArrayType array) {
    EmuOptions o;
    o.array = array;
    o.electrodes = 24;
    o.levels = 6;
    o.outliers = 0.0;
    o.seed = 17;
    return o;
}

EmuSurvey built(const EmuOptions& o) {
    EmuSurvey s;
    QString error;
    EXPECT_TRUE(EmuSurvey::build(o, s, error)) << error.toStdString();
    return s;
}

// Every reading of a whole acquisition, by index.
std::vector<EmuMeasurement> acquire(const EmuOptions& o, const EmuSurvey& s) {
    InstrumentModel model(o, s);
    model.beginAcquisition(1);
    std::vector<EmuMeasurement> out;
    for (const EmuBatch& b : s.batches)
        for (const EmuMeasurement& m : model.inject(b))
            out.push_back(m);
    std::sort(out.begin(), out.end(),
              [](const EmuMeasurement& a, const EmuMeasurement& b) { return a.index < b.index; });
    return out;
}

bool touches(const EmuQuad& q, int node) {
    return q.a == node || q.b == node || q.m == node || q.n == node;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

double rhoFromVp(const EmuMeasurement& m) {
    EarthPoint p[4];
    for (int e = 0; e < 4; ++e)
        p[e] = earthPoint(m.x[e], m.y[e]);
    return geometricFactor(p[0], p[1], p[2], p[3]) * m.vp / m.current;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

TEST(EmulatorQualityOptions, ParsedWithDefaultsAndBadValuesRefusedWithAMessage) {
    {
        // Doubled electrodes count once; a bare --reciprocals takes its
        // default, also before another option.
        EmuOptions o;
        ASSERT_TRUE(parse({"--bad-electrode", "7", "--bad-electrode", "3", "--bad-electrode", "7",
                           "--reciprocals", "--quiet"},
                          o)
                        .ok);
        EXPECT_EQ(o.badElectrodes, (std::vector<int>{3, 7}));
        EXPECT_EQ(o.reciprocalEvery, 1);
        EXPECT_TRUE(o.quiet);
    }
    for (const auto& [args, every] :
         std::vector<std::pair<QStringList, int>>{{{}, 0},
                                                  {{"--reciprocals"}, 1},
                                                  {{"--reciprocals", "4"}, 4},
                                                  {{"--reciprocals=3"}, 3}}) {
        EmuOptions o;
        ASSERT_TRUE(parse(args, o).ok) << args.join(' ').toStdString();
        EXPECT_EQ(o.reciprocalEvery, every);
    }
    // The remote electrode belongs to a pole array; a moving array's last
    // node is its tenth dipole's N.
    for (const QStringList& args :
         {QStringList{"--array", "pole-dipole", "--bad-electrode", "0"},
          QStringList{"--first-node", "11", "--bad-electrode", "58"},
          QStringList{"--generation", "wifi", "--moving-array", "--bad-electrode", "13"}}) {
        EmuOptions o;
        EXPECT_TRUE(parse(args, o).ok) << args.join(' ').toStdString();
    }
    const QList<QStringList> refused = {
        {"--bad-electrode", "x"},
        {"--bad-electrode", "-1"},
        {"--bad-electrode", "49"}, // 48 electrodes
        {"--bad-electrode", "0"},  // no remote electrode in a dipole array
        {"--first-node", "11", "--bad-electrode", "10"},
        {"--generation", "wifi", "--moving-array", "--bad-electrode", "14"},
        {"--reciprocals", "0"},
        {"--reciprocals", "-2"},
        {"--reciprocals", "abc"},
        {"--reciprocals", "16001"},
        {"--generation", "wifi", "--moving-array", "--reciprocals", "1"},
    };
    for (const QStringList& args : refused) {
        EmuOptions o;
        const EmuParseResult r = parse(args, o);
        EXPECT_FALSE(r.ok) << args.join(' ').toStdString();
        EXPECT_TRUE(r.error.contains(args[args.size() - 2])) << r.error.toStdString();
    }
    EmuOptions o;
    const QString help = parse({"--help"}, o).helpText;
    EXPECT_TRUE(help.contains("--bad-electrode") && help.contains("--reciprocals"));
}

TEST(EmulatorReciprocals, EveryChosenQuadripoleHasOneReciprocalAfterTheSequence) {
    for (ArrayType array : kArrays)
        for (int every : {1, 3}) {
            SCOPED_TRACE(std::string(arrayName(array)) + " every " + std::to_string(every));
            EmuOptions plain = surveyOptions(array);
            plain.gapFillers = 0.3;
            EmuOptions o = plain;
            o.reciprocalEvery = every;
            const EmuSurvey before = built(plain);
            const EmuSurvey s = built(o);
            const int normals = before.quadripoleCount();

            // The sequence, its gap fillers and the node set stay as they were.
            ASSERT_EQ(s.normalCount, normals);
            for (int j = 0; j < normals; ++j) {
                const EmuQuad &p = before.quads[size_t(j)], &q = s.quads[size_t(j)];
                ASSERT_TRUE(p.a == q.a && p.b == q.b && p.m == q.m && p.n == q.n &&
                            p.gapFiller == q.gapFiller)
                    << j;
            }
            EXPECT_EQ(s.nodeCount, before.nodeCount);

            ASSERT_EQ(s.quadripoleCount(), normals + (normals + every - 1) / every);
            std::vector<int> claimed(size_t(s.quadripoleCount()), 0);
            for (int j = 0; j < normals; ++j) {
                const int r = s.partner(j);
                if (j % every != 0) {
                    EXPECT_EQ(r, -1) << j;
                    continue;
                }
                ASSERT_GE(r, normals) << j;
                ++claimed[size_t(r)];
                EXPECT_EQ(s.partner(r), j);
                const EmuQuad &q = s.quads[size_t(j)], &rq = s.quads[size_t(r)];
                EXPECT_TRUE(rq.a == q.m && rq.b == q.n && rq.m == q.a && rq.n == q.b) << j;
                EXPECT_EQ(rq.gapFiller, q.gapFiller);
                // A pole array's reciprocal carries the remote electrode as N.
                if (array == ArrayType::PoleDipole) {
                    EXPECT_EQ(rq.n, 0);
                }
            }
            EXPECT_EQ(std::count(claimed.begin() + normals, claimed.end(), 1),
                      s.quadripoleCount() - normals);

            // Every position is read once, in injections of at most the
            // channel count whose readings share A and B.
            std::vector<int> reads(size_t(s.quadripoleCount()), 0);
            for (const EmuBatch& b : s.batches) {
                ASSERT_TRUE(b.count >= 1 && b.count <= o.channels);
                for (int i = b.first; i < b.first + b.count; ++i) {
                    ++reads[size_t(i)];
                    EXPECT_EQ(s.quads[size_t(i)].a, s.quads[size_t(b.first)].a);
                    EXPECT_EQ(s.quads[size_t(i)].b, s.quads[size_t(b.first)].b);
                }
            }
            EXPECT_EQ(std::count(reads.begin(), reads.end(), 1), s.quadripoleCount());
        }
}

TEST(EmulatorReciprocals, SequenceWithReciprocalsNeverExceedsTheInstrumentTable) {
    EmuOptions o = surveyOptions(ArrayType::DipoleDipole);
    o.electrodes = 400;
    o.levels = 10;
    const int normals = built(o).quadripoleCount();
    ASSERT_TRUE(normals <= kMaxQuadripoles && 2 * normals > kMaxQuadripoles);
    for (int every = 1; every <= 4; ++every) {
        o.reciprocalEvery = every;
        EmuSurvey s;
        QString error;
        const bool fits = normals + (normals + every - 1) / every <= kMaxQuadripoles;
        EXPECT_EQ(EmuSurvey::build(o, s, error), fits) << every;
        EXPECT_EQ(error.contains("16000"), !fits) << error.toStdString();
    }
    // The program refuses such an option set before it listens.
    emutest::EmulatorProcess emu;
    EXPECT_FALSE(emu.start({"--electrodes", "400", "--levels", "10", "--reciprocals", "--quiet"}));
    EXPECT_EQ(emu.waitForExit(kWait), 1);
    EXPECT_TRUE(emu.errorOutput().contains("16000"));
}

TEST(EmulatorReciprocals, TrueValuesAreReciprocalAndErrorsGrowWithABadContact) {
    for (ArrayType array : kArrays) {
        SCOPED_TRACE(arrayName(array));
        EmuOptions o = surveyOptions(array);
        o.reciprocalEvery = 1;
        o.badElectrodes = {10};
        const EmuSurvey s = built(o);
        const std::vector<EmuMeasurement> readings = acquire(o, s);
        ASSERT_EQ(int(readings.size()), s.quadripoleCount());
        std::vector<double> sound, bad;
        for (const EmuMeasurement& m : readings) {
            if (m.reciprocal)
                continue;
            const EmuMeasurement& r = readings.at(size_t(m.partnerIndex));
            EXPECT_TRUE(r.reciprocal);
            EXPECT_EQ(r.partnerIndex, m.index);
            EXPECT_NEAR(r.trueRho, m.trueRho, 1e-9 * m.trueRho) << m.index;
            EXPECT_NEAR(rhoFromVp(r), r.rho, 1e-4 * r.rho);
            EXPECT_EQ(r.badContact, m.badContact); // the same four electrodes
            (m.badContact ? bad : sound).push_back(std::fabs(r.rho - m.rho) / m.trueRho);
        }
        // 2 % noise on each reading: a few per cent apart, never equal.
        EXPECT_GT(median(sound), 0.005);
        EXPECT_LT(median(sound), 0.06);
        EXPECT_LT(*std::max_element(sound.begin(), sound.end()), 0.25);
        EXPECT_EQ(std::count(sound.begin(), sound.end(), 0.0), 0);
        ASSERT_GT(bad.size(), 2u);
        EXPECT_GT(median(bad), 5.0 * median(sound));
    }
}

TEST(EmulatorBadElectrode, TouchedReadingsAreSpoiledAndAllOthersUnchanged) {
    struct Case {
        ArrayType array;
        Generation generation;
        bool moving;
        int bad;
        bool injects; // the bad electrode is ever A or B
    };
    // A moving array's node 2 is B of every reading, node 6 only ever M or
    // N; node 0 is B of every normal pole-dipole reading.
    for (const Case& k : {Case{ArrayType::Wenner, Generation::Wired, false, 9, true},
                          Case{ArrayType::Schlumberger, Generation::Wifi, false, 12, true},
                          Case{ArrayType::DipoleDipole, Generation::Wired, false, 5, true},
                          Case{ArrayType::PoleDipole, Generation::Wifi, false, 8, true},
                          Case{ArrayType::PoleDipole, Generation::Wired, false, 0, true},
                          Case{ArrayType::DipoleDipole, Generation::Wifi, true, 2, true},
                          Case{ArrayType::DipoleDipole, Generation::Wifi, true, 6, false}}) {
        SCOPED_TRACE(std::string(arrayName(k.array)) + (k.moving ? " moving" : "") + " node " +
                     std::to_string(k.bad));
        EmuOptions plain = surveyOptions(k.array);
        plain.generation = k.generation;
        plain.movingArray = k.moving;
        plain.positions = 12;
        plain.reciprocalEvery = k.moving ? 0 : 2;
        EmuOptions o = plain;
        o.badElectrodes = {k.bad};
        const EmuSurvey s = built(o);
        const std::vector<EmuMeasurement> clean = acquire(plain, s);
        const std::vector<EmuMeasurement> spoiled = acquire(o, s);
        const std::vector<EmuMeasurement> again = acquire(o, s);
        ASSERT_EQ(clean.size(), spoiled.size());
        int touched = 0, injecting = 0;
        for (size_t i = 0; i < clean.size(); ++i) {
            const EmuMeasurement &c = clean[i], &m = spoiled[i];
            EXPECT_TRUE(sameBits(m.rho, again[i].rho) && sameBits(m.q, again[i].q) &&
                        sameBits(m.current, again[i].current))
                << "not repeatable at " << m.index;
            EXPECT_LT(c.q, 5.0f); // what sound contacts read
            if (!touches(m.quad, k.bad)) {
                EXPECT_FALSE(m.badContact);
                EXPECT_TRUE(sameBits(m.rho, c.rho) && sameBits(m.vp, c.vp) &&
                            sameBits(m.current, c.current) && sameBits(m.q, c.q) &&
                            sameBits(m.sp, c.sp) && sameBits(m.chargeability, c.chargeability) &&
                            sameBits(m.txBattery, c.txBattery))
                    << "changed at " << m.index;
                continue;
            }
            ++touched;
            EXPECT_TRUE(m.badContact);
            EXPECT_TRUE(m.q >= 10.0f && m.q <= 40.0f) << m.q;
            const double ratio = double(m.rho) / double(c.rho);
            EXPECT_TRUE(ratio >= 0.4 * 0.999 && ratio <= 2.5 * 1.001) << ratio;
            EXPECT_NEAR(rhoFromVp(m), m.rho, 1e-4 * m.rho);
            if (m.quad.a == k.bad || m.quad.b == k.bad) {
                ++injecting;
                EXPECT_TRUE(m.current > 0.25f && m.current < 1.0f) << m.current;
                EXPECT_GT(c.current, 50.0f);
            } else {
                EXPECT_TRUE(sameBits(m.current, c.current));
            }
        }
        EXPECT_GT(touched, 0);
        EXPECT_EQ(injecting > 0, k.injects);
    }
}

TEST(EmulatorBadElectrode, ElectrodeCheckCountsTheBadContacts) {
    emutest::EmulatorProcess emu;
    ASSERT_TRUE(emu.start({"--repeat", "0", "--idle-timeout", "10000", "--quiet", "--electrodes",
                           "12", "--bad-electrode", "3", "--bad-electrode", "9"}));
    emutest::MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));
    ASSERT_EQ(c.command(32), 32);
    emutest::ByteVec token, value;
    ASSERT_TRUE(c.read(token, 2, kWait));
    EXPECT_EQ(std::string(token.begin(), token.end()), "GO");
    ASSERT_TRUE(c.read(value, 4, kWait));
    EXPECT_EQ(emutest::getI32(value, 0), 2);
    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

// The program end to end: the downloads hold the reciprocals, the records
// carry the faults, and the truth file says which is which.
TEST(EmulatorQualityFaults, BothGenerationsPlayThemAndTheTruthFileSaysWhich) {
    for (const char* generation : {"wired", "wifi"}) {
        SCOPED_TRACE(generation);
        const bool wifi = std::string(generation) == "wifi";
        const QStringList survey = {"--generation",    generation, "--electrodes", "12",
                                    "--channels",      "4",        "--array",      "pole-dipole",
                                    "--levels",        "4",        "--outliers",   "0",
                                    "--bad-electrode", "5",        "--reciprocals"};
        EmuOptions o;
        ASSERT_TRUE(parse(survey, o).ok);
        const EmuSurvey s = built(o);

        QTemporaryDir dir;
        const QString truthPath = dir.filePath("truth.csv");
        emutest::EmulatorProcess emu;
        ASSERT_TRUE(emu.start(survey + QStringList{"--cycle-ms", "0", "--start-delay-ms", "0",
                                                   "--idle-timeout", "10000", "--quiet", "--truth",
                                                   truthPath, "--exit-when-done"}));
        emutest::MonitorClient c;
        ASSERT_TRUE(c.connectTcp(emu.port()));
        if (wifi) {
            ASSERT_TRUE(c.wakeUp(kWait));
        }
        bool controls = false;
        ASSERT_TRUE(c.startHandshake(kWait, &controls));
        emutest::ByteVec identity, first, second, nodes, aux, quads;
        ASSERT_TRUE(c.read(identity, 15, kWait));
        ASSERT_TRUE(c.receiveBlocks(first)); // header, or configuration
        if (wifi) {
            ASSERT_TRUE(c.receiveBlocks(second)); // parameters
        }
        ASSERT_TRUE(c.receiveBlocks(nodes) && c.receiveBlocks(aux) && c.receiveBlocks(quads));

        // The table on the wire: the sequence, then each reciprocal.
        ASSERT_EQ(int(quads.size() / 8), s.quadripoleCount());
        ASSERT_EQ(s.quadripoleCount(), 2 * s.normalCount);
        auto wire = [&](int i, int e) {
            return int(emutest::getU16(quads, size_t(i) * 8 + size_t(e) * 2) & 0x7FFF);
        };
        for (int j = 0; j < s.normalCount; ++j) {
            const int r = s.partner(j);
            EXPECT_TRUE(wire(r, 0) == wire(j, 2) && wire(r, 1) == wire(j, 3) &&
                        wire(r, 2) == wire(j, 0) && wire(r, 3) == 0)
                << j;
        }

        c.writeByte('A');
        int records = 0;
        for (;;) {
            const emutest::BatchResult b = emutest::readBatch(c, wifi, 'A', kWait);
            ASSERT_NE(b.kind, emutest::BatchResult::Closed);
            if (b.kind == emutest::BatchResult::End)
                break;
            records += int(b.records.size());
            for (const emutest::ReceivedRecord& rec : b.records) {
                if (wifi)
                    continue;
                // Q and the current as a wired record carries them.
                const EmuQuad& q = s.quads.at(size_t(rec.index));
                EXPECT_EQ(emutest::getF32(rec.bytes, 136) >= 10.0f, touches(q, 5)) << rec.index;
                EXPECT_EQ(emutest::getF32(rec.bytes, 172) < 1.0f, q.a == 5 || q.b == 5);
            }
        }
        EXPECT_EQ(records, s.quadripoleCount());
        EXPECT_EQ(emu.waitForExit(kWait), 0);

        const emutest::TruthTable t = emutest::readTruth(truthPath);
        ASSERT_EQ(int(t.rows.size()), s.quadripoleCount());
        EXPECT_EQ(t.columns.at(28), "extra2"); // the older columns keep their places
        std::map<int, size_t> rowOf;
        for (size_t i = 0; i < t.rows.size(); ++i)
            rowOf[int(t.number(i, "index"))] = i;
        for (size_t i = 0; i < t.rows.size(); ++i) {
            const EmuQuad q{int(t.number(i, "a")), int(t.number(i, "b")), int(t.number(i, "m")),
                            int(t.number(i, "n")), false};
            EXPECT_EQ(t.number(i, "bad_electrode") == 1.0, touches(q, 5));
            EXPECT_EQ(t.number(i, "bad_electrode") == 1.0, t.number(i, "q") >= 10.0);
            const int partner = int(t.number(i, "reciprocal_index"));
            ASSERT_TRUE(rowOf.count(partner)) << partner;
            const size_t p = rowOf[partner];
            EXPECT_EQ(int(t.number(p, "reciprocal_index")), int(t.number(i, "index")));
            EXPECT_NE(t.number(p, "is_reciprocal"), t.number(i, "is_reciprocal"));
            EXPECT_TRUE(t.number(p, "a") == q.m && t.number(p, "m") == q.a);
            EXPECT_NEAR(t.number(p, "true_rho"), t.number(i, "true_rho"),
                        1e-9 * t.number(i, "true_rho"));
        }
    }
}
