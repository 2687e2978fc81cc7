#pragma once
// The acquisition file pair: ".heq" (identity, header, node and quadripole
// tables) and ".bin" (text header, then one MeasureRecord per received slot),
// plus the data folder they live in and the names they get.
//
// No user-interface dependency: the engine, replay, command-line tools and
// tests all use this unit directly. Failures come back as a FileStatus whose
// message is ready to be shown to the operator.
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
AcquisitionFileNames MakeAcquisitionFileNames(const std::filesystem::path& folder, const std::tm& t,
                                              const std::string& acquisitionName);

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

// Creates or truncates the file and writes the five blocks in order.
FileStatus WriteHeqFile(const std::string& path, const uint8_t instrumentWord[4],
                        const char acquisitionName[11], const AcquisitionHeader& header,
                        const Sequence& sequence);

// Reads a ".heq" file into content and the store, and sets the store's
// counts from the header. A short file, or one whose header gives a
// quadripole count outside 1..16000 or a node range outside the tables, is
// refused and leaves the store untouched.
FileStatus ReadHeqFile(const std::string& path, HeqContent& content, Sequence& sequence);
// The same checks on an image already in memory.
FileStatus DecodeHeqImage(const uint8_t* data, size_t size, HeqContent& content,
                          Sequence& sequence);

// ---- ".bin" ------------------------------------------------------------------

// The 1029-byte header for creation time t (locale short date, a blank, the
// long time, CR LF, the comment, zero padded).
void MakeBinHeader(const std::tm& t, const std::string& comment, uint8_t out[kBinHeaderSize]);

// Creates or truncates the file and writes the header.
FileStatus CreateBinFile(const std::string& path, const std::string& comment);
FileStatus CreateBinFile(const std::string& path, const std::string& comment, const std::tm& t);

// Opens the existing file, appends count records at its end and closes it,
// so the file is complete between batches.
FileStatus AppendMeasureRecords(const std::string& path, const MeasureRecord* records, int count);

// Checks the 1029-byte header of a ".bin" file image.
bool IsBinHeader(const uint8_t* data, size_t size);

// Reads a ".bin" file one record at a time.
class BinFileReader {
public:
    BinFileReader() = default;
    ~BinFileReader();
    BinFileReader(const BinFileReader&) = delete;
    BinFileReader& operator=(const BinFileReader&) = delete;

    // Opens the file and skips its header. Fails on a missing file or on a
    // file shorter than the header or with a foreign header.
    FileStatus Open(const std::string& path);
    void Close();
    // Whole records in the file; a trailing partial record is ignored.
    int64_t RecordCount() const { return recordCount_; }
    int64_t RecordsRead() const { return recordsRead_; }
    // Next record; false at the end of the file or on a read error.
    bool Next(MeasureRecord& record);

private:
    std::FILE* file_ = nullptr;
    int64_t recordCount_ = 0;
    int64_t recordsRead_ = 0;
};
