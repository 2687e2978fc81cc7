#pragma once
// Serial ports by the system's own names.
//
// A connection code n other than USB and TCP/IP stands for a serial port:
// "COMn" on Windows and /dev/ttyS{n-1} on Linux, as it always has. macOS
// has no numbered ports: n is the n-th port the system lists there
// (/dev/cu.*, the call-out devices that open without waiting for a
// carrier), in name order.
#include <string>
#include <vector>

// The serial ports the system has now, by device path ("COM3",
// "/dev/ttyUSB0", "/dev/cu.usbserial-A10K3QZB"), in name order with
// numbers compared as numbers ("COM2" before "COM10"). On macOS only the
// /dev/cu.* twin of each port is listed.
std::vector<std::string> SystemSerialPorts();

// The rule above, with the system's list given (only macOS looks at it).
// Empty when the system has no port n.
std::string SerialDeviceForPort(int portNumber, const std::vector<std::string>& systemPorts);
// The same with the list the system has now (asked only on macOS).
std::string SerialDeviceForPort(int portNumber);

// The n-th (from 1) of ports, with the call-out twins of macOS kept and
// the rest in name order; empty when there is no such port.
std::string NthSerialPort(int portNumber, std::vector<std::string> ports);
// Orders port names with their numbers compared as numbers.
bool SerialNameLess(const std::string& a, const std::string& b);
