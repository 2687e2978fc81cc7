#include "files/AcquisitionFiles.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string PathToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

namespace {

constexpr size_t kHeqWordOffset = 0;
constexpr size_t kHeqNameOffset = 4;
constexpr size_t kHeqHeaderOffset = 15;
constexpr size_t kHeqNodesOffset = 151;
constexpr size_t kHeqQuadripolesOffset = 65687;
constexpr size_t kNodeTableBytes = kMaxNodes * NodeRecord::kSize;
constexpr size_t kQuadripoleTableBytes = kMaxQuadripoles * QuadripoleRecord::kSize;
static_assert(kHeqNodesOffset + kNodeTableBytes == kHeqQuadripolesOffset);
static_assert(kHeqQuadripolesOffset + kQuadripoleTableBytes == kHeqFileSize);

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
    std::wstring wpath = PathFromUtf8(path).wstring();
    std::wstring wmode(mode, mode + std::strlen(mode));
    return FilePtr(_wfopen(wpath.c_str(), wmode.c_str()));
#else
    return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

// Opens a new file for writing; fails when anything exists under the name
// (a dangling link included), so that no recording is ever truncated.
FilePtr CreateNewFile(const std::string& path) {
#ifdef _WIN32
    // The Windows C library ignores fopen's "x" and would truncate an
    // existing recording: the exclusive creation is asked of the system.
    const std::wstring wpath = PathFromUtf8(path).wstring();
    const int fd = _wsopen(wpath.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                           _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        _close(fd);
        errno = error;
    }
    return FilePtr(file);
#else
    return OpenFile(path, "wbx");
#endif
}

std::string SystemReason(int error = errno) {
    return std::strerror(error);
}

// Closes the file and reports whether every buffered byte reached it.
bool CloseChecked(FilePtr& file) {
    std::FILE* f = file.release();
    return std::fclose(f) == 0;
}

FileStatus WriteFailure(const std::string& path, int error = errno) {
    return FileStatus::Fail("Can't write file \"" + path + "\": " + SystemReason(error));
}

FileStatus CreateFailure(const std::string& path, int error = errno) {
    return FileStatus::Fail("Can't create file \"" + path + "\": " + SystemReason(error));
}

bool Exists(const std::string& path) {
    std::error_code ec;
    // A name that cannot even be looked at (type "none") is not taken as free.
    return fs::symlink_status(PathFromUtf8(path), ec).type() != fs::file_type::not_found;
}

void RemoveQuietly(const std::string& path) {
    std::error_code ec;
    fs::remove(PathFromUtf8(path), ec);
}

// ---- the write budget (test hook) ----

int64_t BudgetFromEnvironment() {
    const char* text = std::getenv("PYLORIX_DATA_WRITE_BUDGET");
    if (!text || !*text)
        return -1;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    // A value that is not a number sets no limit.
    if (errno != 0 || *end != '\0')
        return -1;
    return int64_t(value);
}

std::atomic<int64_t>& WriteBudget() {
    static std::atomic<int64_t> budget{BudgetFromEnvironment()};
    return budget;
}

// How many of `size` bytes the budget lets through, taken from it.
size_t TakeFromBudget(size_t size) {
    std::atomic<int64_t>& budget = WriteBudget();
    int64_t left = budget.load();
    for (;;) {
        if (left < 0)
            return size;
        const int64_t allowed = std::min<int64_t>(left, int64_t(size));
        if (budget.compare_exchange_weak(left, left - allowed))
            return size_t(allowed);
    }
}

// Every write of acquisition data goes through here. Returns the bytes
// written; fewer than `size` is a failure with errno set.
size_t WriteData(std::FILE* file, const void* data, size_t size) {
    const size_t allowed = TakeFromBudget(size);
    const size_t written = allowed > 0 ? std::fwrite(data, 1, allowed, file) : 0;
    if (written == allowed && allowed < size)
        errno = ENOSPC;
    return written;
}

// ---- platform pieces ----

bool SeekToEnd(std::FILE* file, int64_t& size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return false;
    size = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    size = int64_t(ftello(file));
#endif
    return size >= 0;
}

bool SeekTo(std::FILE* file, int64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, off_t(offset), SEEK_SET) == 0;
#endif
}

bool TruncateOpenFile(std::FILE* file, int64_t size) {
#ifdef _WIN32
    return _chsize_s(_fileno(file), size) == 0;
#else
    return ftruncate(fileno(file), off_t(size)) == 0;
#endif
}

// Flushes the stream and asks the system to put the bytes on the disk, so
// that a file renamed into place afterwards is never found empty.
bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

// Gives `from` the name `to` unless something already has that name.
bool RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    // MoveFileExW without MOVEFILE_REPLACE_EXISTING never replaces.
    if (MoveFileExW(PathFromUtf8(from).wstring().c_str(), PathFromUtf8(to).wstring().c_str(), 0))
        return true;
    errno = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST
                                                                                          : EACCES;
    return false;
#else
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // Only a file system without the flag gets the check-then-rename below.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    if (Exists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// One file a batch is appended to. It is written unbuffered, so that a short
// write shows at once and no buffered remainder can reach the file after it
// has been cut back.
class AppendTarget {
public:
    explicit AppendTarget(const std::string& path) : path_(path) {}

    FileStatus Open() {
        // The file must already exist: recreating a vanished file would
        // silently drop its header and every earlier batch.
        file_ = OpenFile(path_, "r+b");
        if (!file_)
            return FileStatus::Fail("Can't open file \"" + path_ + "\": " + SystemReason());
        std::setvbuf(file_.get(), nullptr, _IONBF, 0);
        if (!SeekToEnd(file_.get(), sizeBefore_))
            return WriteFailure(path_);
        return FileStatus::Ok();
    }

    FileStatus Write(const void* data, size_t size) {
        if (size > 0 && WriteData(file_.get(), data, size) != size)
            return WriteFailure(path_);
        return FileStatus::Ok();
    }

    // Back to the size before the batch; adds to `status` when that fails.
    void CutBack(FileStatus& status) {
        bool done = false;
        if (file_) {
            std::clearerr(file_.get());
            done = TruncateOpenFile(file_.get(), sizeBefore_);
        } else {
            std::error_code ec;
            fs::resize_file(PathFromUtf8(path_), uintmax_t(sizeBefore_), ec);
            done = !ec;
        }
        if (!done)
            status.message +=
                " (\"" + path_ +
                "\" could not be cut back to its last whole record: " + SystemReason() + ")";
    }

    FileStatus Close() {
        if (file_ && !CloseChecked(file_))
            return WriteFailure(path_);
        return FileStatus::Ok();
    }

private:
    std::string path_;
    FilePtr file_;
    int64_t sizeBefore_ = 0;
};

struct AppendPart {
    const std::string& path;
    const uint8_t* data;
    size_t size;
};

// Appends each part to its file, all or nothing: nothing is written unless
// every file opens, and a failing write or close cuts every file back.
FileStatus AppendAllOrNothing(std::span<const AppendPart> parts) {
    std::vector<AppendTarget> targets;
    targets.reserve(parts.size());
    for (const AppendPart& part : parts) {
        targets.emplace_back(part.path);
        if (FileStatus s = targets.back().Open(); !s)
            return s;
    }
    FileStatus status = FileStatus::Ok();
    for (size_t i = 0; i < parts.size() && status; ++i)
        status = targets[i].Write(parts[i].data, parts[i].size);
    if (!status) {
        for (AppendTarget& target : targets)
            target.CutBack(status);
        for (AppendTarget& target : targets)
            target.Close();
        return status;
    }
    for (AppendTarget& target : targets) {
        if (FileStatus s = target.Close(); !s && status)
            status = s;
    }
    if (!status) {
        for (AppendTarget& target : targets)
            target.CutBack(status);
    }
    return status;
}

std::vector<uint8_t> EncodeRecords(const MeasureRecord* records, int count) {
    std::vector<uint8_t> image(size_t(count) * MeasureRecord::kSize);
    for (int i = 0; i < count; ++i)
        records[i].Encode(image.data() + size_t(i) * MeasureRecord::kSize);
    return image;
}

FileStatus CheckBatchSize(int count) {
    if (count < 0 || count > kMaxChannels)
        return FileStatus::Fail("Invalid batch of " + std::to_string(count) + " records.");
    return FileStatus::Ok();
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

} // namespace

// ---- folders and names -------------------------------------------------------

fs::path DataRoot() {
#ifdef _WIN32
    // The narrow environment is in the ANSI code page, which cannot hold
    // every folder name: the wide one can.
    if (const wchar_t* env = _wgetenv(L"PYLORIX_ROOT"); env && *env)
        return fs::path(env);
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(buffer).root_name() / L"\\Varmex\\";
#else
    if (const char* env = std::getenv("PYLORIX_ROOT"); env && *env)
        return fs::path(env);
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / "Varmex";
#endif
}

fs::path DataFolder() {
    return DataRoot() / "Pylorix Data";
}

FileStatus CreateFolderOneLevel(const fs::path& folder, const std::string& shown) {
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return FileStatus::Ok();
    // One level only: a missing parent is an error the operator must see,
    // not something to paper over by creating a tree somewhere unexpected.
    if (!fs::create_directory(folder, ec) && !fs::is_directory(folder, ec))
        return FileStatus::Fail("Can't create directory \"" +
                                (shown.empty() ? PathToUtf8(folder) : shown) + "\"");
    return FileStatus::Ok();
}

FileStatus EnsureDataFolder() {
    if (FileStatus s = CreateFolderOneLevel(DataRoot()); !s)
        return s;
    return CreateFolderOneLevel(DataFolder());
}

std::string AcquisitionNameText(const char* name, size_t size) {
    size_t length = 0;
    while (length < size && name[length] != '\0')
        ++length;
    return std::string(name, length);
}

std::string SafeFileNamePart(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool refused = c < 0x20 || c == 0x7F || c == '/' || c == '\\';
#ifdef _WIN32
        refused = refused || std::strchr("<>:\"|?*", c) != nullptr;
#endif
        if (refused) {
            out.push_back('_');
        } else if (c < 0x80) {
            out.push_back(char(c));
        } else {
            // Instrument text is 8-bit (Latin-1); file names here are UTF-8.
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string AcquisitionBaseName(const std::tm& t, const std::string& acquisitionName) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d - %02d.%02d.%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return std::string("Pylorix") + " - " + stamp + " - " + SafeFileNamePart(acquisitionName);
}

AcquisitionFileNames MakeAcquisitionFileNames(const fs::path& folder, const std::tm& t,
                                              const std::string& acquisitionName) {
    // Far more runs of one name in one second than an instrument can start;
    // past them the last candidate is returned, and its exclusive creation
    // reports the clash instead of overwriting anything.
    constexpr int kMostCandidates = 999;
    const std::string base = AcquisitionBaseName(t, acquisitionName);
    AcquisitionFileNames names;
    for (int n = 1; n <= kMostCandidates; ++n) {
        const std::string stem = PathToUtf8(
            folder / PathFromUtf8(n == 1 ? base : base + " (" + std::to_string(n) + ")"));
        names = {stem + ".bin", stem + ".heq", stem + ".rpp"};
        if (!Exists(names.bin) && !Exists(names.heq) && !Exists(names.rpp) &&
            !Exists(HeqTemporaryName(names.heq)))
            break;
    }
    return names;
}

FileStatus RemoveAcquisitionFiles(const AcquisitionFileNames& names) {
    for (const std::string* path : {&names.bin, &names.rpp}) {
        if (path->empty())
            continue;
        std::error_code ec;
        const uintmax_t size = fs::file_size(PathFromUtf8(*path), ec);
        const uintmax_t empty = path == &names.bin ? kBinHeaderSize : 0;
        if (!ec && size > empty)
            return FileStatus::Fail("\"" + *path + "\" holds records: the run's files are kept.");
    }
    std::string failures;
    const std::string temporary = names.heq.empty() ? std::string() : HeqTemporaryName(names.heq);
    for (const std::string* path : {&names.bin, &names.heq, &temporary, &names.rpp}) {
        if (path->empty())
            continue;
        std::error_code ec;
        fs::remove(PathFromUtf8(*path), ec);
        if (ec)
            failures += (failures.empty() ? "" : "\n") + std::string("Can't remove file \"") +
                        *path + "\": " + ec.message();
    }
    return failures.empty() ? FileStatus::Ok() : FileStatus::Fail(failures);
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &now);
#else
    localtime_r(&now, &t);
#endif
    return t;
}

double TimeStampFromLocal(const std::tm& t, int milliseconds) {
    const int64_t days =
        DaysFromCivil(t.tm_year + 1900, unsigned(t.tm_mon + 1), unsigned(t.tm_mday)) -
        DaysFromCivil(1899, 12, 30);
    const double seconds = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec + milliseconds / 1000.0;
    return double(days) + seconds / 86400.0;
}

double NowTimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    return TimeStampFromLocal(LocalTimeNow(), int(ms.count()));
}

// ---- ".heq" ------------------------------------------------------------------

FileStatus CheckHeqHeader(const AcquisitionHeader& header) {
    const int64_t quadripoles = header.SequenceLength();
    if (quadripoles < 1 || quadripoles > kMaxQuadripoles)
        return FileStatus::Fail("The header gives " + std::to_string(quadripoles) +
                                " quadripoles; a sequence holds 1 to " +
                                std::to_string(kMaxQuadripoles) + ".");
    return FileStatus::Ok();
}

int32_t NodeSlotsInUse(const AcquisitionHeader& header) {
    return std::clamp<int32_t>(header.nodeCount, 0, kMaxNodes);
}

FileStatus WriteHeqFile(const std::string& path, const uint8_t instrumentWord[4],
                        const char acquisitionName[11], const AcquisitionHeader& header,
                        const Sequence& sequence) {
    // Nothing is written that the reader would refuse.
    if (FileStatus fits = CheckHeqHeader(header); !fits)
        return FileStatus::Fail("Can't write file \"" + path + "\": " + fits.message);
    std::vector<uint8_t> image(kHeqFileSize);
    std::memcpy(image.data() + kHeqWordOffset, instrumentWord, kInstrumentWordSize);
    std::memcpy(image.data() + kHeqNameOffset, acquisitionName, kAcquisitionNameSize);
    header.Encode(image.data() + kHeqHeaderOffset);
    for (int i = 0; i < kMaxNodes; ++i)
        sequence.nodes[i].Encode(image.data() + kHeqNodesOffset + i * NodeRecord::kSize);
    for (int i = 0; i < kMaxQuadripoles; ++i)
        sequence.quadripoles[i].Encode(image.data() + kHeqQuadripolesOffset +
                                       i * QuadripoleRecord::kSize);

    // Never over an existing file; checked first so that nothing is written
    // beside it either.
    if (Exists(path))
        return CreateFailure(path, EEXIST);
    // The file gets its name only when complete: a disk that fills or a
    // program that dies half-way leaves no truncated ".heq" behind.
    const std::string temporary = HeqTemporaryName(path);
    RemoveQuietly(temporary); // left by a run that died while writing it
    FilePtr file = CreateNewFile(temporary);
    if (!file)
        return CreateFailure(path);
    auto fail = [&](FileStatus status) {
        if (file)
            std::fclose(file.release());
        RemoveQuietly(temporary);
        return status;
    };
    // The five blocks in their order, one write each.
    const size_t blocks[][2] = {{kHeqWordOffset, kInstrumentWordSize},
                                {kHeqNameOffset, kAcquisitionNameSize},
                                {kHeqHeaderOffset, AcquisitionHeader::kSize},
                                {kHeqNodesOffset, kNodeTableBytes},
                                {kHeqQuadripolesOffset, kQuadripoleTableBytes}};
    for (const auto& block : blocks) {
        if (WriteData(file.get(), image.data() + block[0], block[1]) != block[1])
            return fail(WriteFailure(path));
    }
    if (!FlushToDisk(file.get()))
        return fail(WriteFailure(path));
    if (!CloseChecked(file))
        return fail(WriteFailure(path));
    if (!RenameNoReplace(temporary, path))
        return fail(CreateFailure(path));
    return FileStatus::Ok();
}

std::string HeqTemporaryName(const std::string& heqPath) {
    return heqPath + ".part";
}

FileStatus DecodeHeqImage(const uint8_t* data, size_t size, HeqContent& content,
                          Sequence& sequence) {
    if (size < kHeqFileSize)
        return FileStatus::Fail("The header file is too short (" + std::to_string(size) +
                                " bytes instead of " + std::to_string(kHeqFileSize) +
                                "): it is damaged or incomplete.");
    const AcquisitionHeader header = AcquisitionHeader::Decode(data + kHeqHeaderOffset);
    if (FileStatus fits = CheckHeqHeader(header); !fits)
        return fits;
    const int64_t quadripoles = header.SequenceLength();

    std::memcpy(content.instrumentWord, data + kHeqWordOffset, kInstrumentWordSize);
    std::memcpy(content.acquisitionName, data + kHeqNameOffset, kAcquisitionNameSize);
    content.header = header;
    for (int i = 0; i < kMaxNodes; ++i)
        sequence.nodes[i] = NodeRecord::Decode(data + kHeqNodesOffset + i * NodeRecord::kSize);
    for (int i = 0; i < kMaxQuadripoles; ++i)
        sequence.quadripoles[i] =
            QuadripoleRecord::Decode(data + kHeqQuadripolesOffset + i * QuadripoleRecord::kSize);
    sequence.nodeCount = NodeSlotsInUse(header);
    sequence.quadripoleCount = int32_t(quadripoles);
    return FileStatus::Ok();
}

FileStatus ReadHeqFile(const std::string& path, HeqContent& content, Sequence& sequence) {
    FilePtr file = OpenFile(path, "rb");
    if (!file)
        return FileStatus::Fail("Can't open file \"" + path + "\": " + SystemReason());
    std::vector<uint8_t> image(kHeqFileSize);
    const size_t got = std::fread(image.data(), 1, image.size(), file.get());
    if (std::ferror(file.get()))
        return FileStatus::Fail("Can't read file \"" + path + "\": " + SystemReason());
    FileStatus status = DecodeHeqImage(image.data(), got, content, sequence);
    if (!status)
        status.message = "\"" + path + "\": " + status.message;
    return status;
}

// ---- ".bin" ------------------------------------------------------------------

void MakeBinHeader(const std::tm& t, const std::string& comment, uint8_t out[kBinHeaderSize]) {
    std::memset(out, 0, kBinHeaderSize);
    le::put32(out, kBinMagic);
    out[4] = kBinHeaderByte;
    char when[128] = {};
    // The operator's own short date and long time formats.
    if (std::strftime(when, sizeof when, "%x %X", &t) == 0)
        when[0] = '\0';
    std::string text = std::string(when) + "\r\n" + comment;
    // Readers take the block as a zero-terminated text: keep the last zero.
    if (text.size() > kBinTextBlockSize - 1)
        text.resize(kBinTextBlockSize - 1);
    std::memcpy(out + 5, text.data(), text.size());
}

FileStatus CreateBinFile(const std::string& path, const std::string& comment) {
    return CreateBinFile(path, comment, LocalTimeNow());
}

FileStatus CreateBinFile(const std::string& path, const std::string& comment, const std::tm& t) {
    uint8_t header[kBinHeaderSize];
    MakeBinHeader(t, comment, header);
    FilePtr file = CreateNewFile(path);
    if (!file)
        return CreateFailure(path);
    // The file is this call's own: one without its whole header is removed.
    const bool written = WriteData(file.get(), header, kBinHeaderSize) == kBinHeaderSize;
    const int error = errno;
    if (!CloseChecked(file) || !written) {
        const FileStatus status = WriteFailure(path, written ? errno : error);
        RemoveQuietly(path);
        return status;
    }
    return FileStatus::Ok();
}

FileStatus AppendMeasureRecords(const std::string& path, const MeasureRecord* records, int count) {
    if (FileStatus s = CheckBatchSize(count); !s)
        return s;
    const std::vector<uint8_t> image = EncodeRecords(records, count);
    const AppendPart parts[] = {{path, image.data(), image.size()}};
    return AppendAllOrNothing(parts);
}

// ---- ".rpp" ------------------------------------------------------------------

FileStatus CreateRawRecordFile(const std::string& path) {
    FilePtr file = CreateNewFile(path);
    if (!file)
        return CreateFailure(path);
    if (!CloseChecked(file))
        return CreateFailure(path);
    return FileStatus::Ok();
}

FileStatus AppendMeasureAndRawRecords(const std::string& binPath, const MeasureRecord* records,
                                      int count, const std::string& rppPath, const uint8_t* raw,
                                      size_t rawBytes) {
    if (FileStatus s = CheckBatchSize(count); !s)
        return s;
    const std::vector<uint8_t> image = EncodeRecords(records, count);
    const AppendPart parts[] = {{binPath, image.data(), image.size()}, {rppPath, raw, rawBytes}};
    return AppendAllOrNothing(parts);
}

// ---- test hook ---------------------------------------------------------------

void SetDataWriteBudget(int64_t bytes) {
    WriteBudget().store(bytes < 0 ? -1 : bytes);
}

bool IsBinHeader(const uint8_t* data, size_t size) {
    return size >= kBinHeaderSize && le::get32(data) == kBinMagic && data[4] == kBinHeaderByte;
}

BinFileReader::~BinFileReader() {
    Close();
}

void BinFileReader::Close() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    path_.clear();
    recordCount_ = 0;
    recordsRead_ = 0;
    status_ = FileStatus::Ok();
}

FileStatus BinFileReader::Open(const std::string& path) {
    Close();
    FilePtr file = OpenFile(path, "rb");
    if (!file) {
        int error = errno;
        // Windows refuses a folder as "permission denied", which would send
        // the operator looking for a rights problem.
        std::error_code ec;
        if (fs::is_directory(PathFromUtf8(path), ec))
            error = EISDIR;
        return FileStatus::Fail("Can't open file \"" + path + "\": " + SystemReason(error));
    }
    uint8_t header[kBinHeaderSize];
    errno = 0;
    const size_t got = std::fread(header, 1, kBinHeaderSize, file.get());
    if (std::ferror(file.get()))
        return FileStatus::Fail("Can't read file \"" + path + "\": " + SystemReason());
    if (got < kBinHeaderSize)
        return FileStatus::Fail("\"" + path + "\" is not a Pylorix data file: it is shorter (" +
                                std::to_string(got) + " bytes) than the header of one (" +
                                std::to_string(kBinHeaderSize) + " bytes).");
    if (!IsBinHeader(header, got))
        return FileStatus::Fail("\"" + path +
                                "\" is not a Pylorix data file: it does not begin with the "
                                "header of one.");
    // The size of the file opened, not of whatever the name points to now.
    int64_t size = 0;
    if (!SeekToEnd(file.get(), size) || !SeekTo(file.get(), int64_t(kBinHeaderSize)))
        return FileStatus::Fail("Can't read file \"" + path + "\": " + SystemReason());
    recordCount_ = (size - int64_t(kBinHeaderSize)) / int64_t(MeasureRecord::kSize);
    recordsRead_ = 0;
    path_ = path;
    file_ = file.release();
    return FileStatus::Ok();
}

bool BinFileReader::Next(MeasureRecord& record) {
    if (!file_ || recordsRead_ >= recordCount_)
        return false;
    uint8_t image[MeasureRecord::kSize];
    errno = 0;
    if (std::fread(image, 1, sizeof image, file_) != sizeof image) {
        // A file cut shorter while it was read simply ends; a read error is
        // said as such.
        if (std::ferror(file_))
            status_ = FileStatus::Fail("Can't read file \"" + path_ + "\": " + SystemReason());
        recordCount_ = recordsRead_;
        return false;
    }
    record = MeasureRecord::Decode(image);
    ++recordsRead_;
    return true;
}
