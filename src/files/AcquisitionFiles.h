#pragma once
// The acquisition file pair: ".heq" (identity, header, node and quadripole
// tables) and ".bin" (text header, then one MeasureRecord per received slot),
// plus the data folder they live in and the names they get, and the ".rpp"
// file of raw instrument records that the Wi-Fi generation keeps beside them.
//
// No user-interface dependency: the engine, replay, command-line tools and
// tests all use this unit directly. Failures come back as a FileStatus whose
// message is ready to be shown to the operator; a failing write keeps the
// system's reason ("... : No space left on device").
//
// What a recording can rely on: no writer ever opens an existing recording
// for writing (new files are created exclusively), a ".heq" appears under its
// name only when complete, and a batch reaches its files whole or not at all,
// so a ".bin" holds whole records and a ".rpp" stays in step with it.
#include "sequence/Sequence.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

constexpr size_t kHeqFileSize = 385687;
constexpr size_t kBinHeaderSize = 1029;
constexpr size_t kBinTextBlockSize = 1024;
constexpr uint32_t kBinMagic = 0x80000002u;
constexpr uint8_t kBinHeaderByte = 9;

struct FileStatus {
    bool ok = true;
    std::string message; // empty when ok

    static FileStatus Ok() { return {}; }
    static FileStatus Fail(std::string text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

// ---- folders and names -------------------------------------------------------

// The root folder: $PYLORIX_ROOT when set; on Windows the program's drive
// followed by \Varmex\; elsewhere $HOME/Varmex/.
std::filesystem::path DataRoot();
// The root followed by "Pylorix Data".
// File names are UTF-8 text throughout the program; these convert between
// that text and a path on every system.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

std::filesystem::path DataFolder();

// Creates the root and the data folder when missing (one level each). The
// failure message is: Can't create directory "<path>".
FileStatus EnsureDataFolder();
// Creates one folder level when missing; the message names `shown` (the
// folder itself when empty).
FileStatus CreateFolderOneLevel(const std::filesystem::path& folder, const std::string& shown = {});

// acquisitionName as text: up to its first zero byte, at most `size` bytes.
std::string AcquisitionNameText(const char* name, size_t size = kAcquisitionNameSize);

// Makes free text from the instrument usable inside a file name: path
// separators and control characters (and on Windows <>:"|?*) become '_',
// bytes above 127 are taken as Latin-1 and stored as UTF-8.
std::string SafeFileNamePart(const std::string& text);

// "Pylorix - yyyy-mm-dd - hh.mm.ss - NAME" for local time t.
std::string AcquisitionBaseName(const std::tm& t, const std::string& acquisitionName);

struct AcquisitionFileNames {
    std::string bin;
    std::string heq;
    std::string rpp;
};
// The files of a new run in `folder`: the base name of AcquisitionBaseName
// with ".bin", ".heq" and ".rpp". A run never takes the names of an earlier
// one: while any of those three files, or an unfinished ".heq", exists under
// the base name, the base name gets " (2)", " (3)", ... (two runs with the
// same name started in the same second would otherwise share one pair).
AcquisitionFileNames MakeAcquisitionFileNames(const std::filesystem::path& folder, const std::tm& t,
                                              const std::string& acquisitionName);

// Removes the files of a run that failed before its first batch: ".bin",
// ".heq", an unfinished ".heq" and ".rpp" (empty names are skipped, missing
// files are no failure). A run whose ".bin" or ".rpp" already holds records
// keeps all its files: a recording is never thrown away.
FileStatus RemoveAcquisitionFiles(const AcquisitionFileNames& names);

// Local time now, and the record time stamp (days since 1899-12-30, time of
// day as the fraction).
std::tm LocalTimeNow();
double TimeStampFromLocal(const std::tm& t, int milliseconds = 0);
double NowTimeStamp();

// ---- ".heq" ------------------------------------------------------------------

struct HeqContent {
    uint8_t instrumentWord[kInstrumentWordSize] = {};
    char acquisitionName[kAcquisitionNameSize] = {};
    AcquisitionHeader header = {};
};

// The one rule for the header of a ".heq", kept by the writer and the reader
// alike so that every file the program writes can be read back: the sequence
// fits the quadripole table (1 to 16000 quadripoles). The node fields are the
// instrument's own and are kept as they came: the node table is stored whole
// whatever they say, and nothing looks a node up through them unbounded.
FileStatus CheckHeqHeader(const AcquisitionHeader& header);
// The node slots a header puts in use: its node count limited to the table.
// An instrument may count more electrodes than the table has slots (the
// field is 16 bits wide on the wire); the header keeps the instrument's
// number, the store never claims more slots than it has.
int32_t NodeSlotsInUse(const AcquisitionHeader& header);

// Writes the five blocks in order to HeqTemporaryName(path), then gives the
// complete file its name. An existing file at `path`, or a header that
// CheckHeqHeader refuses, is refused; after a failure neither the file nor
// the temporary one is left.
FileStatus WriteHeqFile(const std::string& path, const uint8_t instrumentWord[4],
                        const char acquisitionName[11], const AcquisitionHeader& header,
                        const Sequence& sequence);

// Reads a ".heq" file into content and the store, and sets the store's
// counts from the header (nodes: NodeSlotsInUse). A file that cannot be
// read, a short one, or one whose header CheckHeqHeader refuses, is refused
// with a message that names the file and the reason, and leaves the store
// untouched.
FileStatus ReadHeqFile(const std::string& path, HeqContent& content, Sequence& sequence);
// The name a ".heq" file has while it is being written.
std::string HeqTemporaryName(const std::string& heqPath);
// The same checks on an image already in memory.
FileStatus DecodeHeqImage(const uint8_t* data, size_t size, HeqContent& content,
                          Sequence& sequence);

// ---- ".bin" ------------------------------------------------------------------

// The 1029-byte header for creation time t (locale short date, a blank, the
// long time, CR LF, the comment, zero padded).
void MakeBinHeader(const std::tm& t, const std::string& comment, uint8_t out[kBinHeaderSize]);

// Creates the file and writes the header. An existing file is refused, never
// truncated; a file whose header could not be written is removed.
FileStatus CreateBinFile(const std::string& path, const std::string& comment);
FileStatus CreateBinFile(const std::string& path, const std::string& comment, const std::tm& t);

// Opens the existing file, appends count records (0..20) at its end and
// closes it, so the file is complete between batches. All or nothing: when a
// write fails the file is cut back to its size before the call.
FileStatus AppendMeasureRecords(const std::string& path, const MeasureRecord* records, int count);

// ---- ".rpp" ------------------------------------------------------------------

// Creates the empty ".rpp" file; an existing file is refused.
FileStatus CreateRawRecordFile(const std::string& path);

// Appends one batch: count records (0..20) to the ".bin" file at binPath and
// the same records as the instrument sent them (rawBytes bytes) to the
// ".rpp" file at rppPath. Both files must exist. Either both get the whole
// batch or each is cut back to its size before the call, so the two files
// stay in step record for record.
FileStatus AppendMeasureAndRawRecords(const std::string& binPath, const MeasureRecord* records,
                                      int count, const std::string& rppPath, const uint8_t* raw,
                                      size_t rawBytes);

// ---- test hook: a disk that fills ---------------------------------------------

// For tests only. After `bytes` more bytes have gone through this unit's
// writers (".bin" header and appends, ".heq", ".rpp"), writes fail as on a
// full disk: the write that crosses the limit stores what fits, then fails
// with ENOSPC ("No space left on device"), and so does every later one. A
// negative value (the default) removes the limit. The environment variable
// PYLORIX_DATA_WRITE_BUDGET (bytes), read once at the first write, sets the
// limit for a whole process, so that a program under test can be given a
// full disk from outside.
void SetDataWriteBudget(int64_t bytes);

// ---- reading -----------------------------------------------------------------

// Checks the 1029-byte header of a ".bin" file image.
bool IsBinHeader(const uint8_t* data, size_t size);

// Reads a ".bin" file one record at a time.
class BinFileReader {
public:
    BinFileReader() = default;
    ~BinFileReader();
    BinFileReader(const BinFileReader&) = delete;
    BinFileReader& operator=(const BinFileReader&) = delete;

    // Opens the file and skips its header. Fails, with a message that names
    // the file and the reason, on a file that cannot be opened or read, and
    // on one shorter than the header or with a foreign header.
    FileStatus Open(const std::string& path);
    void Close();
    // Whole records in the file; a trailing partial record is ignored.
    int64_t RecordCount() const { return recordCount_; }
    int64_t RecordsRead() const { return recordsRead_; }
    // Next record; false at the end of the file or on a read error.
    bool Next(MeasureRecord& record);
    // Why the last Next gave no record: ok at the end of the records (a file
    // cut shorter while it was read included), the message of a read error
    // otherwise.
    const FileStatus& Status() const { return status_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    int64_t recordCount_ = 0;
    int64_t recordsRead_ = 0;
    FileStatus status_;
};
