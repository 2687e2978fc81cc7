#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace e2e {

std::vector<TruthRow> ReadTruth(const std::string& path) {
    std::vector<TruthRow> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ','))
            f.push_back(cell);
        if (f.size() < 25)
            continue;
        TruthRow r;
        r.acquisition = std::stoi(f[0]);
        r.index = std::stoi(f[1]);
        r.channel = std::stoi(f[2]);
        r.attempt = std::stoi(f[3]);
        r.rho = std::stof(f[20]);
        r.damaged = f[24] == "1";
        r.fault = f.size() > 25 ? f[25] : "";
        rows.push_back(r);
    }
    return rows;
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

Emulator::~Emulator() {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

std::string Emulator::Start(const QStringList& args) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(PYLORIX_EMULATOR, args);
    if (!process.waitForStarted(10000))
        return {};
    QElapsedTimer t;
    t.start();
    while (!process.canReadLine() && t.elapsed() < 10000)
        process.waitForReadyRead(200);
    return process.readLine().trimmed().toStdString();
}

Recording::Recording() {
    SetUiHooks(&hooks);
    truthPath = root.path() + "/truth.csv";
    engine.maxRuns = 1;
}

Recording::~Recording() {
    SetUiHooks(nullptr);
}

QStringList Recording::BaseArgs(const QStringList& extra) {
    QStringList args = {
        "--cycle-ms",     "0",    "--start-delay-ms", "100",
        "--electrodes",   "24",   "--levels",         "4",
        "--seed",         "7",    "--truth",          QString::fromStdString(truthPath),
        "--idle-timeout", "20000"};
    return args + extra;
}

bool Recording::StartTcp(int code, const QStringList& extra) {
    const std::string port = emulator.Start(BaseArgs({"--listen", "127.0.0.1:0"}) + extra);
    if (port.empty())
        return false;
    settings.connectionCode = code;
    settings.ipAddress = "127.0.0.1:" + port;
    engine.linkFactory = [](int c) { return CreateLink(c); };
    return true;
}

bool Recording::StartPty(const QStringList& extra) {
    const std::string device = emulator.Start(BaseArgs({"--pty"}) + extra);
    if (device.empty())
        return false;
    settings.connectionCode = 3;
    engine.linkFactory = [device](int c) {
        LinkOptions o;
        o.serialDevice = device;
        return CreateLink(c, o);
    };
    return true;
}

int Recording::Run() {
    view.onBatch = [this](const BatchInfo&) {
        if (binFiles.empty() || binFiles.back() != engine.binFileName)
            binFiles.push_back(engine.binFileName);
    };
    engine.OnSessionTimer();
    return engine.lastResult;
}

void ExpectMatchesTruth(const std::vector<MeasureRecord>& records,
                        const std::vector<TruthRow>& truth, int acquisition, bool checked,
                        int* recovered, int* unrecoverable) {
    std::map<int, std::vector<TruthRow>> byIndex;
    for (const TruthRow& r : truth)
        if (r.acquisition == acquisition)
            byIndex[r.index].push_back(r);
    ASSERT_FALSE(byIndex.empty());
    int rec = 0;
    int unrec = 0;
    for (const auto& [index, copies] : byIndex) {
        ASSERT_LT(size_t(index), records.size()) << "index " << index;
        const TruthRow& last = copies.back();
        const MeasureRecord& r = records[size_t(index)];
        if (!last.damaged) {
            EXPECT_EQ(Bits(r.rho), Bits(last.rho)) << "index " << index;
            EXPECT_EQ(r.quadripoleIndex, index);
            if (copies.size() > 1)
                ++rec;
        } else {
            EXPECT_EQ(r.rho, NoDataValue) << "index " << index;
            ++unrec;
        }
        (void)checked;
    }
    if (recovered)
        *recovered = rec;
    if (unrecoverable)
        *unrecoverable = unrec;
}

} // namespace e2e
