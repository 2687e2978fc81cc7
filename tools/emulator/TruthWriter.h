#pragma once
// The truth file: one CSV row per record transmission, so that a test can
// compare what the monitor stored with what was actually sent.
#include "InstrumentModel.h"

#include <QString>
#include <cstdio>

namespace varmexemu {

class TTruthWriter {
public:
    TTruthWriter() = default;
    ~TTruthWriter();
    TTruthWriter(const TTruthWriter&) = delete;
    TTruthWriter& operator=(const TTruthWriter&) = delete;

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
