#pragma once
// The truth files: one CSV row per record transmission, so that a test can
// compare what the monitor stored with what was actually sent; and one row
// per conversation event (a Start acknowledged, an operator request
// served), so that a test can tell what the monitor asked for.
#include "InstrumentModel.h"

#include <QString>
#include <cstdio>

namespace varmexemu {

class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    bool open(const QString& path, const char* header, QString& error);
    bool isOpen() const { return file_ != nullptr; }
    void flush();

protected:
    std::FILE* file_ = nullptr;
};

class TruthWriter : public CsvFile {
public:
    bool open(const QString& path, QString& error) { return CsvFile::open(path, header(), error); }
    // fault: "" for an intact record, "corrupt" or "short".
    void record(const EmuMeasurement& m, int attempt, const char* fault);

    static const char* header();
};

class EventWriter : public CsvFile {
public:
    bool open(const QString& path, QString& error) { return CsvFile::open(path, header(), error); }
    // batches: sent so far in this acquisition; what: see EmuSession.
    void event(int acquisition, int batches, const char* what);

    static const char* header();
};

} // namespace varmexemu
