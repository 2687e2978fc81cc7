// The links against the instrument emulator, an implementation of the wire
// exchanges written apart from ours: commands with block transfers both ways
// (with checksum errors thrown in) and the Start handshake, over TCP/IP and,
// where the system has them, over a pseudo-terminal.
#include "LivePeer.h"
#include "link/SerialLink.h"
#include "link/TcpLink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

namespace {

// TCP/IP (true) everywhere; the serial link where the emulator can offer it
// on a pseudo-terminal.
std::vector<bool> Transports() {
#ifdef PYLORIX_TEST_HAVE_PTY
    return {true, false};
#else
    return {true};
#endif
}

class Emulator {
public:
    // The emulator on a free loopback port (tcp) or a new pseudo-terminal;
    // Where() is its port or device path.
    Emulator(bool tcp, QStringList args) {
        args << (tcp ? QStringList{"--listen", "127.0.0.1:0"} : QStringList{"--pty"}) << "--quiet"
             << "--seed"
             << "7"
             << "--idle-timeout"
             << "20000";
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(VARMEX_EMULATOR_PATH), args);
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine() && t.elapsed() < 10000)
            process_.waitForReadyRead(100);
        where_ = process_.readLine().trimmed().toStdString();
    }
    ~Emulator() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    const std::string& Where() const { return where_; }

    std::unique_ptr<Link> OpenLink(bool tcp) {
        if (tcp) {
            auto link = std::make_unique<TcpLink>();
            if (link->Open(kConnectionWiConnect, 273000, "127.0.0.1:" + where_, false, "", 0) <= 0)
                return nullptr;
            return link;
        }
        auto link = std::make_unique<SerialLink>(where_);
        return link->Open(3, 115200, "", false, "", 0) > 0 ? std::move(link) : nullptr;
    }

private:
    QProcess process_;
    std::string where_;
};

} // namespace

TEST(EmulatorLink, CommandsWithBlockTransfersBothWays) {
    for (bool tcp : Transports()) {
        SCOPED_TRACE(tcp ? "TCP/IP" : "serial");
        ScopedLiveHooks live;
        Emulator emulator(tcp, {"--repeat", "0", "--corrupt-blocks", "0.2"});
        ASSERT_FALSE(emulator.Where().empty());
        auto link = emulator.OpenLink(tcp);
        ASSERT_TRUE(link);

        // Parameters down, changed, up, and down again.
        std::vector<uint8_t> params(65536);
        ASSERT_TRUE(link->SendCommand(28, 2000));
        const int n = link->ReceiveBlocks(params.data(), params.size(), nullptr, nullptr);
        ASSERT_GT(n, 0);
        EXPECT_TRUE(link->WaitPrompt());
        params.resize(size_t(n));
        for (size_t i = 100; i < params.size(); i += 7)
            params[i] ^= 0x5A;
        ASSERT_TRUE(link->SendCommand(29, 2000));
        link->SendBlocks(params.data(), n, nullptr, nullptr);
        EXPECT_TRUE(link->WaitPrompt());
        std::vector<uint8_t> again(65536);
        ASSERT_TRUE(link->SendCommand(28, 2000));
        EXPECT_EQ(link->ReceiveBlocks(again.data(), again.size(), nullptr, nullptr), n);
        again.resize(size_t(n));
        EXPECT_TRUE(again == params);
        EXPECT_TRUE(link->WaitPrompt());

        // Battery and temperature: three floats, then the prompt.
        ASSERT_TRUE(link->SendCommand(45, 2000));
        uint8_t three[12];
        link->ReadBuffer(three, 12);
        EXPECT_TRUE(link->WaitPrompt());
        link->Close();
    }
}

TEST(EmulatorLink, StartHandshake) {
    for (bool tcp : Transports()) {
        SCOPED_TRACE(tcp ? "TCP/IP" : "serial");
        ScopedLiveHooks live;
        Emulator emulator(tcp, {"--start-delay-ms", "200"});
        auto link = emulator.OpenLink(tcp);
        ASSERT_TRUE(link);
        QElapsedTimer t;
        t.start();
        bool started = false;
        while (!started && t.elapsed() < 15000)
            started = link->ReadByteTimed(100) == 'S' && link->ReadByteTimed(100) == 'U';
        ASSERT_TRUE(started);
        link->WriteBuffer(reinterpret_cast<const uint8_t*>("VU"), 2);
        EXPECT_EQ(link->ReadByteTimed(2000), 'X'); // Stop and Pause are offered
        link->Close();
    }
}
