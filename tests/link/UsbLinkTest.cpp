// The USB link through a scripted FTDI device on a fake clock, once with
// the device behind FtdiApi directly and once behind the D2XX backend and a
// fake D2XX library it loads (FakeD2xx.cpp): the connect prompt, which adapter is taken for the
// instrument, the open retries and what a failure says, the line set-up, versions, the line
// settings and their coercions, the pace of writes, and the errors of a link closed or unplugged
// mid-wait.
#include "link/UsbLink.h"
#include "FakeD2xxLibrary.h"
#include "FakeFtdi.h"
#include "FakeLink.h"
#include "link/LinePace.h"

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

enum class Backend { Direct, D2xx };

struct UsbFixture : ::testing::TestWithParam<Backend> {
    UsbHooks hooks;
    FakeFtdi ftdi;
    std::unique_ptr<FakeD2xxLibrary> d2xx;
    std::unique_ptr<UsbLink> link;

    void SetUp() override {
        SetUiHooks(&hooks);
        if (GetParam() == Backend::D2xx) {
            d2xx = std::make_unique<FakeD2xxLibrary>(ftdi);
            ASSERT_TRUE(d2xx->api.Loaded()) << d2xx->api.LibraryText();
        }
        link = std::make_unique<UsbLink>(&Api());
    }
    void TearDown() override {
        link.reset();
        d2xx.reset();
        SetUiHooks(nullptr);
    }
    // The calls the link makes: the device itself, or D2XX in front of it.
    FtdiApi& Api() { return d2xx ? static_cast<FtdiApi&>(d2xx->api) : ftdi; }
    bool ThroughD2xx() const { return GetParam() == Backend::D2xx; }
    int Open() { return link->Open(99, 273000, "", false, "", 0); }
    std::string LastCall() const { return ftdi.calls.empty() ? "" : ftdi.calls.back(); }
};

const char* const kUsbPrompt =
    "Connect USB link between computer and VARMEX/KELDO,\nthen press < OK > button";

UsbDevice Device(uint16_t vendor, uint16_t product, const std::string& description,
                 const std::string& location, const std::string& manufacturer = "",
                 const std::string& serial = "") {
    UsbDevice d;
    d.vendor = vendor;
    d.product = product;
    d.description = description;
    d.manufacturer = manufacturer;
    d.serial = serial;
    d.location = location;
    return d;
}

void ExpectLinkError(const std::function<void()>& op, const std::string& text) {
    try {
        op();
        ADD_FAILURE() << "no error, expected " << text;
    } catch (const LinkError& e) {
        EXPECT_EQ(e.what(), text);
    }
}

} // namespace

TEST_P(UsbFixture, WithoutDeviceItKeepsAskingUntilCancel) {
    ftdi.attached.clear();
    hooks.answers = {true, true, false};
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(link->GetState(), -1);
    EXPECT_EQ(link->FailureReason(), ""); // the operator cancelled: nothing to explain
    ASSERT_EQ(hooks.prompts.size(), 3u);
    for (const auto& [caption, text] : hooks.prompts) {
        EXPECT_EQ(caption, "Communication");
        EXPECT_EQ(text, kUsbPrompt);
    }
    EXPECT_TRUE(ftdi.openTimes.empty());

    // Plugging the cable in while the question is up lets OK go on; so does
    // one that the system announces a moment after OK.
    hooks.prompts.clear();
    hooks.onConfirm = [this] { ftdi.attached = {FakeFtdi::Bridge("1-1")}; };
    ftdi.attached.clear();
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(hooks.prompts.size(), 1u);

    link->Close();
    hooks.prompts.clear();
    ftdi.attached.clear();
    int pumps = 0;
    hooks.onConfirm = nullptr;
    hooks.onPump = [&] {
        if (++pumps == 3)
            ftdi.attached = {FakeFtdi::Bridge("1-1")};
    };
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(hooks.prompts.size(), 1u);
}

TEST_P(UsbFixture, RefusedDeviceGivesUpAfter501AttemptsAndSaysWhy) {
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
    if (ThroughD2xx()) {
        // D2XX gives a status only; the backend puts it in the system's terms.
        EXPECT_EQ(link->FailureReason().rfind("the instrument could not be opened: the device is "
                                              "in use",
                                              0),
                  0u)
            << link->FailureReason();
    } else {
        EXPECT_EQ(link->FailureReason(),
                  "the instrument could not be opened: unable to claim usb device");

        // Without permission the reason points at the udev rule.
        ftdi.refusal = kFtAccessDenied;
        ftdi.refusalText = "Access denied (insufficient permissions)";
        EXPECT_EQ(Open(), 0);
        EXPECT_NE(link->FailureReason().find("Access denied (insufficient permissions)"),
                  std::string::npos);
        EXPECT_NE(link->FailureReason().find("60-pylorix-instrument.rules"), std::string::npos);
    }

    // A device that needs a few tries is opened, and the reason is gone.
    ftdi.openRefusals = 7;
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(ftdi.openTimes.size(), (ThroughD2xx() ? 1 : 2) * 501u + 8u);
    EXPECT_EQ(link->FailureReason(), "");
    link->Close();

    // The instrument pulled out between the count and the opening.
    hooks.onConfirm = nullptr;
    ftdi.openRefusals = 0;
    int opens = 0;
    hooks.onPump = [&] {
        if (ftdi.openTimes.size() > size_t(opens)) {
            opens = int(ftdi.openTimes.size());
            ftdi.attached.clear();
        }
    };
    ftdi.attached = {FakeFtdi::Bridge("1-1")};
    ftdi.openRefusals = 1; // the first try fails and pumps; the cable goes meanwhile
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(link->FailureReason(), "no instrument among the attached USB devices");
}

TEST_P(UsbFixture, OpenSetsUpThe8N1LineAndCloseDropsIt) {
    const int64_t before = hooks.now;
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(link->GetState(), 99);
    EXPECT_GE(hooks.now - before, 1000 + 400);
    EXPECT_EQ(ftdi.CallsFrom("Open 1-1"),
              (std::vector<std::string>{"Open 1-1", "ClrDtr", "ClrRts", "SetBaudRate 273000",
                                        "SetTimeouts 500 500", "SetDtr", "SetRts",
                                        "SetDataCharacteristics 8 0 0"}));
    EXPECT_EQ(link->OpenedDevice().location, "1-1");
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
    EXPECT_EQ(link->OpenedDevice().location, "");
    ftdi.calls.clear();
    link->Close();
    EXPECT_TRUE(ftdi.calls.empty());

    // Destroying a link that was left open still releases the device.
    EXPECT_EQ(Open(), 99);
    link.reset();
    EXPECT_EQ(ftdi.openHandles, 0);
}

TEST_P(UsbFixture, OnlyTheInstrumentIsOpenedAmongFtdiAdapters) {
    const UsbDevice gps =
        Device(0x0403, 0x6001, "u-blox GNSS receiver", "1-1", "u-blox AG", "GPS00017");
    const UsbDevice instrument = Device(0x0403, 0x6015, "VARMEX PRO USB", "1-3");

    // A GPS receiver on FTDI's ID beside the instrument: the instrument is
    // counted and opened, the receiver left alone.
    ftdi.attached = {gps, instrument};
    EXPECT_EQ(UsbDeviceCount(Api()), 1);
    EXPECT_EQ(Open(), 99);
    EXPECT_EQ(ftdi.openTimes.size(), 1u);
    EXPECT_EQ(ftdi.calls.front(), "Open 1-3");
    link->Close();

    // The receiver alone is not an instrument: the prompt comes and nothing
    // is opened.
    ftdi.attached = {gps};
    ftdi.calls.clear();
    hooks.answers = {false};
    EXPECT_EQ(UsbDeviceCount(Api()), 0);
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(hooks.prompts.size(), 1u);
    EXPECT_TRUE(ftdi.calls.empty());

    // Two plain FTDI adapters cannot be told apart: neither is taken until
    // the operator names the instrument by its serial number.
    const UsbDevice plainA = FakeFtdi::Bridge("1-1", 0x6001, "FT232R USB UART", "A50285BI");
    const UsbDevice plainB = FakeFtdi::Bridge("1-2", 0x6001, "FT232R USB UART", "A9M1XKQ2");
    ftdi.attached = {plainA, plainB};
    EXPECT_EQ(UsbDeviceCount(Api()), 0);
    std::vector<UsbId> ids;
    ASSERT_EQ(ParseUsbIds("0403:6001:A9M1XKQ2", ids), "");
    EXPECT_EQ(UsbDeviceCount(Api(), ids), 1);
    UsbLink named(&Api(), ids);
    EXPECT_EQ(named.Open(99, 273000, "", false, "", 0), 99);
    EXPECT_EQ(named.OpenedDevice().location, "1-2");

    // While the link holds a plain adapter, plugging in another one does not
    // stop it counting as the instrument.
    named.Close();
    ftdi.attached = {plainA};
    ASSERT_EQ(Open(), 99);
    ftdi.attached = {plainA, plainB};
    EXPECT_EQ(UsbDeviceCount(Api()), 1);
    EXPECT_EQ(link->InputCount(), 0);
    link->Close();
    EXPECT_EQ(UsbDeviceCount(Api()), 0);
}

TEST(UsbIdentity, WhichDevicesAreInstruments) {
    const std::vector<UsbId> none;
    std::vector<UsbId> own;
    ASSERT_EQ(ParseUsbIds("1234:abcd", own), "");
    struct Case {
        const char* what;
        std::vector<UsbDevice> attached;
        std::vector<UsbId> extra;
        std::vector<size_t> found;
    };
    const Case cases[] = {
        {"a lone factory bridge", {Device(0x0403, 0x6001, "FT232R USB UART", "1")}, none, {0}},
        {"a lone bridge that cannot be asked", {Device(0x0403, 0x6010, "", "1")}, none, {0}},
        {"a lone FT2232H", {Device(0x0403, 0x6010, "Dual RS232-HS", "1", "FTDI")}, none, {0}},
        {"a lone cable", {Device(0x0403, 0x6001, "TTL232R-3V3", "1", "FTDI")}, none, {0}},
        {"a lone receiver that names itself",
         {Device(0x0403, 0x6001, "GPS receiver", "1")},
         none,
         {}},
        {"factory words under another maker's name",
         {Device(0x0403, 0x6001, "USB Serial", "1", "Garmin")},
         none,
         {}},
        {"the instrument's name, any case, beside others",
         {Device(0x0403, 0x6001, "FT232R USB UART", "1"),
          Device(0x0403, 0x6014, "Keldo interface", "2")},
         none,
         {1}},
        {"the name in the serial",
         {Device(0x0403, 0x6001, "x", "1", "", "VARMEX-0042")},
         none,
         {0}},
        {"an unlisted ID", {Device(0x1234, 0xabcd, "FT232R USB UART", "1")}, none, {}},
        {"an ID given by the operator",
         {Device(0x1234, 0xabcd, "Resistivity meter", "1"),
          Device(0x0403, 0x6001, "FT232R USB UART", "2")},
         own,
         {0}},
        {"no devices", {}, none, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindInstruments(c.attached, c.extra), c.found) << c.what;

    // A factory ID given without a serial says nothing more about a device.
    std::vector<UsbId> shared;
    ASSERT_EQ(ParseUsbIds("0403:6001", shared), "");
    EXPECT_TRUE(FindInstruments({Device(0x0403, 0x6001, "FT232R USB UART", "1"),
                                 Device(0x0403, 0x6001, "FT232R USB UART", "2")},
                                shared)
                    .empty());
    EXPECT_EQ(ListedUsbIds(own).size(), FtdiFactoryIds().size() + 1);
    EXPECT_EQ(ListedUsbIds(shared).size(), FtdiFactoryIds().size());
}

TEST(UsbIdentity, ParsesIdListsAndSaysWhatItRefuses) {
    std::vector<UsbId> ids;
    EXPECT_EQ(ParseUsbIds(" 0403:6001 , 0x1234:0xABCD,,04d8:000a:SN 42 ", ids), "");
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(FormatUsbId(ids[0]), "0403:6001");
    EXPECT_EQ(FormatUsbId(ids[1]), "1234:abcd");
    EXPECT_EQ(FormatUsbId(ids[2]), "04d8:000a:SN 42");
    EXPECT_EQ(ParseUsbIds("0403:6001", ids), ""); // each ID once
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ParseUsbIds("", ids), "");

    for (const char* bad : {"0403", "0403:", ":6001", "12345:6001", "0403:60g1", "0000:6001",
                            "0403:6001:", "vendor:product"}) {
        std::vector<UsbId> none;
        const std::string error = ParseUsbIds(bad, none);
        EXPECT_NE(error.find(std::string("\"") + bad + "\""), std::string::npos) << bad;
        EXPECT_TRUE(none.empty()) << bad;
    }
    // A bad entry does not cost the good ones beside it.
    std::vector<UsbId> some;
    EXPECT_FALSE(ParseUsbIds("0403:6001, nonsense, 1234:5678", some).empty());
    EXPECT_EQ(some.size(), 2u);
}

TEST_P(UsbFixture, VersionTextInItsForms) {
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

TEST_P(UsbFixture, LineSettingsAreCoercedAndReadBack) {
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

TEST_P(UsbFixture, TimedReadsPumpAndStopEarlyWhenTheLinkCloses) {
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

TEST_P(UsbFixture, WaitsSleepInTheDeviceAndPumpEveryLatencyPeriod) {
    ASSERT_EQ(Open(), 99);
    link->SetLatency(20);
    ftdi.latencyMs = 20;

    // A silent instrument: the wait is spent in the device's reads, one
    // latency period each, with the window pumped between them.
    const int pumpsBefore = hooks.pumps;
    EXPECT_EQ(link->ReadByteTimed(1000), -1);
    const int waits = ftdi.idleWaits;
    const int pumps = hooks.pumps - pumpsBefore;
    EXPECT_GT(waits, 0);
    EXPECT_LE(waits, 1000 / 20 + 1);
    EXPECT_GE(pumps, waits);

    // Bytes that are there are taken without waiting, and polling an empty
    // device never waits.
    ftdi.idleWaits = 0;
    ftdi.rx = {'a', 'b', ':', '>'};
    uint8_t buf[2];
    EXPECT_EQ(link->ReadBufferTimed(buf, 2, 300000), 2);
    EXPECT_TRUE(link->WaitPrompt());
    EXPECT_EQ(link->PollByte(), -1);
    EXPECT_EQ(ftdi.idleWaits, 0);

    // The same for a read that blocks until its byte comes.
    int pumpsToByte = 0;
    hooks.onPump = [&] {
        if (++pumpsToByte == 10)
            ftdi.rx.push_back(0x42);
    };
    EXPECT_EQ(link->ReadByte(), 0x42);
    EXPECT_EQ(ftdi.idleWaits, 10); // one latency period per pump until it came
}

TEST_P(UsbFixture, A528ByteBlockLeavesAtTheLinePaceWithoutWaitingOnTheReceiver) {
    ASSERT_EQ(Open(), 99);
    link->SetLatency(20);
    ftdi.latencyMs = 20;
    // A pump lasts 10 ms on the fake clock, longer than a byte at 273000
    // baud: a slower line keeps each byte on the wire across a few pumps.
    ftdi.baud = 300;

    // The instrument's side of a computer-to-instrument transfer: it starts
    // with its 0x00, asks for block 1 once the total has come and for block
    // 2 (the end) once block 1 has.
    std::vector<uint8_t> data(528);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 3);
    const size_t afterTotal = 1 + 4;
    const size_t afterBlock = afterTotal + 2 + 2 + data.size() + 2;
    std::vector<uint8_t> heard;
    ftdi.onWrite = [&](uint8_t b) {
        heard.push_back(b);
        if (heard.size() == afterTotal)
            ftdi.rx.insert(ftdi.rx.end(), {1, 0});
        else if (heard.size() == afterBlock)
            ftdi.rx.insert(ftdi.rx.end(), {2, 0});
    };
    ftdi.rx = {0x00};
    ftdi.idleWaits = 0;
    ftdi.reads = 0;
    link->SendBlocks(data.data(), int(data.size()), nullptr, nullptr);

    ASSERT_EQ(heard.size(), afterBlock + 2);
    EXPECT_EQ(std::vector<uint8_t>(heard.begin() + afterTotal + 4,
                                   heard.begin() + long(afterTotal + 4 + data.size())),
              data);
    // Every byte left before the next was written...
    EXPECT_EQ(ftdi.writesWhileSending, 0);
    // ...and finding that out never waited on the receiver: the only reads
    // are the instrument's own bytes.
    EXPECT_EQ(ftdi.idleWaits, 0);
    EXPECT_LE(ftdi.reads, 1 + 2 + 2);
}

TEST(LinePace, BytesLeaveAtTheRateAndFormatOfTheLine) {
    using namespace std::chrono;
    LinePace pace;
    pace.SetFormat(8, 0, 0);
    EXPECT_EQ(pace.BitsPerByte(), 10);
    pace.SetFormat(8, 2, 2); // 8E2
    EXPECT_EQ(pace.BitsPerByte(), 12);
    pace.SetFormat(7, 1, 0); // 7N1.5
    EXPECT_EQ(pace.BitsPerByte(), 9.5);
    pace.SetFormat(8, 0, 0);
    pace.SetBaudRate(273000);

    // 528 bytes of 10 bits at 273000 baud take 19.34 ms.
    const LinePace::Clock::time_point t0{seconds(100)};
    pace.Written(528, t0);
    EXPECT_EQ(pace.Pending(t0), 528u);
    EXPECT_EQ(pace.Pending(t0 + microseconds(9671)), 264u);
    EXPECT_EQ(pace.Pending(t0 + microseconds(19300)), 2u);
    EXPECT_EQ(pace.Pending(t0 + microseconds(19341)), 0u);

    // A byte written while others are going out waits its turn; one written
    // to an idle line starts at once.
    pace.Written(1, t0 + microseconds(10000));
    EXPECT_EQ(pace.Pending(t0 + microseconds(19341)), 1u);
    EXPECT_EQ(pace.Pending(t0 + microseconds(19378)), 0u);
    pace.Written(1, t0 + seconds(1));
    EXPECT_EQ(pace.Pending(t0 + seconds(1)), 1u);
    EXPECT_EQ(pace.Pending(t0 + seconds(1) + microseconds(37)), 0u);

    // A purge empties the queue; a slower rate slows it.
    pace.Written(100, t0 + seconds(2));
    pace.Clear();
    EXPECT_EQ(pace.Pending(t0 + seconds(2)), 0u);
    pace.SetBaudRate(9600);
    pace.Written(10, t0 + seconds(3));
    EXPECT_EQ(pace.Pending(t0 + seconds(3) + microseconds(5500)), 5u);
}

TEST_P(UsbFixture, ErrorsOfALinkClosedOrUnpluggedWhileWaiting) {
    ExpectLinkError([&] { link->ReadByte(); }, "Port err. Getcom");
    ExpectLinkError([&] { link->WriteByte(1); }, "Port err. putcom");

    ASSERT_EQ(Open(), 99);
    int pumps = 0;
    hooks.onPump = [&] {
        if (++pumps == 5)
            link->SetState(0);
    };
    ExpectLinkError([&] { link->ReadByte(); }, "Port err. Getcom");
    EXPECT_EQ(link->Fault(), "link closed");
    pumps = 0;
    link->SetState(99);
    ExpectLinkError([&] { link->WaitForText(":>"); }, "Wait error");
    EXPECT_EQ(hooks.cursorDepth, 0);

    // The byte went out but never leaves the transmit queue.
    pumps = 0;
    link->SetState(99);
    ftdi.txQueued = 1;
    ExpectLinkError([&] { link->WriteByte(7); }, "Port err.");
    ftdi.txQueued = 0;

    // The cable pulled out during a wait drops the link instead of waiting
    // for ever.
    hooks.onPump = [&] {
        if (++pumps == 50)
            ftdi.unplugged = true;
    };
    link->SetState(99);
    ExpectLinkError([&] { link->ReadByte(); }, "Port err. Getcom");
    EXPECT_EQ(link->GetState(), -1);
}

TEST_P(UsbFixture, IdentitySwitchesTo115200AndBackToTheRateInForce) {
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

INSTANTIATE_TEST_SUITE_P(Backends, UsbFixture, ::testing::Values(Backend::Direct, Backend::D2xx),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::D2xx ? "D2xx" : "Direct";
                         });
