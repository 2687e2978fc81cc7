// The link factory with its options, and the device-change source's poll.
#include "link/LinkFactory.h"
#include "FakeFtdi.h"
#include "FakeLink.h"
#include "link/DeviceWatch.h"
#include "link/SerialLink.h"
#include "link/UsbLink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

TEST(LinkFactory, CreatesTheLinkOfEachCodeWithItsOptions) {
    ScopedFakeHooks fake;
    FakeFtdi ftdi;
    LinkOptions options =
        LinkOptionsFromArguments({"pylorix", "3", "--serial-device", "/dev/pts/4"});
    EXPECT_EQ(options.serialDevice, "/dev/pts/4");
    EXPECT_EQ(LinkOptionsFromArguments({"pylorix", "--serial-device=/dev/ttyUSB1"}).serialDevice,
              "/dev/ttyUSB1");
    options.ftdi = &ftdi;
    EXPECT_EQ(CreateLink(100, options)->LinkName(), "TCP/IP");
    EXPECT_EQ(CreateLink(200, options)->LinkName(), "TCP/IP");
    for (int code : {1, 3, 0, 101}) {
        auto link = CreateLink(code, options);
        ASSERT_EQ(link->LinkName(), "RS232") << code;
        EXPECT_EQ(dynamic_cast<SerialLink&>(*link).Control().DeviceName(), "/dev/pts/4");
    }
    auto usb = CreateLink(99, options);
    EXPECT_EQ(usb->Open(99, 273000, "", false, "", 0), 99); // on the FTDI calls given
    EXPECT_EQ(ftdi.openHandles, 1);

#ifndef _WIN32
    auto com = CreateLink(3, LinkOptions{});
    auto& control = dynamic_cast<SerialLink&>(*com).Control();
    control.SetPortNumber(3);
    EXPECT_EQ(control.DeviceName(), "/dev/ttyS2");
#endif
}

TEST(LinkFactory, InstrumentUsbIdsReachTheLinkAndTheCount) {
    ScopedFakeHooks fake;
    FakeFtdi ftdi;
    // A bridge programmed with its own ID: not an instrument until named.
    UsbDevice own = FakeFtdi::Bridge("2-1");
    own.vendor = 0x1234;
    own.product = 0xABCD;
    ftdi.attached = {own};

    const LinkOptions parsed =
        LinkOptionsFromArguments({"pylorix", "--usb-id", "1234:abcd",
                                  "--usb-id=0403:6001:A1,0403:6015", "--usb-id", "bad", "99"});
    ASSERT_EQ(parsed.usbIds.size(), 3u);
    EXPECT_EQ(FormatUsbId(parsed.usbIds[0]), "1234:abcd");
    EXPECT_EQ(FormatUsbId(parsed.usbIds[1]), "0403:6001:A1");
    EXPECT_EQ(FormatUsbId(parsed.usbIds[2]), "0403:6015");

    EXPECT_EQ(UsbDeviceCount(ftdi), 0);
    LinkOptions options;
    options.ftdi = &ftdi;
    options.usbIds = parsed.usbIds;
    auto named = CreateLink(99, options);
    EXPECT_EQ(named->Open(99, 273000, "", false, "", 0), 99);
    EXPECT_EQ(dynamic_cast<UsbLink&>(*named).OpenedDevice().location, "2-1");
    named->Close();

    // The count the session and the device watch ask for uses the default
    // options, to which the stored setting's IDs are added.
    const LinkOptions saved = DefaultLinkOptions();
    LinkOptions defaults;
    defaults.ftdi = &ftdi;
    SetDefaultLinkOptions(defaults);
    EXPECT_EQ(UsbDeviceCount(), 0);
    EXPECT_EQ(AddDefaultUsbIds("0403:6001, 1234:ABCD"), "");
    EXPECT_EQ(UsbDeviceCount(), 1);
    EXPECT_NE(AddDefaultUsbIds("12:34:"), "");
    EXPECT_EQ(DefaultLinkOptions().usbIds.size(), 2u);
    SetDefaultLinkOptions(saved);
}

TEST(DeviceWatch, PollReportsEveryChangeOfTheCountOnce) {
    int count = 0;
    DeviceWatch watch(
        nullptr, [&] { return count; }, false, 10);
    EXPECT_FALSE(watch.UsesSystemMonitor());
    int changes = 0;
    QObject::connect(&watch, &DeviceWatch::DeviceChanged, [&] { ++changes; });

    auto runFor = [](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    runFor(80);
    EXPECT_EQ(changes, 0);
    count = 1; // plugged in
    runFor(80);
    EXPECT_EQ(changes, 1);
    count = 0; // pulled out
    runFor(80);
    EXPECT_EQ(changes, 2);
}

TEST(DeviceWatch, SystemMonitorOrPollStartsAndStops) {
    // Whether the system's monitor is available depends on the machine;
    // either way the source comes up and goes without trouble.
    auto watch = std::make_unique<DeviceWatch>(nullptr, [] { return 0; });
    QCoreApplication::processEvents();
    watch.reset();
}
