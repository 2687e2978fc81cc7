// pylorix-export: writes recorded acquisitions (".heq" and the ".bin"
// beside it) in the formats of the inversion codes and says, per file, what
// it wrote and what it left out.
#include "export/InversionExport.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitBadOption = 2;

const char* const kUsage =
    "Usage: pylorix-export FILE.heq... [--format ohm|res2dinv|csv] [--out DIR]\n"
    "                      [--leave-out-flagged]\n"
    "\n"
    "Writes each recorded acquisition (the .heq and the .bin beside it) for the\n"
    "inversion codes: the pyGIMLi/BERT unified format (.ohm), the Res2DInv general\n"
    "array format (.dat, one file per profile line) and CSV. --format takes one or\n"
    "more of those names, comma-separated or repeated (default: all three). The\n"
    "files go beside the recording, or into DIR. Every measurement is judged by the\n"
    "live quality checks; the CSV's qc column says why one was flagged, and\n"
    "--leave-out-flagged keeps flagged measurements out of the .ohm and .dat files.\n"
    "\n"
    "Exit status: 0 when every file was written, 1 when a recording could not be\n"
    "read or a file not written, 2 for a bad option.\n";

int BadOption(const std::string& what) {
    std::fprintf(stderr, "pylorix-export: %s\n\n%s", what.c_str(), kUsage);
    return kExitBadOption;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::string formatList;
    std::string outDir;
    bool formatGiven = false;
    ExportOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& option, std::string& into) {
            if (arg.rfind(option + "=", 0) == 0) {
                into = arg.substr(option.size() + 1);
                return true;
            }
            if (arg == option) {
                if (i + 1 >= argc)
                    return false;
                into = argv[++i];
                return true;
            }
            return false;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg.rfind("--format", 0) == 0) {
            if (!value("--format", text) || text.empty())
                return BadOption("--format needs ohm, res2dinv or csv");
            if (!formatList.empty())
                formatList += ',';
            formatList += text;
            formatGiven = true;
        } else if (arg.rfind("--out", 0) == 0) {
            if (!value("--out", outDir) || outDir.empty())
                return BadOption("--out needs a folder");
        } else if (arg == "--leave-out-flagged") {
            options.leaveOutFlagged = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return BadOption("unknown option \"" + arg + "\"");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty())
        return BadOption("no recording given");
    std::vector<ExportFormat> formats;
    if (const std::string error =
            ParseExportFormats(formatGiven ? formatList : "ohm,res2dinv,csv", formats);
        !error.empty())
        return BadOption(error);
    if (formats.empty())
        return BadOption("--format needs ohm, res2dinv or csv");

    int exitCode = 0;
    for (const std::string& file : files) {
        const ExportReport report = ExportAcquisition(file, formats, outDir, options);
        const std::string text = report.Describe();
        std::printf("%s:\n", file.c_str());
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            std::printf("  %s\n", text.substr(start, end - start).c_str());
            start = end == std::string::npos ? text.size() : end + 1;
        }
        if (!report.Ok()) {
            exitCode = kExitFailed;
            std::fprintf(stderr, "pylorix-export: %s: not exported in full\n", file.c_str());
        }
    }
    return exitCode;
}
