#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace e2e {

namespace {

// The cells of every line of a CSV file after its header line.
std::vector<std::vector<std::string>> ReadCsvRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string>& f = rows.emplace_back();
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ','))
            f.push_back(cell);
    }
    return rows;
}

} // namespace

std::vector<TruthRow> ReadTruth(const std::string& path) {
    std::vector<TruthRow> rows;
    for (const std::vector<std::string>& f : ReadCsvRows(path)) {
        if (f.size() < 25)
            continue;
        TruthRow r;
        r.acquisition = std::stoi(f[0]);
        r.index = std::stoi(f[1]);
        r.channel = std::stoi(f[2]);
        r.attempt = std::stoi(f[3]);
        for (int e = 0; e < 4; ++e) {
            r.node[e] = std::stoi(f[4 + size_t(e)]);
            r.x[e] = std::stof(f[8 + 3 * size_t(e)]);
            r.y[e] = std::stof(f[9 + 3 * size_t(e)]);
            r.z[e] = std::stof(f[10 + 3 * size_t(e)]);
        }
        r.rho = std::stof(f[20]);
        r.damaged = f[24] == "1";
        r.fault = f.size() > 25 ? f[25] : "";
        if (f.size() > 28) {
            r.q = std::stof(f[26]);
            r.extra[0] = std::stof(f[27]);
            r.extra[1] = std::stof(f[28]);
        }
        rows.push_back(r);
    }
    return rows;
}

std::vector<EventRow> ReadEvents(const std::string& path) {
    std::vector<EventRow> rows;
    for (const std::vector<std::string>& f : ReadCsvRows(path)) {
        if (f.size() == 3)
            rows.push_back(EventRow{std::stoi(f[0]), std::stoi(f[1]), f[2]});
    }
    return rows;
}

int CountEvents(const std::vector<EventRow>& events, const std::string& event, int acquisition) {
    int n = 0;
    for (const EventRow& e : events)
        if (e.event == event && (acquisition == 0 || e.acquisition == acquisition))
            ++n;
    return n;
}

Watchdog::Watchdog(qint64 pid, int ms) : pid_(pid) {
    thread_ = std::thread([this, ms] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return disarmed_; })) {
            fired_ = true;
            ::kill(pid_t(pid_), SIGKILL);
        }
    });
}

Watchdog::~Watchdog() {
    Disarm();
}

void Watchdog::Disarm() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disarmed_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
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
    eventsPath = root.path() + "/events.csv";
    engine.maxRuns = 1;
}

Recording::~Recording() {
    SetUiHooks(nullptr);
}

QStringList Recording::BaseArgs(const QStringList& extra) {
    QStringList args = {"--cycle-ms",       "0",
                        "--start-delay-ms", "100",
                        "--electrodes",     "24",
                        "--levels",         "4",
                        "--seed",           "7",
                        "--truth",          QString::fromStdString(truthPath),
                        "--events",         QString::fromStdString(eventsPath),
                        "--idle-timeout",   "20000"};
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
    // The test's own batch hook still runs, after the file is noted.
    view.onBatch = [this, more = view.onBatch](const BatchInfo& info) {
        if (binFiles.empty() || binFiles.back() != engine.binFileName)
            binFiles.push_back(engine.binFileName);
        if (more)
            more(info);
    };
    engine.OnSessionTimer();
    return engine.lastResult;
}

std::vector<TruthRow> LastCopies(const std::vector<TruthRow>& truth, int acquisition) {
    std::vector<TruthRow> out;
    for (const TruthRow& r : truth) {
        if (r.acquisition != acquisition)
            continue;
        const bool resent = !out.empty() && out.back().index == r.index && r.attempt > 1;
        if (resent)
            out.back() = r;
        else
            out.push_back(r);
    }
    return out;
}

void ExpectStored(const std::vector<MeasureRecord>& records, const std::vector<TruthRow>& sent,
                  double coordsTolerance) {
    ASSERT_EQ(records.size(), sent.size());
    int wrong = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const TruthRow& s = sent[i];
        const MeasureRecord& r = records[i];
        std::string why;
        if (s.damaged) {
            if (Bits(r.rho) != Bits(NoDataValue))
                why = "a damaged record holds rho " + std::to_string(r.rho);
        } else if (Bits(r.rho) != Bits(s.rho)) {
            why = "rho " + std::to_string(r.rho) + " instead of " + std::to_string(s.rho);
        } else if (r.quadripoleIndex != int16_t(uint16_t(uint32_t(s.index)))) {
            why = "quadripole " + std::to_string(r.quadripoleIndex);
        } else if (coordsTolerance >= 0.0) {
            for (int e = 0; e < 4 && why.empty(); ++e)
                if (std::fabs(r.x[e] - s.x[e]) > coordsTolerance ||
                    std::fabs(r.y[e] - s.y[e]) > coordsTolerance ||
                    std::fabs(r.z[e] - s.z[e]) > coordsTolerance)
                    why = "electrode " + std::to_string(e) + " at (" + std::to_string(r.x[e]) +
                          ", " + std::to_string(r.y[e]) + ") instead of (" +
                          std::to_string(s.x[e]) + ", " + std::to_string(s.y[e]) + ")";
        }
        if (!why.empty() && ++wrong <= 5)
            ADD_FAILURE() << "record " << i << " (quadripole " << s.index << "): " << why;
    }
    EXPECT_EQ(wrong, 0);
}

std::string ShownText(const Recording& t) {
    std::string all;
    for (const std::string& s : t.hooks.messages)
        all += s + "\n";
    for (const std::string& s : t.view.errors)
        all += s + "\n";
    for (const std::string& s : t.view.statuses)
        all += s + "\n";
    return all;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int64_t WholeRecords(const std::string& path, size_t headerSize, size_t recordSize) {
    std::error_code ec;
    const auto size = int64_t(std::filesystem::file_size(path, ec));
    EXPECT_FALSE(ec) << path;
    EXPECT_EQ((size - int64_t(headerSize)) % int64_t(recordSize), 0) << path << ": " << size;
    return (size - int64_t(headerSize)) / int64_t(recordSize);
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
