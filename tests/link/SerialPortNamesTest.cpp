// Serial ports by the system's own names: the order ports are numbered in,
// the call-out twins of macOS, and what a port number names on each system.
#include "link/SerialPortNames.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(SerialPortNames, NumbersInNamesCompareAsNumbers) {
    std::vector<std::string> ports = {"COM10",        "COM2",       "COM1",         "/dev/ttyUSB10",
                                      "/dev/ttyUSB2", "/dev/ttyS0", "/dev/ttyACM0", "COM02"};
    std::sort(ports.begin(), ports.end(), SerialNameLess);
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB2",
                                               "/dev/ttyUSB10", "COM1", "COM02", "COM2", "COM10"}));
    EXPECT_FALSE(SerialNameLess("COM2", "COM2"));
    EXPECT_TRUE(SerialNameLess("COM", "COM1"));
}

TEST(SerialPortNames, TheNthPortOfAListPrefersTheCallOutTwin) {
    // macOS lists every port twice; only /dev/cu.* opens without waiting
    // for a carrier the instrument never raises.
    const std::vector<std::string> mac = {
        "/dev/tty.usbserial-A10K3QZB", "/dev/cu.usbserial-A10K3QZB",
        "/dev/tty.Bluetooth-Incoming-Port", "/dev/cu.Bluetooth-Incoming-Port",
        "/dev/cu.usbmodem1101"};
    EXPECT_EQ(NthSerialPort(1, mac), "/dev/cu.Bluetooth-Incoming-Port");
    EXPECT_EQ(NthSerialPort(2, mac), "/dev/cu.usbmodem1101");
    EXPECT_EQ(NthSerialPort(3, mac), "/dev/cu.usbserial-A10K3QZB");
    EXPECT_EQ(NthSerialPort(4, mac), "");
    EXPECT_EQ(NthSerialPort(0, mac), "");
    EXPECT_EQ(NthSerialPort(-1, mac), "");
    // A tty without a twin is kept; a port listed twice counts once.
    EXPECT_EQ(NthSerialPort(2, {"/dev/tty.only", "/dev/cu.a", "/dev/cu.a"}), "/dev/tty.only");
    EXPECT_EQ(NthSerialPort(1, {}), "");
}

TEST(SerialPortNames, APortNumberNamesTheSystemsOwnDevice) {
    const std::vector<std::string> listed = {"/dev/cu.usbserial-A1", "/dev/ttyUSB0"};
#if defined(_WIN32)
    EXPECT_EQ(SerialDeviceForPort(3, listed), "COM3");
    EXPECT_EQ(SerialDeviceForPort(12, listed), "COM12");
#elif defined(__APPLE__)
    EXPECT_EQ(SerialDeviceForPort(1, listed), "/dev/cu.usbserial-A1");
    EXPECT_EQ(SerialDeviceForPort(3, listed), "");
#else
    // Linux keeps the numbering it always had, whatever is plugged in.
    EXPECT_EQ(SerialDeviceForPort(1, listed), "/dev/ttyS0");
    EXPECT_EQ(SerialDeviceForPort(3, listed), "/dev/ttyS2");
    EXPECT_EQ(SerialDeviceForPort(0, listed), "/dev/ttyS0");
    EXPECT_EQ(SerialDeviceForPort(3), "/dev/ttyS2");
#endif
    // The system's list is in the same order as NthSerialPort uses.
    const std::vector<std::string> system = SystemSerialPorts();
    EXPECT_TRUE(std::is_sorted(system.begin(), system.end(), SerialNameLess));
}
