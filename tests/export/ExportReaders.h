#pragma once
// Strict readers for the three export formats, written from the formats'
// own rules (what pyGIMLi's and ResIPy's loaders accept), not from the
// writer: every rule a file breaks is collected in `errors`.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace exportread {

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Fields(const std::string& line, char separator = ' ') {
    std::vector<std::string> fields;
    std::string field;
    if (separator == ' ') {
        std::istringstream in(line);
        while (in >> field)
            fields.push_back(field);
        return fields;
    }
    std::istringstream in(line + separator);
    while (std::getline(in, field, separator))
        fields.push_back(field);
    return fields;
}

inline bool IsInteger(const std::string& s) {
    if (s.empty())
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (!(std::isdigit(static_cast<unsigned char>(s[i])) || (i == 0 && s[i] == '-')))
            return false;
    return s != "-";
}

// Fixed point with a '.', digits only, at least 6 significant digits.
inline bool IsFixedNumber(const std::string& s, std::string* why = nullptr) {
    auto fail = [&](const char* reason) {
        if (why)
            *why = s + ": " + reason;
        return false;
    };
    if (s.find('.') == std::string::npos)
        return fail("no decimal point");
    size_t digits = 0;
    bool leading = true;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '-' && i == 0)
            continue;
        if (c == '.')
            continue;
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return fail("not plain digits");
        if (c != '0')
            leading = false;
        if (!leading)
            ++digits;
    }
    // Zero has no significant digit to count.
    if (digits > 0 && digits < 6)
        return fail("fewer than 6 significant digits");
    return true;
}

inline double Number(const std::string& s) {
    return std::strtod(s.c_str(), nullptr);
}

struct Ohm {
    std::vector<std::vector<double>> electrodes; // x y z
    std::vector<std::string> tokens;
    std::vector<std::map<std::string, double>> data;
    std::vector<std::string> errors;
};

inline Ohm ReadOhm(const std::string& text) {
    Ohm f;
    auto error = [&](const std::string& e) { f.errors.push_back(e); };
    const std::vector<std::string> lines = Lines(text);
    for (const std::string& l : lines) {
        if (l.empty() || l.find_first_not_of(" \t") == std::string::npos)
            error("blank line");
        if (l.find(',') != std::string::npos)
            error("comma in \"" + l + "\"");
        for (char c : l)
            if (static_cast<unsigned char>(c) > 127)
                error("not ASCII");
    }
    size_t at = 0;
    auto next = [&]() -> std::string { return at < lines.size() ? lines[at++] : std::string(); };
    const std::string count = next();
    if (!IsInteger(count))
        return error("electrode count \"" + count + "\""), f;
    if (next() != "# x y z")
        error("no \"# x y z\" line");
    const int electrodes = std::atoi(count.c_str());
    for (int i = 0; i < electrodes; ++i) {
        const std::vector<std::string> xyz = Fields(next());
        if (xyz.size() != 3) {
            error("electrode line without three fields");
            continue;
        }
        std::vector<double> e;
        for (const std::string& v : xyz) {
            std::string why;
            if (!IsFixedNumber(v, &why))
                error(why);
            e.push_back(Number(v));
        }
        f.electrodes.push_back(e);
    }
    for (size_t i = 0; i < f.electrodes.size(); ++i)
        for (size_t j = i + 1; j < f.electrodes.size(); ++j) {
            const auto& a = f.electrodes[i];
            const auto& b = f.electrodes[j];
            if (std::hypot(std::hypot(a[0] - b[0], a[1] - b[1]), a[2] - b[2]) < 0.001)
                error("electrodes closer than 1 mm");
        }
    const std::string dataCount = next();
    if (!IsInteger(dataCount))
        return error("data count \"" + dataCount + "\""), f;
    const std::string tokenLine = next();
    if (tokenLine.empty() || tokenLine[0] != '#')
        error("token line without # in column 1");
    f.tokens = Fields(tokenLine.substr(1));
    if (f.tokens.size() < 5 || f.tokens[0] != "a" || f.tokens[1] != "b" || f.tokens[2] != "m" ||
        f.tokens[3] != "n")
        error("tokens do not start a b m n");
    for (const std::string& t : f.tokens)
        for (char c : t)
            if (!std::islower(static_cast<unsigned char>(c)))
                error("token \"" + t + "\" is not lower-case letters");
    const int rows = std::atoi(dataCount.c_str());
    for (int i = 0; i < rows; ++i) {
        const std::vector<std::string> fields = Fields(next());
        if (fields.size() != f.tokens.size()) {
            error("data line with " + std::to_string(fields.size()) + " fields");
            continue;
        }
        std::map<std::string, double> row;
        for (size_t k = 0; k < fields.size(); ++k) {
            if (k < 4) {
                if (!IsInteger(fields[k]))
                    error("electrode number \"" + fields[k] + "\"");
                const int n = std::atoi(fields[k].c_str());
                if (n < 0 || n > electrodes)
                    error("electrode number out of range");
            } else {
                std::string why;
                if (!IsFixedNumber(fields[k], &why))
                    error(why);
            }
            row[f.tokens[k]] = Number(fields[k]);
        }
        f.data.push_back(row);
    }
    if (next() != "0")
        error("no final 0");
    if (at != lines.size())
        error("lines after the final 0");
    return f;
}

struct Res2dRow {
    int electrodes = 0;
    std::vector<double> x, z;
    double rhoa = 0;
    double ip = 0;
};

struct Res2d {
    std::string title;
    double spacing = 0;
    bool ip = false;
    std::vector<std::string> ipLines;
    std::vector<Res2dRow> rows;
    std::vector<std::string> errors;
};

inline Res2d ReadRes2dinv(const std::string& text) {
    Res2d f;
    auto error = [&](const std::string& e) { f.errors.push_back(e); };
    const std::vector<std::string> lines = Lines(text);
    for (const std::string& l : lines) {
        if (l.empty())
            error("blank line");
        if (!l.empty() && l[0] == ';')
            error("; line");
    }
    size_t at = 0;
    auto next = [&]() -> std::string { return at < lines.size() ? lines[at++] : std::string(); };
    f.title = next();
    if (f.title.empty() || !std::isalpha(static_cast<unsigned char>(f.title[0])))
        error("title does not start with a letter");
    if (f.title.find("Type") != std::string::npos)
        error("title holds \"Type\"");
    const std::string spacing = next();
    if (!IsFixedNumber(spacing) || Number(spacing) <= 0)
        error("unit spacing \"" + spacing + "\"");
    f.spacing = Number(spacing);
    if (next() != "11")
        error("array type is not 11");
    if (next() != "0")
        error("sub-array line is not 0");
    if (next() != "Type of measurement (0=app. resistivity,1=resistance)")
        error("no measurement type text");
    if (next() != "0")
        error("measurement type is not 0");
    const std::string count = next();
    if (!IsInteger(count))
        error("data count \"" + count + "\"");
    if (next() != "1")
        error("x-location type is not 1");
    const std::string ipFlag = next();
    if (ipFlag != "0" && ipFlag != "1")
        error("IP flag \"" + ipFlag + "\"");
    f.ip = ipFlag == "1";
    if (f.ip) {
        for (int i = 0; i < 3; ++i)
            f.ipLines.push_back(next());
        if (f.ipLines[0] != "Chargeability" || f.ipLines[1] != "mV/V")
            error("IP header lines");
        const std::vector<std::string> times = Fields(f.ipLines[2], ',');
        if (times.size() != 2 || f.ipLines[2].find(' ') != std::string::npos)
            error("delay,integration line");
    }
    std::map<std::string, std::string> digitsOf; // "x=..." text per position
    for (int i = 0; i < std::atoi(count.c_str()); ++i) {
        const std::vector<std::string> fields = Fields(next());
        Res2dRow row;
        if (fields.empty() || !IsInteger(fields[0])) {
            error("row without an electrode count");
            continue;
        }
        row.electrodes = std::atoi(fields[0].c_str());
        const size_t expected = 1 + size_t(row.electrodes) * 2 + 1 + (f.ip ? 1 : 0);
        if (row.electrodes < 2 || row.electrodes > 4 || fields.size() != expected) {
            error("row with a wrong field count");
            continue;
        }
        for (size_t k = 1; k < fields.size(); ++k) {
            std::string why;
            if (!IsFixedNumber(fields[k], &why))
                error(why);
        }
        for (int e = 0; e < row.electrodes; ++e) {
            row.x.push_back(Number(fields[1 + 2 * e]));
            row.z.push_back(Number(fields[2 + 2 * e]));
            // One position, one spelling.
            const std::string key = std::to_string(std::llround(row.x.back() * 1e4));
            auto [it, fresh] = digitsOf.emplace(key, fields[1 + 2 * e]);
            if (!fresh && it->second != fields[1 + 2 * e])
                error("one x written two ways");
        }
        row.rhoa = Number(fields[1 + 2 * size_t(row.electrodes)]);
        if (f.ip)
            row.ip = Number(fields.back());
        f.rows.push_back(row);
    }
    for (int i = 0; i < 4; ++i)
        if (next() != "0")
            error("closing 0 lines");
    if (at != lines.size())
        error("lines after the closing zeros");
    return f;
}

struct Csv {
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;
    std::vector<std::string> errors;
};

inline Csv ReadCsv(const std::string& text) {
    Csv f;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        f.errors.push_back("BOM");
    const std::vector<std::string> lines = Lines(text);
    if (lines.empty()) {
        f.errors.push_back("empty");
        return f;
    }
    f.header = Fields(lines[0], ',');
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Fields(lines[i], ',');
        if (fields.size() != f.header.size()) {
            f.errors.push_back("line " + std::to_string(i + 1) + " has " +
                               std::to_string(fields.size()) + " fields");
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t k = 0; k < fields.size(); ++k)
            row[f.header[k]] = fields[k];
        f.rows.push_back(row);
    }
    return f;
}

} // namespace exportread
