#include "files/AcquisitionFiles.h"

#include "common/ByteOrder.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

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
    std::wstring wpath = fs::u8path(path).wstring();
    std::wstring wmode(mode, mode + std::strlen(mode));
    return FilePtr(_wfopen(wpath.c_str(), wmode.c_str()));
#else
    return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

std::string SystemReason() {
    return std::strerror(errno);
}

// Closes the file and reports whether every buffered byte reached it.
bool CloseChecked(FilePtr& file) {
    std::FILE* f = file.release();
    return std::fclose(f) == 0;
}

FileStatus WriteFailure(const std::string& path) {
    return FileStatus::Fail("Can't write file \"" + path + "\": " + SystemReason());
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
    if (const char* env = std::getenv("PYLORIX_ROOT"); env && *env)
        return fs::path(env);
#ifdef _WIN32
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(buffer).root_name() / L"\\Varmex\\";
#else
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
                                (shown.empty() ? folder.string() : shown) + "\"");
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
    const fs::path base = folder / AcquisitionBaseName(t, acquisitionName);
    const std::string b = base.string();
    return {b + ".bin", b + ".heq", b + ".rpp"};
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

FileStatus WriteHeqFile(const std::string& path, const uint8_t instrumentWord[4],
                        const char acquisitionName[11], const AcquisitionHeader& header,
                        const Sequence& sequence) {
    std::vector<uint8_t> image(kHeqFileSize);
    std::memcpy(image.data() + kHeqWordOffset, instrumentWord, kInstrumentWordSize);
    std::memcpy(image.data() + kHeqNameOffset, acquisitionName, kAcquisitionNameSize);
    header.Encode(image.data() + kHeqHeaderOffset);
    for (int i = 0; i < kMaxNodes; ++i)
        sequence.nodes[i].Encode(image.data() + kHeqNodesOffset + i * NodeRecord::kSize);
    for (int i = 0; i < kMaxQuadripoles; ++i)
        sequence.quadripoles[i].Encode(image.data() + kHeqQuadripolesOffset +
                                       i * QuadripoleRecord::kSize);

    FilePtr file = OpenFile(path, "wb");
    if (!file)
        return FileStatus::Fail("Can't create file \"" + path + "\": " + SystemReason());
    // The five blocks in their order, one write each.
    const size_t blocks[][2] = {{kHeqWordOffset, kInstrumentWordSize},
                                {kHeqNameOffset, kAcquisitionNameSize},
                                {kHeqHeaderOffset, AcquisitionHeader::kSize},
                                {kHeqNodesOffset, kNodeTableBytes},
                                {kHeqQuadripolesOffset, kQuadripoleTableBytes}};
    for (const auto& block : blocks) {
        if (std::fwrite(image.data() + block[0], 1, block[1], file.get()) != block[1])
            return WriteFailure(path);
    }
    if (!CloseChecked(file))
        return WriteFailure(path);
    return FileStatus::Ok();
}

FileStatus DecodeHeqImage(const uint8_t* data, size_t size, HeqContent& content,
                          Sequence& sequence) {
    if (size < kHeqFileSize)
        return FileStatus::Fail("The header file is too short (" + std::to_string(size) +
                                " bytes instead of " + std::to_string(kHeqFileSize) +
                                "): it is damaged or incomplete.");
    const AcquisitionHeader header = AcquisitionHeader::Decode(data + kHeqHeaderOffset);
    const int64_t quadripoles = header.SequenceLength();
    if (quadripoles < 1 || quadripoles > kMaxQuadripoles)
        return FileStatus::Fail("The header file gives " + std::to_string(quadripoles) +
                                " quadripoles; a sequence holds 1 to " +
                                std::to_string(kMaxQuadripoles) + ".");
    if (header.nodeCount < 0 || header.nodeCount > kMaxNodes || header.firstNode < 0 ||
        header.lastNode >= kMaxNodes || header.firstNode > header.lastNode)
        return FileStatus::Fail(
            "The header file gives an electrode range (" + std::to_string(header.firstNode) +
            " to " + std::to_string(header.lastNode) + ", " + std::to_string(header.nodeCount) +
            " electrodes) outside the node table.");

    std::memcpy(content.instrumentWord, data + kHeqWordOffset, kInstrumentWordSize);
    std::memcpy(content.acquisitionName, data + kHeqNameOffset, kAcquisitionNameSize);
    content.header = header;
    for (int i = 0; i < kMaxNodes; ++i)
        sequence.nodes[i] = NodeRecord::Decode(data + kHeqNodesOffset + i * NodeRecord::kSize);
    for (int i = 0; i < kMaxQuadripoles; ++i)
        sequence.quadripoles[i] =
            QuadripoleRecord::Decode(data + kHeqQuadripolesOffset + i * QuadripoleRecord::kSize);
    sequence.nodeCount = header.nodeCount;
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
    FilePtr file = OpenFile(path, "wb");
    if (!file)
        return FileStatus::Fail("Can't create file \"" + path + "\": " + SystemReason());
    if (std::fwrite(header, 1, kBinHeaderSize, file.get()) != kBinHeaderSize)
        return WriteFailure(path);
    if (!CloseChecked(file))
        return WriteFailure(path);
    return FileStatus::Ok();
}

FileStatus AppendMeasureRecords(const std::string& path, const MeasureRecord* records, int count) {
    if (count < 0 || count > kMaxChannels)
        return FileStatus::Fail("Invalid batch of " + std::to_string(count) + " records.");
    // The file must already exist: recreating a vanished file would silently
    // drop its header and every earlier batch.
    FilePtr file = OpenFile(path, "r+b");
    if (!file)
        return FileStatus::Fail("Can't open file \"" + path + "\": " + SystemReason());
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return WriteFailure(path);
    std::vector<uint8_t> image(size_t(count) * MeasureRecord::kSize);
    for (int i = 0; i < count; ++i)
        records[i].Encode(image.data() + size_t(i) * MeasureRecord::kSize);
    if (!image.empty() && std::fwrite(image.data(), 1, image.size(), file.get()) != image.size())
        return WriteFailure(path);
    if (!CloseChecked(file))
        return WriteFailure(path);
    return FileStatus::Ok();
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
    recordCount_ = 0;
    recordsRead_ = 0;
}

FileStatus BinFileReader::Open(const std::string& path) {
    Close();
    FilePtr file = OpenFile(path, "rb");
    if (!file)
        return FileStatus::Fail("Can't open file \"" + path + "\": " + SystemReason());
    uint8_t header[kBinHeaderSize];
    const size_t got = std::fread(header, 1, kBinHeaderSize, file.get());
    if (!IsBinHeader(header, got))
        return FileStatus::Fail("\"" + path + "\" is not a Pylorix data file.");
    std::error_code ec;
    const auto size = fs::file_size(fs::path(path), ec);
    if (ec)
        return FileStatus::Fail("Can't read file \"" + path + "\": " + ec.message());
    recordCount_ = int64_t((size - kBinHeaderSize) / MeasureRecord::kSize);
    recordsRead_ = 0;
    file_ = file.release();
    return FileStatus::Ok();
}

bool BinFileReader::Next(MeasureRecord& record) {
    if (!file_ || recordsRead_ >= recordCount_)
        return false;
    uint8_t image[MeasureRecord::kSize];
    if (std::fread(image, 1, sizeof image, file_) != sizeof image)
        return false;
    record = MeasureRecord::Decode(image);
    ++recordsRead_;
    return true;
}
