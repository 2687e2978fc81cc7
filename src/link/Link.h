#pragma once
// The link interface: one object over the physical link to the instrument
// (USB, serial line or TCP/IP), with the command handshake, the prompt wait
// and the numbered, checksummed block transfers that all links share.
#include "link/MemoryStream.h"
#include "link/UiHooks.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Link failures. The message always begins "Port err." (or is "Wait error").
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Connection codes.
constexpr int kConnectionUsb = 99;
constexpr int kConnectionWiConnect = 100;
constexpr int kConnectionWifiInstrument = 200;

// Link states besides the open values (above 0).
constexpr int kLinkClosed = 0;
constexpr int kLinkFailed = -1;

// Faults in words (see Link::Fault).
constexpr const char* kFaultClosed = "link closed";
constexpr const char* kFaultTimedOut = "link timed out";

constexpr int kBlockMaxData = 528;
// A noisy cable damages a block now and then, rarely many times running;
// this many bad blocks (or bad block requests) in a row for the same block
// means the peer is wedged, and the transfer ends with a LinkError.
constexpr int kBadBlocksLimit = 32;
// A single transfer larger than this is refused: the largest real one (the
// quadripole set) is far smaller, and a damaged length must not make the
// program swallow memory without end.
constexpr size_t kTransferLimit = 16u * 1024u * 1024u;

// Baud rate the session passes to Open for a connection code.
int BaudRateForConnection(int connectionCode);

class Link {
public:
    Link();
    virtual ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // ---- virtual operations, in the order of the interface ---------------
    // Sends count bytes; the base sends them one by one with WriteByte.
    virtual int WriteBuffer(const uint8_t* data, int count);
    // Blocking read of one byte, pumping while it waits.
    virtual int ReadByte() = 0;
    virtual void Close() = 0;
    // One line up to LF (CR and LF not stored) or maxChars bytes; false and
    // an empty line on a time-out.
    virtual bool ReadLine(std::string& line, int maxChars, int timeoutMs);
    virtual bool WaitPrompt();
    // Asks the user to connect, opens the link; returns the new state (above
    // 0) or 0 when cancelled or failed.
    virtual int Open(int connection, int baudRate, const std::string& address, bool waitDsr,
                     const std::string& modemInit, int byteDelayMs) = 0;
    virtual bool SendCommand(uint8_t command, int timeoutMs);
    virtual bool WaitPromptAndSend(uint8_t command, int timeoutMs);
    virtual bool WaitForText(const std::string& text);
    virtual void WriteByte(uint8_t b) = 0;
    virtual int ReadBytes(uint8_t* buf, int count, int timeoutMs);
    virtual bool ReadIdentity(std::string& second, std::string& first);
    // Reads exactly count bytes (the base: ReadByte count times).
    virtual void ReadBuffer(uint8_t* buf, int count);
    virtual void FlushInput() = 0;
    virtual void ClearOutput() = 0;
    // One raw write without waiting; -1 means not written.
    virtual int PutByte(uint8_t b) = 0;
    virtual int ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) = 0;
    virtual int ReadByteTimed(int timeoutMs) = 0;
    virtual int PollByte() = 0;
    virtual void SetState(int state);
    virtual void SetPortNumber(int) {}
    virtual void SetBaudRate(int) {}
    virtual void SetParity(int) {}
    virtual void SetDataBits(int) {}
    virtual void SetStopBits(int) {}
    virtual void SetXonXoff(int) {}
    virtual void SetDtrDsr(int) {}
    virtual void SetRtsCts(int) {}
    virtual void SetDtr(int) {}
    virtual void SetRts(int) {}
    virtual int InputCount() = 0;
    virtual int OutputCount() = 0;
    virtual int GetState();
    virtual int GetPortNumber() { return 0; }
    virtual int GetBaudRate() { return 0; }
    virtual int GetDataBits() { return 8; }
    virtual int GetStopBits() { return 1; }
    virtual int GetXonXoff() { return 0; }
    virtual int GetParity() { return 0; }
    virtual int GetDtrDsr() { return 0; }
    virtual int GetRtsCts() { return 0; }
    virtual int GetDtr() { return 0; }
    virtual int GetRts() { return 0; }
    virtual int GetDsr() { return 0; }
    virtual void SetLatency(int ms);
    virtual int MaxBaudRate() = 0;
    virtual std::string LinkName() = 0;
    virtual std::string VersionText() = 0;

    // Drops received bytes until wanted arrives (and is consumed); true when
    // it came within timeoutMs, false on a time-out or a closed link. Runs
    // of other bytes go in one pass, so a flood cannot outpace the scan.
    bool WaitForByte(uint8_t wanted, int timeoutMs);

    // ---- shared operations ----------------------------------------------
    // Receives one block transfer and copies it into dest, which holds
    // capacity bytes. Returns the bytes copied; 0 when dest is null, and 0
    // (after the "Err. Buffer" message, dest untouched) when the transfer is
    // larger than dest.
    int ReceiveBlocks(uint8_t* dest, size_t capacity, ProgressBar* bar, Indicator* indicator);
    // Receives one transfer into `transfer`. A negative total, or one
    // beyond kTransferLimit, is refused with LinkError before any block.
    void ReceiveToStream(ProgressBar* bar, Indicator* indicator);
    void SendBlocks(const uint8_t* data, int count, ProgressBar* bar, Indicator* indicator);
    void SendFromStream(ProgressBar* bar, Indicator* indicator);
    static uint16_t Checksum16(const uint8_t* data, size_t count);
    void SleepSeconds(int s);

    // The data of the last block transfer.
    MemoryStream transfer;

    // Why the last Open failed, in words ("connection refused", "no such
    // device /dev/ttyUSB0"); empty after a success or a cancelled prompt.
    const std::string& FailureReason() const { return failureReason_; }
    // What went wrong on the link in words ("link closed", "link timed
    // out", "the instrument sent 32 bad blocks in a row"): set when an
    // operation raises LinkError, kept until ClearFault. The session asks
    // for it to tell a link fault from bad content.
    const std::string& Fault() const { return fault_; }
    void ClearFault() { fault_.clear(); }

    // Why the last Open failed when trying again cannot help (a malformed
    // address); the caller should not retry on its own.
    bool FailureIsFinal() const { return failureFinal_; }
    // Whether Open shows its failure in a message box. Automatic retries
    // turn it off so that a station left waiting does not pile up boxes.
    bool showOpenFailures = true;

protected:
    bool IsOpen() { return GetState() > 0; }
    // Waits until input may have arrived, the link may have changed or an
    // event was handled, for at most maxMs. Links whose input comes through
    // the event loop sleep there; the default pumps once.
    virtual void AwaitInput(int maxMs);
    // What WaitForText does when it finds the link closed: false for serial
    // and TCP/IP; the USB link raises instead.
    virtual bool WaitClosed();
    // Whether ReadLine also stops (with false) on a 0xFF byte (TCP/IP).
    virtual bool LineStopsOnFF() const { return false; }
    // The read error ReadBytes raises on a closed link.
    virtual const char* ReadErrorText() const { return "Port err. Getcom"; }
    // The time-out of one '@' poll of ReadIdentity.
    virtual int IdentityPollMs() const { return 200; }

    // Records the fault in words and raises LinkError with portText.
    [[noreturn]] void Fail(const char* portText, const std::string& fault);
    // The fault for a wait that ended without its data: closed or timed out.
    std::string LostOrTimedOut() { return IsOpen() ? kFaultTimedOut : kFaultClosed; }

    int state_ = kLinkClosed;
    std::string failureReason_;
    bool failureFinal_ = false;
    std::string fault_;

private:
    void PutByteRetrying(uint8_t b);
};
