// What breaks file code on Windows and passes unnoticed elsewhere: text-mode
// translation of CR, LF and Ctrl-Z in binary files, names with accented
// letters that the narrow file calls read in the ANSI code page, path
// separators, the locale in the .bin date text, and a decimal comma in the
// numbers written for the inversion codes. Run in every build; the Windows
// cross build runs it under Wine.
#include "TestEnvironment.h"
#include "TestSupport.h"
#include "files/AcquisitionFiles.h"
#ifdef PYLORIX_TEST_HAVE_EXPORT
#include "export/InversionExport.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <locale>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::tm At(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return t;
}

// A record whose bytes hold every value text mode rewrites: LF, CR, CR LF
// and Ctrl-Z (end of file to the Windows C library in text mode).
MeasureRecord HostileRecord(int index) {
    MeasureRecord r{};
    r.recordVersion = 3;
    r.recordOne = 1;
    r.quadripoleIndex = int16_t(index);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&r);
    const uint8_t pattern[] = {0x0D, 0x0A, 0x1A, 0x0A, 0x0D, 0x00, 0x1A, 0xFF};
    // Past the fields a reader checks, fill with the pattern.
    for (size_t i = 16; i < sizeof r; ++i)
        bytes[i] = pattern[i % sizeof pattern];
    return r;
}

struct Recording {
    uint8_t word[4] = {0x0D, 0x0A, 0x1A, 0x00};
    char name[11] = {'L', 'I', 'N', 'E', '\r', '\n', 0x1A, 0, 0, 0, 0};
    AcquisitionHeader header{};
    std::unique_ptr<Sequence> seq = std::make_unique<Sequence>();

    Recording() {
        header.channelCount = 10;
        header.firstQuadripole = 0;
        header.lastQuadripole = 9;
        header.nodeCount = 4;
        header.firstNode = 1;
        header.lastNode = 4;
        for (int i = 1; i <= 4; ++i)
            seq->nodes[i] = {float(i) + 0.1f, 13.0f / 1024, 26.0f, 1}; // LF and CR bytes
        for (int q = 0; q < 10; ++q)
            seq->quadripoles[q] = {q % 4 + 1, 1, 2, 3, 0};
    }
};

std::string Utf8Name(const fs::path& p) {
    const std::u8string text = p.filename().u8string();
    return std::string(text.begin(), text.end());
}

// A numeric punctuation with a decimal comma and a dot for thousands, as
// French or German users have it.
struct CommaDecimals : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Installs a decimal-comma locale for C++ streams and, where the system has
// one, for the C library; restores both afterwards.
class CommaLocale {
public:
    CommaLocale()
        : previousCpp_(std::locale::global(std::locale(std::locale(), new CommaDecimals))) {
        previousC_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name :
             {"fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR", "French_France.1252", "French", "fr-FR"}) {
            if (std::setlocale(LC_ALL, name)) {
                cName_ = name;
                break;
            }
        }
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, previousC_.c_str());
        std::locale::global(previousCpp_);
    }
    // The C library's locale in force, or empty when none has a comma.
    const std::string& CName() const { return cName_; }

private:
    std::locale previousCpp_;
    std::string previousC_;
    std::string cName_;
};

} // namespace

TEST(WindowsPitfalls, BinaryFilesKeepEveryByteThatTextModeWouldRewrite) {
    testsupport::TempRoot root;
    const std::string bin = root.path() + "/hostile.bin";
    ASSERT_TRUE(CreateBinFile(bin, "line\none\r\n\x1a end", At(2024, 5, 1, 14, 3, 27)).ok);
    MeasureRecord batch[3] = {HostileRecord(0), HostileRecord(1), HostileRecord(2)};
    ASSERT_TRUE(AppendMeasureRecords(bin, batch, 3).ok);
    ASSERT_TRUE(AppendMeasureRecords(bin, batch, 1).ok);

    // Nothing added (CR before LF) and nothing cut (at Ctrl-Z).
    const std::vector<uint8_t> image = testsupport::readFile(bin);
    ASSERT_EQ(image.size(), kBinHeaderSize + 4 * sizeof(MeasureRecord));
    EXPECT_TRUE(IsBinHeader(image.data(), image.size()));

    BinFileReader reader;
    ASSERT_TRUE(reader.Open(bin).ok);
    EXPECT_EQ(reader.RecordCount(), 4);
    MeasureRecord r{};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(reader.Next(r)) << i;
        const MeasureRecord expected = HostileRecord(i < 3 ? i : 0);
        EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << "record " << i;
    }
    EXPECT_FALSE(reader.Next(r));
    EXPECT_TRUE(reader.Status().ok);

    // The .heq the same: its name and instrument word hold CR, LF and
    // Ctrl-Z, its coordinates bytes of those values.
    Recording rec;
    const std::string heq = root.path() + "/hostile.heq";
    ASSERT_TRUE(WriteHeqFile(heq, rec.word, rec.name, rec.header, *rec.seq).ok);
    HeqContent content;
    auto back = std::make_unique<Sequence>();
    ASSERT_TRUE(ReadHeqFile(heq, content, *back).ok);
    EXPECT_EQ(std::memcmp(content.instrumentWord, rec.word, 4), 0);
    EXPECT_EQ(std::memcmp(content.acquisitionName, rec.name, 11), 0);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(std::memcmp(&back->nodes[i], &rec.seq->nodes[i], sizeof rec.seq->nodes[i]), 0);
}

TEST(WindowsPitfalls, AccentedNamesAreWrittenAndReadBackAsTheyAre) {
    testsupport::TempRoot root;
    // A folder and an acquisition named with letters outside ASCII and
    // outside the Windows-1252 code page (Polish, Greek).
    const std::string folderName = "Donn\xC3\xA9"
                                   "es \xC5\x81\xC3\xB3"
                                   "d\xC5\xBA \xCE\xB1";
    const fs::path folder = PathFromUtf8(root.path()) / PathFromUtf8(folderName);
    ASSERT_TRUE(CreateFolderOneLevel(folder).ok);
    // The instrument's text is Latin-1: "Séville".
    const std::string acquisition = "S\xE9ville";
    const AcquisitionFileNames names =
        MakeAcquisitionFileNames(folder, At(2024, 5, 1, 14, 3, 27), acquisition);
    ASSERT_TRUE(CreateBinFile(names.bin, "", At(2024, 5, 1, 14, 3, 27)).ok);
    const MeasureRecord r = HostileRecord(0);
    ASSERT_TRUE(AppendMeasureRecords(names.bin, &r, 1).ok);
    Recording rec;
    ASSERT_TRUE(WriteHeqFile(names.heq, rec.word, rec.name, rec.header, *rec.seq).ok);

    // On disk under exactly those names, and nothing else beside them.
    std::vector<std::string> listing;
    for (const auto& e : fs::directory_iterator(folder))
        listing.push_back(Utf8Name(e.path()));
    std::sort(listing.begin(), listing.end());
    const std::string base = "Pylorix - 2024-05-01 - 14.03.27 - S\xC3\xA9ville";
    EXPECT_EQ(listing, (std::vector<std::string>{base + ".bin", base + ".heq"}));
    EXPECT_EQ(Utf8Name(PathFromUtf8(names.bin).parent_path()), folderName);

    // Read back by the same names, and a second run takes the next free one.
    HeqContent content;
    auto back = std::make_unique<Sequence>();
    EXPECT_TRUE(ReadHeqFile(names.heq, content, *back).ok);
    BinFileReader reader;
    ASSERT_TRUE(reader.Open(names.bin).ok);
    EXPECT_EQ(reader.RecordCount(), 1);
    const AcquisitionFileNames second =
        MakeAcquisitionFileNames(folder, At(2024, 5, 1, 14, 3, 27), acquisition);
    EXPECT_EQ(Utf8Name(PathFromUtf8(second.bin)), base + " (2).bin");
    // A data root named so, given through the environment, is where the
    // data folder is made.
    const std::string rootText = PathToUtf8(folder / PathFromUtf8("R\xC3\xA9seau \xCE\xB2"));
#ifdef _WIN32
    _wputenv_s(L"PYLORIX_ROOT", PathFromUtf8(rootText).wstring().c_str());
#else
    SetEnvironment("PYLORIX_ROOT", rootText);
#endif
    EXPECT_EQ(DataRoot(), PathFromUtf8(rootText));
    ASSERT_TRUE(CreateFolderOneLevel(DataRoot()).ok);
    EXPECT_TRUE(EnsureDataFolder().ok);
    EXPECT_TRUE(fs::is_directory(PathFromUtf8(rootText) / "Pylorix Data"));

    // A name with characters the file system refuses stays one file name.
    EXPECT_EQ(SafeFileNamePart("A/B\\C"), "A_B_C");
}

TEST(WindowsPitfalls, PathsJoinWithTheSystemsSeparatorAndKeepTheirFolder) {
    testsupport::TempRoot root;
    const fs::path folder = PathFromUtf8(root.path()) / "a" / "b";
    ASSERT_TRUE(CreateFolderOneLevel(folder.parent_path()).ok);
    ASSERT_TRUE(CreateFolderOneLevel(folder).ok);
    const AcquisitionFileNames names =
        MakeAcquisitionFileNames(folder, At(2024, 5, 1, 1, 2, 3), "X");
    EXPECT_EQ(PathFromUtf8(names.bin).parent_path(), folder);
    EXPECT_EQ(PathFromUtf8(HeqTemporaryName(names.heq)).parent_path(), folder);
    ASSERT_TRUE(CreateBinFile(names.bin, "").ok);
    EXPECT_TRUE(fs::exists(folder / PathFromUtf8(Utf8Name(PathFromUtf8(names.bin)))));

    // A folder given with the other separator, or with a trailing one,
    // names the same place.
    std::string other = PathToUtf8(folder) + "/";
#ifdef _WIN32
    std::replace(other.begin(), other.end(), '\\', '/');
#endif
    const AcquisitionFileNames again =
        MakeAcquisitionFileNames(PathFromUtf8(other), At(2024, 5, 1, 1, 2, 3), "X");
    EXPECT_TRUE(fs::equivalent(PathFromUtf8(again.bin).parent_path(), folder));
    EXPECT_NE(again.bin, names.bin); // it saw the first run's file
#ifdef PYLORIX_TEST_HAVE_EXPORT
    // The data beside a recording is found whichever separators its path has.
    EXPECT_TRUE(fs::equivalent(PathFromUtf8(DataFileBeside(names.heq)), PathFromUtf8(names.bin)));
#endif
}

TEST(WindowsPitfalls, TheBinDateTextIsDateBlankTimeThenTheComment) {
    // The C library's "C" locale on every system: month/day/year.
    const char* before = std::setlocale(LC_TIME, nullptr);
    const std::string previous = before ? before : "C";
    std::setlocale(LC_TIME, "C");
    uint8_t header[kBinHeaderSize];
    MakeBinHeader(At(2024, 5, 1, 14, 3, 27), "Profil \xE9t\xE9", header);
    std::setlocale(LC_TIME, previous.c_str());

    const std::string text(reinterpret_cast<const char*>(header + 5));
    EXPECT_EQ(text, "05/01/24 14:03:27\r\nProfil \xE9t\xE9");
    EXPECT_TRUE(IsBinHeader(header, sizeof header));
    // The block ends in a zero whatever the comment's length.
    uint8_t full[kBinHeaderSize];
    MakeBinHeader(At(2024, 5, 1, 14, 3, 27), std::string(2000, 'c'), full);
    EXPECT_EQ(full[kBinHeaderSize - 1], 0);
    EXPECT_TRUE(IsBinHeader(full, sizeof full));
}

#ifdef PYLORIX_TEST_HAVE_EXPORT
TEST(WindowsPitfalls, ExportsKeepTheDecimalPointUnderADecimalCommaLocale) {
    const std::string plainNumber = FormatExportNumber(1234.5);
    const std::string plainSmall = FormatExportNumber(-0.125);
    const std::string plainCoordinate = FormatExportCoordinate(2.25f);
    // Seven significant digits, never fewer than three decimals.
    EXPECT_EQ(plainSmall, "-0.1250000");
    EXPECT_EQ(plainCoordinate, "2.250000");
    CommaLocale comma;
    EXPECT_EQ(FormatExportNumber(1234.5), plainNumber);
    EXPECT_EQ(FormatExportCoordinate(2.25f), plainCoordinate);
    EXPECT_EQ(plainCoordinate.find(','), std::string::npos);
    EXPECT_NE(plainNumber.find('.'), std::string::npos);
    if (comma.CName().empty())
        GTEST_SKIP() << "no decimal-comma C locale on this system; checked C++ streams only";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the C locale " << comma.CName() << " has no decimal comma";
    EXPECT_EQ(FormatExportNumber(-0.125), plainSmall);
    EXPECT_EQ(FormatExportCoordinate(2.25f), plainCoordinate);
    EXPECT_EQ(FormatExportNumber(1234.5), plainNumber);
}
#endif
