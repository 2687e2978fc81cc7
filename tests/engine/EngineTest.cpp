// The acquisition engine against a scripted wired instrument: whole runs,
// the record acknowledgement policy, bad batches, the end marker, the
// operator's requests, a dropped link, rho-only runs and replays.
#include "EngineHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(EngineRun, WholeAcquisitionIsStoredInOrder) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(12, 4); };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->mode, 'A');
    EXPECT_TRUE(rig.script->acks.empty());
    EXPECT_EQ(rig.view.status, "Sequence completed !  ");
    ASSERT_EQ(rig.view.batches.size(), 3u);
    EXPECT_EQ(rig.view.quadripoleText, "9 .. 12/12");
    EXPECT_EQ(fs::file_size(rig.engine.binFileName), 1029u + 12 * 304);
    EXPECT_EQ(fs::file_size(rig.engine.heqFileName), kHeqFileSize);
    EXPECT_NE(rig.engine.binFileName.find("LINE1.bin"), std::string::npos);
    const auto records = ReadBin(rig.engine.binFileName);
    ASSERT_EQ(records.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(records[i].quadripoleIndex, i);
        EXPECT_EQ(records[i].rho, WiredScript::RhoOf(i));
        EXPECT_EQ(records[i].recordVersion, 3);
        EXPECT_EQ(records[i].channelByte & 0x0F, i % 4);
    }
    EXPECT_EQ(rig.view.distributionValues.size(), 12u);
    EXPECT_FALSE(rig.link->GetState() > 0); // closed after the last run
}

TEST(EngineRun, CheckedModeRecoversOrDropsDamagedRecords) {
    EngineRig rig(8, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(8, 4);
        s.batches[0].badCopies[1] = 2; // good on the third copy
        s.batches[1].badCopies[2] = 3; // never good
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->mode, 'C');
    const std::vector<uint8_t> expected = {'U', 'X', 'X', 'U', 'U', 'U',  // batch 1
                                           'U', 'U', 'X', 'X', 'X', 'U'}; // batch 2
    EXPECT_EQ(rig.script->acks, expected);
    ASSERT_EQ(rig.view.batches.size(), 2u);
    EXPECT_EQ(rig.view.batches[0].recoveredCount, 1);
    EXPECT_EQ(rig.view.batches[1].unrecoverableCount, 1);
    // The unrecoverable note outranks the recovered one.
    EXPECT_EQ(rig.view.statuses[rig.view.statuses.size() - 2], "8/8 (1 unrecoverable crc error)");
    EXPECT_EQ(rig.view.hint, "1 unrecoverable crc error\n1 crc error recovered");
    const auto records = ReadBin(rig.engine.binFileName);
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records[1].rho, WiredScript::RhoOf(1));
    EXPECT_EQ(records[6].rho, NoDataValue); // the dropped record keeps no value
    EXPECT_EQ(records[7].rho, WiredScript::RhoOf(7));
}

TEST(EngineRun, ShortRecordsAndBadBatchesAreDroppedWithoutCounting) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.batches[0].shortRecord = 1;
        WiredScript::Batch zero;
        zero.first = 4;
        zero.declaredCount = 0;
        WiredScript::Batch tooMany;
        tooMany.first = 4;
        tooMany.declaredCount = 21;
        s.batches.insert(s.batches.begin() + 1, {zero, tooMany});
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    ASSERT_EQ(rig.view.batches.size(), 3u);
    EXPECT_EQ(rig.view.batches[2].skippedCount, 0);
    EXPECT_EQ(rig.view.batches[2].unrecoverableCount, 0);
    const auto records = ReadBin(rig.engine.binFileName);
    ASSERT_EQ(records.size(), 12u);
    // The short record's slot keeps no value; its neighbours are intact.
    EXPECT_EQ(records[0].rho, WiredScript::RhoOf(0));
    EXPECT_EQ(records[1].rho, NoDataValue);
    EXPECT_EQ(records[2].rho, WiredScript::RhoOf(2));
    EXPECT_EQ(records[3].rho, WiredScript::RhoOf(3));
    EXPECT_EQ(records[4].rho, WiredScript::RhoOf(4));
}

TEST(EngineRun, SkippedQuadripolesAreCountedAndCaptioned) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.batches[1].first = 7; // 3 after the expected 4
        s.batches[1].count = 1;
        s.batches[2].first = 8;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    ASSERT_EQ(rig.view.batches.size(), 3u);
    EXPECT_EQ(rig.view.batches[1].skippedCount, 3);
    EXPECT_EQ(rig.view.hint, "3 quadripoles skipped");
    EXPECT_NE(std::find(rig.view.statuses.begin(), rig.view.statuses.end(),
                        "8/12 (3 quadripoles skipped)"),
              rig.view.statuses.end());
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 9u);
}

TEST(EngineRun, EarlyEndMarkerWaitsForSilenceBeforeCompleting) {
    EngineRig rig(12, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.earlyEndAfter = 1;
        s.endMarker = false;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_NE(std::find(rig.view.statuses.begin(), rig.view.statuses.end(), "4/12 Stopped"),
              rig.view.statuses.end());
    EXPECT_EQ(rig.view.batches.size(), 1u);
}

TEST(EngineRun, BatchRunningPastTheSequenceIsCutAtItsEnd) {
    EngineRig rig(6, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(8, 4); // the instrument sends 8
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    ASSERT_EQ(rig.view.batches.size(), 2u);
    EXPECT_EQ(rig.view.batches[1].batchRecords, 2);
    EXPECT_EQ(rig.view.quadripoleText, "5 .. 6/6");
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 6u);
}

TEST(EngineControls, ClickWhileABatchIsHandledIsServedAtTheNextWait) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.idlePolls = 2;
    };
    rig.view.onBatch = [&](const BatchInfo& b) {
        if (b.done == 4)
            rig.engine.RequestStop();
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{0xA5, 0xA5}));
    EXPECT_EQ(rig.view.batches.size(), 1u);
}

TEST(EngineControls, StopDuringTheWaitIsEchoedConfirmedAndEnds) {
    EngineRig rig(40, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(40, 4);
        s.idlePolls = 2;
    };
    // A click while the loop waits for the next batch.
    rig.fake.hooks.onPump = [&] {
        if (rig.view.batches.size() == 2 && !rig.script->stopEchoed &&
            rig.engine.stopRequested == 0)
            rig.engine.RequestStop();
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{0xA5, 0xA5}));
    EXPECT_EQ(rig.view.batches.size(), 2u);
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 8u);
}

TEST(EngineControls, StopCrossingABatchTakesTheBatchThenConfirms) {
    EngineRig rig(40, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(40, 4);
        s.idlePolls = 2;
        s.batchBeforeStopEcho = true;
    };
    rig.fake.hooks.onPump = [&] {
        if (rig.view.batches.size() == 2 && !rig.script->stopEchoed &&
            rig.engine.stopRequested == 0)
            rig.engine.RequestStop();
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{0xA5, 0xA5}));
    ASSERT_EQ(rig.view.batches.size(), 3u);
    const auto records = ReadBin(rig.engine.binFileName);
    ASSERT_EQ(records.size(), 12u);
    EXPECT_EQ(records[11].rho, WiredScript::RhoOf(11));
}

TEST(EngineControls, PauseHoldsUntilRestartThenResumes) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    int pausedPumps = 0;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.idlePolls = 2;
    };
    bool clicked = false;
    rig.fake.hooks.onPump = [&] {
        if (rig.view.batches.size() == 1 && !clicked) {
            clicked = true;
            rig.engine.RequestPause();
        }
        if (rig.script && rig.script->state == WiredScript::Paused && ++pausedPumps == 5)
            rig.engine.RequestRestart();
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{'Z', 'Z', 'Z'}));
    EXPECT_GE(pausedPumps, 5);
    EXPECT_EQ(rig.view.batches.size(), 3u);
}

TEST(EngineControls, ResetOfAMovingArrayResetsTheTripCounter) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.idlePolls = 2;
    };
    rig.view.onBatch = [&](const BatchInfo& b) {
        if (b.done == 4) {
            rig.engine.Device().movingArrayMode = 1;
            rig.engine.RequestReset();
        }
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_NE(
        std::find(rig.view.statuses.begin(), rig.view.statuses.end(), "Reset Trip counter..."),
        rig.view.statuses.end());
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{0xAA, 0xAA}));
    EXPECT_EQ(rig.view.batches.size(), 3u);
}

TEST(EngineControls, NoControlByteHidesStopAndPause) {
    EngineRig rig(4, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(4, 4);
        s.controls = false;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_FALSE(rig.view.visible[RunButton::Stop]);
    EXPECT_FALSE(rig.view.visible[RunButton::Pause]);
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 4u);
}

TEST(EngineFailures, DroppedLinkKeepsEveryCompletedBatch) {
    EngineRig rig(40, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(40, 4);
        s.dropAfter = 3;
    };
    EXPECT_EQ(rig.Run(), RunLinkLost);
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0], "Sequence not ended !");
    EXPECT_EQ(fs::file_size(rig.engine.binFileName), 1029u + 12 * 304);
}

TEST(EngineFailures, UnusableHeadersAndFoldersEndTheRun) {
    {
        EngineRig rig(4, 4);
        rig.header.lastQuadripole = 16000; // 16001 quadripoles
        rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(4, 4); };
        EXPECT_EQ(rig.Run(), RunHeaderError);
        EXPECT_EQ(rig.view.errors.back(), "Error in header !");
    }
    {
        // A data folder that cannot be written is found before the Start is
        // acknowledged: the instrument is not left running unrecorded.
        EngineRig rig(4, 4);
        const fs::path blocked = fs::path(rig.root.path()) / "plain-file";
        std::ofstream(blocked) << "x";
        qputenv("PYLORIX_ROOT", QByteArray::fromStdString((blocked / "Varmex").string()));
        rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(4, 4); };
        rig.Run();
        EXPECT_EQ(rig.engine.runsDone, 0);
        EXPECT_EQ(rig.script->state, WiredScript::WaitV); // no "VU" went out
        ASSERT_EQ(rig.view.errors.size(), 1u);
        EXPECT_EQ(rig.view.errors[0].rfind("Can't create directory \"", 0), 0u);
    }
}

TEST(EngineRun, RhoOnlyRunWritesNoFiles) {
    EngineRig rig(8, 4);
    rig.settings.rhoOnly = true;
    rig.prepare = [](WiredScript& s) {
        // Rho-only records are 4 bytes: the script sends wired ones, so use
        // single-value batches built by hand below.
        s.batches.clear();
    };
    rig.engine.linkFactory = [&](int) {
        auto l = std::make_unique<FakeLink>();
        l->Close();
        rig.link = l.get();
        auto* link = l.get();
        auto stagePtr = std::make_shared<int>(-1);
        link->onStarved = [link, stagePtr] {
            if (*stagePtr == -1) {
                link->Answer({'S', 'U'});
                *stagePtr = 0;
            }
        };
        link->instrument = [link, stagePtr](uint8_t b) {
            int& stage = *stagePtr;
            if (stage == 0 && b == 'U') {
                link->Answer('X');
                link->Answer({9, 9, 9, 9, 'R', 'H', 'O', 0, 0, 0, 0, 0, 0, 0, 0});
                stage = 1;
            } else if (stage == 1) {
                EXPECT_EQ(b, 'R');
                for (int first : {0, 4}) {
                    link->Answer({'#', uint8_t(first), 0, 0, 0, 4});
                    for (int k = 0; k < 4; ++k) {
                        const float rho = 10.0f + float(first + k);
                        uint8_t v[4];
                        std::memcpy(v, &rho, 4);
                        link->Answer({v[0], v[1], v[2], v[3]});
                    }
                }
                link->Answer('$');
                stage = 2;
            }
        };
        return l;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.view.distributionValues.size(), 8u);
    EXPECT_EQ(rig.view.distributionValues[7], 17.0f);
    EXPECT_TRUE(fs::is_directory(DataFolder()));
    EXPECT_TRUE(fs::is_empty(DataFolder()));
}

TEST(EngineReplay, RecordedFilesReplayTheSameBatches) {
    EngineRig rig(10, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(10, 4); };
    ASSERT_EQ(rig.Run(), RunCompleted);
    const std::string heq = rig.engine.heqFileName;
    const std::string bin = rig.engine.binFileName;

    RecordingView view;
    Settings settings;
    SessionEngine replay(view, settings);
    EXPECT_EQ(replay.ReplayFile(heq, true), RunCompleted);
    ASSERT_EQ(view.batches.size(), 3u);
    EXPECT_EQ(view.batches[0].batchRecords, 4);
    EXPECT_EQ(view.batches[2].batchRecords, 2);
    EXPECT_EQ(view.status, "Sequence simulation completed !  ");
    EXPECT_EQ(view.distributionValues.size(), 10u);
    // Nothing was written by the replay.
    EXPECT_EQ(fs::file_size(bin), 1029u + 10 * 304);

    // A cut recording: every whole record, and where it ended as a fact.
    fs::resize_file(bin, 1029 + 6 * 304);
    RecordingView cutView;
    SessionEngine cut(cutView, settings);
    EXPECT_EQ(cut.ReplayFile(heq, false), RunCompleted);
    EXPECT_EQ(cutView.batches.size(), 2u);
    EXPECT_TRUE(cutView.errors.empty());
    EXPECT_EQ(cutView.status, RecordingEndedText(6, 10));

    // Missing files are named.
    RecordingView missing;
    SessionEngine none(missing, settings);
    EXPECT_LT(none.ReplayFile(rig.root.path() + "/nothing.heq", true), -100);
    ASSERT_EQ(missing.errors.size(), 1u);
    EXPECT_EQ(missing.errors[0], "Can't open \"" + rig.root.path() + "/nothing.heq\"");
}

// A link that fails while the header comes is a link fault, said in words,
// and never "Error in header !".
TEST(EngineRun, LinkFaultsDuringTheStartAreNamed) {
    {
        EngineRig rig(8, 4);
        rig.prepare = [](WiredScript& s) { s.closeAfterStart = true; };
        EXPECT_EQ(rig.Run(), RunLinkFault);
        EXPECT_EQ(rig.view.errors,
                  std::vector<std::string>{"Link fault while receiving the header: link closed"});
    }
    {
        // An instrument wedged in the header download: every block bad.
        EngineRig rig(8, 4);
        rig.engine.protocolFactory = [&rig](int, Instrument& d, Link& link) {
            struct Wedged : FakeProtocol {
                Wedged(Instrument& d, const AcquisitionHeader& h, Link& l)
                    : FakeProtocol(d, h), link(static_cast<FakeLink&>(l)) {}
                FakeLink& link;
                int32_t ReadHeader(AcquisitionHeader&) override {
                    bool synced = false;
                    std::vector<uint8_t> word;
                    link.instrument = [&](uint8_t b) {
                        if (!synced) {
                            synced = b == 0;
                            if (synced)
                                link.Answer({0, 0x10, 0, 0, 0});
                            return;
                        }
                        word.push_back(b);
                        if (word.size() < 2)
                            return;
                        link.Answer(word); // the echo, then a length no block has
                        link.AnswerWord(uint16_t(600 << 6));
                        word.clear();
                    };
                    uint8_t header[256];
                    return link.ReceiveBlocks(header, sizeof header, nullptr, nullptr);
                }
            };
            return std::make_unique<Wedged>(d, rig.header, link);
        };
        EXPECT_EQ(rig.Run(), RunLinkFault);
        EXPECT_EQ(rig.view.errors,
                  std::vector<std::string>{"Link fault while receiving the header: the instrument "
                                           "sent 32 bad blocks in a row"});
        EXPECT_EQ(RunResultName(RunLinkFault), "link-fault");
    }
}

// Operator requests belong to the run in which they were made.
TEST(EngineControls, RequestsLeftFromAnEarlierRunAreDropped) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(12, 4); };
    // Clicked after the last run ended (or during a replay).
    rig.engine.stopRequested = 1;
    rig.engine.pauseRequested = 1;
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_TRUE(rig.script->controlBytes.empty());
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 12u);
}

TEST(EngineControls, PauseIsOfferedAgainHoweverThePauseEnded) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.idlePolls = 2;
        s.resumeByItselfAfter = 3; // the instrument resumes by itself
    };
    rig.view.onBatch = [&](const BatchInfo& b) {
        if (b.done == 4)
            rig.engine.RequestPause();
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.view.batches.size(), 3u);
    EXPECT_TRUE(rig.view.enabled[RunButton::Pause]);
}

TEST(EngineControls, TripCounterResetBelongsToTheMovingArrayRunOnly) {
    EngineRig rig(4, 4);
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(4, 4); };
    EXPECT_EQ(rig.Run(), RunCompleted);
    // The run is over; its flag remains, but Reset now resets the link.
    rig.engine.Device().movingArrayMode = 1;
    rig.engine.RequestReset();
    EXPECT_EQ(rig.view.status, "Resetting...");
    EXPECT_EQ(rig.engine.resetRequested, 0);
    EXPECT_TRUE(rig.view.timerEnabled);
}

// Every record that arrived whole is stored, even when the link closes
// right after it.
TEST(EngineFailures, BatchThatArrivedWholeIsKeptWhenTheLinkClosesAfterIt) {
    for (const bool checked : {false, true}) {
        SCOPED_TRACE(checked);
        EngineRig rig(40, 4);
        rig.settings.activeCrcCheck = checked;
        rig.prepare = [](WiredScript& s) {
            s.batches = EngineRig::Regular(40, 4);
            s.closeAfterBatch = 4;
            s.link.readableAfterClose = true;
        };
        EXPECT_EQ(rig.Run(), RunLinkLost);
        EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 20u);
    }
}

TEST(EngineRun, BatchRightAfterAnEarlyEndMarkerIsKept) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.earlyEndAfter = 1;
        s.resumeAfterEarlyEnd = true;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 12u);
    EXPECT_EQ(rig.engine.counters.skippedCount, 0);
}

TEST(EngineRun, InstrumentWithoutControlsSendingItsIdentityAtOnce) {
    EngineRig rig(4, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(4, 4);
        s.controls = false;
        s.identityAtOnce = true;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(std::vector<uint8_t>(rig.engine.instrumentWord, rig.engine.instrumentWord + 4),
              (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_STREQ(rig.engine.acquisitionName, "LINE1");
    EXPECT_FALSE(rig.view.visible[RunButton::Stop]);
    EXPECT_EQ(ReadBin(rig.engine.binFileName).size(), 4u);
}

TEST(EngineRun, IndicesNextToTheLargestNumberDoNotOverflow) {
    EngineRig rig(12, 4);
    rig.settings.activeCrcCheck = false;
    const int32_t first = INT32_MAX - 11;
    rig.header.firstQuadripole = first;
    rig.header.lastQuadripole = INT32_MAX;
    rig.prepare = [first](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        for (auto& b : s.batches)
            b.first += first;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    EXPECT_EQ(rig.view.batches.size(), 3u);
    EXPECT_EQ(rig.view.batches.back().done, 12);
}

TEST(EngineFailures, RunThatFailsBeforeItsFirstBatchLeavesNoFiles) {
    EngineRig rig(12, 4);
    rig.prepare = [](WiredScript& s) {
        s.batches = EngineRig::Regular(12, 4);
        s.dropAfter = 0;
    };
    EXPECT_EQ(rig.Run(), RunLinkLost);
    EXPECT_FALSE(fs::exists(rig.engine.binFileName));
    EXPECT_FALSE(fs::exists(rig.engine.heqFileName));
}

// After a batch that could not be stored the instrument is stopped and the
// line left quiet, so the next wait for Start reads no stale stream.
TEST(EngineFailures, WriteFailureStopsTheInstrumentAndLeavesTheLineQuiet) {
    EngineRig rig(40, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(40, 4); };
    rig.view.onBatch = [&](const BatchInfo& b) {
        if (b.done == 4)
            fs::remove(rig.engine.binFileName);
    };
    EXPECT_EQ(rig.Run(), RunFileError);
    EXPECT_EQ(rig.script->controlBytes, (std::vector<uint8_t>{0xA5, 0xA5}));
    EXPECT_EQ(rig.script->state, WiredScript::Finished);
    EXPECT_TRUE(rig.link->rx.empty());
}

// A moving array goes on past its table: nothing it measures is dropped.
TEST(EngineRun, MovingArrayRecordsPastTheTableAreStored) {
    EngineRig rig(8, 4);
    rig.settings.activeCrcCheck = false;
    rig.prepare = [](WiredScript& s) { s.batches = EngineRig::Regular(16, 4); };
    rig.engine.protocolFactory = [&rig](int, Instrument& d, Link&) {
        struct Moving : FakeProtocol {
            using FakeProtocol::FakeProtocol;
            Instrument* device = nullptr;
            int32_t ReadSequenceSets() override {
                const int32_t n = FakeProtocol::ReadSequenceSets();
                device->movingArrayMode = 1;
                return n;
            }
        };
        auto p = std::make_unique<Moving>(d, rig.header);
        p->device = &d;
        return p;
    };
    EXPECT_EQ(rig.Run(), RunCompleted);
    const auto records = ReadBin(rig.engine.binFileName);
    ASSERT_EQ(records.size(), 16u);
    EXPECT_EQ(records.back().rho, WiredScript::RhoOf(15));
}
