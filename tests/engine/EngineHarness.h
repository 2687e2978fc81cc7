#pragma once
// Drives the acquisition engine against a scripted wired instrument on a
// fake link, with a protocol stand-in that hands over a known header and
// sequence sets, and a view that records everything it is told.
#include "FakeLink.h"
#include "TestSupport.h"
#include "engine/SessionEngine.h"
#include "files/AcquisitionFiles.h"

#include <cstring>
#include <map>
#include <vector>

// Every record of a ".bin" file, in order; empty when it cannot be read.
inline std::vector<MeasureRecord> ReadBin(const std::string& path) {
    std::vector<MeasureRecord> out;
    BinFileReader reader;
    if (!reader.Open(path).ok)
        return out;
    MeasureRecord r;
    while (reader.Next(r))
        out.push_back(r);
    return out;
}

class RecordingView : public SessionView {
public:
    std::string status;
    std::string hint;
    std::vector<std::string> statuses;
    std::vector<std::string> errors;
    std::vector<BatchInfo> batches;
    std::vector<int> results;
    std::string estimate;
    std::string quadripoleText;
    std::vector<float> distributionValues;
    std::map<RunButton, bool> visible;
    std::map<RunButton, bool> enabled;
    bool timerEnabled = false;
    std::function<void(const BatchInfo&)> onBatch;

    void SetStatus(const std::string& caption) override {
        status = caption;
        statuses.push_back(caption);
    }
    std::string Status() const override { return status; }
    void SetStatusHint(const std::string& h) override { hint = h; }
    void SetReceiving(bool) override {}
    void SetButtonVisible(RunButton id, bool on) override { visible[id] = on; }
    void SetButtonEnabled(RunButton id, bool on) override { enabled[id] = on; }
    void SetQuadripoleText(const std::string& t) override { quadripoleText = t; }
    void SetEstimatedTime(const std::string& t) override { estimate = t; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    bool AskOkCancel(const std::string&, const std::string&) override { return true; }
    bool AskText(const std::string&, const std::string&, std::string&) override { return true; }
    std::string ChooseRecordedFile(const std::string&, const std::string&) override { return {}; }
    void SetSessionTimerEnabled(bool on) override { timerEnabled = on; }
    bool SessionTimerEnabled() const override { return timerEnabled; }
    void AddDistributionValue(float rho) override { distributionValues.push_back(rho); }
    void BatchCompleted(const BatchInfo& info) override {
        batches.push_back(info);
        if (onBatch)
            onBatch(info);
    }
    void RunFinished(int result) override { results.push_back(result); }
};

// Hands over a prepared header and sets; files through the real writers.
class FakeProtocol : public ProtocolGeneration {
public:
    FakeProtocol(Instrument& device, const AcquisitionHeader& header)
        : device_(device), header_(header) {}
    int32_t ReadHeader(AcquisitionHeader& h) override {
        h = header_;
        return int32_t(AcquisitionHeader::kSize);
    }
    int32_t ReadSequenceSets() override {
        device_.nodes[0] = {kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate, 0};
        for (int i = 1; i <= 48; ++i)
            device_.nodes[i] = {float(i - 1), 0.0f, 0.0f, i};
        const int count = int(header_.SequenceLength());
        for (int q = 0; q < count && q < kMaxQuadripoles; ++q)
            device_.quadripoles[q] = {1 + q % 10, 2 + q % 10, 3 + q % 10, 4 + q % 10, 0};
        return count;
    }
    void CreateDataFile(const std::string& name, const std::string& comment) override {
        if (FileStatus s = CreateBinFile(name, comment); !s)
            throw FileError(s.message);
    }
    void AppendRecords(const std::string& name, int32_t count, int32_t,
                       MeasureRecord* records) override {
        if (FileStatus s = AppendMeasureRecords(name, records, count); !s)
            throw FileError(s.message);
    }

private:
    Instrument& device_;
    AcquisitionHeader header_;
};

// A wired instrument: Start handshake, identity, then batches paced by the
// computer's idle polls, with the operator byte codes answered.
struct WiredScript {
    struct Batch {
        int32_t first = 0;
        int count = 1;
        int declaredCount = -1;       // what the count byte says (-1: count)
        std::map<int, int> badCopies; // record -> copies with a wrong check word
        int shortRecord = -1;         // record that arrives short
    };

    FakeLink& link;
    std::vector<Batch> batches;
    bool controls = true;
    bool endMarker = true;
    int idlePolls = 0;                // empty polls between batches
    int dropAfter = -1;               // close the link after this many batches
    bool closeAfterStart = false;     // close the link instead of the identity
    bool identityAtOnce = false;      // without controls: the identity right after "VU"
    int closeAfterBatch = -1;         // close the link right after this batch's last record
    bool resumeAfterEarlyEnd = false; // the next batch right after an early '$'
    int resumeByItselfAfter = -1;     // a pause ends by itself after this many polls
    int earlyEndAfter = -1;
    bool batchBeforeStopEcho = false;

    std::vector<uint8_t> acks; // 'U'/'X' received
    std::vector<uint8_t> controlBytes;
    char mode = 0;

    enum State { WaitV, WaitU2, WaitMode, Streaming, Paused, Finished } state = WaitV;
    size_t batchIndex = 0;
    int record = 0;
    int copiesSent = 0;
    bool waitingAck = false;
    bool inBatch = false;
    int idleLeft = 0;
    bool identityPending = false;
    bool stopEchoed = false;
    bool pauseEchoed = false;
    bool resetEchoed = false;
    bool endSent = false;
    int gapPolls = 0;
    int identityPolls = 0;

    explicit WiredScript(FakeLink& l) : link(l) {}

    static float RhoOf(int32_t index) { return 100.0f + float(index) * 0.5f; }

    bool startSent = false;

    void Start() {
        link.instrument = [this](uint8_t b) { OnByte(b); };
        link.onStarved = [this] { OnStarved(); };
    }

    void SendIdentity() { link.Answer({1, 2, 3, 4, 'L', 'I', 'N', 'E', '1', 0, 0, 0, 0, 0, 0}); }

    void SendRecord() {
        const Batch& b = batches[batchIndex];
        const int32_t index = b.first + record;
        uint8_t r[262] = {};
        r[0] = uint8_t(record & 0x0F);
        r[2] = uint8_t(index);
        r[3] = uint8_t(index >> 8);
        const float rho = RhoOf(index);
        std::memcpy(r + 132, &rho, 4);
        uint16_t sum = 0;
        for (int i = 0; i < 260; ++i)
            sum = uint16_t(sum + r[i]);
        auto bad = b.badCopies.find(record);
        if (bad != b.badCopies.end() && copiesSent < bad->second)
            sum = uint16_t(sum + 1);
        r[260] = uint8_t(sum);
        r[261] = uint8_t(sum >> 8);
        ++copiesSent;
        if (record == b.shortRecord) {
            // A cut record, then silence until the monitor has given up on it.
            link.Answer(std::vector<uint8_t>(r, r + 100));
            gapPolls = 101;
        } else {
            link.Answer(std::vector<uint8_t>(r, r + 262));
        }
        waitingAck = mode == 'C' && record != b.shortRecord;
    }

    void NextRecord() {
        ++record;
        copiesSent = 0;
        const Batch& b = batches[batchIndex];
        if (record >= b.count) {
            inBatch = false;
            ++batchIndex;
            idleLeft = idlePolls;
            if (int(batchIndex) == closeAfterBatch + 1)
                link.Close();
            return;
        }
        SendRecord();
        if (!waitingAck && gapPolls == 0)
            NextRecord();
    }

    void SendBatch() {
        const Batch& b = batches[batchIndex];
        const int declared = b.declaredCount >= 0 ? b.declaredCount : b.count;
        link.Answer({'#', uint8_t(b.first), uint8_t(b.first >> 8), uint8_t(b.first >> 16),
                     uint8_t(b.first >> 24), uint8_t(declared)});
        if (declared < 1 || declared > 20) {
            ++batchIndex;
            idleLeft = idlePolls;
            return;
        }
        inBatch = true;
        record = 0;
        copiesSent = 0;
        SendRecord();
        if (!waitingAck && gapPolls == 0)
            NextRecord();
    }

    void OnStarved() {
        if (state == WaitV && !startSent) {
            // The operator presses Start once the monitor listens.
            link.Answer({'S', 'U'});
            startSent = true;
            return;
        }
        if (state == Paused && resumeByItselfAfter >= 0 && --resumeByItselfAfter < 0) {
            // The instrument ends the pause on its own and goes on.
            state = Streaming;
            if (batchIndex < batches.size())
                SendBatch();
            return;
        }
        if (gapPolls > 0) {
            if (--gapPolls == 0)
                NextRecord();
            return;
        }
        if (identityPending) {
            // Held back past the monitor's wait for 'X'.
            if (++identityPolls < 2)
                return;
            identityPending = false;
            SendIdentity();
            return;
        }
        if (state != Streaming || waitingAck || inBatch)
            return;
        if (idleLeft > 0) {
            --idleLeft;
            return;
        }
        if (dropAfter >= 0 && int(batchIndex) >= dropAfter) {
            link.Close();
            return;
        }
        if (earlyEndAfter >= 0 && int(batchIndex) == earlyEndAfter && !endSent) {
            // The operator stopped the sequence on the instrument.
            link.Answer('$');
            if (resumeAfterEarlyEnd && batchIndex < batches.size()) {
                // ... and went on at once: the next batch follows the '$'.
                earlyEndAfter = -1;
                SendBatch();
                return;
            }
            endSent = true;
            state = Finished;
            return;
        }
        if (batchIndex < batches.size()) {
            SendBatch();
        } else if (endMarker && !endSent) {
            link.Answer('$');
            endSent = true;
        }
    }

    void OnByte(uint8_t b) {
        switch (state) {
        case WaitV:
            if (b == 'V')
                state = WaitU2;
            return;
        case WaitU2:
            if (b == 'U') {
                if (closeAfterStart) {
                    link.Close();
                } else if (controls) {
                    link.Answer('X');
                    SendIdentity();
                } else if (identityAtOnce) {
                    SendIdentity();
                } else {
                    identityPending = true;
                }
                state = WaitMode;
            }
            return;
        case WaitMode:
            mode = char(b);
            state = Streaming;
            idleLeft = idlePolls;
            return;
        case Paused:
            controlBytes.push_back(b);
            if (b == 'Z')
                state = Streaming;
            return;
        case Finished:
            return;
        case Streaming:
            break;
        }
        if (waitingAck && (b == 'U' || b == 'X')) {
            acks.push_back(b);
            waitingAck = false;
            // The monitor gives up after its third 'X': so does the instrument.
            if (b == 'X' && copiesSent < 3)
                SendRecord();
            else
                NextRecord();
            return;
        }
        controlBytes.push_back(b);
        if (b == 0xA5) {
            if (!stopEchoed) {
                // An instrument that had already begun its next batch
                // finishes it before it echoes.
                if (batchBeforeStopEcho && batchIndex < batches.size())
                    SendBatch();
                link.Answer(0xA5);
                stopEchoed = true;
            } else {
                link.Answer('$');
                endSent = true;
                state = Finished;
            }
        } else if (b == 'Z') {
            if (!pauseEchoed) {
                link.Answer('Z');
                pauseEchoed = true;
            } else {
                state = Paused;
                pauseEchoed = false;
            }
        } else if (b == 0xAA) {
            if (!resetEchoed) {
                link.Answer(0xAA);
                resetEchoed = true;
            } else {
                resetEchoed = false;
            }
        }
    }
};

// One engine with its view, settings, fake link and script.
struct EngineRig {
    ScopedFakeHooks fake;
    testsupport::TempRoot root;
    RecordingView view;
    Settings settings;
    SessionEngine engine{view, settings};
    FakeLink* link = nullptr;
    std::unique_ptr<WiredScript> script;
    AcquisitionHeader header{};

    explicit EngineRig(int quadripoles, int channels = 4) {
        // A script that stalls fails its test instead of hanging it.
        fake.hooks.onLimit = [this] {
            if (link)
                link->Close();
        };
        settings.connectionCode = 3;
        header.channelCount = channels;
        header.firstQuadripole = 0;
        header.lastQuadripole = quadripoles - 1;
        header.nodeCount = 48;
        header.firstNode = 1;
        header.lastNode = 48;
        engine.maxRuns = 1;
        engine.linkFactory = [this](int) {
            auto l = std::make_unique<FakeLink>();
            l->Close();
            link = l.get();
            script = std::make_unique<WiredScript>(*l);
            if (prepare)
                prepare(*script);
            script->Start();
            return l;
        };
        engine.protocolFactory = [this](int, Instrument& d, Link&) {
            return std::make_unique<FakeProtocol>(d, header);
        };
    }

    std::function<void(WiredScript&)> prepare;

    // Batches of `channels` records covering the whole sequence.
    static std::vector<WiredScript::Batch> Regular(int quadripoles, int channels) {
        std::vector<WiredScript::Batch> out;
        for (int first = 0; first < quadripoles; first += channels) {
            WiredScript::Batch b;
            b.first = first;
            b.count = std::min(channels, quadripoles - first);
            out.push_back(b);
        }
        return out;
    }

    int Run() {
        engine.OnSessionTimer();
        return engine.lastResult;
    }
};
