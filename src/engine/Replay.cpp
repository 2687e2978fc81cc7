// Recorded-file replay: a ".heq"/".bin" pair shown at once ("View file") or
// played back at a steady pace ("Simulate file") through the same loop as a
// live acquisition, without any link traffic and without writing files.
//
// What is shown is what was recorded: every whole record, each on the
// quadripole its own number names (the instrument may have skipped some),
// and a recording that stopped early is shown up to where it stopped.
#include "engine/SessionEngine.h"

#include "engine/Quietly.h"
#include "instrument/InstrumentRecords.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSampleBase = "Pylorix - DEMO";

// Records name their quadripole with 16 bits: the number of a quadripole
// is its index modulo 65536. A number more than half that range ahead of
// the one expected is taken as one left behind, not as a skip.
constexpr int64_t kNumberSpan = 65536;
constexpr int64_t kLongestSkip = kNumberSpan / 2;

bool EnsureFolder(const fs::path& folder, SessionView& view) {
    const FileStatus status = CreateFolderOneLevel(folder);
    if (!status)
        view.ShowError(status.message);
    return status.ok;
}

// Copies a file unless the target exists: an operator's edited copy of the
// sample is never overwritten. Failures are not worth a message.
void CopyIfMissing(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::exists(to, ec) && fs::exists(from, ec))
        fs::copy_file(from, to, fs::copy_options::skip_existing, ec);
}

// A moving array's sets are not sent by the instrument but built from the
// array: its dipoles measured over and over, to the last slot of the table.
// A recording whose header and table are exactly that is a moving array.
bool IsMovingArrayRecording(const AcquisitionHeader& header, const Sequence& sequence) {
    const int dipoles = header.channelCount;
    if (header.lastQuadripole != wifi::kMovingArrayLastQuadripole || dipoles < 1 ||
        dipoles > wifi::kGeometryDipoles)
        return false;
    for (int i = 0; i <= wifi::kMovingArrayLastQuadripole; ++i) {
        const int m = 3 + i % dipoles;
        const QuadripoleRecord& q = sequence.quadripoles[i];
        if (q.a != 1 || q.b != 2 || q.m != m || q.n != m + 1 || q.gapFiller != 0)
            return false;
    }
    return true;
}

} // namespace

std::string RecordingEndedText(int64_t reached, int64_t total) {
    return "Recording ended at " + std::to_string(reached) + " of " + std::to_string(total) +
           " quadripoles";
}

std::string SessionEngine::RecordedDataFileName(const std::string& heq) {
    fs::path path = PathFromUtf8(heq);
    const std::string extension = PathToUtf8(path.extension());
    // ".bin" with each letter in the case of the same letter of ".heq".
    std::string matching = ".bin";
    if (extension.size() == matching.size()) {
        for (size_t i = 1; i < matching.size(); ++i) {
            if (extension[i] >= 'A' && extension[i] <= 'Z')
                matching[i] = char(matching[i] - 'a' + 'A');
        }
    }
    std::array<std::string, 9> candidates = {matching, ".bin", ".BIN"};
    size_t count = 3;
    for (int bits = 1; bits < 7; ++bits) {
        std::string mixed = ".bin";
        for (int i = 0; i < 3; ++i) {
            if (bits & (1 << i))
                mixed[size_t(i) + 1] = char(mixed[size_t(i) + 1] - 'a' + 'A');
        }
        candidates[count++] = mixed;
    }
    std::error_code ec;
    for (const std::string& candidate : candidates) {
        path.replace_extension(PathFromUtf8(candidate));
        if (fs::exists(path, ec))
            return PathToUtf8(path);
    }
    path.replace_extension(PathFromUtf8(matching));
    return PathToUtf8(path);
}

void SessionEngine::OpenRecordedAcquisition(bool viewOnly) {
    const fs::path root = DataRoot();
    const fs::path data = DataFolder();
    const fs::path sample = data / "Demo";
    if (!EnsureFolder(root, view_) || !EnsureFolder(data, view_) || !EnsureFolder(sample, view_))
        return;
    if (!sampleFolderSource.empty()) {
        const fs::path source(sampleFolderSource);
        CopyIfMissing(source / (std::string(kSampleBase) + ".bin"),
                      sample / (std::string(kSampleBase) + ".bin"));
        CopyIfMissing(source / (std::string(kSampleBase) + ".heq"),
                      sample / (std::string(kSampleBase) + ".heq"));
    }
    const std::string chosen =
        view_.ChooseRecordedFile(sample.string(), std::string(kSampleBase) + ".heq");
    if (chosen.empty())
        return;
    ReplayFile(chosen, viewOnly);
}

int SessionEngine::ReplayFile(const std::string& heq, bool viewOnly) {
    heqFileName = heq;
    binFileName = RecordedDataFileName(heq);
    std::error_code ec;
    if (!fs::exists(PathFromUtf8(heqFileName), ec)) {
        view_.ShowError("Can't open \"" + heqFileName + "\"");
        return kReplayHeqUnusable;
    }
    if (!fs::exists(PathFromUtf8(binFileName), ec)) {
        view_.ShowError("Can't open \"" + binFileName + "\"");
        return kReplayBinUnusable;
    }
    // Both files are taken up before anything is shown, so that a file that
    // cannot be used gives its own message and no run result follows it. A
    // damaged ".heq" leaves the tables as they were.
    if (FileStatus read = ReadHeqFile(heqFileName, replayContent_, *device_); !read) {
        view_.ShowError(read.message);
        return kReplayHeqUnusable;
    }
    if (FileStatus opened = replayReader_.Open(binFileName); !opened) {
        view_.ShowError(opened.message);
        return kReplayBinUnusable;
    }

    // A replay may run nested inside a live session that waits for Start:
    // that session is still active once the replay is over, on its link.
    // The link is out of reach meanwhile, so that nothing a replay shows
    // (the battery panel asking the instrument for values it lacks, say)
    // can send the instrument a byte, and the replay's end does not close it.
    std::unique_ptr<Link> liveLink = std::move(link_);
    const bool wasReplay = replayMode;
    const bool wasActive = sessionActive;
    replayMode = true;
    replayReached_ = 0;
    StartSession(viewOnly);
    replayMode = wasReplay;
    sessionActive = wasActive;
    replayReader_.Close();
    // A link object made while the replay ran (a device change, a network
    // event) was never used; the live session goes on with its own.
    if (link_)
        retiredLinks_.push_back(std::move(link_));
    link_ = std::move(liveLink);
    // The window closed during the replay: the session waiting below ends,
    // as it would had its link been closed under it.
    if (closing && LinkOpen())
        link_->Close();

    if (lastResult == RunCompleted)
        view_.SetStatus(ReplayCompletedText());
    return lastResult;
}

std::string SessionEngine::ReplayCompletedText() const {
    if (!movingRun_ && replayReached_ < quadripoleCount)
        return RecordingEndedText(replayReached_, quadripoleCount);
    return "Sequence simulation completed !  ";
}

int SessionEngine::RunStartReplay() {
    // The ".heq" was read (and checked) by ReplayFile, the ".bin" opened.
    const HeqContent& content = replayContent_;
    std::memcpy(instrumentWord, content.instrumentWord, sizeof instrumentWord);
    std::memcpy(acquisitionName, content.acquisitionName, kAcquisitionNameSize);
    acquisitionName[11] = 0;
    device_->header = content.header;
    firstQuadripole = content.header.firstQuadripole;
    lastQuadripole = content.header.lastQuadripole;
    quadripoleCount = int32_t(content.header.SequenceLength());
    device_->nodeCount = NodeSlotsInUse(content.header);
    device_->quadripoleCount = quadripoleCount;
    // The moving-array state is the recording's own, never that of the last
    // live run.
    movingRun_ = IsMovingArrayRecording(content.header, *device_);
    device_->movingArrayMode = movingRun_ ? 1 : 0;
    view_.SetSectionTabsVisible(!movingRun_);
    view_.BringToFront();

    readAheadValid_ = replayReader_.Next(readAhead_);
    return 1;
}

int64_t SessionEngine::RecordedIndex(const MeasureRecord& record, int64_t expected) const {
    // A slot that received nothing keeps the rest of an older record, its
    // number included: only its place in the file tells where it belongs.
    if (record.rho == NoDataValue)
        return expected;
    const int64_t number = int64_t(uint16_t(record.quadripoleIndex));
    const int64_t ahead = ((number - expected) % kNumberSpan + kNumberSpan) % kNumberSpan;
    const int64_t index = expected + ahead;
    if (ahead >= kLongestSkip || (!movingRun_ && index > lastQuadripole))
        return expected;
    return index;
}

SessionEngine::BatchOutcome SessionEngine::EndReplay(bool viewOnly, int& result, int outcome) {
    replayReached_ = expectedIndex - firstQuadripole;
    if (viewOnly) {
        // The colour range from every value shown, however the recording
        // ends: a section drawn without it is one flat colour.
        if (batchesDone > 0) {
            Quietly([&] {
                view_.FinishViewRange(quadripoleCount);
                view_.AddDistributionPoints(batch, 0, settings_.showGapFillers, true, 0);
            });
        }
        // The bar reads full: the replay is over, and a section chosen now
        // is drawn at once.
        if (ProgressBar* bar = view_.SequenceProgressBar())
            bar->SetMaximum(1);
    }
    result = outcome;
    return BatchOutcome::Ended;
}

SessionEngine::BatchOutcome SessionEngine::ObtainReplayBatch(bool viewOnly, int& result) {
    if (Indicator* indicator = view_.CrcIndicator())
        indicator->Hide();
    if (!readAheadValid_) {
        if (FileStatus read = replayReader_.Status(); !read) {
            view_.ShowError(read.message);
            return EndReplay(viewOnly, result, kReplayBinUnusable);
        }
        return EndReplay(viewOnly, result, RunCompleted);
    }
    // A live run never stores a record past the end of the sequence: a file
    // that holds one does not belong to this header.
    const int64_t first = RecordedIndex(readAhead_, expectedIndex);
    if (!movingRun_ && first > lastQuadripole)
        return EndReplay(viewOnly, result, RunFileMismatch);
    // The quadripoles the instrument skipped, counted as the live run did.
    if (first > expectedIndex)
        counters.skippedCount += int32_t(first - expectedIndex);
    firstIndex = first;
    recordCount = 0;
    for (;;) {
        batch[recordCount] = readAhead_;
        Quietly([&] { view_.AddDistributionValue(readAhead_.rho); });
        ++recordCount;
        readAheadValid_ = replayReader_.Next(readAhead_);
        if (!readAheadValid_ || recordCount == kMaxChannels)
            break;
        // A record of channel 0 starts the next batch, and so does one that
        // does not follow on (the instrument skipped quadripoles there).
        const int64_t next = firstIndex + recordCount;
        if ((readAhead_.channelByte & 0x0F) == 0 || (!movingRun_ && next > lastQuadripole) ||
            RecordedIndex(readAhead_, next) != next)
            break;
    }
    return BatchOutcome::Ready;
}
