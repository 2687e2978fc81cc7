// The program's command line: the connection codes it refuses, the
// instrument USB IDs it takes and the recording it opens.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

CommandLine Parse(const QStringList& args) {
    return ParseCommandLine(QStringList{"pylorix"} + args);
}

} // namespace

TEST(CommandLine, ConnectionCodesThatNameNoLinkAreRefused) {
    for (const char* code : {"0", "-1", "-200", " 0 "}) {
        const CommandLine line = Parse({code});
        EXPECT_TRUE(line.error.contains("is not valid"))
            << code << ": " << line.error.toStdString();
    }
    EXPECT_TRUE(Parse({"0"}).error.contains("connection code 0"));
    for (const char* code : {"1", "3", "99", "100", "200", "256"}) {
        const CommandLine line = Parse({code});
        EXPECT_TRUE(line.error.isEmpty()) << code;
        EXPECT_EQ(line.connectionCode, QString(code).toInt()) << code;
    }
    // Only the first plain argument is the connection.
    EXPECT_TRUE(Parse({"3", "0"}).error.isEmpty());
    EXPECT_TRUE(ConnectionCodeError(1).isEmpty());
    EXPECT_FALSE(ConnectionCodeError(0).isEmpty());
}

TEST(CommandLine, UsbIdsAreRepeatableAndCheckedAtOnce) {
    const CommandLine line =
        Parse({"--usb-id", "1234:abcd", "99", "--usb-id=0403:6001:A9M1XKQ2,0403:6015"});
    ASSERT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    EXPECT_EQ(line.connectionCode, 99);
    ASSERT_EQ(line.usbIds.size(), 3u);
    EXPECT_EQ(FormatUsbId(line.usbIds[0]), "1234:abcd");
    EXPECT_EQ(FormatUsbId(line.usbIds[1]), "0403:6001:A9M1XKQ2");
    EXPECT_EQ(FormatUsbId(line.usbIds[2]), "0403:6015");

    const CommandLine bad = Parse({"--usb-id", "0403-6001"});
    EXPECT_TRUE(bad.error.startsWith("--usb-id: \"0403-6001\" is not a USB ID"))
        << bad.error.toStdString();
    EXPECT_FALSE(Parse({"--usb-id"}).error.isEmpty());
    EXPECT_TRUE(CommandLineUsage("pylorix").contains("--usb-id VID:PID[:SERIAL]"));
}

TEST(CommandLine, RecordingToShowAndTheLaunchsConnection) {
    EXPECT_FALSE(Parse({}).connectionGiven);
    // A file manager passes the recording alone.
    const CommandLine file = Parse({"/data/Line 1.heq"});
    EXPECT_TRUE(file.error.isEmpty()) << file.error.toStdString();
    EXPECT_EQ(file.recording, "/data/Line 1.heq");
    EXPECT_FALSE(file.connectionGiven);

    const CommandLine both = Parse({"3", "--view", "a.HEQ"});
    EXPECT_TRUE(both.error.isEmpty());
    EXPECT_TRUE(both.connectionGiven);
    EXPECT_EQ(both.connectionCode, 3);
    EXPECT_EQ(both.recording, "a.HEQ");
    EXPECT_EQ(Parse({"--view=a.heq", "a.heq"}).recording, "a.heq"); // the same file twice
    EXPECT_TRUE(Parse({"a.heq", "--view", "b.heq"}).error.contains("one recording at a time"));
    EXPECT_FALSE(Parse({"--view="}).error.isEmpty());
}
