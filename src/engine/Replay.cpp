// Recorded-file replay: a ".heq"/".bin" pair shown at once ("View file") or
// played back at a steady pace ("Simulate file") through the same loop as a
// live acquisition, without any link traffic and without writing files.
#include "engine/SessionEngine.h"

#include "engine/Quietly.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSampleBase = "Pylorix - DEMO";

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

} // namespace

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
    binFileName = fs::path(heq).replace_extension(".bin").string();
    std::error_code ec;
    if (!fs::is_regular_file(heqFileName, ec)) {
        view_.ShowError("Can't open \"" + heqFileName + "\"");
        return -101;
    }
    if (!fs::is_regular_file(binFileName, ec)) {
        view_.ShowError("Can't open \"" + binFileName + "\"");
        return -102;
    }
    // A replay may run nested inside a live session that waits for Start:
    // that session is still active once the replay is over.
    const bool wasReplay = replayMode;
    const bool wasActive = sessionActive;
    replayMode = true;
    StartSession(viewOnly);
    replayMode = wasReplay;
    sessionActive = wasActive;
    replayReader_.Close();
    return lastResult;
}

int SessionEngine::RunStartReplay() {
    HeqContent content;
    // A damaged header file is refused whole rather than replayed with the
    // previous acquisition's tables.
    if (FileStatus heq = ReadHeqFile(heqFileName, content, *device_); !heq) {
        view_.ShowError(heq.message);
        return RunHeaderError;
    }
    std::memcpy(instrumentWord, content.instrumentWord, sizeof instrumentWord);
    std::memcpy(acquisitionName, content.acquisitionName, kAcquisitionNameSize);
    acquisitionName[11] = 0;
    device_->header = content.header;
    firstQuadripole = content.header.firstQuadripole;
    lastQuadripole = content.header.lastQuadripole;
    quadripoleCount = int32_t(content.header.SequenceLength());
    device_->nodeCount = content.header.nodeCount;
    device_->quadripoleCount = quadripoleCount;
    view_.BringToFront();

    if (FileStatus bin = replayReader_.Open(binFileName); !bin) {
        view_.ShowError(bin.message);
        return RunFileMismatch;
    }
    if (!replayReader_.Next(readAhead_))
        return RunFileMismatch;
    return 1;
}

SessionEngine::BatchOutcome SessionEngine::ObtainReplayBatch(bool viewOnly, int& result) {
    if (Indicator* indicator = view_.CrcIndicator())
        indicator->Hide();
    firstIndex += recordCount;
    if (firstIndex > lastQuadripole) {
        if (viewOnly) {
            Quietly([&] {
                view_.FinishViewRange(quadripoleCount);
                view_.AddDistributionPoints(batch, 0, settings_.showGapFillers, true, 0);
            });
            if (ProgressBar* bar = view_.SequenceProgressBar())
                bar->SetMaximum(1);
        }
        result = RunCompleted;
        return BatchOutcome::Ended;
    }
    recordCount = 0;
    for (int slot = 0;; ++slot) {
        batch[slot] = readAhead_;
        Quietly([&] { view_.AddDistributionValue(readAhead_.rho); });
        ++recordCount;
        if (firstIndex + recordCount - 1 >= lastQuadripole)
            break;
        if (!replayReader_.Next(readAhead_)) {
            result = RunFileMismatch;
            return BatchOutcome::Ended;
        }
        // A record of channel 0 starts the next batch; a recording whose
        // channel indices never return to 0 still fits the batch buffer.
        if ((readAhead_.channelByte & 0x0F) == 0 || recordCount == kMaxChannels)
            break;
    }
    return BatchOutcome::Ready;
}
