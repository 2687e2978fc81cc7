// The acquisition file pair: folder creation, names, exact byte images of
// ".heq" and ".bin", appending, reading back and refusing damaged files;
// names never shared between runs, a full disk, and the files of a run that
// failed before its first batch.
#include "files/AcquisitionFiles.h"
#include "TestSupport.h"

#include "TestEnvironment.h"

#ifndef PYLORIX_CORE_TESTS
#include <QCoreApplication>
#include <QProcess>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

namespace fs = std::filesystem;
using testsupport::le16;
using testsupport::le32;
using testsupport::lef32;
using testsupport::readFile;
using testsupport::TempRoot;

namespace {

std::tm At(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

struct Acquisition {
    uint8_t word[4] = {0x12, 0x34, 0x56, 0x78};
    char name[11] = {'L', 'I', 'N', 'E', '1', 0, 'x', 'y', 'z', 0, 0};
    AcquisitionHeader header{};
    std::unique_ptr<Sequence> seq = std::make_unique<Sequence>();

    Acquisition() {
        header.channelCount = 10;
        header.firstQuadripole = 0;
        header.lastQuadripole = 199;
        header.nodeCount = 48;
        header.firstNode = 1;
        header.lastNode = 48;
        header.setting88 = 0x0BADF00D;
        seq->nodes[0] = {kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate, 0};
        for (int i = 1; i <= 48; ++i)
            seq->nodes[i] = {float(i) * 2.0f, 0.5f, -1.0f, i};
        for (int i = 0; i < 200; ++i)
            seq->quadripoles[i] = {1 + i % 40, 2 + i % 40, 3 + i % 40, 4 + i % 40, -(i % 2)};
    }
};

MeasureRecord Record(int index, float rho) {
    MeasureRecord r{};
    r.recordVersion = 3;
    r.recordOne = 1;
    r.quadripoleIndex = int16_t(index);
    r.rho = rho;
    r.timeStamp = 45413.25;
    return r;
}

} // namespace

TEST(AcquisitionFolders, BothLevelsAreCreatedUnderTheRoot) {
    TempRoot root;
    const fs::path r = fs::path(root.path()) / "Varmex";
    SetEnvironment("PYLORIX_ROOT", r.string());
    EXPECT_EQ(DataRoot(), r);
    EXPECT_EQ(DataFolder(), r / "Pylorix Data");
    ASSERT_TRUE(EnsureDataFolder().ok);
    EXPECT_TRUE(fs::is_directory(r / "Pylorix Data"));
    // Existing folders are fine the second time.
    EXPECT_TRUE(EnsureDataFolder().ok);
}

TEST(AcquisitionFolders, ARootThatCannotBeCreatedIsReportedWithItsPath) {
    TempRoot root;
    const fs::path r = fs::path(root.path()) / "missing" / "Varmex";
    SetEnvironment("PYLORIX_ROOT", r.string());
    const FileStatus s = EnsureDataFolder();
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message, "Can't create directory \"" + r.string() + "\"");
}

TEST(AcquisitionNames, BaseNameFollowsDateTimeAndName) {
    EXPECT_EQ(AcquisitionBaseName(At(2024, 5, 1, 14, 3, 27), "LINE1"),
              "Pylorix - 2024-05-01 - 14.03.27 - LINE1");
    // Joined with the system's separator ("/data\\..." on Windows).
    const auto names = MakeAcquisitionFileNames("/data", At(2024, 5, 1, 14, 3, 27), "LINE1");
    const fs::path data("/data");
    EXPECT_EQ(names.bin, PathToUtf8(data / "Pylorix - 2024-05-01 - 14.03.27 - LINE1.bin"));
    EXPECT_EQ(names.heq, PathToUtf8(data / "Pylorix - 2024-05-01 - 14.03.27 - LINE1.heq"));
    EXPECT_EQ(names.rpp, PathToUtf8(data / "Pylorix - 2024-05-01 - 14.03.27 - LINE1.rpp"));
}

TEST(AcquisitionNames, NameStopsAtZeroAndRefusedCharactersAreReplaced) {
    const char raw[11] = {'A', '/', 'B', '\\', 'C', '\n', 'D', 0, 'E', 'F', 'G'};
    const std::string text = AcquisitionNameText(raw);
    EXPECT_EQ(text, std::string("A/B\\C\nD"));
    EXPECT_EQ(SafeFileNamePart(text), "A_B_C_D");
    // Without a terminator all 11 bytes count.
    const char full[11] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'X'};
    EXPECT_EQ(AcquisitionNameText(full), "0123456789X");
    // A Latin-1 name becomes a valid UTF-8 file name.
    EXPECT_EQ(SafeFileNamePart("PROFIL\xC9"), "PROFIL\xC3\x89");
}

TEST(AcquisitionNames, TimeStampCountsDaysFrom1899) {
    EXPECT_DOUBLE_EQ(TimeStampFromLocal(At(1899, 12, 30, 0, 0, 0)), 0.0);
    EXPECT_DOUBLE_EQ(TimeStampFromLocal(At(1900, 3, 1, 0, 0, 0)), 61.0);
    EXPECT_DOUBLE_EQ(TimeStampFromLocal(At(2024, 5, 1, 18, 0, 0)), 45413.75);
}

TEST(HeqFile, ImageHasFiveBlocksAtTheirOffsets) {
    TempRoot root;
    Acquisition acq;
    const std::string path = root.path() + "/a.heq";
    ASSERT_TRUE(WriteHeqFile(path, acq.word, acq.name, acq.header, *acq.seq).ok);
    const auto d = readFile(path);
    ASSERT_EQ(d.size(), 385687u);
    EXPECT_EQ(le32(d, 0), 0x78563412u);
    EXPECT_EQ(0, std::memcmp(&d[4], acq.name, 11));
    EXPECT_EQ(le32(d, 15 + 0), 10u); // channelCount
    EXPECT_EQ(le32(d, 15 + 88), 0x0BADF00Du);
    EXPECT_EQ(le32(d, 15 + 112), 199u); // lastQuadripole
    EXPECT_EQ(lef32(d, 151 + 0), 99999.99f);
    EXPECT_EQ(le32(d, 151 + 0), 0x47C34FFFu);
    EXPECT_EQ(lef32(d, 151 + 16 * 7), 14.0f); // node 7 x
    EXPECT_EQ(le32(d, 151 + 16 * 7 + 12), 7u);
    EXPECT_EQ(le32(d, 65687 + 20 * 3), 4u); // quadripole 3 A
    EXPECT_EQ(le32(d, 65687 + 20 * 3 + 16), 0xFFFFFFFFu);
    EXPECT_EQ(le32(d, 65687 + 20 * 15999), 0u);
}

TEST(HeqFile, RoundTripRestoresStoreAndCounts) {
    TempRoot root;
    Acquisition acq;
    const std::string path = root.path() + "/a.heq";
    ASSERT_TRUE(WriteHeqFile(path, acq.word, acq.name, acq.header, *acq.seq).ok);
    HeqContent content;
    auto back = std::make_unique<Sequence>();
    ASSERT_TRUE(ReadHeqFile(path, content, *back).ok);
    EXPECT_EQ(0, std::memcmp(content.instrumentWord, acq.word, 4));
    EXPECT_EQ(0, std::memcmp(content.acquisitionName, acq.name, 11));
    EXPECT_EQ(content.header.setting88, 0x0BADF00D);
    EXPECT_EQ(back->nodeCount, 48);
    EXPECT_EQ(back->quadripoleCount, 200);
    EXPECT_EQ(0, std::memcmp(back->nodes, acq.seq->nodes, sizeof back->nodes));
    EXPECT_EQ(0, std::memcmp(back->quadripoles, acq.seq->quadripoles, sizeof back->quadripoles));
}

TEST(HeqFile, DamagedFilesAreRefusedAndTheStoreIsLeftAlone) {
    TempRoot root;
    Acquisition acq;
    const std::string path = root.path() + "/a.heq";
    ASSERT_TRUE(WriteHeqFile(path, acq.word, acq.name, acq.header, *acq.seq).ok);
    auto image = readFile(path);

    auto store = std::make_unique<Sequence>();
    store->nodes[3].number = 3333;
    store->quadripoleCount = 17;
    HeqContent content;
    auto expectRefused = [&](const std::vector<uint8_t>& img, const char* what) {
        const std::string bad = root.path() + "/bad.heq";
        testsupport::writeFile(bad, img);
        const FileStatus s = ReadHeqFile(bad, content, *store);
        EXPECT_FALSE(s.ok) << what;
        EXPECT_FALSE(s.message.empty()) << what;
        EXPECT_EQ(store->nodes[3].number, 3333) << what;
        EXPECT_EQ(store->quadripoleCount, 17) << what;
    };

    expectRefused(std::vector<uint8_t>(image.begin(), image.end() - 1), "one byte short");
    expectRefused({}, "empty");

    auto patched = [&](size_t headerOffset, int32_t value) {
        auto img = image;
        for (int i = 0; i < 4; ++i)
            img[15 + headerOffset + i] = uint8_t(uint32_t(value) >> (8 * i));
        return img;
    };
    expectRefused(patched(112, -1), "last quadripole before the first");
    expectRefused(patched(112, 16000), "16001 quadripoles");

    EXPECT_FALSE(ReadHeqFile(root.path() + "/none.heq", content, *store).ok);
    // The limits themselves are accepted.
    auto full = patched(112, 15999);
    testsupport::writeFile(root.path() + "/full.heq", full);
    EXPECT_TRUE(ReadHeqFile(root.path() + "/full.heq", content, *store).ok);
    EXPECT_EQ(store->quadripoleCount, 16000);
}

TEST(BinFile, HeaderIsMagicByteAndLocaleTextThenZeros) {
    TempRoot root;
    const std::string path = root.path() + "/a.bin";
    ASSERT_TRUE(CreateBinFile(path, "", At(2024, 5, 1, 14, 3, 27)).ok);
    const auto d = readFile(path);
    ASSERT_EQ(d.size(), 1029u);
    EXPECT_EQ(d[0], 0x02);
    EXPECT_EQ(d[1], 0x00);
    EXPECT_EQ(d[2], 0x00);
    EXPECT_EQ(d[3], 0x80);
    EXPECT_EQ(d[4], 9);
    const std::string text(reinterpret_cast<const char*>(&d[5]));
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_NE(text.find("14:03:27"), std::string::npos) << text;
    for (size_t i = 5 + text.size(); i < d.size(); ++i)
        ASSERT_EQ(d[i], 0) << i;

    // A comment follows the line break; an oversized one is cut to the block.
    uint8_t header[1029];
    MakeBinHeader(At(2024, 5, 1, 14, 3, 27), std::string(2000, 'c'), header);
    EXPECT_EQ(header[1027], 'c');
    EXPECT_EQ(header[1028], 0);
}

TEST(BinFile, SevenSingleChannelBatchesMake3157Bytes) {
    TempRoot root;
    const std::string path = root.path() + "/a.bin";
    ASSERT_TRUE(CreateBinFile(path, "").ok);
    for (int i = 0; i < 7; ++i) {
        const MeasureRecord r = Record(i, 100.0f + float(i));
        ASSERT_TRUE(AppendMeasureRecords(path, &r, 1).ok);
    }
    EXPECT_EQ(fs::file_size(path), 3157u);

    BinFileReader reader;
    ASSERT_TRUE(reader.Open(path).ok);
    EXPECT_EQ(reader.RecordCount(), 7);
    MeasureRecord r;
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(reader.Next(r));
        EXPECT_EQ(r.quadripoleIndex, i);
        EXPECT_EQ(r.rho, 100.0f + float(i));
    }
    EXPECT_FALSE(reader.Next(r));
}

TEST(BinFile, BatchesKeepSlotOrderAndATrailingFragmentIsIgnored) {
    TempRoot root;
    const std::string path = root.path() + "/a.bin";
    ASSERT_TRUE(CreateBinFile(path, "").ok);
    MeasureRecord batch[20];
    for (int k = 0; k < 20; ++k)
        batch[k] = Record(40 + k, float(k));
    ASSERT_TRUE(AppendMeasureRecords(path, batch, 20).ok);
    const auto d = readFile(path);
    ASSERT_EQ(d.size(), 1029u + 20 * 304);
    EXPECT_EQ(le16(d, 1029 + 304 * 5 + 250), 45u);
    EXPECT_EQ(lef32(d, 1029 + 304 * 19 + 76), 19.0f);

    // An interrupted write leaves part of a record: readers ignore it.
    auto cut = d;
    cut.resize(cut.size() + 100, 0xAB);
    testsupport::writeFile(path, cut);
    BinFileReader reader;
    ASSERT_TRUE(reader.Open(path).ok);
    EXPECT_EQ(reader.RecordCount(), 20);
}

TEST(BinFile, WriteFailuresAreReportedNotSwallowed) {
    TempRoot root;
    const std::string nowhere = root.path() + "/no such folder/a.bin";
    EXPECT_FALSE(CreateBinFile(nowhere, "").ok);
    MeasureRecord r = Record(0, 1.0f);
    // Appending never recreates a vanished file (that would lose its header).
    const FileStatus s = AppendMeasureRecords(root.path() + "/gone.bin", &r, 1);
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.message.find("gone.bin"), std::string::npos);
    EXPECT_FALSE(fs::exists(root.path() + "/gone.bin"));
    Acquisition acq;
    EXPECT_FALSE(WriteHeqFile(root.path() + "/no such folder/a.heq", acq.word, acq.name, acq.header,
                              *acq.seq)
                     .ok);
#ifdef __linux__
    // A full disk.
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(WriteHeqFile("/dev/full", acq.word, acq.name, acq.header, *acq.seq).ok);
    }
#endif
}

TEST(BinFile, ForeignOrShortFilesAreNotReadAsRecords) {
    TempRoot root;
    const std::string path = root.path() + "/x.bin";
    testsupport::writeFile(path, std::vector<uint8_t>(2000, 0x41));
    BinFileReader reader;
    EXPECT_FALSE(reader.Open(path).ok);
    testsupport::writeFile(path, {0x02, 0x00, 0x00, 0x80, 9});
    EXPECT_FALSE(reader.Open(path).ok);
    EXPECT_FALSE(reader.Open(root.path() + "/missing.bin").ok);
}

// The node fields are the instrument's: a live run stores whatever they say
// (a 16-bit node count, a moving array's unchecked range), so the reader
// takes them too, and the store never claims more slots than it has.
TEST(HeqFile, EveryHeaderTheWriterTakesIsReadBack) {
    TempRoot root;
    Acquisition acq;
    struct Case {
        int32_t first, last, nodeCount, firstNode, lastNode;
        bool written;
        int32_t nodeSlots;
    };
    const Case cases[] = {
        {0, 199, 5000, 1, 48, true, kMaxNodes},
        {0, 199, 65535, 1, 48, true, kMaxNodes},
        {0, 199, 48, 0, 4096, true, 48},
        {0, 15999, 48, -5, 3, true, 48},
        {0, 199, -1, 1, 48, true, 0},
        {0, 16000, 48, 1, 48, false, 0},
        {5, 4, 48, 1, 48, false, 0},
        {INT32_MIN, INT32_MAX, 48, 1, 48, false, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string path = root.path() + "/h" + std::to_string(n++) + ".heq";
        acq.header.firstQuadripole = c.first;
        acq.header.lastQuadripole = c.last;
        acq.header.nodeCount = c.nodeCount;
        acq.header.firstNode = c.firstNode;
        acq.header.lastNode = c.lastNode;
        const FileStatus written = WriteHeqFile(path, acq.word, acq.name, acq.header, *acq.seq);
        ASSERT_EQ(written.ok, c.written) << written.message;
        if (!c.written) {
            EXPECT_NE(written.message.find(path), std::string::npos) << written.message;
            EXPECT_FALSE(fs::exists(path));
            continue;
        }
        HeqContent content;
        auto back = std::make_unique<Sequence>();
        const FileStatus read = ReadHeqFile(path, content, *back);
        ASSERT_TRUE(read.ok) << read.message;
        EXPECT_EQ(content.header.nodeCount, c.nodeCount);
        EXPECT_EQ(content.header.firstNode, c.firstNode);
        EXPECT_EQ(content.header.lastNode, c.lastNode);
        EXPECT_EQ(back->nodeCount, c.nodeSlots);
    }
}

// Each failure says which file and why, in the system's words.
TEST(BinFile, AFileThatCannotBeUsedIsNamedWithTheReason) {
    TempRoot root;
    const std::string foreign = root.path() + "/foreign.bin";
    testsupport::writeFile(foreign, std::vector<uint8_t>(2000, 0x41));
    const std::string shortFile = root.path() + "/short.bin";
    testsupport::writeFile(shortFile, {0x02, 0x00, 0x00, 0x80, 9});
    const std::string folder = root.path() + "/folder.bin";
    fs::create_directory(folder);
    const std::string missing = root.path() + "/missing.bin";
    const std::pair<std::string, std::string> cases[] = {
        {foreign, "is not a Pylorix data file"},
        {shortFile, "is not a Pylorix data file: it is shorter (5 bytes)"},
        {folder, std::strerror(EISDIR)},
        {missing, std::strerror(ENOENT)},
    };
    for (const auto& [path, reason] : cases) {
        BinFileReader reader;
        const FileStatus s = reader.Open(path);
        EXPECT_FALSE(s.ok) << path;
        EXPECT_NE(s.message.find("\"" + path + "\""), std::string::npos) << s.message;
        EXPECT_NE(s.message.find(reason), std::string::npos) << s.message;
    }
}

// A file cut shorter while it is read ends there, as a shorter file would;
// it is not a read error.
TEST(BinFile, AFileCutWhileBeingReadEndsWhereItWasCut) {
    TempRoot root;
    const std::string path = root.path() + "/cut.bin";
    ASSERT_TRUE(CreateBinFile(path, "").ok);
    std::vector<MeasureRecord> records;
    for (int i = 0; i < 20; ++i)
        records.push_back(Record(i, float(i)));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(AppendMeasureRecords(path, records.data(), 20).ok);
    BinFileReader reader;
    ASSERT_TRUE(reader.Open(path).ok);
    ASSERT_EQ(reader.RecordCount(), 60);
    MeasureRecord r;
    ASSERT_TRUE(reader.Next(r));
    fs::resize_file(path, kBinHeaderSize + MeasureRecord::kSize + 100);
    // What was already buffered may still come; then the end.
    while (reader.Next(r)) {
    }
    EXPECT_TRUE(reader.Status().ok) << reader.Status().message;
    EXPECT_LT(reader.RecordsRead(), 60);
    EXPECT_EQ(reader.RecordsRead(), reader.RecordCount());
}

// ---- a run never writes into another run's files -----------------------------------

namespace {

// Bytes of 63.98 records: the size a full disk left in the field.
constexpr int64_t kBudgetOf6398Records = int64_t(63.98 * 304);

// Sets the full-disk hook for one test and lifts it again.
class WriteBudget {
public:
    explicit WriteBudget(int64_t bytes) { SetDataWriteBudget(bytes); }
    ~WriteBudget() { SetDataWriteBudget(-1); }
    WriteBudget(const WriteBudget&) = delete;
    WriteBudget& operator=(const WriteBudget&) = delete;
};

std::vector<std::string> FolderListing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(AcquisitionNames, ARunNeverTakesTheNamesOfAnEarlierOne) {
    TempRoot root;
    const fs::path folder(root.path());
    const std::tm t = At(2024, 5, 1, 14, 3, 27);
    const std::string stem = PathToUtf8(folder / "Pylorix - 2024-05-01 - 14.03.27 - LINE1");

    const auto first = MakeAcquisitionFileNames(folder, t, "LINE1");
    EXPECT_EQ(first.bin, stem + ".bin");
    // The same name in the same second: the second run gets its own pair.
    testsupport::writeFile(first.bin, {});
    const auto second = MakeAcquisitionFileNames(folder, t, "LINE1");
    EXPECT_EQ(second.bin, stem + " (2).bin");
    EXPECT_EQ(second.heq, stem + " (2).heq");
    EXPECT_EQ(second.rpp, stem + " (2).rpp");
    // Any one file of a run holds its name: the ".heq", the ".rpp", or a
    // ".heq" still being written.
    testsupport::writeFile(second.rpp, {});
    testsupport::writeFile(stem + " (3).heq", {});
    testsupport::writeFile(HeqTemporaryName(stem + " (4).heq"), {});
    EXPECT_EQ(MakeAcquisitionFileNames(folder, t, "LINE1").heq, stem + " (5).heq");
    // Another name in the same second is free as it is.
    EXPECT_EQ(MakeAcquisitionFileNames(folder, t, "LINE2").bin,
              PathToUtf8(folder / "Pylorix - 2024-05-01 - 14.03.27 - LINE2.bin"));
}

TEST(AcquisitionNames, AnExistingRecordingIsNeverOpenedForWriting) {
    TempRoot root;
    Acquisition acq;
    const std::string bin = root.path() + "/a.bin";
    const std::string heq = root.path() + "/a.heq";
    ASSERT_TRUE(CreateBinFile(bin, "").ok);
    MeasureRecord batch[3] = {Record(0, 1.0f), Record(1, 2.0f), Record(2, 3.0f)};
    ASSERT_TRUE(AppendMeasureRecords(bin, batch, 3).ok);
    ASSERT_TRUE(WriteHeqFile(heq, acq.word, acq.name, acq.header, *acq.seq).ok);
    const auto binBefore = readFile(bin);
    const auto heqBefore = readFile(heq);

    const FileStatus bin2 = CreateBinFile(bin, "");
    EXPECT_FALSE(bin2.ok);
    EXPECT_NE(bin2.message.find("a.bin"), std::string::npos) << bin2.message;
    EXPECT_NE(bin2.message.find("exists"), std::string::npos) << bin2.message;
    acq.header.setting88 = 1;
    EXPECT_FALSE(WriteHeqFile(heq, acq.word, acq.name, acq.header, *acq.seq).ok);
    EXPECT_EQ(readFile(bin), binBefore);
    EXPECT_EQ(readFile(heq), heqBefore);
    EXPECT_EQ(FolderListing(root.path()), (std::vector<std::string>{"a.bin", "a.heq"}));
}

// ---- a full disk ----------------------------------------------------------------------

TEST(DiskFull, AppendsAreAllOrNothing) {
    TempRoot root;
    const std::string bin = root.path() + "/a.bin";
    ASSERT_TRUE(CreateBinFile(bin, "").ok);
    MeasureRecord batch[16];
    for (int k = 0; k < 16; ++k)
        batch[k] = Record(k, float(k));
    {
        // 64 records into room for 63.98: the fourth batch of 16 does not fit.
        WriteBudget budget(kBudgetOf6398Records);
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(AppendMeasureRecords(bin, batch, 16).ok) << b;
        const FileStatus s = AppendMeasureRecords(bin, batch, 16);
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.message, "Can't write file \"" + bin + "\": No space left on device");
        EXPECT_EQ(fs::file_size(bin), 1029u + 48 * 304);
        // The disk stays full: still nothing but whole records.
        EXPECT_FALSE(AppendMeasureRecords(bin, batch, 1).ok);
        EXPECT_EQ(fs::file_size(bin), 1029u + 48 * 304);
    }
    // Room again: the file goes on from its last whole record.
    ASSERT_TRUE(AppendMeasureRecords(bin, batch, 2).ok);
    BinFileReader reader;
    ASSERT_TRUE(reader.Open(bin).ok);
    EXPECT_EQ(reader.RecordCount(), 50);
    MeasureRecord r;
    for (int i = 0; i < 49; ++i)
        ASSERT_TRUE(reader.Next(r));
    EXPECT_EQ(r.quadripoleIndex, 0);
    ASSERT_TRUE(reader.Next(r));
    EXPECT_EQ(r.quadripoleIndex, 1);
}

TEST(DiskFull, AHeqThatDoesNotFitLeavesNothingBehind) {
    TempRoot root;
    Acquisition acq;
    const std::string heq = root.path() + "/a.heq";
    {
        WriteBudget budget(int64_t(kHeqFileSize) - 1);
        const FileStatus s = WriteHeqFile(heq, acq.word, acq.name, acq.header, *acq.seq);
        EXPECT_FALSE(s.ok);
        EXPECT_NE(s.message.find("No space left on device"), std::string::npos) << s.message;
    }
    EXPECT_TRUE(FolderListing(root.path()).empty());
    // A ".bin" header that does not fit leaves no ".bin" either.
    {
        WriteBudget budget(1000);
        EXPECT_FALSE(CreateBinFile(root.path() + "/a.bin", "").ok);
    }
    EXPECT_TRUE(FolderListing(root.path()).empty());
    // With room, the ".heq" arrives whole under its own name only.
    ASSERT_TRUE(WriteHeqFile(heq, acq.word, acq.name, acq.header, *acq.seq).ok);
    EXPECT_EQ(FolderListing(root.path()), (std::vector<std::string>{"a.heq"}));
    EXPECT_EQ(fs::file_size(heq), kHeqFileSize);
}

// The child is this program run again: a Qt-free build has no process
// launcher for it.
#ifndef PYLORIX_CORE_TESTS
TEST(DiskFull, TheEnvironmentGivesAProgramUnderTestAFullDisk) {
    // The child: a fresh process whose budget comes from the environment.
    if (qEnvironmentVariableIsSet("PYLORIX_BUDGET_CHILD")) {
        const std::string bin = qEnvironmentVariable("PYLORIX_BUDGET_CHILD").toStdString();
        ASSERT_TRUE(CreateBinFile(bin, "").ok);
        MeasureRecord batch[2] = {Record(0, 1.0f), Record(1, 2.0f)};
        ASSERT_TRUE(AppendMeasureRecords(bin, batch, 2).ok);
        EXPECT_FALSE(AppendMeasureRecords(bin, batch, 2).ok);
        EXPECT_EQ(fs::file_size(bin), 1029u + 2 * 304);
        return;
    }
    TempRoot root;
    const std::string bin = root.path() + "/child.bin";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PYLORIX_BUDGET_CHILD", QString::fromStdString(bin));
    env.insert("PYLORIX_DATA_WRITE_BUDGET", QString::number(1029 + 3 * 304));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=DiskFull.TheEnvironmentGivesAProgramUnderTestAFullDisk"});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
    EXPECT_EQ(fs::file_size(bin), 1029u + 2 * 304);
}
#endif

// ---- a run that fails before its first batch -------------------------------------------

TEST(RunFiles, ARunWithoutBatchesLeavesNoFiles) {
    TempRoot root;
    Acquisition acq;
    const auto names = MakeAcquisitionFileNames(root.path(), At(2024, 5, 1, 14, 3, 27), "LINE1");
    ASSERT_TRUE(CreateBinFile(names.bin, "").ok);
    ASSERT_TRUE(WriteHeqFile(names.heq, acq.word, acq.name, acq.header, *acq.seq).ok);
    testsupport::writeFile(names.rpp, {});
    testsupport::writeFile(HeqTemporaryName(names.heq), {1, 2, 3});
    testsupport::writeFile(root.path() + "/other.bin", {7});
    EXPECT_TRUE(RemoveAcquisitionFiles(names).ok);
    EXPECT_EQ(FolderListing(root.path()), (std::vector<std::string>{"other.bin"}));
    // Files already gone are no failure (a rho-only run made none).
    EXPECT_TRUE(RemoveAcquisitionFiles(names).ok);
    EXPECT_TRUE(RemoveAcquisitionFiles({}).ok);

    // A run that stored records keeps them, whoever asks.
    ASSERT_TRUE(CreateBinFile(names.bin, "").ok);
    const MeasureRecord r = Record(0, 1.0f);
    ASSERT_TRUE(AppendMeasureRecords(names.bin, &r, 1).ok);
    testsupport::writeFile(names.rpp, std::vector<uint8_t>(4096, 1));
    EXPECT_FALSE(RemoveAcquisitionFiles(names).ok);
    EXPECT_EQ(fs::file_size(names.bin), 1029u + 304);
    EXPECT_TRUE(fs::exists(names.rpp));
}
