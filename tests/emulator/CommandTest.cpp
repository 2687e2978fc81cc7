// Idle instrument commands: the '@' synchronisation, the complemented
// command byte, the command's data and the ":>" prompt.
#include "MonitorClient.h"

#include <gtest/gtest.h>

using namespace emutest;

namespace {

constexpr int kWait = 5000;

QStringList idle(QStringList more) {
    return QStringList{"--repeat", "0", "--idle-timeout", "10000", "--quiet"} + more;
}

ByteVec le32(int32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

} // namespace

TEST(EmulatorCommands, WiredParametersRoundTripAndValuesArePlausible) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(idle({"--channels", "6"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));

    ASSERT_EQ(c.command(30), 30);
    ByteVec configuration;
    ASSERT_TRUE(c.receiveBlocks(configuration));
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_EQ(configuration.size(), 176u);
    EXPECT_EQ(getI32(configuration, 0), 10);

    ASSERT_EQ(c.command(28), 28);
    ByteVec parameters;
    ASSERT_TRUE(c.receiveBlocks(parameters));
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_EQ(parameters.size(), 216u);
    EXPECT_EQ(getI32(parameters, 0), 6);

    ByteVec changed = parameters;
    changed[0] = 3;
    changed[200] = 0x5A;
    ASSERT_EQ(c.command(29), 29);
    ASSERT_TRUE(c.sendBlocks(changed));
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_EQ(c.command(28), 28);
    ByteVec back;
    ASSERT_TRUE(c.receiveBlocks(back));
    ASSERT_TRUE(c.waitPrompt(kWait));
    EXPECT_EQ(back, changed);

    ASSERT_EQ(c.command(45), 45);
    ByteVec values;
    ASSERT_TRUE(c.read(values, 12, kWait));
    ASSERT_TRUE(c.waitPrompt(kWait));
    EXPECT_GT(getF32(values, 0), 10.0f); // transmitter battery
    EXPECT_LT(getF32(values, 0), 14.0f);
    EXPECT_GT(getF32(values, 4), 10.0f);  // receiver battery
    EXPECT_GT(getF32(values, 8), -20.0f); // temperature
    EXPECT_LT(getF32(values, 8), 60.0f);

    ASSERT_EQ(c.command(43), 43);
    c.write(le32(0));
    ASSERT_TRUE(c.read(values, 4, kWait));
    ASSERT_TRUE(c.waitPrompt(kWait));
    EXPECT_GT(getF32(values, 0), 10.0f); // channel 0 is the battery

    // Mode 0 on the wired instrument: no confirmation word follows.
    ASSERT_EQ(c.command(37), 37);
    c.write(le32(0));
    ASSERT_TRUE(c.waitPrompt(kWait));

    ASSERT_EQ(c.command(42), 42);
    c.write(ByteVec{'G', 'P', 'G', 'G', 'A'});
    ASSERT_TRUE(c.read(values, 4, kWait));
    const int32_t n = getI32(values, 0);
    ASSERT_GT(n, 20);
    ByteVec sentence;
    ASSERT_TRUE(c.read(sentence, size_t(n), kWait));
    EXPECT_EQ(std::string(sentence.begin(), sentence.begin() + 7), "$GPGGA,");
    ASSERT_TRUE(c.waitPrompt(kWait));

    // The last measurements as a block of 260-byte records.
    ASSERT_EQ(c.command(31), 31);
    ByteVec records;
    ASSERT_TRUE(c.receiveBlocks(records));
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_GT(records.size(), 0u);
    EXPECT_EQ(records.size() % 260, 0u);
    EXPECT_LE(records.size(), 2600u);

    // An unknown command is refused; a command without its complement too.
    EXPECT_EQ(c.command(99), 0xFF);
    c.flushInput();
    c.write(ByteVec{'@'});
    EXPECT_EQ(c.readByte(kWait), '@');
    c.write(ByteVec{28, 28});
    EXPECT_EQ(c.readByte(kWait), 0xFF);

    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}

TEST(EmulatorCommands, WifiBlocksAndElectrodeCheck) {
    EmulatorProcess emu;
    ASSERT_TRUE(emu.start(idle({"--generation", "wifi", "--electrodes", "16"})));
    MonitorClient c;
    ASSERT_TRUE(c.connectTcp(emu.port()));

    ASSERT_EQ(c.command(28), 28);
    ByteVec parameters;
    ASSERT_TRUE(c.receiveBlocks(parameters));
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_EQ(parameters.size(), 2396u);
    EXPECT_EQ(getI32(parameters, 164), 16);

    // Electrode check: "GO", a value, "+-" per step, "OK" and a block, "ST".
    ASSERT_EQ(c.command(32), 32);
    ByteVec token;
    ASSERT_TRUE(c.read(token, 2, kWait));
    EXPECT_EQ(std::string(token.begin(), token.end()), "GO");
    ByteVec value;
    ASSERT_TRUE(c.read(value, 4, kWait));
    int steps = 0;
    for (;;) {
        ASSERT_TRUE(c.read(token, 2, kWait));
        if (token != ByteVec{'+', '-'})
            break;
        ++steps;
    }
    EXPECT_EQ(steps, 16);
    EXPECT_EQ(std::string(token.begin(), token.end()), "OK");
    ByteVec raw;
    ASSERT_TRUE(c.receiveBlocks(raw));
    EXPECT_EQ(raw.size() % 4096, 0u);
    EXPECT_GT(raw.size(), 0u);
    ASSERT_TRUE(c.read(token, 2, kWait));
    EXPECT_EQ(std::string(token.begin(), token.end()), "ST");

    // The Wi-Fi battery comes as a float64; mode always has its word.
    ASSERT_EQ(c.command(43), 43);
    c.write(le32(0));
    ASSERT_TRUE(c.read(value, 8, kWait));
    EXPECT_GT(getF64(value, 0), 10.0);
    ASSERT_TRUE(c.waitPrompt(kWait));
    ASSERT_EQ(c.command(37), 37);
    c.write(le32(0));
    c.write(ByteVec{1, 0});
    ASSERT_TRUE(c.waitPrompt(kWait));
    c.close();
    EXPECT_EQ(emu.waitForExit(kWait), 0);
}
