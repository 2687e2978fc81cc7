// The USB link through a scripted FTDI device on a fake clock: the connect
// prompt, the open retries, the line set-up, versions, the line settings and
// their coercions, and the errors of a link closed or unplugged mid-wait.
#include "link/UsbLink.h"
#include "FakeFtdi.h"
#include "FakeLink.h"

#include <gtest/gtest.h>

namespace {

class UsbHooks : public FakeHooks {
public:
    std::vector<std::pair<std::string, std::string>> prompts;
    std::deque<bool> answers;
    std::function<void()> onConfirm;
    bool Confirm(const std::string& caption, const std::string& text) override {
        prompts.emplace_back(caption, text);
        if (onConfirm)
            onConfirm();
        if (answers.empty())
            return true;
        const bool ok = answers.front();
        answers.pop_front();
        return ok;
    }
};

struct UsbFixture : ::testing::Test {
    UsbHooks hooks;
    FakeFtdi ftdi;
    std::unique_ptr<UsbLink> link;

    void SetUp() override {
        SetUiHooks(&hooks);
        link = std::make_unique<UsbLink>(&ftdi);
    }
    void TearDown() override {
        link.reset();
        SetUiHooks(nullptr);
    }
    int Open() { return link->Open(99, 273000, "", false, "", 0); }
    std::string LastCall() const { return ftdi.calls.empty() ? "" : ftdi.calls.back(); }
};

const char* const kUsbPrompt =
    "Connect USB link between computer and VARMEX/KELDO,\nthen press < OK > button";

} // namespace

TEST_F(UsbFixture, WithoutDeviceItKeepsAskingUntilCancel) {
    ftdi.devices = 0;
    hooks.answers = {true, true, false};
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(link->GetState(), -1);
    ASSERT_EQ(hooks.prompts.size(), 3u);
    for (const auto& [caption, text] : hooks.prompts) {
        EXPECT_EQ(caption, "Communication");
        EXPECT_EQ(text, kUsbPrompt);
    }
    EXPECT_TRUE(ftdi.openTimes.empty());

    // Plugging the cable in while the question is up lets OK go on.
    hooks.prompts.clear();
    hooks.onConfirm = [this] { ftdi.devices = 1; };
    ftdi.devices = 0;
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(hooks.prompts.size(), 1u);
}

TEST_F(UsbFixture, RefusedDeviceGivesUpAfter501Attempts) {
    ftdi.openRefusals = -1;
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(link->GetState(), -1);
    ASSERT_EQ(ftdi.openTimes.size(), 501u);
    for (size_t i = 1; i < ftdi.openTimes.size(); ++i)
        ASSERT_GE(ftdi.openTimes[i] - ftdi.openTimes[i - 1], 15) << i;
    EXPECT_GE(hooks.now - ftdi.openTimes.back(), 1000); // the DTR/RTS pause
    EXPECT_TRUE(ftdi.CallsFrom("ClrDtr").empty());
    EXPECT_EQ(link->VersionText(), "NA");
    EXPECT_EQ(ftdi.openHandles, 0);

    // A device that needs a few tries is opened.
    ftdi.openRefusals = 7;
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(ftdi.openTimes.size(), 501u + 8u);
}

TEST_F(UsbFixture, OpenSetsUpThe8N1LineAndCloseDropsIt) {
    const int64_t before = hooks.now;
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(link->GetState(), 99);
    EXPECT_GE(hooks.now - before, 1000 + 400);
    EXPECT_EQ(ftdi.CallsFrom("Open 0"),
              (std::vector<std::string>{"Open 0", "ClrDtr", "ClrRts", "SetBaudRate 273000",
                                        "SetTimeouts 500 500", "SetDtr", "SetRts",
                                        "SetDataCharacteristics 8 0 0"}));
    EXPECT_EQ(link->GetDtr(), 1);
    EXPECT_EQ(link->GetRts(), 1);
    link->SetLatency(20);
    EXPECT_EQ(LastCall(), "SetLatencyTimer 20");

    // A second Open lets go of the device it holds first.
    ftdi.calls.clear();
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(ftdi.calls.at(0), "Close");
    EXPECT_EQ(ftdi.openHandles, 1);

    ftdi.calls.clear();
    link->Close();
    EXPECT_EQ(ftdi.calls, (std::vector<std::string>{"ClrDtr", "ClrRts", "Close"}));
    EXPECT_EQ(link->GetState(), 0);
    EXPECT_EQ(link->VersionText(), "NA");
    ftdi.calls.clear();
    link->Close();
    EXPECT_TRUE(ftdi.calls.empty());

    // Destroying a link that was left open still releases the device.
    EXPECT_EQ(Open(), 99);
    link.reset();
    EXPECT_EQ(ftdi.openHandles, 0);
}

TEST_F(UsbFixture, VersionTextInItsForms) {
    EXPECT_EQ(link->VersionText(), "NA");
    ASSERT_EQ(Open(), 99);
    EXPECT_EQ(link->VersionText(), "DRV v2.0c.1a\nDLL v1.05.00");
    ftdi.libraryStatus = kFtOtherError;
    EXPECT_EQ(link->VersionText(), "DRV v2.0c.1a");
    ftdi.driverVersion = 0x00123405;
    EXPECT_EQ(link->VersionText(), "DRV v12.34.05");
    ftdi.driverStatus = kFtIoError;
    EXPECT_EQ(link->VersionText(), "Unknown");
}

TEST_F(UsbFixture, LineSettingsAreCoercedAndReadBack) {
    link->SetDataBits(7); // closed: nothing reaches the device
    EXPECT_TRUE(ftdi.calls.empty());
    EXPECT_EQ(link->GetDsr(), 0);

    ASSERT_EQ(Open(), 99);
    struct Step {
        std::function<void()> set;
        std::string call;
        int dataBits, stopBits, parity;
    };
    const Step steps[] = {
        {[&] { link->SetDataBits(9); }, "SetDataCharacteristics 8 0 0", 8, 1, 0},
        {[&] { link->SetParity(4); }, "SetDataCharacteristics 8 0 4", 8, 1, 4},
        {[&] { link->SetParity(7); }, "SetDataCharacteristics 8 0 0", 8, 1, 0},
        {[&] { link->SetStopBits(2); }, "SetDataCharacteristics 8 2 0", 8, 2, 0},
        {[&] { link->SetDataBits(7); }, "SetDataCharacteristics 7 2 0", 7, 2, 0},
        {[&] { link->SetStopBits(1); }, "SetDataCharacteristics 7 0 0", 7, 1, 0},
    };
    for (const Step& step : steps) {
        step.set();
        EXPECT_EQ(LastCall(), step.call);
        EXPECT_EQ(link->GetDataBits(), step.dataBits);
        EXPECT_EQ(link->GetStopBits(), step.stopBits);
        EXPECT_EQ(link->GetParity(), step.parity);
    }
    link->SetBaudRate(115200);
    EXPECT_EQ(LastCall(), "SetBaudRate 115200");
    EXPECT_EQ(link->GetBaudRate(), 0);

    // One flow control at a time.
    link->SetXonXoff(1);
    EXPECT_EQ(LastCall(), "SetFlowControl 1024 17 19");
    link->SetRtsCts(1);
    EXPECT_EQ(LastCall(), "SetFlowControl 256 0 0");
    EXPECT_EQ(link->GetXonXoff() + link->GetDtrDsr() * 2 + link->GetRtsCts() * 4, 4);
    link->SetRtsCts(0);
    EXPECT_EQ(LastCall(), "SetFlowControl 0 0 0");

    for (uint32_t status : {0x20u, 0x30u, 0xFFu, 0x00u, 0xDFu, 0x2000u}) {
        ftdi.modemStatus = status;
        EXPECT_EQ(link->GetDsr(), (status & 0x20) ? 1 : 0) << status;
    }
}

TEST_F(UsbFixture, TimedReadsPumpAndStopEarlyWhenTheLinkCloses) {
    ASSERT_EQ(Open(), 99);
    ftdi.logTimeouts = false;
    ftdi.rx = {1, 2};
    int pumps = 0;
    hooks.onPump = [&] {
        if (++pumps == 3)
            ftdi.rx.insert(ftdi.rx.end(), {3, 4, 5});
    };
    uint8_t buf[8] = {};
    EXPECT_EQ(link->ReadBufferTimed(buf, 4, 1000), 4);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(link->InputCount(), 1);

    // Nothing more comes: the whole time-out passes, what came is returned.
    hooks.onPump = nullptr;
    int64_t before = hooks.now;
    EXPECT_EQ(link->ReadBufferTimed(buf, 3, 2000), 1);
    EXPECT_GE(hooks.now - before, 2000);
    EXPECT_EQ(link->ReadByteTimed(100), -1);

    // Stop pressed meanwhile: the wait ends at once.
    hooks.onPump = [&] { link->SetState(0); };
    before = hooks.now;
    EXPECT_EQ(link->ReadByteTimed(300000), -1);
    EXPECT_LT(hooks.now - before, 1000);
}

TEST_F(UsbFixture, ErrorsOfALinkClosedOrUnpluggedWhileWaiting) {
    auto expectError = [](const std::function<void()>& op, const std::string& text) {
        try {
            op();
            ADD_FAILURE() << "no error, expected " << text;
        } catch (const LinkError& e) {
            EXPECT_EQ(e.what(), text);
        }
    };
    expectError([&] { link->ReadByte(); }, "Port err. Getcom");
    expectError([&] { link->WriteByte(1); }, "Port err. putcom");

    ASSERT_EQ(Open(), 99);
    int pumps = 0;
    hooks.onPump = [&] {
        if (++pumps == 5)
            link->SetState(0);
    };
    expectError([&] { link->ReadByte(); }, "Port err. Getcom");
    pumps = 0;
    link->SetState(99);
    expectError([&] { link->WaitForText(":>"); }, "Wait error");
    EXPECT_EQ(hooks.cursorDepth, 0);

    // The byte went out but never leaves the transmit queue.
    pumps = 0;
    link->SetState(99);
    ftdi.txQueued = 1;
    expectError([&] { link->WriteByte(7); }, "Port err.");
    ftdi.txQueued = 0;

    // The cable pulled out during a wait drops the link instead of waiting
    // for ever.
    hooks.onPump = [&] {
        if (++pumps == 50)
            ftdi.unplugged = true;
    };
    link->SetState(99);
    expectError([&] { link->ReadByte(); }, "Port err. Getcom");
    EXPECT_EQ(link->GetState(), -1);
}

TEST_F(UsbFixture, IdentitySwitchesTo115200AndBackToTheRateInForce) {
    ASSERT_EQ(Open(), 99);
    ftdi.logTimeouts = false;

    // Silent instrument: 10 polls, 115200 baud, 9 more polls, back to
    // 273000, then the escape command goes unanswered.
    std::string second, first;
    ftdi.calls.clear();
    EXPECT_FALSE(link->ReadIdentity(second, first));
    std::vector<std::string> bauds;
    for (const auto& c : ftdi.calls)
        if (c.rfind("SetBaudRate", 0) == 0)
            bauds.push_back(c);
    EXPECT_EQ(bauds, (std::vector<std::string>{"SetBaudRate 115200", "SetBaudRate 273000"}));
    int ats = 0;
    for (uint8_t b : ftdi.written)
        ats += b == '@';
    EXPECT_EQ(ats, 19 + 82);
    EXPECT_TRUE(hooks.messages.empty());

    // An instrument that answers sends its two identity lines.
    ftdi.onWrite = [this](uint8_t b) {
        if (b == '@') {
            for (char c : std::string("@VARMEX PRO\r\nV2.31\r\n"))
                ftdi.rx.push_back(uint8_t(c));
        }
    };
    EXPECT_TRUE(link->ReadIdentity(second, first));
    EXPECT_EQ(first, "VARMEX PRO");
    EXPECT_EQ(second, "V2.31");

    // A link closed under it reports an unknown rate.
    link->Close();
    EXPECT_FALSE(link->ReadIdentity(second, first));
    EXPECT_EQ(hooks.messages, std::vector<std::string>{"Unknown Baudrate"});
}
