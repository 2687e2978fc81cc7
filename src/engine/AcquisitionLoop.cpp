// The acquisition loop: one acquisition from the instrument's identity to
// the end of its sequence (or a replay of recorded files), serving the
// operator's Stop, Pause, Restart and Reset requests while it waits.
#include "engine/SessionEngine.h"

#include "engine/Quietly.h"
#include "export/InversionExport.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

void SessionEngine::SetMainProgressMaximum(int maximum) {
    if (ProgressBar* bar = view_.MainProgressBar())
        bar->SetMaximum(maximum);
}

int SessionEngine::RunAcquisition(bool viewOnly) {
    // Requests belong to the run in which they were made: a Stop clicked
    // after the last run (or during a replay) must not stop this one.
    stopRequested = 0;
    pauseRequested = 0;
    restartRequested = 0;
    resetRequested = 0;
    heldCycleByte_ = -1;
    linkLostAfterBatch_ = false;
    movingRun_ = false;
    modeSent_ = false;
    runFilesCreated_ = false;
    runActive_ = true;
    int result = RunAcquisitionSteps(viewOnly);
    runActive_ = false;
    // A run that ends before its first batch leaves no files behind.
    if (runFilesCreated_ && batchesDone == 0 && result != RunCompleted) {
        if (FileStatus removed = RemoveAcquisitionFiles(runFiles_); !removed)
            Quietly([&] { view_.ShowError(removed.message); });
        runFilesCreated_ = false;
    }
    if (batchesDone > 0 && quality_.measuredCount() > 0) {
        if (runFilesCreated_ && !replayMode)
            WriteQualityFile();
        Quietly([&] { view_.ShowQualitySummary(quality_); });
    }
    // Whatever the result: a run cut short is still worth inverting, and
    // its files are whole between batches.
    if (runFilesCreated_ && !replayMode)
        ExportAfterRun();
    if (result == RunFileError && !replayMode)
        QuietenInstrument();
    // Closing the window closes the link under the loop: that is the
    // operator leaving, not a lost instrument.
    if (closing && result == RunLinkLost)
        return RunClosing;
    return result;
}

void SessionEngine::ExportAfterRun() {
    std::vector<ExportFormat> formats;
    const std::string wrong = ParseExportFormats(settings_.exportAfterRun, formats);
    if (formats.empty() && wrong.empty())
        return;
    std::string text;
    bool ok = false;
    if (!wrong.empty()) {
        text = wrong;
    } else {
        try {
            ExportOptions options;
            options.limits = QualityLimitsFromSettings();
            options.leaveOutFlagged = settings_.exportLeaveOutFlagged;
            const ExportReport report = ExportAcquisition(heqFileName, formats, {}, options);
            text = report.Describe();
            ok = report.Ok();
        } catch (const std::exception& e) {
            text = e.what();
        }
    }
    if (!ok)
        text = "The acquisition was recorded, but its export failed:\n" + text;
    Quietly([&] { view_.ShowExportReport(text, ok); });
}

std::string SessionEngine::QualityFileName(const std::string& binFileName) {
    std::string base = binFileName;
    if (base.size() >= 4) {
        std::string tail = base.substr(base.size() - 4);
        for (char& c : tail)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".bin")
            base.resize(base.size() - 4);
    }
    return base + ".qc.csv";
}

QualityLimits SessionEngine::QualityLimitsFromSettings() const {
    QualityLimits limits;
    limits.maxQ = settings_.qcMaxQ;
    limits.minCurrentMa = settings_.qcMinCurrentMa;
    limits.minPotentialMv = settings_.qcMinPotentialMv;
    limits.outlierMads = settings_.qcOutlierMads;
    limits.reciprocalError = settings_.qcReciprocalErrorPercent / 100.0f;
    return limits;
}

void SessionEngine::WriteQualityFile() {
    // A sidecar, never part of the acquisition: written whole under a
    // temporary name and renamed, so a full disk leaves the last whole one.
    const std::string path = QualityFileName(binFileName);
    const std::filesystem::path target = PathFromUtf8(path);
    std::filesystem::path part = target;
    part += ".part";
    std::string reason;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        const std::string text = quality_.SidecarCsv();
        out.write(text.data(), std::streamsize(text.size()));
        out.flush();
        if (!out)
            reason = "the disk refused the data";
    }
    std::error_code error;
    if (reason.empty()) {
        std::filesystem::rename(part, target, error);
        if (error)
            reason = error.message();
    }
    if (!reason.empty()) {
        std::filesystem::remove(part, error);
        Quietly([&] {
            view_.ShowError("The acquisition was recorded, but its quality file " + path +
                            " could not be written: " + reason);
        });
    }
}

int SessionEngine::RunAcquisitionSteps(bool viewOnly) {
    view_.FocusButton(RunButton::Pause);
    std::memset(static_cast<void*>(batch), 0, sizeof batch);
    std::memset(raw, 0, sizeof raw);
    std::memset(electrodeList, 0, sizeof electrodeList);
    counters = {};
    crcFailures = 0;
    batchesDone = 0;
    batchRecords = 0;
    recordCount = 0;

    const int start = replayMode ? RunStartReplay() : RunStartLive();
    if (start != 1)
        return start;
    firstIndex = firstQuadripole;
    expectedIndex = firstQuadripole;
    stopEchoPending_ = false;
    pauseEchoPending_ = false;

    try {
        Prepare(viewOnly);
        for (;;) {
            if (closing)
                return RunClosing;
            const int64_t t0 = ActiveUiHooks().TickMs();
            // Stop and Pause requests stay pending until a wait serves them:
            // with an instrument that keeps batches coming back to back, the
            // only moments the window can take a click are while a batch is
            // handled, and dropping those would make Stop unreachable.
            restartRequested = 0;
            view_.SetButtonVisible(RunButton::ReStart, false);

            int c = 0;
            if (replayMode) {
                if (!viewOnly)
                    ActiveUiHooks().SleepMs(165);
            } else if (const int lost = WaitForCycleByte(c); lost != 0) {
                return lost;
            }
            const int64_t waited = ActiveUiHooks().TickMs() - t0;
            Quietly([&] { view_.AdjustSampleLimit(uint32_t(waited < 0 ? 0 : waited)); });

            if (!replayMode && c == acq::kEndMarker) {
                if (firstIndex + recordCount - 1 >= lastQuadripole)
                    return RunCompleted;
                view_.SetStatus(view_.Status() + " Stopped");
                PumpMessages();
                // The operator stopped the instrument: a quiet line means the
                // run is over, anything else means it goes on. That byte may
                // be the next batch's own marker: it is kept, not swallowed.
                const int tail = link_->ReadByteTimed(acq::kStopTailWaitMs);
                if (tail < 0)
                    return RunCompleted;
                if (tail == acq::kBatchMarker || tail == acq::kEndMarker)
                    heldCycleByte_ = tail;
                continue;
            }

            int result = RunCompleted;
            const BatchOutcome outcome =
                replayMode ? ObtainReplayBatch(viewOnly, result) : ObtainLiveBatch();
            if (outcome == BatchOutcome::LinkLost)
                return RunLinkLost;
            if (outcome == BatchOutcome::Ended)
                return result;
            if (outcome == BatchOutcome::Discarded)
                continue;
            if (const int failed = CompleteBatch(viewOnly); failed != 0)
                return failed;
            // The link went down after the last whole record of the batch:
            // the batch is stored, the run is over.
            if (linkLostAfterBatch_)
                return RunLinkLost;
        }
    } catch (const LinkError&) {
        // The link closed under the loop (cable pulled, Reset, peer gone).
        return RunLinkLost;
    }
}

int SessionEngine::StartStepFailed(int error, const char* stage) {
    if (!link_)
        return error;
    std::string fault = link_->Fault();
    if (fault.empty() && !LinkOpen())
        fault = kFaultClosed;
    if (fault.empty())
        return error;
    // The content was not at fault: say what happened to the link.
    linkFault = fault;
    faultStage_ = stage;
    return RunLinkFault;
}

int SessionEngine::RunStartLive() {
    view_.SetReceiving(true);
    PumpMessages();
    linkFault.clear();
    link_->ClearFault();
    try {
        // An instrument without controls may have sent its identity at once:
        // its first byte was read where the controls byte could have come.
        int from = 0;
        if (heldIdentityByte_ >= 0) {
            instrumentWord[0] = uint8_t(heldIdentityByte_);
            heldIdentityByte_ = -1;
            from = 1;
        }
        link_->ReadBuffer(instrumentWord + from, kInstrumentWordSize - from);
        std::memset(acquisitionName, 0, sizeof acquisitionName);
        link_->ReadBuffer(reinterpret_cast<uint8_t*>(acquisitionName), kAcquisitionNameSize);
        acquisitionName[11] = 0;
        // The Wi-Fi generation builds the header (name included) itself.
        std::memcpy(device_->acquisitionName, acquisitionName, sizeof acquisitionName);
    } catch (const LinkError&) {
        return StartStepFailed(RunHeaderError, "header");
    }

    view_.SetStatus("Receiving header...");
    ProtocolGeneration& protocol = *device_->protocol;
    try {
        if (protocol.ReadHeader(device_->header) == 0)
            return StartStepFailed(RunHeaderError, "header");
    } catch (const LinkError&) {
        return StartStepFailed(RunHeaderError, "header");
    }
    view_.SetSectionTabsVisible(device_->movingArrayMode != 1);

    const AcquisitionHeader& h = device_->header;
    // A sequence longer than the table (or empty) cannot be followed.
    const int64_t length = h.SequenceLength();
    if (length < 1 || length > kMaxQuadripoles)
        return StartStepFailed(RunHeaderError, "header");
    firstQuadripole = h.firstQuadripole;
    lastQuadripole = h.lastQuadripole;
    quadripoleCount = int32_t(length);
    device_->nodeCount = NodeSlotsInUse(h);
    device_->quadripoleCount = quadripoleCount;

    try {
        const int32_t sets = protocol.ReadSequenceSets();
        if (sets <= 0)
            return StartStepFailed(sets, sets == RunNodeSetError ? "node set" : "quadripole set");
    } catch (const LinkError&) {
        return StartStepFailed(RunHeaderError, "sequence sets");
    }
    // Taken now for the whole run: the operator's Stop clears the device's
    // flag, and a moving array may go on past its table.
    movingRun_ = device_->movingArrayMode != 0;

    const std::tm now = LocalTimeNow();
    if (FileStatus folder = EnsureDataFolder(); !folder) {
        view_.ShowError(folder.message);
        return RunFileError;
    }
    const AcquisitionFileNames names =
        MakeAcquisitionFileNames(DataFolder(), now, AcquisitionNameText(acquisitionName));
    binFileName = names.bin;
    heqFileName = names.heq;

    if (!settings_.rhoOnly) {
        // The ".heq" first: a run cut short leaves a complete description
        // and no data file without one. Only files this run created are
        // ever removed by it.
        const FileStatus heq =
            WriteHeqFile(heqFileName, instrumentWord, acquisitionName, device_->header, *device_);
        if (!heq) {
            view_.ShowError(heq.message);
            return RunFileError;
        }
        try {
            protocol.CreateDataFile(binFileName, "");
        } catch (const FileError& e) {
            view_.ShowError(e.what());
            RemoveAcquisitionFiles({{}, heqFileName, {}});
            return RunFileError;
        }
        runFiles_ = names;
        runFilesCreated_ = true;
        view_.RunStarted(binFileName);
    }
    return 1;
}

void SessionEngine::Prepare(bool viewOnly) {
    (void)viewOnly;
    Quietly([&] {
        quality_.Build(*device_, QualityLimitsFromSettings(), settings_.rhoOnly);
        view_.BuildSectionGeometry(settings_.showGapFillers);
        view_.SetupProgressView();
        view_.ResetDistributionChart();
    });
    if (!replayMode)
        view_.SetStatus("Waiting for data...");
    view_.SetValueLabelsRhoOnly(settings_.rhoOnly);
    if (!replayMode) {
        link_->WriteByte(settings_.rhoOnly          ? acq::kModeRhoOnly
                         : settings_.activeCrcCheck ? acq::kModeActiveCrc
                                                    : acq::kModeNoAcknowledge);
        modeSent_ = true;
    }
    std::memset(static_cast<void*>(batch), 0, sizeof batch);
    std::memset(raw, 0, sizeof raw);
    if (ProgressBar* bar = view_.SequenceProgressBar()) {
        bar->SetMaximum(quadripoleCount - 1);
        bar->SetPosition(0);
    }
    if (ProgressBar* bar = view_.MainProgressBar()) {
        bar->SetMinimum(0);
        bar->SetMaximum(25200000);
        bar->SetPosition(2520);
    }
    Quietly([&] { view_.ResetRunStatistics(); });
    batchesDone = 0;
    runStartTime = ActiveUiHooks().TickMs();
}

int SessionEngine::WaitForCycleByte(int& c) {
    if (heldCycleByte_ >= 0) {
        c = heldCycleByte_;
        heldCycleByte_ = -1;
        return 0;
    }
    do {
        c = 0;
        if (resetRequested == 1) {
            view_.SetButtonEnabled(RunButton::Stop, true);
            view_.SetButtonEnabled(RunButton::Pause, true);
            view_.FocusButton(RunButton::Stop);
            link_->WriteByte(acq::kResetRequest);
            c = link_->ReadByteTimed(acq::kControlEchoTimeoutMs);
            if (c == acq::kResetRequest)
                link_->WriteByte(acq::kResetRequest);
            resetRequested = 0;
        }
        if (stopRequested == 1) {
            view_.FocusButton(RunButton::Stop);
            link_->WriteByte(acq::kStopRequest);
            view_.SetButtonEnabled(RunButton::Stop, false);
            view_.SetButtonEnabled(RunButton::Pause, false);
            const int echo = link_->ReadByteTimed(acq::kControlEchoTimeoutMs);
            stopRequested = 0;
            device_->movingArrayMode = 0;
            c = 0;
            if (echo == acq::kStopRequest) {
                link_->WriteByte(acq::kStopRequest);
            } else if (echo == acq::kBatchMarker || echo == acq::kEndMarker) {
                // The instrument had already begun its next batch: take the
                // batch now and confirm the Stop when its echo follows.
                stopEchoPending_ = true;
                c = echo;
            } else {
                view_.SetButtonEnabled(RunButton::Stop, true);
                view_.SetButtonEnabled(RunButton::Pause, true);
            }
        }
        if (pauseRequested == 1) {
            link_->WriteByte(acq::kPauseRequest);
            c = link_->ReadByteTimed(acq::kControlEchoTimeoutMs);
            pauseRequested = 0;
            if (c == acq::kPauseRequest) {
                c = HoldPause();
            } else if (c == acq::kBatchMarker || c == acq::kEndMarker) {
                // The instrument had already begun its next batch: the echo
                // follows it, and the pause starts then.
                pauseEchoPending_ = true;
            } else {
                // No pause came of it: the button must not stay dead.
                view_.SetButtonEnabled(RunButton::Pause, true);
            }
        }
        if (c == 0)
            c = link_->ReadByteTimed(acq::kBatchPollMs);
        if (c == acq::kStopRequest && stopEchoPending_) {
            link_->WriteByte(acq::kStopRequest);
            stopEchoPending_ = false;
            c = 0;
        } else if (c == acq::kPauseRequest && pauseEchoPending_) {
            pauseEchoPending_ = false;
            c = HoldPause();
        } else if (pauseEchoPending_ && (c == acq::kBatchMarker || c == acq::kEndMarker)) {
            // The echo should have followed the batch that crossed the
            // request; another batch came instead: no pause will come of it.
            pauseEchoPending_ = false;
            view_.SetButtonEnabled(RunButton::Pause, true);
        }
        SetMainProgressMaximum(25200000);
        PumpMessages();
        // A marker that arrived before the peer hung up still counts: an
        // instrument may close its side right after its final '$'.
        if (c != acq::kBatchMarker && c != acq::kEndMarker && !LinkOpen())
            return RunLinkLost;
    } while (c != acq::kBatchMarker && c != acq::kEndMarker);
    return 0;
}

int SessionEngine::HoldPause() {
    link_->WriteByte(acq::kPauseRequest);
    view_.SetButtonVisible(RunButton::ReStart, true);
    PumpMessages();
    view_.FocusButton(RunButton::ReStart);
    // Paused until Restart, or until the instrument speaks.
    int c = -1;
    while (restartRequested != 1) {
        c = link_->ReadByteTimed(acq::kBatchPollMs);
        if (c >= 0 || !LinkOpen())
            break;
        PumpMessages();
    }
    restartRequested = 0;
    view_.SetButtonVisible(RunButton::ReStart, false);
    // However the pause ended (Restart, the instrument resuming by itself,
    // a lost link), Pause can be asked for again.
    view_.SetButtonEnabled(RunButton::Pause, true);
    if (c != acq::kBatchMarker && c != acq::kEndMarker) {
        if (LinkOpen())
            link_->WriteByte(acq::kPauseRequest); // resume
        c = 0;
    }
    return c;
}
