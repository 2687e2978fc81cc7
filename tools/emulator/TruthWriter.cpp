#include "TruthWriter.h"

#include <QFile>

namespace varmexemu {

CsvFile::~CsvFile() {
    if (file_)
        std::fclose(file_);
}

bool CsvFile::open(const QString& path, const char* header, QString& error) {
    file_ = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!file_) {
        error = QStringLiteral("cannot write ") + path;
        return false;
    }
    std::fprintf(file_, "%s\n", header);
    std::fflush(file_);
    return true;
}

void CsvFile::flush() {
    if (file_)
        std::fflush(file_);
}

const char* TruthWriter::header() {
    return "acquisition,index,channel,attempt,a,b,m,n,"
           "ax,ay,az,bx,by,bz,mx,my,mz,nx,ny,nz,rho,vp,in,gap_filler,damaged,fault,"
           "q,extra1,extra2,bad_electrode,reciprocal_index,is_reciprocal,true_rho";
}

void TruthWriter::record(const EmuMeasurement& m, int attempt, const char* fault) {
    if (!file_)
        return;
    // %.9g gives back every float32 exactly.
    std::fprintf(file_, "%d,%d,%d,%d,%d,%d,%d,%d", m.acquisition, m.index, m.channel, attempt,
                 m.quad.a, m.quad.b, m.quad.m, m.quad.n);
    for (int e = 0; e < 4; ++e)
        std::fprintf(file_, ",%.9g,%.9g,%.9g", double(m.x[e]), double(m.y[e]), double(m.z[e]));
    const bool damaged = fault && *fault;
    std::fprintf(file_, ",%.9g,%.9g,%.9g,%d,%d,%s", double(m.rho), double(m.vp), double(m.current),
                 m.quad.gapFiller ? 1 : 0, damaged ? 1 : 0, damaged ? fault : "");
    // Extra values a record flags absent are worth nothing.
    const float extra1 = m.altDecoding ? 0.0f : m.extra[0];
    const float extra2 = m.altDecoding ? 0.0f : m.extra[1];
    std::fprintf(file_, ",%.9g,%.9g,%.9g", double(m.q), double(extra1), double(extra2));
    std::fprintf(file_, ",%d,%d,%d,%.17g\n", m.badContact ? 1 : 0, m.partnerIndex,
                 m.reciprocal ? 1 : 0, m.trueRho);
}

const char* EventWriter::header() {
    return "acquisition,batches,event";
}

void EventWriter::event(int acquisition, int batches, const char* what) {
    if (!file_)
        return;
    std::fprintf(file_, "%d,%d,%s\n", acquisition, batches, what);
    std::fflush(file_);
}

} // namespace varmexemu
