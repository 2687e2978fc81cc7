#include "SyntheticSequence.h"

#include <cmath>
#include <cstring>

namespace synthetic {

namespace {

void SetNode(Sequence& s, int number, float x, float y) {
    s.nodes[number] = NodeRecord{x, y, 0.0f, number};
}

void SetInfinity(Sequence& s) {
    s.nodes[0] = NodeRecord{kInfinityCoordinate, kInfinityCoordinate, kInfinityCoordinate, 0};
}

} // namespace

std::unique_ptr<Sequence> MakeDipoleDipole(const Layout& layout) {
    auto s = std::make_unique<Sequence>();
    SetInfinity(*s);
    int q = 0;
    for (int line = 0; line < layout.lines; ++line) {
        const int base = line * layout.electrodes;
        for (int e = 0; e < layout.electrodes; ++e)
            SetNode(*s, base + e + 1, e * layout.spacing, line * layout.lineGap);
        int onLine = 0;
        bool full = false;
        for (int a = 1; !full; ++a) {
            bool any = false;
            // Wider dipoles inject less often, as field sequences do.
            for (int i = 0; !full && i + a * (layout.channels + 2) <= layout.electrodes - 1;
                 i += a + 1) {
                any = true;
                for (int k = 1; k <= layout.channels && !full; ++k) {
                    if (q >= kMaxQuadripoles ||
                        (layout.quadripolesPerLine > 0 && onLine >= layout.quadripolesPerLine)) {
                        full = true;
                        break;
                    }
                    const int A = base + i + 1;
                    const int B = A + a;
                    const int M = B + a * k;
                    s->quadripoles[q++] = QuadripoleRecord{A, B, M, M + a, 0};
                    ++onLine;
                }
            }
            if (!any)
                break;
        }
    }
    s->nodeCount = layout.lines * layout.electrodes;
    s->quadripoleCount = q;
    return s;
}

std::unique_ptr<Sequence> MakeLargeSequence() {
    Layout l;
    l.lines = 20;
    l.electrodes = 96;
    l.channels = 10;
    l.quadripolesPerLine = 800;
    return MakeDipoleDipole(l);
}

std::unique_ptr<Sequence> MakePolePole(int electrodes) {
    auto s = std::make_unique<Sequence>();
    SetInfinity(*s);
    for (int e = 1; e <= electrodes; ++e)
        SetNode(*s, e, static_cast<float>(e - 1), 0.0f);
    // Remote electrodes with node numbers of their own.
    SetNode(*s, electrodes + 1, kInfinityCoordinate, kInfinityCoordinate);
    SetNode(*s, electrodes + 2, kInfinityCoordinate, 0.0f);
    int q = 0;
    for (int a = 1; a < electrodes; ++a) {
        for (int i = 1; i + a <= electrodes; ++i) {
            const bool ownRemotes = (q % 2) == 1;
            s->quadripoles[q++] = QuadripoleRecord{i, ownRemotes ? electrodes + 1 : 0, i + a,
                                                   ownRemotes ? electrodes + 2 : 0, 0};
        }
    }
    s->nodeCount = electrodes + 2;
    s->quadripoleCount = q;
    return s;
}

std::vector<MeasureRecord> MakeRecords(const Sequence& sequence, int first, int count) {
    std::vector<MeasureRecord> records(count);
    for (int k = 0; k < count; ++k) {
        MeasureRecord& r = records[k];
        std::memset(&r, 0, sizeof r);
        float c[12];
        sequence.QuadripoleCoordinates(first + k, c);
        const float mx = Sequence::MidPoint(c, 0);
        const float my = Sequence::MidPoint(c, 4);
        const float d = Sequence::PseudoDepth(c);
        // A conductive lens in a resistive host, varying along the lines.
        const float lens = std::exp(-((mx - 40) * (mx - 40) / 200.0f + (d - 4) * (d - 4) / 8.0f));
        r.rho = 200.0f * (1.0f + 0.5f * std::sin(mx / 9.0f + my / 20.0f)) * (1.0f - 0.85f * lens) +
                10.0f * d;
        for (int e = 0; e < 4; ++e) {
            r.x[e] = c[e];
            r.y[e] = c[4 + e];
            r.z[e] = c[8 + e];
        }
        r.recordVersion = 3;
        r.recordOne = 1;
        r.quadripoleIndex = static_cast<int16_t>(first + k);
    }
    return records;
}

} // namespace synthetic
