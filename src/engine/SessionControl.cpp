// Session start and control: the link object, the session timer, opening
// the link, waiting for the operator's Start, running acquisitions one after
// the other and reporting each result; Stop, Pause, Restart and Reset.
#include "engine/SessionEngine.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

SessionEngine::SessionEngine(SessionView& view, Settings& settings)
    : view_(view), settings_(settings), device_(std::make_unique<Instrument>()),
      protocolView_(view) {
    device_->view = &protocolView_;
    // Wi-Fi records are complete only once appended: their rho then joins
    // the colour-range statistics like every other record's.
    device_->recordCompleted = [this](const MeasureRecord& r) {
        view_.AddDistributionValue(r.rho);
    };
}

SessionEngine::~SessionEngine() {
    device_->SetProtocol(nullptr);
    if (link_ && link_->GetState() > 0)
        link_->Close();
}

void SessionEngine::OnSessionTimer() {
    view_.SetSessionTimerEnabled(false);
    if (!sessionActive) {
        device_->SetProtocol(nullptr);
        retiredLinks_.clear();
    }
    if (!link_ && linkFactory)
        link_ = linkFactory(ConnectionCode());
    StartSession(false);
}

void SessionEngine::SetRunControlsEnabled(bool enabled) {
    view_.SetSettingsControlsEnabled(enabled);
    if (!enabled)
        view_.CloseSettingsDialog();
}

void SessionEngine::EndSession() {
    view_.SetStatus("");
    if (LinkOpen())
        link_->Close();
    sessionActive = false;
}

bool SessionEngine::WakeWifiInstrument() {
    do {
        PumpMessages();
        if (!link_ || link_->GetState() < 1)
            return false;
        link_->WriteByte(acq::kWakeUp);
    } while (link_->ReadByteTimed(acq::kWakeUpWaitMs) != acq::kWakeUp);
    return true;
}

int SessionEngine::WaitForStart() {
    const int code = ConnectionCode();
    auto usable = [&] { return (code != 99 || UsbCount() != 0) && LinkOpen(); };
    for (;;) {
        PumpMessages();
        if (!usable())
            return 0;
        // Other bytes are dropped in bulk: a chattering or flooding peer
        // must not outpace the scan.
        if (!link_->WaitForByte(acq::kStart, acq::kStartPollMs))
            continue;
        // 'S' seen: now the instrument's ready byte.
        for (;;) {
            PumpMessages();
            if (!usable())
                return 0;
            if (link_->WaitForByte(acq::kReady, acq::kStartPollMs))
                break;
        }
        // Nobody may record an acquisition the program cannot store: the
        // Start is not acknowledged, and the instrument does not run.
        if (!settings_.rhoOnly) {
            std::string reason;
            if (!DataFolderWritable(reason)) {
                view_.ShowError(reason);
                return 0;
            }
        }
        link_->WriteBuffer(acq::kStartAck, 2);
        view_.SetReceiving(true);
        ActiveUiHooks().SleepMs(acq::kControlsPauseMs);
        // Only an 'X' is taken here: an instrument without controls may
        // already be sending its identity, whose first byte must not be lost.
        heldIdentityByte_ = -1;
        const int controls = link_->ReadByteTimed(acq::kControlsWaitMs);
        controlsOffered_ = controls == acq::kControlsAvailable;
        if (controls >= 0 && !controlsOffered_)
            heldIdentityByte_ = controls;
        if (!controlsOffered_) {
            // This instrument accepts neither Pause nor Stop.
            view_.SetButtonVisible(RunButton::Pause, false);
            view_.SetButtonVisible(RunButton::Stop, false);
            pauseRequested = 0;
            stopRequested = 0;
        }
        view_.SetReceiving(false);
        return 1;
    }
}

void SessionEngine::ReportResult(int result) {
    if (result == RunCompleted) {
        view_.ClearCurrentQuadripoles();
        if (replayMode) {
            view_.SetStatus(ReplayCompletedText());
        } else {
            view_.SetStatus("Sequence completed !  ");
            view_.SetButtonVisible(RunButton::Stop, false);
            view_.SetButtonVisible(RunButton::Pause, false);
        }
        PumpMessages();
        return;
    }
    // A replay file that cannot be used has said so, naming it: one
    // failure, one message.
    if (result == kReplayHeqUnusable || result == kReplayBinUnusable)
        return;
    const std::string message = result == RunLinkFault ? LinkFaultMessage(faultStage_, linkFault)
                                                       : RunResultMessage(result);
    if (!message.empty())
        view_.ShowError(message);
}

void SessionEngine::StartSession(bool viewOnly) {
    sessionActive = true;
    PumpMessages();
    const int code = ConnectionCode();
    const int baud = BaudRateForConnection(code);

    if (!replayMode) {
        if (code <= 99)
            view_.SetStatus("Opening USB port...");
        if (code == kConnectionWifiInstrument) {
            if (!view_.AskOkCancel("", "press <Start> on VARMEX/KELDO Nimbo waiting for WI-FI "
                                       "connection \nthen press < OK > button")) {
                sessionActive = false;
                return;
            }
            std::string address = settings_.ipAddress;
            if (!view_.AskText("IP address ex:192.168.1.15",
                               "Enter IP address for WIFI client or leave blank for WI-FI "
                               "access point:",
                               address)) {
                sessionActive = false;
                return;
            }
            settings_.ipAddress = address;
            ActiveUiHooks().SleepMs(200);
        }
        if (code == kConnectionWiConnect || code == kConnectionWifiInstrument)
            view_.SetStatus("Opening WIFI port " + settings_.ipAddress);
    }
    view_.BringToFront();
    PumpMessages();

    if (!replayMode) {
        if (!link_ && linkFactory)
            link_ = linkFactory(code);
        int state = 0;
        openFailure.clear();
        openFailureFinal_ = false;
        if (link_) {
            // A station left waiting retries on its own: one message box is
            // enough, the status strip says the rest.
            link_->showOpenFailures = openFailures == 0;
            try {
                state = link_->Open(code, baud, settings_.ipAddress, false, "", 0);
            } catch (const LinkError& e) {
                view_.ShowError(e.what());
                state = 0;
            }
            if (state <= 0) {
                openFailure = link_->FailureReason();
                openFailureFinal_ = link_->FailureIsFinal();
            }
        }
        if (state <= 0) {
            if (openFailure.empty()) {
                openFailures = 0;
                view_.SetStatus("");
            } else {
                ++openFailures;
                view_.SetStatus(
                    "No link: " + openFailure +
                    (openFailureFinal_
                         ? std::string()
                         : "; trying again in " + std::to_string(kOpenRetryMs / 1000) + " s"));
            }
            PumpMessages();
            sessionActive = false;
            return;
        }
        openFailures = 0;
        link_->SetLatency(20);
        view_.SetPortPicture(ConnectionPictureIndex(code, UsbCount()), link_->VersionText());
        view_.SetStatus("");
    }

    for (;;) {
        try {
            if (!replayMode) {
                link_->FlushInput();
                link_->ClearOutput();
            }
            // A new generation object for every run; replays speak to no one.
            if (replayMode)
                device_->SetProtocol(nullptr);
            else
                device_->SetProtocol(protocolFactory(code, *device_, *link_));
            if (code == kConnectionWifiInstrument && !replayMode && !WakeWifiInstrument()) {
                EndSession();
                return;
            }
            view_.SetStatus(view_.Status() + "Waiting for Start...");
            SetRunControlsEnabled(true);
            if (!replayMode && WaitForStart() == 0) {
                EndSession();
                return;
            }
        } catch (const LinkError&) {
            // A link error while waiting for Start ends the session quietly.
            EndSession();
            return;
        }
        SetRunControlsEnabled(false);
        if (!replayMode) {
            if (settings_.rhoOnly) {
                view_.SetBatteryPanelVisible(false);
            } else {
                view_.SetBatteryPanelVisible(true);
                if (controlsOffered_) {
                    view_.SetButtonVisible(RunButton::Stop, true);
                    view_.SetButtonVisible(RunButton::Pause, true);
                    view_.SetButtonEnabled(RunButton::Stop, true);
                    view_.SetButtonEnabled(RunButton::Pause, true);
                }
            }
        }
        const int result = RunAcquisition(viewOnly);
        lastResult = result;
        ++runsDone;
        view_.SetEstimatedTime(kNoEstimate);
        ReportResult(result);
        view_.RunFinished(result);
        SetRunControlsEnabled(true);
        const bool enough = maxRuns > 0 && runsDone >= maxRuns;
        if (replayMode || closing || enough) {
            if (LinkOpen())
                link_->Close();
            sessionActive = false;
            return;
        }
        controlsOffered_ = true;
    }
}

void SessionEngine::RequestStop() {
    stopRequested = 1;
}

void SessionEngine::RequestPause() {
    pauseRequested = 1;
    view_.SetButtonEnabled(RunButton::Pause, false);
}

void SessionEngine::RequestRestart() {
    restartRequested = 1;
    view_.SetButtonEnabled(RunButton::Pause, true);
}

void SessionEngine::RequestClose() {
    closing = true;
}

void SessionEngine::RequestReset() {
    // The trip-counter reset belongs to a moving-array run in progress;
    // after it, Reset resets the link as for any other run.
    if (device_->movingArrayMode != 0 && runActive_ && !replayMode) {
        resetRequested = 1;
        view_.SetStatus("Reset Trip counter...");
        return;
    }
    resetRequested = 0;
    if (replayMode)
        return;
    view_.SetStatus("Resetting...");
    view_.SetReceiving(false);
    PumpMessages();
    if (link_) {
        if (link_->GetState() > 0)
            CloseLink();
        ActiveUiHooks().SleepMs(500);
        // A run may still be waiting inside this very call stack with the
        // old link in hand: keep it alive (closed) until no session runs, so
        // that the run ends on a closed link instead of a dangling one.
        retiredLinks_.push_back(std::move(link_));
        ActiveUiHooks().SleepMs(500);
    }
    view_.SetSessionTimerEnabled(true);
    ShowPortImage(true);
}

void SessionEngine::CloseLink() {
    if (link_)
        link_->Close();
    view_.SetReceiving(false);
    view_.SetButtonEnabled(RunButton::Reset, true);
    PumpMessages();
}

void SessionEngine::ShowPortImage(bool create) {
    if (create && !link_ && linkFactory)
        link_ = linkFactory(ConnectionCode());
    view_.SetPortPicture(ConnectionPictureIndex(ConnectionCode(), UsbCount()),
                         link_ ? link_->VersionText() : std::string());
}

void SessionEngine::EnsureNetworkLink() {
    if (ConnectionCode() >= 100 && !link_ && linkFactory) {
        link_ = linkFactory(ConnectionCode());
        ShowPortImage(false);
    }
}

void SessionEngine::DeviceChanged() {
    if (ConnectionCode() >= 100) {
        EnsureNetworkLink();
        return;
    }
    ShowPortImage(false);
    if (UsbCount() != 0) {
        if (!link_ && linkFactory)
            link_ = linkFactory(ConnectionCode());
        ActiveUiHooks().SleepMs(150);
        if (!sessionActive && !view_.SessionTimerEnabled())
            view_.SetSessionTimerEnabled(true);
    }
}

bool SessionEngine::DataFolderWritable(std::string& reason) {
    if (FileStatus folder = EnsureDataFolder(); !folder) {
        reason = folder.message;
        return false;
    }
    // Writing is the only sure test: permissions, a read-only mount and a
    // full disk all show here.
    namespace fs = std::filesystem;
    const fs::path probe =
        DataFolder() /
        ("pylorix-write-check-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::string failure;
    {
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        if (!out)
            failure = std::strerror(errno);
        else if (!(out << "Pylorix\n").flush())
            failure = "the write failed";
    }
    std::error_code ec;
    fs::remove(probe, ec);
    if (failure.empty())
        return true;
    reason = "Can't write in the data folder \"" + PathToUtf8(DataFolder()) + "\": " + failure;
    return false;
}

void SessionEngine::QuietenInstrument() {
    if (!LinkOpen())
        return;
    // Ask the instrument to stop its sequence, as the operator would, then
    // let what it still sends go by until the line is quiet. Before the mode
    // byte it runs no sequence yet: there is nothing to stop.
    if (controlsOffered_ && modeSent_) {
        try {
            link_->WriteByte(acq::kStopRequest);
            const int64_t start = ActiveUiHooks().TickMs();
            while (ActiveUiHooks().TickMs() - start < kQuietenEchoMs) {
                const int b = link_->ReadByteTimed(acq::kBatchPollMs);
                if (b == acq::kStopRequest) {
                    link_->WriteByte(acq::kStopRequest);
                    break;
                }
                if (b < 0 && !LinkOpen())
                    return;
            }
        } catch (const LinkError&) {
            return;
        }
    }
    const int64_t start = ActiveUiHooks().TickMs();
    uint8_t scrap[512];
    while (LinkOpen() && ActiveUiHooks().TickMs() - start < kQuietenLimitMs) {
        if (link_->ReadBufferTimed(scrap, sizeof scrap, kQuietLineMs) <= 0)
            return;
        PumpMessages();
    }
    // Still talking: a fresh link is cleaner than a stream read as a Start.
    if (LinkOpen())
        CloseLink();
}

bool SessionEngine::QueryBattery(BatteryState& state) {
    // A replay never sends a byte to an instrument.
    if (replayMode || !LinkOpen())
        return false;
    try {
        state = QueryBatteryState(*link_);
        return true;
    } catch (const LinkError&) {
        return false;
    }
}
