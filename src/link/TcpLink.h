#pragma once
// The TCP/IP link (connection codes 100 and 200): one TCP client socket to
// the instrument or to the WiConnect module fitted to it, used as a blocking
// socket. Reads wait by pumping the user interface and never block once
// their wait has ended; a disconnect or socket error drops the state to -1
// at once, so every waiting operation stops.
#include "link/Link.h"

#include <cstdint>
#include <memory>
#include <string>

class QTcpSocket;

constexpr int kTcpPort = 29461;
constexpr const char* kAccessPointAddress = "192.168.100.76";
constexpr const char* kNotConnectedText = "Not connected";
// How long one connection attempt may take before it counts as failed.
constexpr int kTcpConnectTimeoutMs = 5000;
constexpr int kTcpConnectAttempts = 4;
constexpr int kTcpRetryPauseMs = 500;

// What the socket may hold unread. A peer that floods the link is then held
// back by TCP's own flow control instead of filling the program's memory.
// Reads larger than this are taken in pieces.
constexpr int64_t kTcpReadBufferLimit = 256 * 1024;

// An address typed by the user: "host" (port 29461), "host:port", or
// "[v6-address]:port". A bare IPv6 literal keeps the default port.
struct IpEndpoint {
    std::string host;
    uint16_t port = kTcpPort;
};
// False, with the reason in error, for an address that cannot be meant:
// an empty host or port ("host:"), a port that is not 1..65535, a host
// with spaces or other characters no name or address has, an unclosed
// "[". An empty address stands for the access point's.
bool ParseIpAddress(const std::string& address, IpEndpoint& endpoint, std::string& error);

class TcpLink : public Link {
public:
    TcpLink();
    ~TcpLink() override;

    int WriteBuffer(const uint8_t* data, int count) override;
    int ReadByte() override;
    void Close() override;
    int Open(int connection, int baudRate, const std::string& address, bool waitDsr,
             const std::string& modemInit, int byteDelayMs) override;
    void WriteByte(uint8_t b) override;
    bool ReadIdentity(std::string& second, std::string& first) override;
    void ReadBuffer(uint8_t* buf, int count) override;
    void FlushInput() override;
    void ClearOutput() override {}
    int PutByte(uint8_t b) override;
    int ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) override;
    int ReadByteTimed(int timeoutMs) override;
    int PollByte() override;
    int InputCount() override;
    int OutputCount() override;
    int GetPortNumber() override;
    int GetBaudRate() override { return 273000; }
    int GetDataBits() override { return 1; }
    int GetStopBits() override { return 1; }
    int GetXonXoff() override { return 1; }
    int GetParity() override { return 1; }
    int GetDtrDsr() override { return 1; }
    int GetRtsCts() override { return 1; }
    int GetDtr() override { return 1; }
    int GetRts() override { return 1; }
    int GetDsr() override { return 1; }
    int MaxBaudRate() override { return 273000; }
    std::string LinkName() override { return "TCP/IP"; }
    std::string VersionText() override { return addressText_; }

protected:
    bool LineStopsOnFF() const override { return true; }
    const char* ReadErrorText() const override { return "Port err. get IP"; }

    void AwaitInput(int maxMs) override;

private:
    // Moves whatever the operating system holds into the socket's buffer
    // (and sends what is queued) without waiting.
    void Service();
    // Bytes in the socket's buffer, after servicing it when fewer than
    // wanted are there.
    bool Readable();
    int64_t Available(int64_t wanted);
    // One connection attempt of up to kTcpConnectTimeoutMs; empty on
    // success, else why it failed in words.
    std::string ConnectOnce();
    void Shutdown(int lingerMs);

    std::unique_ptr<QTcpSocket> socket_;
    IpEndpoint endpoint_{kAccessPointAddress, kTcpPort};
    std::string addressText_ = kNotConnectedText;
};
