#include "TruthWriter.h"

#include <QFile>

namespace varmexemu {

TruthWriter::~TruthWriter() {
    if (file_)
        std::fclose(file_);
}

const char* TruthWriter::header() {
    return "acquisition,index,channel,attempt,a,b,m,n,"
           "ax,ay,az,bx,by,bz,mx,my,mz,nx,ny,nz,rho,vp,in,gap_filler,damaged,fault";
}

bool TruthWriter::open(const QString& path, QString& error) {
    file_ = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!file_) {
        error = QStringLiteral("cannot write the truth file ") + path;
        return false;
    }
    std::fprintf(file_, "%s\n", header());
    std::fflush(file_);
    return true;
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
    std::fprintf(file_, ",%.9g,%.9g,%.9g,%d,%d,%s\n", double(m.rho), double(m.vp),
                 double(m.current), m.quad.gapFiller ? 1 : 0, damaged ? 1 : 0,
                 damaged ? fault : "");
}

void TruthWriter::flush() {
    if (file_)
        std::fflush(file_);
}

} // namespace varmexemu
