#include "MonitorClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>
#include <cstring>

namespace emutest {

// ---- the emulator process

EmulatorProcess::~EmulatorProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool EmulatorProcess::start(const QStringList& arguments) {
    QStringList args = arguments;
    if (!args.contains(QStringLiteral("--pty")))
        args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    process_.start(QStringLiteral(VARMEX_EMULATOR_PATH), args);
    if (!process_.waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!process_.canReadLine()) {
        if (timer.elapsed() > 10000 || process_.state() == QProcess::NotRunning)
            return false;
        process_.waitForReadyRead(200);
    }
    firstLine_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    return !firstLine_.isEmpty();
}

int EmulatorProcess::waitForExit(int timeoutMs) {
    if (!process_.waitForFinished(timeoutMs) && process_.state() != QProcess::NotRunning)
        return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -2;
}

QString EmulatorProcess::errorOutput() {
    return QString::fromLocal8Bit(process_.readAllStandardError());
}

long residentKb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// ---- byte level

bool MonitorClient::connectTcp(int port, int timeoutMs) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket->waitForConnected(timeoutMs))
        return false;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    device_ = std::move(socket);
    return true;
}

bool MonitorClient::openDevice(const QString& path) {
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite))
        return false;
    port->setBaudRate(115200);
    device_ = std::move(port);
    return true;
}

void MonitorClient::close() {
    if (auto* socket = qobject_cast<QTcpSocket*>(device_.get())) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(2000);
    }
    if (device_)
        device_->close();
}

bool MonitorClient::fill(int timeoutMs) {
    if (!device_)
        return false;
    if (device_->bytesAvailable() == 0) {
        if (auto* socket = qobject_cast<QTcpSocket*>(device_.get()))
            if (socket->state() != QAbstractSocket::ConnectedState)
                return false;
        if (!device_->waitForReadyRead(timeoutMs) && device_->bytesAvailable() == 0)
            return false;
    }
    const QByteArray data = device_->readAll();
    input_.insert(input_.end(), data.begin(), data.end());
    received_ += size_t(data.size());
    return !data.isEmpty();
}

int MonitorClient::readByte(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (input_.empty()) {
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0 || (!fill(left) && timer.elapsed() >= timeoutMs))
            return -1;
        if (auto* socket = qobject_cast<QTcpSocket*>(device_.get()))
            if (input_.empty() && socket->state() != QAbstractSocket::ConnectedState)
                return -1;
    }
    const uint8_t b = input_.front();
    input_.pop_front();
    return b;
}

bool MonitorClient::read(ByteVec& out, size_t count, int timeoutMs) {
    out.clear();
    QElapsedTimer timer;
    timer.start();
    while (out.size() < count) {
        const int b = readByte(std::max(1, timeoutMs - int(timer.elapsed())));
        if (b < 0)
            return false;
        out.push_back(uint8_t(b));
    }
    return true;
}

void MonitorClient::write(const ByteVec& bytes) {
    device_->write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    QElapsedTimer timer;
    timer.start();
    while (device_->bytesToWrite() > 0 && timer.elapsed() < 5000)
        device_->waitForBytesWritten(100);
}

void MonitorClient::flushInput() {
    fill(0);
    input_.clear();
}

bool MonitorClient::peerClosed(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    auto* socket = qobject_cast<QTcpSocket*>(device_.get());
    while (timer.elapsed() < timeoutMs) {
        input_.clear();
        fill(50);
        if (socket && socket->state() != QAbstractSocket::ConnectedState &&
            socket->bytesAvailable() == 0)
            return true;
    }
    return false;
}

// ---- conversation pieces

bool MonitorClient::wakeUp(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        writeByte('@');
        if (readByte(1000) == '@')
            return true;
    }
    return false;
}

bool MonitorClient::startHandshake(int timeoutMs, bool* controlsOffered, int* firstByte) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int b = readByte(std::max(1, timeoutMs - int(timer.elapsed())));
        if (b < 0)
            return false;
        if (b != 'S')
            continue;
        if (readByte(1000) == 'U')
            break;
    }
    write(ByteVec{'V', 'U'});
    QThread::msleep(100);
    const int x = readByte(50);
    if (controlsOffered)
        *controlsOffered = x == 'X';
    if (firstByte)
        *firstByte = x;
    if (x >= 0 && x != 'X')
        input_.push_front(uint8_t(x));
    return true;
}

uint16_t sum16(const uint8_t* data, size_t count) {
    uint32_t s = 0;
    for (size_t i = 0; i < count; ++i)
        s += data[i];
    return uint16_t(s);
}

static uint16_t nextSeq(uint16_t s) {
    return s == 127 ? 1 : uint16_t(s + 1);
}

static uint16_t lenSum(size_t len) {
    return uint16_t((len & 0xFF) + ((len >> 8) & 0xFF));
}

bool MonitorClient::receiveBlocks(ByteVec& out, int* badBlocks) {
    out.clear();
    for (;;) {
        flushInput();
        writeByte(0x00);
        const int e = readByte(5000);
        if (e < 0)
            return false;
        if (e == 0)
            break;
    }
    ByteVec total;
    if (!read(total, 4, 5000))
        return false;
    int32_t remaining = getI32(total, 0);
    uint16_t seq = 1;
    for (int guard = 0; guard < 100000; ++guard) {
        flushInput();
        writeWord(seq);
        ByteVec w;
        if (!read(w, 2, 5000))
            return false;
        if (getU16(w, 0) != seq)
            continue;
        if (!read(w, 2, 5000))
            return false;
        const size_t len = getU16(w, 0) >> 6;
        if (len == 0)
            break;
        ByteVec data, sum;
        if (!read(data, len, 5000) || !read(sum, 2, 5000))
            return false;
        if (getU16(sum, 0) == uint16_t(lenSum(len) + sum16(data.data(), len))) {
            out.insert(out.end(), data.begin(), data.end());
            seq = nextSeq(seq);
            remaining -= int32_t(len);
        } else if (badBlocks) {
            ++*badBlocks;
        }
        if (remaining < 1)
            break;
    }
    writeWord(seq);
    ByteVec closing;
    return read(closing, 2, 5000);
}

bool MonitorClient::sendBlocks(const ByteVec& data) {
    for (;;) {
        const int e = readByte(5000);
        if (e < 0)
            return false;
        writeByte(uint8_t(e));
        if (e == 0)
            break;
    }
    QThread::msleep(10);
    const uint32_t n = uint32_t(data.size());
    write(ByteVec{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    uint16_t seq = 1, prev = 1;
    size_t position = 0;
    ByteVec block;
    for (;;) {
        ByteVec w;
        if (!read(w, 2, 5000))
            return false;
        const uint16_t request = getU16(w, 0);
        writeWord(request);
        if (request == seq) {
            if (position >= data.size())
                return true;
            const size_t len = std::min<size_t>(528, data.size() - position);
            block.assign(data.begin() + long(position), data.begin() + long(position + len));
            position += len;
            prev = seq;
            seq = nextSeq(seq);
        } else if (request != prev) {
            continue;
        }
        writeWord(uint16_t(block.size() << 6));
        write(block);
        writeWord(uint16_t(lenSum(block.size()) + sum16(block.data(), block.size())));
    }
}

int MonitorClient::command(uint8_t code) {
    flushInput();
    bool synced = false;
    for (int i = 0; i < 82 && !synced; ++i) {
        writeByte('@');
        synced = readByte(2000) == '@';
    }
    if (!synced)
        return -1;
    int reply = -1;
    for (int attempt = 0; attempt < 6; ++attempt) {
        flushInput();
        writeByte(code);
        QThread::msleep(10);
        writeByte(uint8_t(code ^ 0xFF));
        reply = readByte(2000);
        if (reply != 0xFF && reply != -1)
            break;
    }
    return reply;
}

bool MonitorClient::waitPrompt(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    int last = -1;
    for (;;) {
        const int b = readByte(std::max(1, timeoutMs - int(timer.elapsed())));
        if (b < 0)
            return false;
        if (last == ':' && b == '>')
            return true;
        last = b;
    }
}

// ---- little-endian reads

uint16_t getU16(const ByteVec& d, size_t off) {
    return uint16_t(d.at(off) | (d.at(off + 1) << 8));
}

int32_t getI32(const ByteVec& d, size_t off) {
    return int32_t(uint32_t(d.at(off)) | (uint32_t(d.at(off + 1)) << 8) |
                   (uint32_t(d.at(off + 2)) << 16) | (uint32_t(d.at(off + 3)) << 24));
}

float getF32(const ByteVec& d, size_t off) {
    const uint32_t u = uint32_t(getI32(d, off));
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

double getF64(const ByteVec& d, size_t off) {
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | d.at(off + size_t(i));
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

// ---- batches

BatchResult readBatch(MonitorClient& client, bool wifi, char mode, int timeoutMs, int expectedIndex,
                      int recordTimeoutMs) {
    BatchResult r;
    int c;
    do {
        c = client.readByte(timeoutMs);
        if (c < 0)
            return r; // Closed
    } while (c != '#' && c != '$');
    if (c == '$') {
        r.kind = BatchResult::End;
        return r;
    }
    ByteVec head;
    if (!client.read(head, 4, timeoutMs))
        return r;
    r.firstIndex = getI32(head, 0);
    if (r.firstIndex < expectedIndex) {
        // What the monitor does with a bad announcement: drop what came.
        client.flushInput();
        r.kind = BatchResult::Discarded;
        return r;
    }
    const int count = client.readByte(std::min(timeoutMs, 1000));
    if (count < 1 || count > 20) {
        client.flushInput();
        r.kind = BatchResult::Discarded;
        r.count = count;
        return r;
    }
    r.count = count;
    const size_t size = mode == 'R' ? 4 : (wifi ? 4096 : 260);
    const bool checked = mode != 'R';
    const bool ack = checked && (wifi || mode == 'C');
    for (int slot = 0; slot < count; ++slot) {
        for (int attempt = 1; attempt <= 3; ++attempt) {
            ByteVec rec;
            const bool dropShort = recordTimeoutMs > 0 && !wifi;
            if (!client.read(rec, size + (checked ? 2 : 0),
                             dropShort ? recordTimeoutMs : timeoutMs)) {
                if (!dropShort)
                    return r;
                client.flushInput();
                ++r.shortRecords;
                break;
            }
            bool good = true;
            if (checked) {
                good = getU16(rec, size) == sum16(rec.data(), size);
                rec.resize(size);
            }
            if (ack) {
                client.writeByte(good ? 'U' : 'X');
                if (!good)
                    ++r.refusals;
            }
            if (good) {
                r.records.push_back(ReceivedRecord{r.firstIndex + slot, slot, rec});
                break;
            }
            if (!ack)
                break;
        }
    }
    r.kind = BatchResult::Batch;
    return r;
}

// ---- truth file

int TruthTable::column(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name)
            return int(i);
    return -1;
}

double TruthTable::number(size_t row, const std::string& name) const {
    return std::stod(text(row, name));
}

std::string TruthTable::text(size_t row, const std::string& name) const {
    const int c = column(name);
    if (c < 0 || size_t(c) >= rows.at(row).cells.size())
        return std::string();
    return rows.at(row).cells[size_t(c)];
}

TruthTable readTruth(const QString& path) {
    TruthTable t;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return t;
    bool first = true;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        std::vector<std::string> cells;
        for (const QString& c : line.split(QLatin1Char(','), Qt::KeepEmptyParts))
            cells.push_back(c.toStdString());
        if (first)
            t.columns = cells;
        else
            t.rows.push_back(TruthRow{cells});
        first = false;
    }
    return t;
}

} // namespace emutest
