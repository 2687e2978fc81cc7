// The export for the inversion codes, read back with the strict readers of
// ExportReaders.h: round trips for the usual arrays, remote electrodes and
// their rewrites, several profiles, acquisitions without IP, what is left
// out, number formatting, and the sample recording against its ".bin".
#include "export/InversionExport.h"

#include "ExportReaders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace fs = std::filesystem;
using namespace exportread;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A hand-made acquisition: nodes, quadripoles and one record per call.
struct Survey {
    AcquisitionData data;
    int quadripoles = 0;

    Survey() {
        data.sequence->nodes[0] = {kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate,
                                   0};
        std::memcpy(data.content.acquisitionName, "LINE1", 5);
        data.content.header.channelCount = 1;
    }
    void Node(int n, float x, float y = 0, float z = 0) { data.sequence->nodes[n] = {x, y, z, n}; }
    int Quad(int a, int b, int m, int n, bool gap = false) {
        data.sequence->quadripoles[quadripoles] = {a, b, m, n, gap ? -1 : 0};
        data.content.header.lastQuadripole = quadripoles;
        data.sequence->quadripoleCount = quadripoles + 1;
        return quadripoles++;
    }
    // Node position, or nothing for a remote electrode.
    bool Place(int node, double& x, double& y) const {
        const NodeRecord& r = data.sequence->nodes[node];
        if (node == 0 || std::fabs(r.x) >= kInfinityThreshold)
            return false;
        x = r.x;
        y = r.y;
        return true;
    }
    // 2 pi over the sum of the inverse distances, remote terms dropped.
    double K(int a, int b, int m, int n) const {
        double sum = 0;
        auto term = [&](int c, int p, double sign) {
            double cx, cy, px, py;
            if (Place(c, cx, cy) && Place(p, px, py))
                sum += sign / std::hypot(cx - px, cy - py);
        };
        term(a, m, 1);
        term(b, m, -1);
        term(a, n, -1);
        term(b, n, 1);
        return 2 * kPi / sum;
    }
    // A consistent record: rho = k * vp / current.
    MeasureRecord& Measure(int quad, float vp = 120.0f, float current = 250.0f, float ip = 8.5f) {
        const QuadripoleRecord& q = data.sequence->quadripoles[quad];
        MeasureRecord r{};
        r.quadripoleIndex = int16_t(quad);
        r.vp = vp;
        r.current = current;
        r.rho = float(K(q.a, q.b, q.m, q.n) * vp / current);
        r.chargeability = ip;
        r.channelByte = uint8_t(data.records.size() % 10);
        r.timeStamp = 46000.5;
        data.records.push_back(r);
        return data.records.back();
    }
};

Ohm ReadOhmOf(const Survey& s) {
    ExportLeftOut left;
    int64_t written = 0;
    return ReadOhm(WriteOhmText(s.data, left, written));
}

std::vector<Res2d> ReadRes2dOf(const Survey& s, ExportLeftOut& left) {
    std::vector<Res2d> files;
    for (const ProfileText& t : WriteRes2dinvTexts(s.data, left, "Line"))
        files.push_back(ReadRes2dinv(t.text));
    return files;
}

Csv ReadCsvOf(const Survey& s) {
    ExportLeftOut left;
    int64_t written = 0;
    return ReadCsv(WriteCsvText(s.data, left, written));
}

double Relative(double a, double b) {
    return std::fabs(a - b) / std::max(std::fabs(b), 1e-30);
}

// The geometric factor a reader computes from a Res2DInv row: the
// electrodes present, the others at infinity (3: B remote; 2: B and N).
double RowK(const Res2dRow& row) {
    const double a = row.x[0];
    const bool b = row.electrodes == 4;
    const double xb = b ? row.x[1] : 0;
    const double m = row.x[b ? 2 : 1];
    const bool n = row.electrodes >= 3;
    const double xn = n ? row.x[b ? 3 : 2] : 0;
    double sum = 1 / std::fabs(a - m);
    if (b)
        sum -= 1 / std::fabs(xb - m);
    if (n)
        sum -= 1 / std::fabs(a - xn);
    if (b && n)
        sum += 1 / std::fabs(xb - xn);
    return 2 * kPi / sum;
}

Survey DipoleDipoleLine() {
    Survey s;
    for (int n = 1; n <= 12; ++n)
        s.Node(n, float(2.0 * (n - 1)), 0.0f, float(0.25 * n));
    for (int a = 1; a + 3 <= 12; ++a)
        for (int gap = 1; a + 2 + gap <= 12 && gap <= 4; ++gap)
            s.Measure(s.Quad(a, a + 1, a + 1 + gap, a + 2 + gap));
    return s;
}

} // namespace

TEST(InversionExport, DipoleDipoleLineRoundTripsThroughAllThreeFormats) {
    const Survey s = DipoleDipoleLine();
    const Ohm ohm = ReadOhmOf(s);
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    EXPECT_EQ(ohm.tokens,
              (std::vector<std::string>{"a", "b", "m", "n", "rhoa", "ip", "k", "r", "u", "i"}));
    ASSERT_EQ(ohm.electrodes.size(), 12u);
    EXPECT_DOUBLE_EQ(ohm.electrodes[11][0], 22.0);
    EXPECT_DOUBLE_EQ(ohm.electrodes[11][2], 3.0);
    ASSERT_EQ(ohm.data.size(), s.data.records.size());
    for (size_t i = 0; i < ohm.data.size(); ++i) {
        const MeasureRecord& r = s.data.records[i];
        const QuadripoleRecord& q = s.data.sequence->quadripoles[r.quadripoleIndex];
        auto row = ohm.data[i];
        EXPECT_EQ(row["a"], q.a); // nodes 1..12 at distinct places keep their numbers
        EXPECT_EQ(row["n"], q.n);
        EXPECT_LT(Relative(row["rhoa"], r.rho), 1e-6);
        EXPECT_LT(Relative(row["ip"], r.chargeability), 1e-6);
        // The values agree with each other, in volts and amperes.
        EXPECT_LT(Relative(row["k"] * row["r"], row["rhoa"]), 1e-5);
        EXPECT_LT(Relative(row["u"] / row["i"], row["r"]), 1e-5);
        EXPECT_LT(Relative(row["u"], r.vp / 1000.0), 1e-6);
        EXPECT_LT(Relative(row["k"], s.K(q.a, q.b, q.m, q.n)), 1e-5);
    }

    ExportLeftOut left;
    const std::vector<Res2d> lines = ReadRes2dOf(s, left);
    ASSERT_EQ(lines.size(), 1u);
    const Res2d& dat = lines[0];
    ASSERT_TRUE(dat.errors.empty()) << dat.errors.front();
    EXPECT_DOUBLE_EQ(dat.spacing, 2.0);
    EXPECT_TRUE(dat.ip);
    ASSERT_EQ(dat.rows.size(), s.data.records.size());
    for (size_t i = 0; i < dat.rows.size(); ++i) {
        const MeasureRecord& r = s.data.records[i];
        const QuadripoleRecord& q = s.data.sequence->quadripoles[r.quadripoleIndex];
        const Res2dRow& row = dat.rows[i];
        ASSERT_EQ(row.electrodes, 4);
        EXPECT_DOUBLE_EQ(row.x[0], s.data.sequence->nodes[q.a].x);
        EXPECT_DOUBLE_EQ(row.z[3], s.data.sequence->nodes[q.n].z);
        EXPECT_LT(Relative(row.rhoa, r.rho), 1e-6);
        EXPECT_LT(Relative(row.ip, r.chargeability), 1e-6);
    }

    const Csv csv = ReadCsvOf(s);
    ASSERT_TRUE(csv.errors.empty()) << csv.errors.front();
    const std::vector<std::string> first(csv.header.begin(), csv.header.begin() + 18);
    EXPECT_EQ(first, (std::vector<std::string>{"a", "b", "m", "n", "a_x", "a_y", "a_z", "b_x",
                                               "b_y", "b_z", "m_x", "m_y", "m_z", "n_x", "n_y",
                                               "n_z", "rhoa", "ip"}));
    ASSERT_EQ(csv.rows.size(), s.data.records.size());
    auto row = csv.rows[3];
    const MeasureRecord& r = s.data.records[3];
    EXPECT_LT(Relative(Number(row["rhoa"]), r.rho), 1e-6);
    EXPECT_LT(Relative(Number(row["vp_mV"]), r.vp), 1e-6);
    EXPECT_LT(Relative(Number(row["in_mA"]), r.current), 1e-6);
    EXPECT_EQ(row["time"].substr(0, 10), "2025-12-09");
}

TEST(InversionExport, RemoteElectrodesAreZeroInOhmBlankInCsvAndLeftOutOfRes2dinv) {
    Survey s;
    for (int n = 1; n <= 8; ++n)
        s.Node(n, float(5 * n), 0.0f, 1.5f);
    // A second remote electrode: a defined node placed at infinity.
    s.Node(9, kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate);
    for (int a = 1; a <= 5; ++a)
        s.Measure(s.Quad(a, 0, a + 1, a + 2));
    s.Measure(s.Quad(1, 9, 3, 4));

    const Ohm ohm = ReadOhmOf(s);
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    EXPECT_EQ(ohm.electrodes.size(), 7u); // used, never the remote ones
    for (const auto& e : ohm.electrodes)
        EXPECT_LT(std::fabs(e[0]), 1000.0);
    for (auto row : ohm.data)
        EXPECT_EQ(row["b"], 0);

    const Csv csv = ReadCsvOf(s);
    ASSERT_TRUE(csv.errors.empty());
    for (auto row : csv.rows) {
        EXPECT_EQ(row["b"], "");
        EXPECT_EQ(row["b_x"] + row["b_y"] + row["b_z"], "");
        EXPECT_FALSE(row["a_x"].empty());
    }

    ExportLeftOut left;
    const std::vector<Res2d> lines = ReadRes2dOf(s, left);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_TRUE(lines[0].errors.empty()) << lines[0].errors.front();
    EXPECT_DOUBLE_EQ(lines[0].spacing, 5.0);
    for (const Res2dRow& row : lines[0].rows) {
        EXPECT_EQ(row.electrodes, 3);
        for (double x : row.x)
            EXPECT_LT(x, 1000.0);
        EXPECT_DOUBLE_EQ(row.z[0], 1.5);
    }
}

TEST(InversionExport, Res2dinvRewritesEveryRemotePatternWithoutChangingTheGeometry) {
    Survey s;
    for (int n = 1; n <= 10; ++n)
        s.Node(n, float(3 * n));
    // A B M N with one or two of them remote, in every position.
    const int patterns[][4] = {{1, 0, 3, 4}, {0, 2, 5, 7}, {2, 3, 0, 6}, {2, 4, 7, 0},
                               {1, 0, 4, 0}, {0, 3, 5, 0}, {0, 4, 0, 8}, {2, 0, 0, 9}};
    for (const auto& p : patterns)
        s.Measure(s.Quad(p[0], p[1], p[2], p[3]));
    // No current or no voltage: nothing any format can hold.
    s.Measure(s.Quad(0, 0, 3, 4)).rho = 50.0f;
    s.Measure(s.Quad(1, 2, 0, 0)).rho = 50.0f;

    ExportLeftOut left;
    const std::vector<Res2d> lines = ReadRes2dOf(s, left);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_TRUE(lines[0].errors.empty()) << lines[0].errors.front();
    ASSERT_EQ(lines[0].rows.size(), 8u);
    EXPECT_EQ(left.badElectrodes, 2);
    for (size_t i = 0; i < 8; ++i) {
        const int* p = patterns[i];
        const Res2dRow& row = lines[0].rows[i];
        const int remote = (p[0] == 0) + (p[1] == 0) + (p[2] == 0) + (p[3] == 0);
        EXPECT_EQ(row.electrodes, 4 - remote) << "pattern " << i;
        // The apparent resistivity is the record's, and the array a reader
        // rebuilds from the row has the quadripole's geometric factor.
        EXPECT_LT(Relative(row.rhoa, s.data.records[i].rho), 1e-6);
        // (up to its sign: swapping within a pair turns the voltage over
        // too, so the apparent resistivity stays.)
        EXPECT_LT(Relative(std::fabs(RowK(row)), std::fabs(s.K(p[0], p[1], p[2], p[3]))), 1e-6)
            << "pattern " << i;
    }
    int64_t written = 0;
    WriteOhmText(s.data, left, written);
    EXPECT_EQ(written, 8);
    EXPECT_EQ(left.badElectrodes, 2);
}

TEST(InversionExport, SeveralProfilesGiveOneRes2dinvFilePerLineAndEverythingElsewhere) {
    Survey s;
    // Two lines along x (y = 0 and y = 10) and one oblique line.
    for (int n = 1; n <= 6; ++n) {
        s.Node(n, float(2 * n), 0.0f);
        s.Node(10 + n, float(2 * n), 10.0f);
        s.Node(20 + n, float(3 * n), float(4 * n));
    }
    for (int base : {0, 10, 20})
        for (int a = 1; a <= 3; ++a)
            s.Measure(s.Quad(base + a, base + a + 1, base + a + 2, base + a + 3));
    // Across the lines.
    s.Measure(s.Quad(1, 2, 11, 12));
    s.Measure(s.Quad(3, 4, 13, 14));

    ExportLeftOut left;
    const std::vector<Res2d> lines = ReadRes2dOf(s, left);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(left.notInLine, 2);
    for (const Res2d& line : lines) {
        ASSERT_TRUE(line.errors.empty()) << line.errors.front();
        EXPECT_EQ(line.rows.size(), 3u);
    }
    EXPECT_NE(lines[0].title, lines[1].title);
    // Along the x lines x is the node's own; along the oblique line the
    // distance from its first electrode (5 m steps).
    EXPECT_DOUBLE_EQ(lines[1].rows[0].x[0], 2.0);
    EXPECT_DOUBLE_EQ(lines[2].spacing, 5.0);
    EXPECT_DOUBLE_EQ(lines[2].rows[0].x[0], 0.0);
    EXPECT_LT(Relative(RowK(lines[2].rows[1]), s.K(22, 23, 24, 25)), 1e-6);

    const Ohm ohm = ReadOhmOf(s);
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    EXPECT_EQ(ohm.data.size(), 11u);
    EXPECT_EQ(ohm.electrodes.size(), 18u);
    const Csv csv = ReadCsvOf(s);
    EXPECT_EQ(csv.rows.size(), 11u);
    EXPECT_EQ(csv.rows[9].at("m_y"), "10.000000");
}

TEST(InversionExport, WithoutIpOrCurrentTheColumnsThatCannotBeFilledAreLeftOut) {
    Survey s = DipoleDipoleLine();
    for (MeasureRecord& r : s.data.records)
        r.chargeability = 0;
    Ohm ohm = ReadOhmOf(s);
    ASSERT_TRUE(ohm.errors.empty());
    EXPECT_EQ(ohm.tokens,
              (std::vector<std::string>{"a", "b", "m", "n", "rhoa", "k", "r", "u", "i"}));
    ExportLeftOut left;
    std::vector<Res2d> lines = ReadRes2dOf(s, left);
    EXPECT_FALSE(lines[0].ip);
    EXPECT_TRUE(lines[0].errors.empty());
    Csv csv = ReadCsvOf(s);
    for (auto row : csv.rows)
        EXPECT_EQ(row["ip"], "");

    // One measurement with IP among others without: no ip column, yet the
    // CSV keeps the one value.
    s.data.records[2].chargeability = 3.25f;
    s.data.records[3].chargeability = std::nanf("");
    ohm = ReadOhmOf(s);
    EXPECT_EQ(ohm.tokens.size(), 9u);
    csv = ReadCsvOf(s);
    EXPECT_EQ(csv.rows[2]["ip"], "3.250000");
    EXPECT_EQ(csv.rows[3]["ip"], "");

    // Rho only: no voltage or current, so no k, r, u, i anywhere.
    for (MeasureRecord& r : s.data.records)
        r.vp = r.current = 0;
    s.data.records[0].vp = 10; // one record with them is not enough
    s.data.records[0].current = 20;
    ohm = ReadOhmOf(s);
    ASSERT_TRUE(ohm.errors.empty());
    EXPECT_EQ(ohm.tokens, (std::vector<std::string>{"a", "b", "m", "n", "rhoa"}));
}

TEST(InversionExport, GapFillersMarkersAndRecordsWithoutAQuadripoleAreLeftOutAndCounted) {
    Survey s = DipoleDipoleLine();
    const size_t measured = s.data.records.size();
    s.data.records[0].recordFlags |= kRecordFlagGapFiller;
    s.data.records[1].rho = -9e30f; // nothing received
    s.data.records[2].rho = -8e30f; // measured without a value
    s.data.records[3].rho = std::nanf("");
    s.data.records[4].quadripoleIndex = int16_t(s.quadripoles + 5);
    s.data.sequence->quadripoles[s.data.records[5].quadripoleIndex].gapFiller = -1;
    // A quadripole on a node the table does not define.
    s.data.sequence->quadripoles[s.data.records[6].quadripoleIndex].n = 40;
    s.data.records[7].rho = std::numeric_limits<float>::infinity();

    for (ExportFormat format : {ExportFormat::Ohm, ExportFormat::Csv, ExportFormat::Res2dinv}) {
        ExportLeftOut left;
        int64_t written = 0;
        if (format == ExportFormat::Ohm) {
            const Ohm ohm = ReadOhm(WriteOhmText(s.data, left, written));
            EXPECT_TRUE(ohm.errors.empty());
            for (auto row : ohm.data)
                EXPECT_LT(std::fabs(row["rhoa"]), 1e6);
        } else if (format == ExportFormat::Csv) {
            WriteCsvText(s.data, left, written);
        } else {
            for (const ProfileText& t : WriteRes2dinvTexts(s.data, left, "L"))
                written += t.measurements;
        }
        EXPECT_EQ(left.gapFillers, 2);
        EXPECT_EQ(left.noData, 4);
        EXPECT_EQ(left.noQuadripole, 1);
        EXPECT_EQ(left.badElectrodes, 1);
        EXPECT_EQ(written + left.Total(), int64_t(measured));
    }
}

TEST(InversionExport, RecordsNameTheirQuadripoleByTheInstrumentsNumber) {
    Survey s = DipoleDipoleLine();
    // A sequence numbered from 70000 by the instrument: records carry the
    // number in 16 bits.
    s.data.content.header.firstQuadripole = 70000;
    s.data.content.header.lastQuadripole = 70000 + s.quadripoles - 1;
    for (MeasureRecord& r : s.data.records)
        r.quadripoleIndex = int16_t(uint16_t((70000 + r.quadripoleIndex) % 65536));
    const Ohm ohm = ReadOhmOf(s);
    ASSERT_EQ(ohm.data.size(), s.data.records.size());
    auto row = ohm.data[7];
    EXPECT_EQ(row["a"], s.data.sequence->quadripoles[7].a);
    EXPECT_EQ(row["m"], s.data.sequence->quadripoles[7].m);
    EXPECT_EQ(ReadCsvOf(s).rows[7]["quadripole"], "70007");
}

TEST(InversionExport, ElectrodesCloserThanAMillimetreShareOneNumber) {
    Survey s;
    for (int n = 1; n <= 6; ++n)
        s.Node(n, float(n));
    s.Node(7, 3.0004f); // the same stake as node 3
    s.Measure(s.Quad(1, 2, 3, 4));
    s.Measure(s.Quad(1, 2, 7, 5));
    s.Measure(s.Quad(3, 7, 5, 6)); // A and B at one place: no array
    ExportLeftOut left;
    int64_t written = 0;
    const Ohm ohm = ReadOhm(WriteOhmText(s.data, left, written));
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    EXPECT_EQ(ohm.electrodes.size(), 6u);
    ASSERT_EQ(ohm.data.size(), 2u);
    auto second = ohm.data[1];
    EXPECT_EQ(second["m"], 3);
    EXPECT_EQ(left.badElectrodes, 1);
}

TEST(InversionExport, NumbersAreFixedPointWithSixSignificantDigitsAndNoExponent) {
    for (double v :
         {-10.0, 10.0, 0.1, 1e-7, 2.5e-12, 123456789.0, 3e15, -0.000123456, 99999.99, 1.0 / 3.0}) {
        const std::string text = FormatExportNumber(v);
        std::string why;
        EXPECT_TRUE(IsFixedNumber(text, &why)) << why;
        EXPECT_LT(Relative(Number(text), v), 1e-6) << text;
    }
    EXPECT_EQ(FormatExportNumber(-10.0).rfind("-10.", 0), 0u);
    EXPECT_EQ(FormatExportNumber(0.0), "0.000");
    EXPECT_EQ(FormatExportNumber(-1e-40), "0.000");
    EXPECT_EQ(FormatExportCoordinate(-0.0f), "0.000000");
    // A float is written as the decimal it was given as.
    EXPECT_EQ(FormatExportCoordinate(12.345f), "12.345000");
    EXPECT_EQ(FormatExportCoordinate(235.1f), "235.100000");
}

TEST(InversionExport, FormatListsAreParsedStrictly) {
    std::vector<ExportFormat> formats;
    EXPECT_EQ(ParseExportFormats(" CSV, ohm ,csv", formats), "");
    EXPECT_EQ(formats, (std::vector<ExportFormat>{ExportFormat::Ohm, ExportFormat::Csv}));
    EXPECT_EQ(ExportFormatList(formats), "ohm,csv");
    EXPECT_EQ(ParseExportFormats("none", formats), "");
    EXPECT_TRUE(formats.empty());
    EXPECT_NE(ParseExportFormats("ohm,xls", formats), "");
    EXPECT_NE(ParseExportFormats("ohm;csv", formats), "");
}

TEST(InversionExport, TheSampleRecordingExportsEveryMeasuredRecordOfItsBin) {
    testsupport::TempRoot root;
    const std::string heq = std::string(PYLORIX_SOURCE_DIR) + "/data/demo/Pylorix - DEMO.heq";
    const ExportReport report = ExportAcquisition(
        heq, {ExportFormat::Ohm, ExportFormat::Res2dinv, ExportFormat::Csv}, root.path());
    ASSERT_TRUE(report.Ok()) << report.Describe();

    AcquisitionData data;
    ASSERT_TRUE(ReadAcquisition(heq, data).ok);
    BinFileReader bin;
    ASSERT_TRUE(bin.Open(std::string(PYLORIX_SOURCE_DIR) + "/data/demo/Pylorix - DEMO.bin").ok);
    std::vector<MeasureRecord> kept;
    int64_t gaps = 0;
    MeasureRecord r;
    while (bin.Next(r)) {
        if ((r.recordFlags & kRecordFlagGapFiller) ||
            data.sequence->quadripoles[uint16_t(r.quadripoleIndex)].gapFiller)
            ++gaps;
        else
            kept.push_back(r);
    }
    ASSERT_EQ(report.formats.size(), 3u);
    for (const FormatResult& f : report.formats) {
        EXPECT_EQ(f.Written(), int64_t(kept.size()));
        EXPECT_EQ(f.leftOut.gapFillers, gaps);
        EXPECT_EQ(f.leftOut.Total(), gaps);
    }
    auto text = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    const Ohm ohm = ReadOhm(text(root.path() + "/Pylorix - DEMO.ohm"));
    ASSERT_TRUE(ohm.errors.empty()) << ohm.errors.front();
    const Res2d dat = ReadRes2dinv(text(root.path() + "/Pylorix - DEMO.dat"));
    ASSERT_TRUE(dat.errors.empty()) << dat.errors.front();
    const Csv csv = ReadCsv(text(root.path() + "/Pylorix - DEMO.csv"));
    ASSERT_TRUE(csv.errors.empty()) << csv.errors.front();
    ASSERT_EQ(ohm.data.size(), kept.size());
    ASSERT_EQ(dat.rows.size(), kept.size());
    ASSERT_EQ(csv.rows.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        auto row = ohm.data[i];
        EXPECT_LT(Relative(row["rhoa"], kept[i].rho), 1e-6);
        EXPECT_LT(Relative(row["ip"], kept[i].chargeability), 1e-6);
        // The record's own electrode positions agree with the node table.
        EXPECT_DOUBLE_EQ(ohm.electrodes[size_t(row["a"]) - 1][0], kept[i].x[0]);
        EXPECT_DOUBLE_EQ(ohm.electrodes[size_t(row["n"]) - 1][0], kept[i].x[3]);
        EXPECT_DOUBLE_EQ(dat.rows[i].x[2], kept[i].x[2]);
        EXPECT_LT(Relative(dat.rows[i].rhoa, kept[i].rho), 1e-6);
        EXPECT_LT(Relative(Number(csv.rows[i].at("vp_mV")), kept[i].vp), 1e-6);
    }
}

TEST(InversionExport, AFailedWriteLeavesNoFileAndSaysWhy) {
    testsupport::TempRoot root;
    const Survey s = DipoleDipoleLine();
    const std::string base = root.path() + "/no such folder/x";
    const ExportReport report = ExportAcquisitionData(s.data, {ExportFormat::Ohm}, base);
    EXPECT_FALSE(report.Ok());
    EXPECT_NE(report.Describe().find("Can't write"), std::string::npos);
    EXPECT_FALSE(fs::exists(base + ".ohm.part"));

    // An export over an earlier one replaces it whole.
    const std::string good = root.path() + "/x";
    std::ofstream(good + ".csv") << "something much longer than the new file would be, and more\n"
                                 << std::string(100000, 'x');
    ASSERT_TRUE(ExportAcquisitionData(s.data, {ExportFormat::Csv}, good).Ok());
    EXPECT_LT(fs::file_size(good + ".csv"), 100000u);

    const ExportReport missing = ExportAcquisition(root.path() + "/none.heq", {ExportFormat::Csv});
    EXPECT_FALSE(missing.Ok());
    EXPECT_NE(missing.Describe().find("none.heq"), std::string::npos);
}

TEST(InversionExport, QualityFlagsFillTheCsvAndLeaveOutOnlyWhenAsked) {
    Survey s;
    for (int n = 1; n <= 12; ++n)
        s.Node(n, float(2.0 * (n - 1)));
    // A uniform ground: 100 ohm.m everywhere, whatever the geometry.
    for (int a = 1; a + 3 <= 12; ++a) {
        for (int gap = 1; a + 2 + gap <= 12 && gap <= 4; ++gap) {
            const int q = s.Quad(a, a + 1, a + 1 + gap, a + 2 + gap);
            const QuadripoleRecord& r = s.data.sequence->quadripoles[q];
            s.Measure(q, float(100.0 * 250.0 / s.K(r.a, r.b, r.m, r.n)), 250.0f);
        }
    }
    s.data.records[4].q = 12.0f;
    s.data.records[9].current = 0.2f;
    const size_t total = s.data.records.size();

    const Csv csv = ReadCsvOf(s);
    ASSERT_TRUE(csv.errors.empty()) << csv.errors.front();
    EXPECT_EQ(csv.header.back(), "qc");
    ASSERT_EQ(csv.rows.size(), total) << "the CSV keeps every measurement";
    for (size_t i = 0; i < total; ++i) {
        const std::string expected = i == 4 ? "high q" : i == 9 ? "low current" : "";
        EXPECT_EQ(csv.rows[i].at("qc"), expected) << "row " << i;
    }

    // Kept by default; left out of .ohm and Res2DInv on request, counted.
    EXPECT_EQ(ReadOhmOf(s).data.size(), total);
    ExportOptions options;
    options.leaveOutFlagged = true;
    ExportLeftOut left;
    int64_t written = 0;
    const Ohm ohm = ReadOhm(WriteOhmText(s.data, left, written, options));
    EXPECT_EQ(ohm.data.size(), total - 2);
    EXPECT_EQ(left.flagged, 2);
    ExportLeftOut leftDat;
    const auto dat = WriteRes2dinvTexts(s.data, leftDat, "Line", options);
    ASSERT_EQ(dat.size(), 1u);
    EXPECT_EQ(ReadRes2dinv(dat[0].text).rows.size(), total - 2);
    EXPECT_EQ(leftDat.flagged, 2);
    // Stricter limits flag more; the CSV still holds everything.
    options.limits.maxQ = 0.5f;
    s.data.records[0].q = 1.0f;
    ExportLeftOut leftCsv;
    const Csv strict = ReadCsv(WriteCsvText(s.data, leftCsv, written, options));
    EXPECT_EQ(strict.rows.size(), total);
    EXPECT_EQ(strict.rows[0].at("qc"), "high q");
    EXPECT_EQ(leftCsv.flagged, 0);
}
