#include "export/InversionExport.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The instrument's markers for "nothing received" (-9e30) and "measured
// without a value" (-8e30), and anything of that size, are not readings.
constexpr double kMarkerMagnitude = 1e29;
// Electrodes closer than this are one electrode: the inversion codes merge
// them anyway, and renumber when they do.
constexpr double kSamePlace = 0.001;
// How far an electrode may lie off its profile line and still be on it.
constexpr double kLineTolerance = 0.01;

// Appends the parts in order (no temporaries for the compiler to warn about).
template <typename... Parts> void Add(std::string& out, const Parts&... parts) {
    (out.append(std::string_view(parts)), ...);
}

bool IsValue(double v) {
    return std::isfinite(v) && std::fabs(v) < kMarkerMagnitude;
}

// The decimal a float was written as: 235.1f is 235.1, not 235.100006.
double Decimal(float value) {
    // Both ways through <charconv>: the user's locale (a decimal comma) must
    // never change a position or a value.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return double(value);
    double read = double(value);
    std::from_chars(buffer, end, read);
    return read;
}

std::string FormatFixed(double value, int decimals) {
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return "0";
    std::string text(buffer, end);
    // "-0.000" reads back as zero but is worth no sign.
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

std::string FormatValue(float value) {
    return FormatExportNumber(Decimal(value));
}

struct Place {
    double x = 0, y = 0, z = 0;
};

double PlanarDistance(const Place& a, const Place& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

double Distance(const Place& a, const Place& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

// One measurement that goes into the files.
struct Measurement {
    const MeasureRecord* record = nullptr;
    int64_t quadripoleNumber = 0;
    int32_t node[4] = {}; // 0: remote electrode
    bool hasIp = false;
    bool hasRui = false; // resistance, voltage and current follow from the record
    double r = 0, k = 0;
    uint8_t flags = 0; // the quality checks' verdict
};

struct Prepared {
    std::vector<Measurement> list;
    ExportLeftOut leftOut;
    bool anyIp = false;               // some measurement has a chargeability other than 0
    bool allIp = false;               // and every one has one
    bool allRui = false;              // every measurement has k, r, u, i
    std::vector<int32_t> used;        // node numbers used, ascending
    std::map<int32_t, int> electrode; // node number -> electrode number from 1
    std::vector<Place> electrodes;    // electrode number - 1 -> place
};

Place NodePlace(const Sequence& s, int32_t node) {
    const NodeRecord& n = s.nodes[node];
    return {Decimal(n.x), Decimal(n.y), Decimal(n.z)};
}

// -1 undefined, 0 remote, else the node itself.
int32_t ResolveNode(const Sequence& s, int32_t node) {
    if (node == 0)
        return 0;
    if (node < 0 || node >= kMaxNodes || s.nodes[node].number != node)
        return -1;
    const NodeRecord& n = s.nodes[node];
    if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z))
        return -1;
    if (std::fabs(n.x) >= kInfinityThreshold || std::fabs(n.y) >= kInfinityThreshold ||
        std::fabs(n.z) >= kInfinityThreshold)
        return 0;
    return node;
}

// Records in the order recorded, each on the table index its number names
// (-1 for none), through the same checks as the live run.
void JudgeRecords(const AcquisitionData& data, const ExportOptions& options,
                  std::vector<Measurement>& candidates, QualityControl& quality) {
    quality.Build(*data.sequence, options.limits, false);
    const AcquisitionHeader& h = data.content.header;
    const int64_t first = int64_t(uint16_t(uint32_t(h.firstQuadripole)));
    for (const MeasureRecord& record : data.records) {
        const int64_t number = int64_t(uint16_t(record.quadripoleIndex));
        const int64_t index = ((number - first) % 65536 + 65536) % 65536;
        if (index < quality.quadripoleCount())
            quality.AddRecords(&record, int(index), 1);
    }
    for (Measurement& m : candidates) {
        const int64_t index = m.quadripoleNumber - int64_t(h.firstQuadripole);
        if (index >= 0 && index < quality.quadripoleCount())
            m.flags = quality.flags(int(index));
    }
}

Prepared Prepare(const AcquisitionData& data, const ExportOptions& options, bool leaveOutFlagged) {
    Prepared p;
    const Sequence& s = *data.sequence;
    const AcquisitionHeader& h = data.content.header;
    const int64_t length = std::clamp<int64_t>(h.SequenceLength(), 0, kMaxQuadripoles);
    std::vector<Measurement> candidates;
    for (const MeasureRecord& record : data.records) {
        if (record.recordFlags & kRecordFlagGapFiller) {
            ++p.leftOut.gapFillers;
            continue;
        }
        if (!IsValue(record.rho)) {
            ++p.leftOut.noData;
            continue;
        }
        // Records name their quadripole by the instrument's number, in 16
        // bits; the table holds fewer than 65536, so the name is unique.
        const int64_t number = int64_t(uint16_t(record.quadripoleIndex));
        const int64_t first = int64_t(uint16_t(uint32_t(h.firstQuadripole)));
        const int64_t index = ((number - first) % 65536 + 65536) % 65536;
        if (index >= length) {
            ++p.leftOut.noQuadripole;
            continue;
        }
        const QuadripoleRecord& q = s.quadripoles[index];
        if (q.gapFiller != 0) {
            ++p.leftOut.gapFillers;
            continue;
        }
        Measurement m;
        m.record = &record;
        m.quadripoleNumber = int64_t(h.firstQuadripole) + index;
        const int32_t nodes[4] = {q.a, q.b, q.m, q.n};
        bool usable = true;
        for (int e = 0; e < 4; ++e) {
            m.node[e] = ResolveNode(s, nodes[e]);
            usable = usable && m.node[e] >= 0;
        }
        // A pair with both electrodes at infinity carries no current or
        // measures no voltage: there is nothing to invert.
        if (!usable || (m.node[0] == 0 && m.node[1] == 0) || (m.node[2] == 0 && m.node[3] == 0)) {
            ++p.leftOut.badElectrodes;
            continue;
        }
        candidates.push_back(m);
    }
    {
        QualityControl quality;
        JudgeRecords(data, options, candidates, quality);
    }
    if (leaveOutFlagged) {
        const auto flagged = std::remove_if(candidates.begin(), candidates.end(),
                                            [](const Measurement& m) { return m.flags != 0; });
        p.leftOut.flagged = int64_t(candidates.end() - flagged);
        candidates.erase(flagged, candidates.end());
    }

    // Electrodes numbered from 1 in node order; nodes at one place share a
    // number.
    for (const Measurement& m : candidates)
        for (int32_t node : m.node)
            if (node > 0)
                p.used.push_back(node);
    std::sort(p.used.begin(), p.used.end());
    p.used.erase(std::unique(p.used.begin(), p.used.end()), p.used.end());
    for (int32_t node : p.used) {
        const Place place = NodePlace(s, node);
        int number = 0;
        for (size_t e = 0; e < p.electrodes.size() && number == 0; ++e)
            if (Distance(p.electrodes[e], place) < kSamePlace)
                number = int(e) + 1;
        if (number == 0) {
            p.electrodes.push_back(place);
            number = int(p.electrodes.size());
        }
        p.electrode[node] = number;
    }

    for (Measurement& m : candidates) {
        // Two electrodes of one quadripole at one place give an infinite
        // geometric factor.
        bool coincident = false;
        for (int e = 0; e < 4; ++e)
            for (int f = e + 1; f < 4; ++f)
                if (m.node[e] > 0 && m.node[f] > 0 &&
                    p.electrode[m.node[e]] == p.electrode[m.node[f]])
                    coincident = true;
        if (coincident) {
            ++p.leftOut.badElectrodes;
            continue;
        }
        const MeasureRecord& r = *m.record;
        m.hasIp = IsValue(r.chargeability);
        if (m.hasIp && r.chargeability != 0.0f)
            p.anyIp = true;
        if (IsValue(r.vp) && IsValue(r.current) && r.vp != 0.0f && r.current != 0.0f) {
            // mV / mA is ohm.
            m.r = Decimal(r.vp) / Decimal(r.current);
            m.k = Decimal(r.rho) / m.r;
            m.hasRui = std::isfinite(m.r) && std::isfinite(m.k) && m.r != 0.0;
        }
        p.list.push_back(m);
    }
    // The electrode list holds only electrodes that are used by a
    // measurement kept; one dropped for coincidence may have been the last
    // user of its electrode, which then stays listed: harmless.
    p.allIp = p.anyIp;
    p.allRui = !p.list.empty();
    for (const Measurement& m : p.list) {
        p.allIp = p.allIp && m.hasIp;
        p.allRui = p.allRui && m.hasRui;
    }
    return p;
}

// Days since 1899-12-30 with the time of day as fraction, as ISO 8601
// local time to the millisecond.
std::string FormatTimeStamp(double stamp) {
    if (!std::isfinite(stamp) || stamp < 0 || stamp > 2958465.0)
        return {};
    int64_t ms = int64_t(std::llround(stamp * 86400000.0));
    int64_t days = ms / 86400000 - 25569; // to days since 1970-01-01
    ms %= 86400000;
    // Civil date from a day count (proleptic Gregorian).
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t year = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lld",
                  (long long)year, (long long)month, (long long)day, (long long)(ms / 3600000),
                  (long long)(ms / 60000 % 60), (long long)(ms / 1000 % 60),
                  (long long)(ms % 1000));
    return buffer;
}

// Replaces a file whole: a failed export leaves the earlier file, never a
// half-written one.
FileStatus WriteWholeFile(const std::string& path, const std::string& text) {
    const fs::path target = PathFromUtf8(path);
    fs::path part = target;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out)
            return FileStatus::Fail("Can't write \"" + path + "\": " + std::strerror(errno));
        out.write(text.data(), std::streamsize(text.size()));
        out.flush();
        if (!out) {
            const std::string reason = std::strerror(errno);
            out.close();
            std::error_code ec;
            fs::remove(part, ec);
            return FileStatus::Fail("Can't write \"" + path + "\": " + reason);
        }
    }
    std::error_code ec;
    fs::rename(part, target, ec);
    if (ec && fs::is_regular_file(target)) {
        // Some systems rename over no existing file: the earlier export
        // goes first (only ever a file: a folder of that name is not ours).
        std::error_code gone;
        fs::remove(target, gone);
        ec.clear();
        fs::rename(part, target, ec);
    }
    if (ec) {
        fs::remove(part, ec);
        return FileStatus::Fail("Can't write \"" + path + "\": " + ec.message());
    }
    return FileStatus::Ok();
}

// A Res2DInv title: starts with a letter, plain ASCII, and never holds the
// word the reader takes for the start of its header lines.
std::string SafeTitle(const std::string& name) {
    std::string text;
    for (char c : name)
        text += (c >= 32 && c < 127) ? c : '_';
    std::string lower = text;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (size_t at = lower.find("type"); at != std::string::npos; at = lower.find("type", at + 1))
        text[at + 3] = '_';
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        text = "Pylorix " + text;
    return text;
}

} // namespace

// ---- formats and numbers ---------------------------------------------------

std::string ExportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::Ohm:
        return "ohm";
    case ExportFormat::Res2dinv:
        return "res2dinv";
    case ExportFormat::Csv:
        return "csv";
    }
    return {};
}

std::string ParseExportFormats(const std::string& list, std::vector<ExportFormat>& formats) {
    bool wanted[3] = {};
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string item;
        for (size_t i = start; i < end; ++i)
            if (!std::isspace(static_cast<unsigned char>(list[i])))
                item += char(std::tolower(static_cast<unsigned char>(list[i])));
        start = end + 1;
        if (item.empty() || item == "none")
            continue;
        if (item == "ohm")
            wanted[0] = true;
        else if (item == "res2dinv")
            wanted[1] = true;
        else if (item == "csv")
            wanted[2] = true;
        else
            return "unknown export format \"" + item + "\" (use ohm, res2dinv, csv)";
    }
    formats.clear();
    const ExportFormat all[3] = {ExportFormat::Ohm, ExportFormat::Res2dinv, ExportFormat::Csv};
    for (int i = 0; i < 3; ++i)
        if (wanted[i])
            formats.push_back(all[i]);
    return {};
}

std::string ExportFormatList(const std::vector<ExportFormat>& formats) {
    std::string text;
    for (ExportFormat f : formats)
        Add(text, text.empty() ? "" : ",", ExportFormatName(f));
    return text;
}

std::string FormatExportNumber(double value) {
    if (!std::isfinite(value) || value == 0.0)
        return "0.000";
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::clamp(6 - magnitude, 3, 20);
    const std::string text = FormatFixed(value, decimals);
    // Too small for the decimals: zero, in the form zero always has.
    if (text.find_first_not_of("-0.") == std::string::npos)
        return "0.000";
    return text;
}

std::string FormatExportCoordinate(float value) {
    return FormatFixed(Decimal(value), 6);
}

// ---- report ------------------------------------------------------------------

int64_t FormatResult::Written() const {
    int64_t n = 0;
    for (const ExportedFile& f : files)
        n += f.measurements;
    return n;
}

bool ExportReport::Ok() const {
    if (!status)
        return false;
    for (const FormatResult& f : formats)
        if (!f.status)
            return false;
    return true;
}

std::string ExportReport::Describe() const {
    std::string text;
    if (!status)
        return status.message + "\n";
    for (const FormatResult& f : formats) {
        const std::string name = ExportFormatName(f.format);
        if (!f.status) {
            text += name + ": " + f.status.message + "\n";
            continue;
        }
        for (const ExportedFile& file : f.files)
            text +=
                "wrote " + file.path + ": " + std::to_string(file.measurements) + " measurements\n";
        if (f.files.empty())
            text += name + ": no file written (no measurement fits this format)\n";
        const ExportLeftOut& l = f.leftOut;
        if (l.Total() == 0) {
            text += name + ": nothing left out\n";
            continue;
        }
        std::string parts;
        auto add = [&](int64_t n, const char* what) {
            if (n > 0)
                parts += (parts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        };
        add(l.gapFillers, "gap fillers");
        add(l.noData, "without data");
        add(l.noQuadripole, "outside the sequence");
        add(l.badElectrodes, "with unusable electrodes");
        add(l.notInLine, "not on one profile line");
        add(l.flagged, "flagged by the quality checks");
        text += name + ": left out " + std::to_string(l.Total()) + " of " +
                std::to_string(records) + " records (" + parts + ")\n";
    }
    return text;
}

// ---- reading -------------------------------------------------------------------

std::string DataFileBeside(const std::string& heqPath) {
    fs::path path = PathFromUtf8(heqPath);
    const std::string extension = PathToUtf8(path.extension());
    const bool upper =
        extension.size() == 4 && std::isupper(static_cast<unsigned char>(extension[1]));
    std::error_code ec;
    for (const char* candidate : {upper ? ".BIN" : ".bin", upper ? ".bin" : ".BIN"}) {
        path.replace_extension(candidate);
        if (fs::exists(path, ec))
            return PathToUtf8(path);
    }
    path.replace_extension(upper ? ".BIN" : ".bin");
    return PathToUtf8(path);
}

FileStatus ReadAcquisition(const std::string& heqPath, AcquisitionData& data) {
    if (FileStatus heq = ReadHeqFile(heqPath, data.content, *data.sequence); !heq)
        return heq;
    BinFileReader reader;
    if (FileStatus bin = reader.Open(DataFileBeside(heqPath)); !bin)
        return bin;
    data.records.clear();
    data.records.reserve(size_t(std::max<int64_t>(reader.RecordCount(), 0)));
    MeasureRecord record;
    while (reader.Next(record))
        data.records.push_back(record);
    return reader.Status();
}

// ---- the writers ---------------------------------------------------------------

std::string WriteOhmText(const AcquisitionData& data, ExportLeftOut& leftOut, int64_t& written,
                         const ExportOptions& options) {
    const Prepared p = Prepare(data, options, options.leaveOutFlagged);
    leftOut = p.leftOut;
    written = int64_t(p.list.size());
    std::string out;
    out += std::to_string(p.electrodes.size()) + "\n# x y z\n";
    for (const Place& e : p.electrodes)
        out += FormatFixed(e.x, 6) + " " + FormatFixed(e.y, 6) + " " + FormatFixed(e.z, 6) + "\n";
    out += std::to_string(p.list.size()) + "\n# a b m n rhoa";
    if (p.allIp)
        out += " ip";
    if (p.allRui)
        out += " k r u i";
    out += "\n";
    for (const Measurement& m : p.list) {
        for (int e = 0; e < 4; ++e)
            out += std::to_string(m.node[e] > 0 ? p.electrode.at(m.node[e]) : 0) + " ";
        const MeasureRecord& r = *m.record;
        out += FormatValue(r.rho);
        if (p.allIp)
            Add(out, " ", FormatValue(r.chargeability));
        if (p.allRui) {
            Add(out, " ", FormatExportNumber(m.k), " ", FormatExportNumber(m.r), " ",
                FormatExportNumber(Decimal(r.vp) / 1000.0), " ",
                FormatExportNumber(Decimal(r.current) / 1000.0));
        }
        out += "\n";
    }
    out += "0\n";
    return out;
}

std::string WriteCsvText(const AcquisitionData& data, ExportLeftOut& leftOut, int64_t& written,
                         const ExportOptions& options) {
    // The CSV keeps every measurement and says what the checks found.
    const Prepared p = Prepare(data, options, false);
    leftOut = p.leftOut;
    written = int64_t(p.list.size());
    const Sequence& s = *data.sequence;
    std::string out = "a,b,m,n";
    for (const char* e : {"a", "b", "m", "n"})
        for (const char* axis : {"x", "y", "z"})
            out += std::string(",") + e + "_" + axis;
    out += ",rhoa,ip,quadripole,channel,sp_mV,vp_mV,in_mA,q,tx_V,rx_V,temperature,time,qc\n";
    auto value = [](float v) { return IsValue(v) ? FormatValue(v) : std::string(); };
    for (const Measurement& m : p.list) {
        const MeasureRecord& r = *m.record;
        std::string line;
        for (int e = 0; e < 4; ++e)
            Add(line, e ? "," : "",
                m.node[e] > 0 ? std::to_string(p.electrode.at(m.node[e])) : std::string());
        for (int e = 0; e < 4; ++e) {
            if (m.node[e] > 0) {
                const NodeRecord& n = s.nodes[m.node[e]];
                Add(line, ",", FormatExportCoordinate(n.x), ",", FormatExportCoordinate(n.y), ",",
                    FormatExportCoordinate(n.z));
            } else {
                line += ",,,";
            }
        }
        Add(line, ",", FormatValue(r.rho), ",");
        if (p.anyIp && m.hasIp)
            line += FormatValue(r.chargeability);
        Add(line, ",", std::to_string(m.quadripoleNumber), ",",
            std::to_string(r.channelByte & 0x0F), ",", value(r.sp), ",", value(r.vp), ",",
            value(r.current), ",", value(r.q), ",", value(r.txBattery), ",", value(r.rxBattery),
            ",", value(r.temperature), ",", FormatTimeStamp(r.timeStamp), ",",
            QualityReasons(m.flags));
        out += line + "\n";
    }
    return out;
}

namespace {

struct ProfileLine {
    Place origin;
    double dx = 1, dy = 0;
    std::vector<size_t> members; // indices into the prepared list
    bool AlongX() const { return std::fabs(dy) < 1e-12; }
    bool AlongY() const { return std::fabs(dx) < 1e-12; }
    double OffLine(const Place& p) const {
        return std::fabs((p.x - origin.x) * dy - (p.y - origin.y) * dx);
    }
    double Along(const Place& p) const {
        if (AlongX())
            return p.x;
        if (AlongY())
            return p.y;
        return (p.x - origin.x) * dx + (p.y - origin.y) * dy;
    }
};

} // namespace

std::vector<ProfileText> WriteRes2dinvTexts(const AcquisitionData& data, ExportLeftOut& leftOut,
                                            const std::string& title,
                                            const ExportOptions& options) {
    const Prepared p = Prepare(data, options, options.leaveOutFlagged);
    leftOut = p.leftOut;
    const Sequence& s = *data.sequence;
    std::vector<ProfileLine> lines;
    for (size_t i = 0; i < p.list.size(); ++i) {
        const Measurement& m = p.list[i];
        std::vector<Place> points;
        for (int32_t node : m.node) {
            if (node <= 0)
                continue;
            const Place place = NodePlace(s, node);
            bool seen = false;
            for (const Place& q : points)
                seen = seen || Distance(q, place) < kSamePlace;
            if (!seen)
                points.push_back(place);
        }
        if (points.size() < 2) {
            ++leftOut.notInLine;
            continue;
        }
        size_t from = 0, to = 1;
        double longest = -1;
        for (size_t a = 0; a < points.size(); ++a)
            for (size_t b = a + 1; b < points.size(); ++b)
                if (PlanarDistance(points[a], points[b]) > longest) {
                    longest = PlanarDistance(points[a], points[b]);
                    from = a;
                    to = b;
                }
        if (longest < kSamePlace) {
            // Electrodes above one another: no horizontal line.
            ++leftOut.notInLine;
            continue;
        }
        ProfileLine line;
        line.origin = points[from];
        line.dx = (points[to].x - points[from].x) / longest;
        line.dy = (points[to].y - points[from].y) / longest;
        if (std::fabs(line.dx) < 1e-9)
            line.dx = 0;
        if (std::fabs(line.dy) < 1e-9)
            line.dy = 0;
        if (line.dx < 0 || (line.dx == 0 && line.dy < 0)) {
            line.dx = -line.dx;
            line.dy = -line.dy;
        }
        bool straight = true;
        for (const Place& q : points)
            straight = straight && line.OffLine(q) <= kLineTolerance;
        if (!straight) {
            ++leftOut.notInLine;
            continue;
        }
        ProfileLine* home = nullptr;
        for (ProfileLine& known : lines) {
            bool on = true;
            for (const Place& q : points)
                on = on && known.OffLine(q) <= kLineTolerance;
            if (on) {
                home = &known;
                break;
            }
        }
        if (!home) {
            lines.push_back(line);
            home = &lines.back();
        }
        home->members.push_back(i);
    }

    std::vector<ProfileText> texts;
    for (size_t l = 0; l < lines.size(); ++l) {
        const ProfileLine& line = lines[l];
        // Oblique lines count from their first electrode, so that no
        // position is negative.
        double shift = 0;
        std::vector<double> positions;
        for (size_t i : line.members)
            for (int32_t node : p.list[i].node)
                if (node > 0)
                    positions.push_back(line.Along(NodePlace(s, node)));
        if (!line.AlongX() && !line.AlongY())
            shift = *std::min_element(positions.begin(), positions.end());
        std::vector<double> sorted;
        for (double x : positions)
            sorted.push_back(std::round((x - shift) * 1e6) / 1e6);
        std::sort(sorted.begin(), sorted.end());
        double spacing = 0;
        for (size_t i = 1; i < sorted.size(); ++i) {
            const double step = sorted[i] - sorted[i - 1];
            if (step >= kSamePlace && (spacing == 0 || step < spacing))
                spacing = step;
        }
        if (spacing == 0)
            spacing = 1;
        bool ip = p.allIp;
        for (size_t i : line.members)
            ip = ip && p.list[i].hasIp;

        std::string out;
        out += SafeTitle(title + (lines.size() > 1 ? " line " + std::to_string(l + 1) : "")) + "\n";
        out += FormatFixed(spacing, 6) + "\n11\n0\n";
        out += "Type of measurement (0=app. resistivity,1=resistance)\n0\n";
        out += std::to_string(line.members.size()) + "\n1\n";
        out += ip ? "1\nChargeability\nmV/V\n0.000,0.000\n" : "0\n";
        for (size_t i : line.members) {
            const Measurement& m = p.list[i];
            // Electrode order A, B, M, N; remote ones are moved to B, then
            // N, by swaps that leave the apparent resistivity unchanged
            // (A with B, M with N, the current pair with the potential
            // pair).
            int32_t e[4] = {m.node[0], m.node[1], m.node[2], m.node[3]};
            if (e[0] == 0 && e[1] != 0)
                std::swap(e[0], e[1]);
            if (e[2] == 0 && e[3] != 0)
                std::swap(e[2], e[3]);
            if (e[3] == 0 && e[1] != 0) {
                std::swap(e[0], e[2]);
                std::swap(e[1], e[3]);
            }
            int count = 0;
            std::string row;
            for (int32_t node : e) {
                if (node == 0)
                    continue;
                const NodeRecord& n = s.nodes[node];
                const double along = line.Along(NodePlace(s, node)) - shift;
                const std::string x = (line.AlongX() || line.AlongY())
                                          ? FormatFixed(along, 6)
                                          : FormatFixed(std::round(along * 1e6) / 1e6, 6);
                row += " " + x + " " + FormatExportCoordinate(n.z);
                ++count;
            }
            out += std::to_string(count) + row + " " + FormatValue(m.record->rho);
            if (ip)
                Add(out, " ", FormatValue(m.record->chargeability));
            out += "\n";
        }
        out += "0\n0\n0\n0\n";
        texts.push_back({out, int64_t(line.members.size())});
    }
    return texts;
}

// ---- files ---------------------------------------------------------------------

ExportReport ExportAcquisitionData(const AcquisitionData& data,
                                   const std::vector<ExportFormat>& formats,
                                   const std::string& basePath, const ExportOptions& options) {
    ExportReport report;
    report.records = int64_t(data.records.size());
    for (ExportFormat format : formats) {
        FormatResult result;
        result.format = format;
        if (format == ExportFormat::Res2dinv) {
            const std::string name =
                AcquisitionNameText(data.content.acquisitionName, kAcquisitionNameSize);
            const std::vector<ProfileText> texts =
                WriteRes2dinvTexts(data, result.leftOut, name.empty() ? "Pylorix" : name, options);
            for (size_t i = 0; i < texts.size() && result.status; ++i) {
                const std::string path =
                    basePath +
                    (texts.size() > 1 ? " - line " + std::to_string(i + 1) + ".dat" : ".dat");
                result.status = WriteWholeFile(path, texts[i].text);
                if (result.status)
                    result.files.push_back({path, texts[i].measurements});
            }
        } else {
            int64_t written = 0;
            const bool ohm = format == ExportFormat::Ohm;
            const std::string text = ohm ? WriteOhmText(data, result.leftOut, written, options)
                                         : WriteCsvText(data, result.leftOut, written, options);
            const std::string path = basePath + (ohm ? ".ohm" : ".csv");
            result.status = WriteWholeFile(path, text);
            if (result.status)
                result.files.push_back({path, written});
        }
        report.formats.push_back(result);
    }
    return report;
}

ExportReport ExportAcquisition(const std::string& heqPath, const std::vector<ExportFormat>& formats,
                               const std::string& outDir, const ExportOptions& options) {
    ExportReport report;
    report.source = heqPath;
    AcquisitionData data;
    report.status = ReadAcquisition(heqPath, data);
    if (!report.status)
        return report;
    const fs::path heq = PathFromUtf8(heqPath);
    const fs::path folder = outDir.empty() ? heq.parent_path() : PathFromUtf8(outDir);
    const std::string base = PathToUtf8(folder / heq.stem());
    ExportReport written = ExportAcquisitionData(data, formats, base, options);
    written.source = heqPath;
    return written;
}
