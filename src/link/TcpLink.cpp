#include "link/TcpLink.h"

#include <QAbstractSocket>
#include <QHostAddress>
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
// Longest a wait sleeps before it looks at the clock and the link again;
// input, a click or a disconnect wake it sooner.
constexpr int kWakeSliceMs = 100;

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool ParsePort(const std::string& text, uint16_t& port, std::string& error) {
    if (text.empty()) {
        error = "no port after ':'";
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 65535) {
            error = "port '" + text + "' is not a number from 1 to 65535";
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) {
        error = "port '" + text + "' is not a number from 1 to 65535";
        return false;
    }
    port = uint16_t(value);
    return true;
}

// Letters, digits, '-', '_' and '.' make host names and IPv4 addresses.
bool PlausibleHostName(const std::string& host) {
    if (host.empty() || host.size() > 253)
        return false;
    for (char c : host) {
        const bool ok =
            std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool PlausibleIpv6(const std::string& host) {
    QHostAddress parsed;
    return parsed.setAddress(QString::fromStdString(host)) &&
           parsed.protocol() == QAbstractSocket::IPv6Protocol;
}

// The reason a connection attempt failed, in the user's words.
std::string ConnectFailureText(QAbstractSocket::SocketError error, const QString& detail) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return "connection refused";
    case QAbstractSocket::HostNotFoundError:
        return "host not found";
    case QAbstractSocket::SocketTimeoutError:
        return "timed out";
    case QAbstractSocket::NetworkError:
        return "network unreachable (" + detail.toStdString() + ")";
    default:
        return detail.isEmpty() ? std::string("socket error") : detail.toStdString();
    }
}

} // namespace

bool ParseIpAddress(const std::string& address, IpEndpoint& ep, std::string& error) {
    ep = IpEndpoint{};
    std::string a = Trimmed(address);
    if (a.empty())
        a = kAccessPointAddress;
    if (a.front() == '[') {
        const size_t close = a.find(']');
        if (close == std::string::npos) {
            error = "no ']' after the IPv6 address";
            return false;
        }
        ep.host = a.substr(1, close - 1);
        if (!PlausibleIpv6(ep.host)) {
            error = "'" + ep.host + "' is not an IPv6 address";
            return false;
        }
        const std::string rest = a.substr(close + 1);
        if (rest.empty())
            return true;
        if (rest[0] != ':') {
            error = "unexpected text after ']'";
            return false;
        }
        return ParsePort(rest.substr(1), ep.port, error);
    }
    const size_t colon = a.find(':');
    if (colon != std::string::npos && colon != a.rfind(':')) {
        // More than one colon: a bare IPv6 literal, default port.
        if (!PlausibleIpv6(a)) {
            error = "'" + a + "' is neither host:port nor an IPv6 address";
            return false;
        }
        ep.host = a;
        return true;
    }
    ep.host = a.substr(0, colon);
    if (ep.host.empty()) {
        error = "no host before ':'";
        return false;
    }
    if (!PlausibleHostName(ep.host)) {
        error = "'" + ep.host + "' is not a host name or address";
        return false;
    }
    if (colon != std::string::npos)
        return ParsePort(a.substr(colon + 1), ep.port, error);
    return true;
}

TcpLink::TcpLink() : socket_(std::make_unique<QTcpSocket>()) {
    socket_->setReadBufferSize(kTcpReadBufferLimit);
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

void TcpLink::Service() {
    if (socket_->state() != QAbstractSocket::ConnectedState)
        return;
    // Reads what has arrived, writes what is queued; events (a disconnect
    // above all) fire from inside this call. A full read buffer is left
    // alone: the peer waits until the program has read.
    if (socket_->bytesAvailable() < kTcpReadBufferLimit)
        socket_->waitForReadyRead(0);
}

void TcpLink::AwaitInput(int maxMs) {
    // The socket's notifier is an event: the sleep ends as soon as bytes
    // arrive or the peer goes, and clicks are handled meanwhile.
    ActiveUiHooks().WaitForEvents(maxMs);
}

bool TcpLink::Readable() {
    // When the peer hangs up, what it sent before is still the instrument's
    // data (its last batch and its '$'): it stays readable until consumed.
    return IsOpen() || (state_ == kLinkFailed && socket_->bytesAvailable() > 0);
}

int64_t TcpLink::Available(int64_t wanted) {
    int64_t n = socket_->bytesAvailable();
    if (n < wanted) {
        Service();
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
            Fail("Port err. put IP", "the link refused " + std::to_string(count) + " bytes");
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
        Fail("Port err. put IP", "the link refused a byte");
}

int TcpLink::ReadByteTimed(int timeoutMs) {
    uint8_t b = 0;
    return ReadBufferTimed(&b, 1, timeoutMs) == 1 ? b : -1;
}

int TcpLink::ReadBufferTimed(uint8_t* buf, int count, int timeoutMs) {
    if (!Readable())
        return -1;
    if (count <= 0)
        return 0;
    // Bytes are taken as they come, so that a read larger than the
    // socket's buffer still completes.
    const int64_t start = ActiveUiHooks().TickMs();
    int got = 0;
    for (;;) {
        const int64_t n = std::min<int64_t>(Available(count - got), count - got);
        if (n > 0)
            got += int(std::max<qint64>(0, socket_->read(reinterpret_cast<char*>(buf) + got, n)));
        if (got >= count || !IsOpen())
            break;
        const int64_t left = timeoutMs - (ActiveUiHooks().TickMs() - start);
        if (left < 0)
            break;
        AwaitInput(int(std::min<int64_t>(left + 1, kWakeSliceMs)));
    }
    return got;
}

int TcpLink::ReadByte() {
    const int b = ReadByteTimed(kReadByteTimeoutMs);
    if (b >= 0)
        return b;
    if (!IsOpen()) {
        fault_ = kFaultClosed;
        return -1;
    }
    Fail("Port err. get IP", kFaultTimedOut);
}

void TcpLink::ReadBuffer(uint8_t* buf, int count) {
    const int got = std::max(0, ReadBufferTimed(buf, count, kReadBufferTimeoutMs));
    if (got < count) {
        // A short buffer would hand stale bytes to the protocol as data.
        std::memset(buf + got, 0, size_t(count - got));
        Fail("Port err. get IP", LostOrTimedOut());
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
    const int64_t n = Available(1);
    if (!IsOpen() && n == 0)
        return -1;
    return int(std::min<int64_t>(n, INT32_MAX));
}

int TcpLink::OutputCount() {
    return IsOpen() ? 0 : -1;
}

void TcpLink::FlushInput() {
    // Whole buffers at a time, and no more than what had arrived by now:
    // a peer that floods must not keep the flush going for ever.
    char scrap[4096];
    int64_t budget = 2 * kTcpReadBufferLimit;
    while (budget > 0 && IsOpen() && InputCount() > 0) {
        budget -= std::max<qint64>(0, socket_->read(scrap, sizeof scrap));
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

std::string TcpLink::ConnectOnce() {
    socket_->abort();
    state_ = kLinkClosed;
    socket_->connectToHost(QString::fromStdString(endpoint_.host), endpoint_.port);
    // The attempt runs in the event loop; waiting on the socket with a
    // time-out would abort it at the first time-out (a slow Wi-Fi module
    // needs a second or two for its handshake).
    const int64_t start = ActiveUiHooks().TickMs();
    for (;;) {
        if (socket_->state() == QAbstractSocket::ConnectedState && state_ == kConnectionWiConnect)
            return {};
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            return ConnectFailureText(socket_->error(), socket_->errorString());
        const int64_t left = kTcpConnectTimeoutMs - (ActiveUiHooks().TickMs() - start);
        if (left <= 0)
            return "timed out";
        ActiveUiHooks().WaitForEvents(int(std::min<int64_t>(left, kWakeSliceMs)));
    }
}

int TcpLink::Open(int connection, int, const std::string& address, bool, const std::string&, int) {
    const std::string shown = address.empty() ? std::string(kAccessPointAddress) : address;
    failureReason_.clear();
    failureFinal_ = false;
    addressText_ = shown;
    Shutdown(100);
    auto fail = [&](const std::string& reason) {
        failureReason_ = reason;
        if (showOpenFailures)
            ActiveUiHooks().ShowMessage("Unable to connect to " + shown + ": " + reason);
        addressText_ = kNotConnectedText;
        return 0;
    };

    std::string malformed;
    if (!ParseIpAddress(shown, endpoint_, malformed)) {
        // Trying again cannot help: the user has to correct the address.
        state_ = kLinkClosed;
        failureFinal_ = true;
        return fail("malformed address: " + malformed);
    }

    if (connection == kConnectionWiConnect) {
        if (!ActiveUiHooks().Confirm(
                "connect to " + shown,
                "Connect WiConnect on VARMEX/KELDO \nthen press < OK > button")) {
            state_ = kLinkFailed;
            return 0;
        }
    }

    std::string reason;
    for (int failures = 0;;) {
        reason = ConnectOnce();
        if (reason.empty())
            break;
        socket_->abort();
        state_ = kLinkClosed;
        PumpMessages();
        ActiveUiHooks().SleepMs(kTcpRetryPauseMs);
        if (++failures >= kTcpConnectAttempts)
            return fail(reason);
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
                Fail(ReadErrorText(), kFaultClosed);
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
