#include "EmuSession.h"

#include "BlockTransfer.h"
#include "ByteImage.h"
#include "Transport.h"
#include "TruthWriter.h"

#include <QThread>
#include <algorithm>
#include <cstdio>

namespace varmexemu {

namespace {

// Byte codes of the acquisition.
constexpr uint8_t kBatch = '#';
constexpr uint8_t kEnd = '$';
constexpr uint8_t kStop = 0xA5;
constexpr uint8_t kPause = 'Z';
constexpr uint8_t kResetTrip = 0xAA;
constexpr uint8_t kRecordGood = 'U';
constexpr uint8_t kRecordAgain = 'X';

// After a '$' that does not end the sequence the monitor takes any byte
// within 2000 ms as the start of a new cycle; the next Start waits longer.
constexpr int kBetweenRunsMs = 2500;
// The monitor answers a control byte at once; a missing confirmation
// means the request was not meant for us.
constexpr int kConfirmMs = 5000;
// A batch announcement the monitor discards is followed by silence, so
// that its flush does not swallow the real batch.
constexpr int kBadBatchSilenceMs = 1000;
// The longest wait for the monitor to take the last batch before the line
// is cut.
constexpr int kDeliveryMs = 3000;

} // namespace

void EmuLog::info(const QString& text) const {
    if (quiet_)
        return;
    std::fprintf(stderr, "varmex-emulator: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

EmuSession::EmuSession(EmuTransport& transport, const EmuOptions& options, const EmuSurvey& survey,
                       InstrumentModel& instrument, EmuFaultState& faults, EmuRecords records,
                       const EmuLog& log, int& acquisitionCounter)
    : transport_(transport), o_(options), survey_(survey), instrument_(instrument), faults_(faults),
      truth_(records.truth), events_(records.events), log_(log),
      acquisitionCounter_(acquisitionCounter), wire_(transport, options.idleTimeoutMs) {
    clock_.start();
}

void EmuSession::note(const char* what, int acquisition) {
    if (events_)
        events_->event(acquisition > 0 ? acquisition : acquisitionCounter_, batchesThisAcquisition_,
                       what);
}

SessionEnd EmuSession::run() {
    try {
        for (int i = 0; i < o_.repeat; ++i) {
            waitForStartMoment(i == 0 ? o_.startDelayMs
                                      : std::max(o_.startDelayMs, kBetweenRunsMs));
            if (o_.flood == FloodKind::Start)
                flood(FloodKind::Start);
            startHandshake();
            if (o_.flood == FloodKind::Random)
                flood(FloodKind::Random);
            if (o_.hangAfterStart)
                hangSilently();
            if (o_.closeAfterStart) {
                log_.info(QStringLiteral("closing the link right after Start"));
                transport_.dropPeer();
                return SessionEnd::Dropped;
            }
            if (runAcquisition(++acquisitionCounter_) == RunEnd::Dropped)
                return SessionEnd::Dropped;
        }
        if (!o_.exitWhenDone) {
            // Idle instrument: answer commands until the monitor goes quiet.
            try {
                serveIdle(o_.idleTimeoutMs);
            } catch (const WireTimeout&) {
            }
            log_.info(QStringLiteral("no traffic for %1 ms, closing").arg(o_.idleTimeoutMs));
        }
        return SessionEnd::Finished;
    } catch (const LinkLostError&) {
        log_.info(QStringLiteral("the monitor closed the link"));
        return SessionEnd::PeerGone;
    } catch (const WireTimeout& e) {
        lastError_ = QString::fromStdString(e.what());
        log_.info(lastError_);
        return SessionEnd::TimedOut;
    }
}

// ---- hostile peers

void EmuSession::flood(FloodKind kind) {
    log_.info(kind == FloodKind::Start ? QStringLiteral("flooding 'S' instead of Start")
                                       : QStringLiteral("flooding random bytes after Start"));
    constexpr uint8_t kStart = 'S';
    constexpr int kChunk = 4096;
    EmuRandom random(o_.seed, 4);
    std::vector<uint8_t> chunk(size_t(kChunk), kStart);
    qint64 lastTaken = now();
    for (;;) {
        if (kind == FloodKind::Random)
            for (uint8_t& b : chunk)
                b = uint8_t(random.uniformInt(0, 255));
        // Only as fast as the link takes the bytes: a monitor that stops
        // reading must not make the emulator grow.
        const int taken = transport_.offer(chunk.data(), kChunk, 100);
        if (taken < 0)
            throw LinkLostError("the monitor closed the link");
        if (taken > 0)
            lastTaken = now();
        else if (now() - lastTaken > o_.idleTimeoutMs)
            throw WireTimeout("the monitor stopped reading the flood");
        // What the monitor says is not listened to, but it is read, so that
        // it does not pile up either.
        wire_.discardInput();
    }
}

void EmuSession::hangSilently() {
    log_.info(QStringLiteral("silent after Start"));
    for (;;) {
        wire_.discardInput();
        wire_.readByte(1000);
    }
}

// ---- acquisition

uint8_t EmuSession::waitForMode() {
    for (;;) {
        const uint8_t b = wire_.needByte("mode byte");
        if (b == 'R' || b == 'C' || b == 'A')
            return b;
    }
}

int EmuSession::shortGapMs() const {
    // The monitor gives a record up after 15 s on TCP, after a few hundred
    // milliseconds of silence on a serial line.
    if (o_.shortGapMs >= 0)
        return o_.shortGapMs;
    return transport_.isNetwork() ? 16000 : 500;
}

EmuSession::RunEnd EmuSession::runAcquisition(int number) {
    instrument_.beginAcquisition(number);
    batchesThisAcquisition_ = 0;
    const std::vector<EmuBatch> plan =
        applySkips(survey_.batches, o_.skips, survey_.firstQuadripole);
    log_.info(QStringLiteral("acquisition %1 started: %2 records from quadripole %3, %4 batches")
                  .arg(number)
                  .arg(survey_.recordCount())
                  .arg(survey_.firstQuadripole)
                  .arg(plan.size()));

    wire_.write(instrument_.identityWord());
    wire_.write(instrument_.nameBytes());
    BlockFaults blockFaults{o_.corruptBlocks, &faults_.blockRandom, 0, o_.wedge};
    if (o_.wedge)
        log_.info(QStringLiteral("wedged: every block request gets a bad block"));
    if (wired()) {
        sendBlocks(wire_, instrument_.wiredHeader(), &blockFaults);
        sendBlocks(wire_, instrument_.wiredNodeBlock(), &blockFaults);
        sendBlocks(wire_, instrument_.auxBlock(), &blockFaults);
        sendBlocks(wire_, instrument_.quadripoleBlock(), &blockFaults);
    } else {
        sendBlocks(wire_, instrument_.configuration(), &blockFaults);
        sendBlocks(wire_, instrument_.parameters(), &blockFaults);
        if (!survey_.moving) {
            sendBlocks(wire_, instrument_.wifiNodeBlock(), &blockFaults);
            sendBlocks(wire_, instrument_.auxBlock(), &blockFaults);
            sendBlocks(wire_, instrument_.quadripoleBlock(), &blockFaults);
        }
    }
    if (blockFaults.damaged > 0)
        log_.info(QStringLiteral("damaged %1 blocks of the downloads").arg(blockFaults.damaged));

    const uint8_t mode = waitForMode();
    log_.info(QStringLiteral("mode '%1'").arg(QChar(mode)));

    // The batches that announce themselves wrongly first.
    const int nb = int(plan.size());
    int badCountAt = -1, badIndexAt = -1;
    if (o_.badCount && !faults_.badCountDone && nb > 0) {
        badCountAt = faults_.random.uniformInt(nb > 1 ? 1 : 0, nb - 1);
        faults_.badCountDone = true;
    }
    if (o_.badIndex && !faults_.badIndexDone && nb > 0) {
        badIndexAt = faults_.random.uniformInt(nb > 1 ? 1 : 0, nb - 1);
        faults_.badIndexDone = true;
    }

    auto dropNow = [&] {
        if (o_.dropAfter < 0 || faults_.dropDone || batchesThisConnection_ < o_.dropAfter)
            return false;
        faults_.dropDone = true;
        log_.info(QStringLiteral("dropping the link after %1 batches").arg(batchesThisConnection_));
        note("dropped");
        if (truth_)
            truth_->flush();
        transport_.waitUntilDelivered(kDeliveryMs);
        transport_.dropPeer();
        return true;
    };

    for (int bi = 0; bi < nb; ++bi) {
        const EmuBatch& batch = plan[size_t(bi)];
        if (dropNow())
            return RunEnd::Dropped;
        if (serveControls(o_.cycleMs) == Control::Stop) {
            wire_.writeByte(kEnd);
            log_.info(QStringLiteral("acquisition %1 stopped by the monitor").arg(number));
            note("stopped");
            return RunEnd::Stopped;
        }
        const int first = survey_.number(batch.first);
        if (bi == badIndexAt) {
            const int bad = bi > 0 ? survey_.number(plan[size_t(bi - 1)].first) : first - 1;
            log_.info(QStringLiteral("announcing batch %1 with index %2").arg(bi).arg(bad));
            wire_.writeByte(kBatch);
            wire_.writeLong(bad);
            QThread::msleep(kBadBatchSilenceMs);
        }
        if (bi == badCountAt) {
            const uint8_t count = faults_.random.chance(0.5) ? 0 : 21;
            log_.info(QStringLiteral("announcing batch %1 with %2 records").arg(bi).arg(count));
            wire_.writeByte(kBatch);
            wire_.writeLong(first);
            wire_.writeByte(count);
            QThread::msleep(kBadBatchSilenceMs);
        }
        const std::vector<EmuMeasurement> records = instrument_.inject(batch);
        std::vector<uint8_t> head;
        if (o_.earlyEndAfter >= 0 && !faults_.earlyEndDone &&
            batchesThisAcquisition_ == o_.earlyEndAfter) {
            // An end marker with the sequence still going, the next batch
            // in the same breath.
            faults_.earlyEndDone = true;
            log_.info(QStringLiteral("early '$' before batch %1").arg(bi));
            note("early-end");
            head.push_back(kEnd);
        }
        head.push_back(kBatch);
        appendI32(head, first);
        head.push_back(uint8_t(batch.count));
        wire_.write(head);
        for (const EmuMeasurement& m : records)
            sendRecord(m, mode);
        ++batchesThisConnection_;
        ++batchesThisAcquisition_;
        if (truth_)
            truth_->flush();
    }
    if (dropNow())
        return RunEnd::Dropped;
    wire_.writeByte(kEnd);
    log_.info(QStringLiteral("acquisition %1 completed").arg(number));
    note("completed");
    return RunEnd::Completed;
}

EmuSession::Control EmuSession::serveControls(int periodMs) {
    // The instrument measures for periodMs; the operator's requests from the
    // monitor are served meanwhile (looked at once when periodMs is 0).
    // Requests that came while the last batch was going out come first.
    while (!deferred_.empty()) {
        const uint8_t b = deferred_.front();
        deferred_.pop_front();
        if (serveControl(b) == Control::Stop)
            return Control::Stop;
    }
    const qint64 deadline = now() + periodMs;
    for (;;) {
        const int left = std::max(0, int(deadline - now()));
        const int b = wire_.readByte(left);
        if (b < 0)
            return Control::Continue;
        if (o_.batchBeforeEcho && !o_.noControl && (b == kStop || b == kPause)) {
            // The instrument had begun its next injection: the batch goes
            // out first, the echo after it.
            deferred_.push_back(uint8_t(b));
            note("echo-after-batch");
            return Control::Continue;
        }
        const bool paused = b == kPause;
        if (serveControl(uint8_t(b)) == Control::Stop)
            return Control::Stop;
        if (left == 0 || paused)
            return Control::Continue;
    }
}

EmuSession::Control EmuSession::serveControl(uint8_t b) {
    const int confirmMs = std::min(kConfirmMs, o_.idleTimeoutMs);
    if ((b == kStop || b == kPause) && o_.noControl) {
        note(b == kStop ? "stop-ignored" : "pause-ignored");
    } else if (b == kStop) {
        wire_.writeByte(kStop);
        note("stop-echoed");
        if (wire_.readByte(confirmMs) == kStop) {
            note("stop-confirmed");
            return Control::Stop;
        }
    } else if (b == kPause) {
        wire_.writeByte(kPause);
        note("pause-echoed");
        if (wire_.readByte(confirmMs) == kPause) {
            note("pause-confirmed");
            holdPause();
        }
    } else if (b == kResetTrip) {
        wire_.writeByte(kResetTrip);
        note("reset-echoed");
        if (wire_.readByte(confirmMs) == kResetTrip) {
            instrument_.resetTripCounter();
            log_.info(QStringLiteral("trip counter reset"));
            note("reset-confirmed");
        }
    }
    // Anything else is not meant for a measuring instrument.
    return Control::Continue;
}

void EmuSession::holdPause() {
    log_.info(QStringLiteral("paused"));
    const qint64 until = now() + o_.pauseTimeoutMs;
    for (;;) {
        const int left = int(until - now());
        if (left <= 0) {
            log_.info(QStringLiteral("pause timed out, going on"));
            note("pause-timed-out");
            return;
        }
        if (wire_.readByte(left) == kPause) {
            log_.info(QStringLiteral("resumed"));
            note("resumed");
            return;
        }
    }
}

uint8_t EmuSession::waitForAck() {
    for (;;) {
        const uint8_t b = wire_.needByte("record acknowledgement");
        if (b == kRecordGood || b == kRecordAgain)
            return b;
        // An operator request that crossed the batch on the line is kept
        // for the next pause between injections, as the instrument's
        // receive buffer would keep it.
        if (b == kStop || b == kPause || b == kResetTrip)
            deferred_.push_back(b);
    }
}

void EmuSession::sendRecord(const EmuMeasurement& m, uint8_t mode) {
    auto listed = [&](const std::vector<int>& indices, const std::set<int>& done) {
        return std::find(indices.begin(), indices.end(), m.index) != indices.end() &&
               done.count(m.index) == 0;
    };
    const bool isShort = listed(o_.shortRecords, faults_.shortDone);
    if (mode == 'R') {
        std::vector<uint8_t> rho;
        appendF32(rho, m.rho);
        if (isShort) {
            faults_.shortDone.insert(m.index);
            wire_.write(rho.data(), 2);
            if (truth_)
                truth_->record(m, 1, "short");
            QThread::msleep(unsigned(shortGapMs()));
            return;
        }
        wire_.write(rho);
        if (truth_)
            truth_->record(m, 1, "");
        return;
    }

    std::vector<uint8_t> good = wired() ? InstrumentModel::wiredRecord(m)
                                        : InstrumentModel::rawRecord(m, instrument_.name());
    appendU16(good, checksum16(good));
    const size_t recordBytes = good.size() - 2;
    // A record damaged in every copy, retransmissions included: its rho is
    // what the damage hits, so that a monitor keeping a bad copy shows it.
    const bool allBad = listed(o_.badRecords, faults_.badDone) && !isShort;
    if (allBad)
        faults_.badDone.insert(m.index);
    const size_t rhoAt = wired() ? kWiredRhoOffset : kRawRhoOffset;
    const size_t rhoSize = wired() ? 4 : 8;
    // The Wi-Fi instrument has every record acknowledged; the wired one only
    // in mode 'C'.
    const bool acknowledged = !wired() || mode == 'C';
    int refusals = 0;
    for (int attempt = 1;; ++attempt) {
        const char* fault = "";
        std::vector<uint8_t> out = good;
        if (attempt == 1 && isShort) {
            faults_.shortDone.insert(m.index);
            fault = "short";
            out.resize(recordBytes / 2);
        } else if (allBad) {
            fault = "corrupt";
            const size_t at = rhoAt + size_t(faults_.random.uniformInt(0, int(rhoSize) - 1));
            out[at] ^= uint8_t(faults_.random.uniformInt(1, 255));
        } else if (attempt == 1 && faults_.random.chance(o_.corrupt)) {
            fault = "corrupt";
            const size_t at = size_t(faults_.random.uniformInt(0, int(recordBytes) - 1));
            out[at] ^= uint8_t(faults_.random.uniformInt(1, 255));
        }
        wire_.write(out);
        if (truth_)
            truth_->record(m, attempt, fault);
        if (fault[0] == 's' && wired()) {
            // The monitor drops a short wired record without answering.
            QThread::msleep(unsigned(shortGapMs()));
            return;
        }
        if (!acknowledged)
            return;
        if (waitForAck() == kRecordGood)
            return;
        // The monitor asks at most twice more, then moves on to the next
        // record without a third request.
        if (++refusals >= 3)
            return;
    }
}

} // namespace varmexemu
