// Batch reception and display: one batch of up to 20 records read from the
// link with its checks and acknowledgements, then completed (stored,
// appended to the files, shown, counted and estimated), live or replayed.
#include "engine/SessionEngine.h"

#include "engine/Quietly.h"

#include "common/ByteOrder.h"
#include "instrument/InstrumentRecords.h"

#include <algorithm>
#include <chrono>
#include <cstring>

int SessionEngine::ReadRecordBytes(uint8_t* buf, int n, int patience) {
    const int state = link_->GetState();
    const bool timed = state == kConnectionWiConnect ||
                       (n == acq::kRhoOnlyRecordSize && state == kConnectionWifiInstrument);
    if (timed) {
        const int got = link_->ReadBufferTimed(buf, n, acq::kRecordTimeoutMs);
        return got < 0 ? 0 : got;
    }
    // Serial and USB: byte by byte, giving up after `patience` silent waits.
    int got = 0;
    int silent = 0;
    while (got < n && silent < patience) {
        const int b = link_->ReadByteTimed(acq::kByteWaitMs);
        if (b < 0) {
            ++silent;
            if (!LinkReadable())
                break;
            continue;
        }
        buf[got++] = uint8_t(b);
    }
    return got;
}

bool SessionEngine::ReadWiredRecord(int slot, bool& advance) {
    advance = true;
    uint8_t record[acq::kWiredRecordWireSize];
    if (ReadRecordBytes(record, acq::kWiredRecordWireSize, acq::kWiredMaxByteWaits) <
        acq::kWiredRecordWireSize) {
        // Short record: dropped, its slot keeps NoDataValue.
        link_->FlushInput();
        view_.SetReceiving(false);
        PumpMessages();
        return false;
    }
    std::memcpy(raw[slot], record, acq::kWiredRecordSize);
    if (!WiredRecordCheckOk(record)) {
        if (Indicator* indicator = view_.CrcIndicator())
            indicator->Show();
        // A link that went down after the record cannot be asked again.
        if (settings_.activeCrcCheck && LinkOpen()) {
            link_->WriteByte(acq::kRecordResend);
            if (++crcFailures < acq::kMaxCrcFailures) {
                advance = false; // the instrument sends the same record again
                return true;
            }
        }
        crcFailures = 0;
        ++counters.unrecoverableCount;
        return true;
    }
    if (settings_.activeCrcCheck) {
        if (LinkOpen())
            link_->WriteByte(acq::kRecordGood);
        if (crcFailures > 0) {
            ++counters.recoveredCount;
            crcFailures = 0;
        }
    }
    try {
        view_.AddDistributionValue(le::getF32(raw[slot] + 132));
    } catch (const std::exception&) {
        return true;
    }
    Quietly([&] { DecodeWiredRecord(raw[slot], acquisitionName, NowTimeStamp(), batch[slot]); });
    return true;
}

SessionEngine::BatchOutcome SessionEngine::ObtainLiveBatch() {
    view_.SetReceiving(true);
    PumpMessages();
    if (Indicator* indicator = view_.CrcIndicator())
        indicator->Hide();

    uint8_t indexBytes[4];
    try {
        link_->ReadBuffer(indexBytes, 4);
    } catch (const LinkError&) {
        return BatchOutcome::LinkLost;
    }
    const int32_t index = le::getI32(indexBytes);
    auto discard = [&] {
        link_->FlushInput();
        view_.SetReceiving(false);
        PumpMessages();
        return BatchOutcome::Discarded;
    };
    // Indices are the instrument's: firstQuadripole .. lastQuadripole. A
    // moving array goes on past its table: those records carry their own
    // coordinates and are stored too.
    if (index < expectedIndex || (index > lastQuadripole && !movingRun_))
        return discard();
    const int count = link_->ReadByteTimed(acq::kRecordCountWaitMs);
    if (count < 1 || count > acq::kMaxBatchRecords)
        return discard();
    if (index > expectedIndex)
        counters.skippedCount += int32_t(index - expectedIndex);
    firstIndex = index;
    recordCount = count;
    SetMainProgressMaximum(252000);

    for (int s = 0; s < kMaxChannels; ++s) {
        batch[s].rho = NoDataValue;
        le::putF32(raw[s] + 132, NoDataValue);
    }

    const int state = link_->GetState();
    int slot = 0;
    // Slots that hold a record that arrived whole, counted from the first.
    int whole = 0;
    for (int64_t i = firstIndex; i < firstIndex + recordCount;) {
        bool arrived = true;
        if (settings_.rhoOnly) {
            uint8_t value[acq::kRhoOnlyRecordSize];
            if (ReadRecordBytes(value, acq::kRhoOnlyRecordSize, acq::kRhoOnlyMaxByteWaits) <
                acq::kRhoOnlyRecordSize) {
                arrived = false;
                link_->FlushInput();
                view_.SetReceiving(false);
                PumpMessages();
            } else {
                batch[slot].rho = le::getF32(value);
                Quietly([&] { view_.AddDistributionValue(batch[slot].rho); });
            }
            ++i;
            ++slot;
        } else if (state == kConnectionWifiInstrument) {
            if (device_->protocol->ReadMeasure(int(i - firstIndex), batch[slot]) == 0) {
                ++counters.unrecoverableCount;
                arrived = LinkReadable();
            }
            ++i;
            ++slot;
        } else {
            bool advance = true;
            arrived = ReadWiredRecord(slot, advance);
            if (advance) {
                ++i;
                ++slot;
            }
        }
        if (arrived && slot == whole + 1)
            whole = slot;
        // The link is asked about only while records are still due: a batch
        // that arrived whole is kept even when the link closes right after.
        if (i < firstIndex + recordCount && !LinkReadable()) {
            if (whole == 0)
                return BatchOutcome::LinkLost;
            // Keep what arrived whole; the run ends after storing it.
            recordCount = whole;
            linkLostAfterBatch_ = true;
            return BatchOutcome::Ready;
        }
    }
    return BatchOutcome::Ready;
}

void SessionEngine::ShowEstimate() {
    if (batchesDone <= 3) {
        view_.SetEstimatedTime(kNoEstimate);
        return;
    }
    const int64_t done = int64_t(firstIndex - firstQuadripole) + batchRecords;
    const int64_t remaining = quadripoleCount - done;
    const int64_t elapsed = ActiveUiHooks().TickMs() - runStartTime;
    const double days = double(elapsed) / (double(done) * 1000.0) * double(remaining) / 86400.0;
    view_.SetEstimatedTime(EstimatedTimeText(days));
}

int SessionEngine::CompleteBatch(bool viewOnly) {
    const auto completionStart = std::chrono::steady_clock::now();
    SetMainProgressMaximum(2520);
    PumpMessages();
    if (!replayMode) {
        view_.SetReceiving(false);
        PumpMessages();
    }
    const int64_t reached = firstIndex + recordCount;
    // Records past the end of the sequence describe no quadripole: they are
    // neither stored nor shown.
    const int64_t end =
        movingRun_ ? reached : std::min<int64_t>(reached, int64_t(lastQuadripole) + 1);
    batchRecords = int32_t(std::max<int64_t>(0, end - firstIndex));
    // Set before the display work so that a drawing failure can never make
    // the next batch look like skipped quadripoles.
    expectedIndex = reached;

    const int table = TableIndex(firstIndex);
    const int64_t done = int64_t(table) + batchRecords;
    int result = 0;
    try {
        view_.SetStatus(BatchStatusCaption(done, quadripoleCount, counters));
        view_.SetStatusHint(BatchStatusHint(counters));
        if (batchRecords > 0) {
            int count = device_->header.ChannelCountCapped();
            device_->GroupDipoles(table, count, electrodeList);
            if (settings_.rhoOnly) {
                // Every kept slot gets its coordinates, even when the group
                // of dipoles is shorter than the batch.
                for (int j = 0; j < std::max(count, int(batchRecords)) && j < kMaxChannels; ++j) {
                    float c[12];
                    device_->QuadripoleCoordinates(table + j, c);
                    for (int e = 0; e < 4; ++e) {
                        batch[j].x[e] = c[e];
                        batch[j].y[e] = c[4 + e];
                        batch[j].z[e] = c[8 + e];
                    }
                }
            } else if (!replayMode) {
                try {
                    device_->protocol->AppendRecords(binFileName, batchRecords, table, batch);
                } catch (const FileError& e) {
                    view_.ShowError(e.what());
                    result = RunFileError;
                }
            }
            if (result == 0) {
                view_.ShowBatteryState(batch[0].temperature, batch[0].txBattery,
                                       batch[0].rxBattery);
                const int64_t t1 = ActiveUiHooks().TickMs();
                if (!viewOnly) {
                    view_.MarkCurrentQuadripoles(batchRecords, table);
                    view_.ShowLiveValues(batch, electrodeList, batchRecords);
                }
                ShowEstimate();
                ++batchesDone;
                // Judged before the displays draw, so that they mark this
                // batch's flags with it.
                if (device_->movingArrayMode == 0)
                    quality_.AddRecords(batch, table, batchRecords);
                if (device_->movingArrayMode == 0)
                    view_.PlotSectionData(batch, table, batchRecords, settings_.showGapFillers,
                                          !viewOnly);
                view_.AddDistributionPoints(batch, table, settings_.showGapFillers, !viewOnly,
                                            batchRecords);
                view_.SetUpdateGuiTime(ActiveUiHooks().TickMs() - t1);
                if (!viewOnly)
                    view_.ComputeColorRange(1);
                view_.SetQuadripoleText(
                    QuadripoleRangeText(done - batchRecords + 1, done, quadripoleCount));
                if (device_->movingArrayMode == 0)
                    view_.ShowQuality(quality_);
            }
        }
        if (ProgressBar* bar = view_.SequenceProgressBar())
            bar->SetPosition(int(done - 1));
    } catch (const std::exception&) {
        // A display failure abandons the rest of this batch's display only.
    }

    BatchInfo info;
    info.firstIndex = int32_t(firstIndex);
    info.tableIndex = table;
    info.batchRecords = batchRecords;
    info.done = done;
    info.total = quadripoleCount;
    info.skippedCount = counters.skippedCount;
    info.unrecoverableCount = counters.unrecoverableCount;
    info.recoveredCount = counters.recoveredCount;
    info.completionMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                  completionStart)
                            .count();
    Quietly([&] { view_.BatchCompleted(info); });
    return result;
}
