#pragma once
// Hand-off to inversion codes: one acquisition (its sequence and its
// records) written as the unified data format of pyGIMLi/BERT (".ohm"), the
// general array format of Res2DInv (".dat", one file per profile line) and
// a CSV table. The window, the recorder, the settings' run-end export and
// the converter all come through ExportAcquisition, so the four give the
// same files and the same account of what was left out.
//
// A measurement is one measured channel record on a quadripole of the
// table. Gap fillers, records that hold the no-data or unrecoverable
// markers instead of a value, records whose number names no quadripole, and
// quadripoles whose electrodes cannot be placed are left out and counted;
// the inversion codes would otherwise take them for readings.
#include "files/AcquisitionFiles.h"
#include "quality/QualityControl.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class ExportFormat { Ohm, Res2dinv, Csv };

// "ohm", "res2dinv", "csv".
std::string ExportFormatName(ExportFormat format);
// A comma-separated list of those names (case and blanks ignored, repeats
// taken once) into formats in the order ohm, res2dinv, csv. An empty list or
// "none" gives no format. Returns an empty string, or what is wrong.
std::string ParseExportFormats(const std::string& list, std::vector<ExportFormat>& formats);
// The canonical list text ("ohm,csv"; "" for none).
std::string ExportFormatList(const std::vector<ExportFormat>& formats);

// What one format left out, by reason.
struct ExportLeftOut {
    int64_t gapFillers = 0;
    int64_t noData = 0;        // no-data or unrecoverable marker, or no finite value
    int64_t noQuadripole = 0;  // the record's number names no quadripole of the table
    int64_t badElectrodes = 0; // an undefined node, or both electrodes of a pair remote
    int64_t notInLine = 0;     // Res2DInv: electrodes not on one profile line
    int64_t flagged = 0;       // flagged by the quality checks, when asked to leave those out
    int64_t Total() const {
        return gapFillers + noData + noQuadripole + badElectrodes + notInLine + flagged;
    }
};

struct ExportedFile {
    std::string path;
    int64_t measurements = 0;
};

struct FormatResult {
    ExportFormat format = ExportFormat::Ohm;
    std::vector<ExportedFile> files; // Res2DInv: one per profile line
    ExportLeftOut leftOut;
    FileStatus status;
    int64_t Written() const;
};

struct ExportReport {
    std::string source;  // the ".heq" exported
    int64_t records = 0; // records in the ".bin"
    FileStatus status;   // the recording could not be read
    std::vector<FormatResult> formats;
    bool Ok() const;
    // One line per file written ("wrote X.ohm: 780 measurements") and one
    // per format with what it left out, then any failure.
    std::string Describe() const;
};

// How an export treats the quality checks. Every measurement is judged as
// the live run judged it (the same checks, over the records in the order
// recorded); the CSV always says why in its "qc" column. Flagged
// measurements are kept unless asked: an inversion code weighs data better
// than a field rule can, and nothing is lost by default.
struct ExportOptions {
    QualityLimits limits;
    // Leave flagged measurements out of the .ohm and the Res2DInv files.
    bool leaveOutFlagged = false;
};

// One acquisition in memory. The sequence is large: kept on the heap.
struct AcquisitionData {
    HeqContent content;
    std::unique_ptr<Sequence> sequence = std::make_unique<Sequence>();
    std::vector<MeasureRecord> records;
};

// Reads a ".heq" and the ".bin" beside it (same name, ".bin" or ".BIN").
FileStatus ReadAcquisition(const std::string& heqPath, AcquisitionData& data);
// The ".bin" that belongs to a ".heq".
std::string DataFileBeside(const std::string& heqPath);

// Writes the formats for a recording on disk into outDir (the ".heq"'s own
// folder when empty), under the recording's base name. Existing export
// files of that name are replaced whole; the recording is only read.
ExportReport ExportAcquisition(const std::string& heqPath, const std::vector<ExportFormat>& formats,
                               const std::string& outDir = {}, const ExportOptions& options = {});
// The same for an acquisition in memory; baseName is a path without
// extension.
ExportReport ExportAcquisitionData(const AcquisitionData& data,
                                   const std::vector<ExportFormat>& formats,
                                   const std::string& basePath, const ExportOptions& options = {});

// ---- the writers, to text (the tests read these) -------------------------

struct ProfileText {
    std::string text;
    int64_t measurements = 0;
};

std::string WriteOhmText(const AcquisitionData& data, ExportLeftOut& leftOut, int64_t& written,
                         const ExportOptions& options = {});
std::string WriteCsvText(const AcquisitionData& data, ExportLeftOut& leftOut, int64_t& written,
                         const ExportOptions& options = {});
// One text per profile line, in the order the lines are first measured.
std::vector<ProfileText> WriteRes2dinvTexts(const AcquisitionData& data, ExportLeftOut& leftOut,
                                            const std::string& title,
                                            const ExportOptions& options = {});

// Fixed point with at least 7 significant digits and at least 3 decimals,
// from the float's shortest decimal form: never an exponent, never "-0".
std::string FormatExportNumber(double value);
// Coordinates: fixed point with 6 decimals (micrometres), the same digits
// for the same position everywhere.
std::string FormatExportCoordinate(float value);
