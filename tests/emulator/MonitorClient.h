#pragma once
// A minimal monitor, written from the protocol's byte layouts, that drives the emulator
// in the tests: the Start handshake, block transfers, commands and batches.
// It shares no code with the emulator.
#include <QIODevice>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace emutest {

using ByteVec = std::vector<uint8_t>;

// The emulator as a child process.
class EmulatorProcess {
public:
    ~EmulatorProcess();
    // Starts it with the arguments (plus --listen 127.0.0.1:0 unless --pty
    // is among them) and reads the first line of its output.
    bool start(const QStringList& arguments);
    int port() const { return firstLine_.toInt(); }
    qint64 pid() const { return process_.processId(); }
    QString firstLine() const { return firstLine_; }
    // Exit code, or -1 when it did not end in time.
    int waitForExit(int timeoutMs);
    QString errorOutput();

private:
    QProcess process_;
    QString firstLine_;
};

class MonitorClient {
public:
    bool connectTcp(int port, int timeoutMs = 5000);
    bool openDevice(const QString& path);
    void close();

    int readByte(int timeoutMs); // -1 on time-out or closed link
    bool read(ByteVec& out, size_t count, int timeoutMs);
    void write(const ByteVec& bytes);
    void writeByte(uint8_t b) { write(ByteVec{b}); }
    void writeWord(uint16_t w) { write(ByteVec{uint8_t(w & 0xFF), uint8_t(w >> 8)}); }
    void flushInput();
    void pushBack(uint8_t b) { input_.push_front(b); }
    // True when the peer closed the link (nothing more will come).
    bool peerClosed(int timeoutMs);
    // Every byte taken from the link so far.
    size_t bytesReceived() const { return received_; }

    // Wi-Fi wake-up: '@' until the instrument answers '@'.
    bool wakeUp(int timeoutMs);
    // Waits for 'S' 'U', answers "VU"; controlsOffered tells whether 'X' came,
    // firstByte which byte (if any) came in the short wait for it.
    bool startHandshake(int timeoutMs, bool* controlsOffered, int* firstByte = nullptr);
    // Block transfer from the instrument (this side leads).
    bool receiveBlocks(ByteVec& out, int* badBlocks = nullptr);
    // Block transfer to the instrument (the instrument leads).
    bool sendBlocks(const ByteVec& data);
    // Command handshake; returns the instrument's reply byte (-1: none).
    int command(uint8_t code);
    bool waitPrompt(int timeoutMs);

private:
    bool fill(int timeoutMs);
    std::unique_ptr<QIODevice> device_;
    std::deque<uint8_t> input_;
    size_t received_ = 0;
};

// Resident memory of a process in kB (VmRSS), -1 when it cannot be read.
long residentKb(qint64 pid);

uint16_t sum16(const uint8_t* data, size_t count);
uint16_t getU16(const ByteVec& d, size_t off);
int32_t getI32(const ByteVec& d, size_t off);
float getF32(const ByteVec& d, size_t off);
double getF64(const ByteVec& d, size_t off);

// One received record with what a test needs to check it.
struct ReceivedRecord {
    int index = 0;
    int slot = 0;
    ByteVec bytes; // record without its check word (4 bytes in mode 'R')
};

// One received batch, or the end of the run.
struct BatchResult {
    enum Kind { Batch, End, Discarded, Closed } kind = Closed;
    int firstIndex = 0;
    int count = 0;
    std::vector<ReceivedRecord> records;
    int refusals = 0; // 'X' sent
    int shortRecords = 0;
};

// Reads up to the next '#' or '$' and the batch after it, acknowledging
// records as the mode asks (wired: 262-byte records, acknowledged in 'C';
// Wi-Fi: 4098-byte records, always acknowledged; 'R': 4 bytes). A batch
// announced before expectedIndex, or with a count outside 1..20, is
// discarded as the monitor does. With recordTimeoutMs, a wired record that
// is not complete in that time is dropped and the next one read.
BatchResult readBatch(MonitorClient& client, bool wifi, char mode, int timeoutMs,
                      int expectedIndex = 0, int recordTimeoutMs = 0);

// The truth file as rows of named columns.
struct TruthRow {
    std::vector<std::string> cells;
};
struct TruthTable {
    std::vector<std::string> columns;
    std::vector<TruthRow> rows;
    int column(const std::string& name) const;
    double number(size_t row, const std::string& name) const;
    std::string text(size_t row, const std::string& name) const;
};
TruthTable readTruth(const QString& path);

} // namespace emutest
