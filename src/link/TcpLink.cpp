#include "link/TcpLink.h"

#include <QAbstractSocket>
#include <QString>
#include <QTcpSocket>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr int kReadByteTimeoutMs = 300000;
constexpr int kReadBufferTimeoutMs = 600000;
constexpr int kEscapeCommand = 27;
constexpr int kIdentityEscapePoll = 21;
// Longest a read loop sleeps in the socket between two pumps, so that a
// wait neither spins the processor nor delays the window noticeably.
constexpr int kIdleSliceMs = 2;

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = uint16_t(value);
    return true;
}

} // namespace

IpEndpoint ParseIpAddress(const std::string& address) {
    IpEndpoint ep;
    std::string a = Trimmed(address);
    if (a.empty())
        a = kAccessPointAddress;
    if (a.front() == '[') {
        const size_t close = a.find(']');
        if (close != std::string::npos) {
            ep.host = a.substr(1, close - 1);
            const std::string rest = a.substr(close + 1);
            if (rest.size() > 1 && rest[0] == ':')
                ParsePort(rest.substr(1), ep.port);
            return ep;
        }
    }
    // Exactly one colon: host and port. More than one: an IPv6 literal.
    const size_t colon = a.find(':');
    if (colon != std::string::npos && colon == a.rfind(':')) {
        uint16_t port = 0;
        if (ParsePort(a.substr(colon + 1), port)) {
            ep.host = a.substr(0, colon);
            ep.port = port;
            return ep;
        }
    }
    ep.host = a;
    return ep;
}

TcpLink::TcpLink() : socket_(std::make_unique<QTcpSocket>()) {
    // The socket's own events drive the state; the socket is the context
    // object, so nothing fires once it is gone.
    QObject::connect(socket_.get(), &QAbstractSocket::connected, socket_.get(),
                     [this] { state_ = kConnectionWiConnect; });
    QObject::connect(socket_.get(), &QAbstractSocket::disconnected, socket_.get(),
                     [this] { state_ = kLinkFailed; });
    QObject::connect(socket_.get(), &QAbstractSocket::errorOccurred, socket_.get(),
                     [this](QAbstractSocket::SocketError error) {
                         // A poll that found nothing to read reports a
                         // time-out; that is not a failure of the link.
                         if (error != QAbstractSocket::SocketTimeoutError)
                             state_ = kLinkFailed;
                     });
}

TcpLink::~TcpLink() {
    socket_->disconnect();
    state_ = kLinkClosed;
    Shutdown(100);
    PumpMessages();
    ActiveUiHooks().SleepMs(200);
}

void TcpLink::Shutdown(int lingerMs) {
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        return;
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        // Let what is queued leave before the connection goes.
        socket_->flush();
        socket_->disconnectFromHost();
        if (socket_->state() != QAbstractSocket::UnconnectedState)
            socket_->waitForDisconnected(lingerMs);
    }
    socket_->abort();
}

void TcpLink::Service(int waitMs) {
    if (socket_->state() != QAbstractSocket::ConnectedState)
        return;
    // Reads what has arrived, writes what is queued; events (a disconnect
    // above all) fire from inside this call.
    socket_->waitForReadyRead(waitMs);
}

bool TcpLink::Readable() {
    // When the peer hangs up, what it sent before is still the instrument's
    // data (its last batch and its '$'): it stays readable until consumed.
    return IsOpen() || (state_ == kLinkFailed && socket_->bytesAvailable() > 0);
}

int64_t TcpLink::Available(int64_t wanted) {
    int64_t n = socket_->bytesAvailable();
    if (n < wanted) {
        Service(0);
        n = socket_->bytesAvailable();
    }
    return n;
}

int TcpLink::WriteBuffer(const uint8_t* data, int count) {
    if (!IsOpen())
        return -1;
    if (count <= 0)
        return 0;
    const qint64 written = socket_->write(reinterpret_cast<const char*>(data), count);
    socket_->flush();
    if (written != count) {
        if (IsOpen())
            throw LinkError("Port err. put IP");
        return -1;
    }
    return int(written);
}

int TcpLink::PutByte(uint8_t b) {
    if (!IsOpen())
        return -1;
    const char c = char(b);
    const qint64 written = socket_->write(&c, 1);
    socket_->flush();
    return written == 1 ? 1 : -1;
}

void TcpLink::WriteByte(uint8_t b) {
    if (PutByte(b) > 0)
        return;
    // A write on a link that is already down is dropped quietly: the
    // reads that follow report the lost link.
    if (IsOpen())
        throw LinkError("Port err. put IP");
}

int TcpLink::ReadByteTimed(int timeoutMs) {
    if (!Readable())
        return -1;
    const int64_t start = ActiveUiHooks().TickMs();
    while (Available(1) < 1) {
        PumpMessages();
        if (!IsOpen())
            break;
        if (ActiveUiHooks().TickMs() - start > timeoutMs)
            return -1;
        Service(kIdleSliceMs);
    }
    // After a disconnect only bytes already received count; none means
    // no byte, never a made-up 0.
    char c = 0;
    if (socket_->bytesAvailable() < 1 || socket_->read(&c, 1) != 1)
        return -1;
    return uint8_t(c);
}

int TcpLink::ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    if (!Readable())
        return -1;
    if (count <= 0)
        return 0;
    const int64_t start = ActiveUiHooks().TickMs();
    while (Available(count) < count) {
        PumpMessages();
        if (!IsOpen() || ActiveUiHooks().TickMs() - start > timeoutMs)
            break;
        Service(kIdleSliceMs);
    }
    const qint64 n = std::min<qint64>(socket_->bytesAvailable(), count);
    if (n <= 0)
        return 0;
    return int(socket_->read(reinterpret_cast<char*>(buf), n));
}

int TcpLink::ReadByte() {
    const int b = ReadByteTimed(kReadByteTimeoutMs);
    if (b >= 0)
        return b;
    if (!IsOpen())
        return -1;
    throw LinkError("Port err. get IP");
}

void TcpLink::ReadBuffer(uint8_t* buf, int count) {
    const int got = std::max(0, ReadBufferTimed(buf, count, kReadBufferTimeoutMs));
    if (got < count) {
        // A short buffer would hand stale bytes to the protocol as data.
        std::memset(buf + got, 0, size_t(count - got));
        throw LinkError("Port err. get IP");
    }
}

int TcpLink::PollByte() {
    if (!Readable())
        return -1;
    char c = 0;
    if (Available(1) < 1 || socket_->read(&c, 1) != 1)
        return -1;
    return uint8_t(c);
}

int TcpLink::InputCount() {
    if (!IsOpen())
        return Readable() ? int(std::min<int64_t>(socket_->bytesAvailable(), INT32_MAX)) : -1;
    int64_t n = Available(1);
    if (n == 0) {
        // Callers poll this in a loop with a pump: a short wait in the
        // socket keeps that loop from spinning.
        Service(kIdleSliceMs);
        if (!IsOpen())
            return -1;
        n = socket_->bytesAvailable();
    }
    return int(std::min<int64_t>(n, INT32_MAX));
}

int TcpLink::OutputCount() {
    return IsOpen() ? 0 : -1;
}

void TcpLink::FlushInput() {
    while (IsOpen() && InputCount() > 0) {
        PollByte();
        PumpMessages();
    }
}

int TcpLink::GetPortNumber() {
    return endpoint_.port;
}

void TcpLink::Close() {
    if (!IsOpen())
        return;
    Shutdown(100);
    state_ = kLinkClosed;
    PumpMessages();
    ActiveUiHooks().SleepMs(500);
}

bool TcpLink::ConnectOnce() {
    socket_->connectToHost(QString::fromStdString(endpoint_.host), endpoint_.port);
    const int64_t start = ActiveUiHooks().TickMs();
    while (socket_->state() != QAbstractSocket::ConnectedState) {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            break; // refused, unreachable or an unknown host
        if (socket_->waitForConnected(20))
            break;
        PumpMessages();
        if (ActiveUiHooks().TickMs() - start > kTcpConnectTimeoutMs)
            break;
    }
    return state_ == kConnectionWiConnect;
}

int TcpLink::Open(int connection, int, const std::string& address, bool, const std::string&, int) {
    const std::string shown = address.empty() ? std::string(kAccessPointAddress) : address;
    endpoint_ = ParseIpAddress(shown);
    addressText_ = shown;
    Shutdown(100);

    if (connection == kConnectionWiConnect) {
        if (!ActiveUiHooks().Confirm(
                "connect to " + shown,
                "Connect WiConnect on VARMEX/KELDO \nthen press < OK > button")) {
            state_ = kLinkFailed;
            return 0;
        }
    }

    state_ = kLinkClosed;
    int failures = 0;
    while (state_ != kConnectionWiConnect) {
        if (ConnectOnce())
            break;
        socket_->abort();
        state_ = kLinkClosed;
        PumpMessages();
        ActiveUiHooks().SleepMs(kTcpRetryPauseMs);
        if (++failures >= kTcpConnectAttempts) {
            ActiveUiHooks().ShowMessage("Unable to connect to " + shown);
            addressText_ = kNotConnectedText;
            return 0;
        }
    }
    // The exchanges are short requests answered at once; waiting to merge
    // small writes (Nagle) would stall every block for a delayed ack.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    state_ = connection;
    return state_;
}

bool TcpLink::ReadIdentity(std::string& second, std::string& first) {
    first.clear();
    second.clear();
    try {
        int poll = 0;
        for (;;) {
            if (!IsOpen())
                throw LinkError(ReadErrorText());
            if (++poll == kIdentityEscapePoll) {
                // No answer for a while: leave whatever mode the
                // instrument is in, then start polling again.
                ActiveUiHooks().SleepMs(100);
                if (!SendCommand(kEscapeCommand, 2000))
                    return false;
                ActiveUiHooks().SleepMs(1000);
                poll = 1;
            }
            while (InputCount() > 0)
                ReadByteTimed(100);
            WriteByte('@');
            ActiveUiHooks().SleepMs(100);
            if (ReadByteTimed(2000) == '@')
                break;
        }
        if (!ReadLine(first, 40, 15000) || !ReadLine(second, 40, 15000))
            return false;
        first = endpoint_.host;
        return true;
    } catch (const LinkError&) {
        ActiveUiHooks().ShowMessage("Unknown Baudrate");
        return false;
    }
}
