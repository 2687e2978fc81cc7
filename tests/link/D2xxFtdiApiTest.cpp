// What only the D2XX backend does, through the fake D2XX library: location
// IDs in the listing's words, a library that is missing or not D2XX, the
// byte a wait takes and hands on, the custom ID the library must be told
// about, and which backend the program picks.
#include "FakeD2xxLibrary.h"
#include "FakeFtdi.h"
#include "FakeLink.h"
#include "link/FtdiBackends.h"
#include "link/UsbLink.h"

#include <QtGlobal>
#include <gtest/gtest.h>

namespace {

// A byte that arrives while the link waits on the driver.
class ArrivingFtdi : public FakeFtdi {
public:
    std::deque<uint8_t> arriving;
    FtStatus Read(Handle h, uint8_t* buf, uint32_t count, uint32_t& read) override {
        rx.insert(rx.end(), arriving.begin(), arriving.end());
        arriving.clear();
        return FakeFtdi::Read(h, buf, count, read);
    }
};

struct D2xxFixture : ::testing::Test {
    FakeHooks hooks;
    ArrivingFtdi ftdi;
    FakeD2xxLibrary d2xx{ftdi};

    void SetUp() override { SetUiHooks(&hooks); }
    void TearDown() override { SetUiHooks(nullptr); }

    FtdiApi::Handle OpenFirst() {
        std::vector<UsbDevice> devices;
        EXPECT_EQ(d2xx.api.ListDevices(FtdiFactoryIds(), devices), kFtOk);
        EXPECT_FALSE(devices.empty());
        FtdiApi::Handle h = nullptr;
        std::string error;
        if (!devices.empty()) {
            EXPECT_EQ(d2xx.api.Open(devices.front(), h, error), kFtOk) << error;
        }
        return h;
    }
};

} // namespace

TEST(D2xxLocation, LocationIdsReadAsBusThenPorts) {
    EXPECT_EQ(D2xxLocationText(0x11), "1-1");
    EXPECT_EQ(D2xxLocationText(0x124), "1-2.4");
    EXPECT_EQ(D2xxLocationText(0x2A3), "2-a.3");
    EXPECT_EQ(D2xxLocationText(0), ""); // no location: the listing names it otherwise
}

TEST(D2xxLibrary, AMissingLibraryIsSaidAndNeverPromptedFor) {
    FakeHooks hooks;
    SetUiHooks(&hooks);
    D2xxFtdiApi missing("/nonexistent/libftd2xx-none.so");
    EXPECT_FALSE(missing.Loaded());
    EXPECT_NE(missing.Unavailable().find("D2XX library could not be loaded"), std::string::npos);
    EXPECT_EQ(UsbDeviceCount(missing), 0);

    // The link says why at once instead of asking for a cable for ever, and
    // trying again is pointless until the library is installed.
    UsbLink link(&missing);
    EXPECT_EQ(link.Open(99, 273000, "", false, "", 0), 0);
    EXPECT_EQ(link.GetState(), -1);
    EXPECT_EQ(link.FailureReason(), missing.Unavailable());
    EXPECT_TRUE(link.FailureIsFinal());
    SetUiHooks(nullptr);

#ifdef __linux__
    // A library that is not D2XX is refused by name, not called.
    D2xxFtdiApi other("libc.so.6");
    EXPECT_FALSE(other.Loaded());
    EXPECT_NE(other.LibraryText().find("lacks FT_CreateDeviceInfoList"), std::string::npos)
        << other.LibraryText();
#endif
}

TEST_F(D2xxFixture, AByteTakenByAWaitComesFirstAndGoesWithAPurge) {
    FtdiApi& api = d2xx.api;
    FtdiApi::Handle h = OpenFirst();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(api.SetTimeouts(h, 0, 500), kFtOk);

    // The library lists an open device without its strings; the one held
    // here is still listed as it was opened, so it stays the instrument.
    std::vector<UsbDevice> devices;
    ASSERT_EQ(api.ListDevices(FtdiFactoryIds(), devices), kFtOk);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].description, "FT232R USB UART");
    EXPECT_EQ(devices[0].location, "1-1");

    // The wait is spent in a driver read with the wait as its time-out...
    ftdi.arriving = {'A'};
    ftdi.calls.clear();
    EXPECT_EQ(api.WaitForInput(h, 20), kFtOk);
    // ...and the link's own time-out is back afterwards.
    EXPECT_EQ(ftdi.calls, (std::vector<std::string>{"SetTimeouts 20 500", "SetTimeouts 0 500"}));
    uint32_t waiting = 0;
    EXPECT_EQ(api.GetQueueStatus(h, waiting), kFtOk);
    EXPECT_EQ(waiting, 1u);

    // The byte it took comes before those that followed it.
    ftdi.rx = {'B', 'C'};
    uint32_t rx = 0, tx = 0, events = 0;
    EXPECT_EQ(api.GetStatus(h, rx, tx, events), kFtOk);
    EXPECT_EQ(rx, 3u);
    uint8_t buf[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(api.Read(h, buf, 2, got), kFtOk);
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "AB");
    EXPECT_EQ(api.Read(h, buf, 8, got), kFtOk);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buf[0], 'C');

    // Bytes waiting answer a wait without a driver read; a purge of the
    // receiver also drops a byte a wait took.
    ftdi.rx = {'D'};
    ftdi.calls.clear();
    const int readsBefore = ftdi.reads;
    EXPECT_EQ(api.WaitForInput(h, 20), kFtOk);
    EXPECT_EQ(ftdi.reads, readsBefore);
    EXPECT_TRUE(ftdi.calls.empty());
    ftdi.rx.clear();
    ftdi.arriving = {'E'};
    EXPECT_EQ(api.WaitForInput(h, 20), kFtOk);
    EXPECT_EQ(api.Purge(h, kFtPurgeRx), kFtOk);
    EXPECT_EQ(api.GetQueueStatus(h, waiting), kFtOk);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(api.Read(h, buf, 1, got), kFtOk);
    EXPECT_EQ(got, 0u);

    // A silent device: the wait ends empty-handed and takes nothing.
    EXPECT_EQ(api.WaitForInput(h, 20), kFtOk);
    EXPECT_EQ(api.GetQueueStatus(h, waiting), kFtOk);
    EXPECT_EQ(waiting, 0u);

    // The chips take latency timers from 2 ms.
    ftdi.calls.clear();
    EXPECT_EQ(api.SetLatencyTimer(h, 1), kFtOk);
    EXPECT_EQ(ftdi.calls, (std::vector<std::string>{"SetLatencyTimer 2"}));
    EXPECT_EQ(api.Close(h), kFtOk);
    EXPECT_EQ(ftdi.openHandles, 0);
}

TEST_F(D2xxFixture, ABridgeWithItsOwnIdIsSeenOnceTheLibraryIsTold) {
    UsbDevice own = FakeFtdi::Bridge("1-4", 0x6001, "VARMEX PRO USB");
    own.vendor = 0x1A2B;
    own.product = 0x0C0D;
    ftdi.attached = {FakeFtdi::Bridge("1-1"), own};

    std::vector<UsbDevice> devices;
    ASSERT_EQ(d2xx.api.ListDevices(FtdiFactoryIds(), devices), kFtOk);
    EXPECT_EQ(devices.size(), 1u);

    std::vector<UsbId> ids = FtdiFactoryIds();
    ids.push_back({0x1A2B, 0x0C0D, {}});
    ASSERT_EQ(d2xx.api.ListDevices(ids, devices), kFtOk);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].location, "1-4");
    EXPECT_EQ(devices[1].description, "VARMEX PRO USB");
    EXPECT_EQ(devices[1].manufacturer, ""); // D2XX does not tell it
}

TEST(FtdiBackendChoice, NamesAreReadAndTheForcedBackendIsUsed) {
    FtdiBackend backend = FtdiBackend::Automatic;
    EXPECT_TRUE(ParseFtdiBackend("D2XX", backend));
    EXPECT_EQ(backend, FtdiBackend::D2xx);
    EXPECT_TRUE(ParseFtdiBackend("libftdi1", backend));
    EXPECT_EQ(backend, FtdiBackend::LibFtdi);
    EXPECT_TRUE(ParseFtdiBackend("auto", backend));
    EXPECT_EQ(backend, FtdiBackend::Automatic);
    EXPECT_FALSE(ParseFtdiBackend("winusb", backend));
    EXPECT_EQ(backend, FtdiBackend::Automatic);

    // The program's D2XX is loaded from where PYLORIX_D2XX_LIBRARY says.
    qputenv("PYLORIX_D2XX_LIBRARY", FAKE_D2XX_LIBRARY);
    SelectFtdiBackend(FtdiBackend::D2xx);
    EXPECT_EQ(ActiveFtdiBackendText(), std::string("D2XX (") + FAKE_D2XX_LIBRARY + ")");
    EXPECT_EQ(ActiveFtdiApi().Unavailable(), "");
    SelectFtdiBackend(FtdiBackend::LibFtdi);
#ifdef PYLORIX_TEST_HAVE_LIBFTDI
    EXPECT_EQ(ActiveFtdiBackendText(), "libftdi1");
#else
    EXPECT_EQ(ActiveFtdiBackendText(), "none: this build has no libftdi1 USB support");
    EXPECT_NE(ActiveFtdiApi().Unavailable(), "");
#endif
    SelectFtdiBackend(FtdiBackend::Automatic);
    qunsetenv("PYLORIX_D2XX_LIBRARY");
}
