// The words the session shows: captions, hints, ranges and estimates.
#include "engine/SessionTexts.h"

#include <gtest/gtest.h>

TEST(SessionTexts, CaptionCarriesTheMostImportantNote) {
    EXPECT_EQ(BatchStatusCaption(20, 200, {}), "20/200");
    EXPECT_EQ(BatchStatusCaption(20, 200, {3, 2, 1}), "20/200 (3 quadripoles skipped)");
    EXPECT_EQ(BatchStatusCaption(20, 200, {1, 0, 0}), "20/200 (1 quadripole skipped)");
    EXPECT_EQ(BatchStatusCaption(20, 200, {0, 2, 1}), "20/200 (2 unrecoverable crc errors)");
    EXPECT_EQ(BatchStatusCaption(20, 200, {0, 1, 5}), "20/200 (1 unrecoverable crc error)");
    EXPECT_EQ(BatchStatusCaption(20, 200, {0, 0, 1}), "20/200 (1 crc error recovered)");
    EXPECT_EQ(BatchStatusCaption(20, 200, {0, 0, 2}), "20/200 (2 crc errors recovered)");
    EXPECT_EQ(BatchStatusHint({}), "");
    EXPECT_EQ(BatchStatusHint({3, 0, 0}), "3 quadripoles skipped");
    EXPECT_EQ(BatchStatusHint({1, 2, 1}),
              "1 quadripole skipped\n2 unrecoverable crc errors\n1 crc error recovered");
}

TEST(SessionTexts, RangeAndEstimate) {
    EXPECT_EQ(QuadripoleRangeText(5, 5, 100), "5/100");
    EXPECT_EQ(QuadripoleRangeText(11, 20, 100), "11 .. 20/100");
    EXPECT_EQ(EstimatedTimeText(120.0 / 86400.0), "00:02:00");
    EXPECT_EQ(EstimatedTimeText(97.0 / 86400.0), "00:01:37");
    EXPECT_EQ(EstimatedTimeText(625.0 / 86400.0), "00:10:00");
    EXPECT_EQ(EstimatedTimeText(26.0 / 24.0), "02:00:00 and 1 Day(s)");
    EXPECT_EQ(EstimatedTimeText(1.5), "12:00:00 and 1 Day(s)");
    EXPECT_EQ(EstimatedTimeText(1.0 / 0.0), "--:--:--");
}

TEST(SessionTexts, ResultsAndPictures) {
    EXPECT_EQ(RunResultMessage(RunCompleted), "");
    EXPECT_EQ(RunResultMessage(RunClosing), "");
    EXPECT_EQ(RunResultMessage(RunLinkLost), "Sequence not ended !");
    EXPECT_EQ(RunResultMessage(RunFileError), "Can't write output files !");
    EXPECT_EQ(RunResultMessage(-7), "Error !");
    EXPECT_EQ(ConnectionPictureIndex(3, 0), 4);
    EXPECT_EQ(ConnectionPictureIndex(99, 0), 0);
    EXPECT_EQ(ConnectionPictureIndex(99, 2), 1);
    EXPECT_EQ(ConnectionPictureIndex(200, 0), 9);
    EXPECT_EQ(ConnectionPictureIndex(12, 0), 8);
}
