#pragma once
// The truth file: one CSV row per record transmission, so that a test can
// compare what the monitor stored with what was actually sent.
#include "InstrumentModel.h"

#include <QString>
#include <cstdio>

namespace varmexemu {

class TruthWriter {
public:
    TruthWriter() = default;
    ~TruthWriter();
    TruthWriter(const TruthWriter&) = delete;
    TruthWriter& operator=(const TruthWriter&) = delete;

    bool open(const QString& path, QString& error);
    bool isOpen() const { return file_ != nullptr; }
    // fault: "" for an intact record, "corrupt" or "short".
    void record(const EmuMeasurement& m, int attempt, const char* fault);
    void flush();

    static const char* header();

private:
    std::FILE* file_ = nullptr;
};

} // namespace varmexemu
