#include "Survey.h"

#include "EmuRandom.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <utility>

namespace varmexemu {

namespace {

using Dipole = std::pair<int, int>; // M, N node numbers

class SequenceBuilder {
public:
    SequenceBuilder(const EmuOptions& o, EmuSurvey& s) : o_(o), s_(s) {}

    // p: node numbers along one profile, in order.
    void addProfile(const std::vector<int>& p) {
        const int count = int(p.size());
        switch (o_.array) {
        case ArrayType::Wenner:
            // A M N B at a, 2a, 3a: one reading per injection.
            for (int a = 1; a <= o_.levels; ++a)
                for (int i = 0; i + 3 * a < count; ++i)
                    addInjection(p[i], p[i + 3 * a], {{p[i + a], p[i + 2 * a]}});
            break;
        case ArrayType::Schlumberger:
            // A and B (2n + 1) spacings apart; the central dipole is the
            // Schlumberger reading, the other channels take its chained
            // neighbours between A and B.
            for (int n = 1; n <= o_.levels; ++n) {
                const int span = 2 * n + 1;
                const int c = std::min(o_.channels, 2 * n - 1);
                const int j0 = n - (c - 1) / 2;
                for (int i = 0; i + span < count; ++i) {
                    std::vector<Dipole> d;
                    for (int j = j0; j < j0 + c; ++j)
                        d.push_back({p[i + j], p[i + j + 1]});
                    addInjection(p[i], p[i + span], d);
                }
            }
            break;
        case ArrayType::DipoleDipole:
            // B A M1 N1=M2 N2 ...: dipoles of a spacings chained away from A.
            for (int a = 1; a <= 3; ++a)
                for (int i = 0; i + 3 * a < count; ++i) {
                    std::vector<Dipole> d;
                    for (int n = 1; n <= o_.levels; ++n) {
                        const int m = i + a + n * a;
                        if (m + a >= count)
                            break;
                        d.push_back({p[m], p[m + a]});
                    }
                    addInjection(p[i + a], p[i], d);
                }
            break;
        case ArrayType::PoleDipole:
            // A, then the chain of potential dipoles; B is the remote node 0.
            s_.usesRemote = true;
            for (int a = 1; a <= 2; ++a)
                for (int i = 0; i + 2 * a < count; ++i) {
                    std::vector<Dipole> d;
                    for (int n = 1; n <= o_.levels; ++n) {
                        const int m = i + n * a;
                        if (m + a >= count)
                            break;
                        d.push_back({p[m], p[m + a]});
                    }
                    addInjection(p[i], 0, d);
                }
            break;
        }
    }

private:
    // One current pair with its chained potential dipoles, read in batches
    // of at most the channel count.
    void addInjection(int a, int b, const std::vector<Dipole>& dipoles) {
        for (size_t start = 0; start < dipoles.size(); start += size_t(o_.channels)) {
            EmuBatch batch;
            batch.first = int(s_.quads.size());
            const size_t end = std::min(dipoles.size(), start + size_t(o_.channels));
            for (size_t k = start; k < end; ++k) {
                EmuQuad q;
                q.a = a;
                q.b = b;
                q.m = dipoles[k].first;
                q.n = dipoles[k].second;
                s_.quads.push_back(q);
            }
            batch.count = int(end - start);
            s_.batches.push_back(batch);
        }
    }

    const EmuOptions& o_;
    EmuSurvey& s_;
};

bool buildMoving(const EmuOptions& o, EmuSurvey& s) {
    // A towed dipole-dipole array: A at the origin, B one spacing ahead,
    // the receiver dipoles trailing behind, chained.
    const int dipoles = std::min(o.channels, kMaxMovingDipoles);
    s.moving = true;
    s.firstNode = 1;
    s.lastNode = dipoles + 3;
    s.nodeCount = dipoles + 3;
    s.nodes.assign(size_t(s.lastNode) + 1, EmuNode{});
    s.nodes[0] = EmuNode{0, kRemoteCoordinate, kRemoteCoordinate, kRemoteCoordinate};
    auto place = [&](int number, double x) {
        s.nodes[size_t(number)] = EmuNode{number, float(x), 0.0f, 0.0f};
    };
    place(1, 0.0);
    place(2, o.spacing);
    for (int k = 0; k <= dipoles; ++k)
        place(3 + k, -(k + 1) * o.spacing);
    for (int k = 0; k < dipoles; ++k) {
        MovingDipole d;
        const int nodes[4] = {1, 2, 3 + k, 4 + k};
        for (int e = 0; e < 4; ++e) {
            d.node[e] = nodes[e];
            d.pos[e][0] = s.nodes[size_t(nodes[e])].x;
        }
        s.movingDipoles.push_back(d);
    }
    // The array keeps measuring as long as it is towed: its records are
    // numbered on, whatever the length of the monitor's quadripole table.
    for (int p = 0; p < o.positions; ++p)
        s.batches.push_back(EmuBatch{p * dipoles, dipoles});
    s.xMin = -(dipoles + 1) * o.spacing;
    s.xMax = o.spacing;
    return true;
}

// Appends the reciprocal M,N,A,B of every k-th normal quadripole. The
// instrument reads them like any other injection: the reciprocals that
// share a current pair (normals that shared a potential dipole) go in one
// batch, current pairs in the order they first appear.
void appendReciprocals(const EmuOptions& o, EmuSurvey& s) {
    const int normals = s.quadripoleCount();
    s.normalCount = normals;
    s.partners.assign(size_t(normals), -1);
    if (o.reciprocalEvery <= 0)
        return;
    std::vector<std::vector<int>> groups; // normal positions by current pair
    std::map<Dipole, size_t> groupOf;
    for (int j = 0; j < normals; j += o.reciprocalEvery) {
        const EmuQuad& q = s.quads[size_t(j)];
        const auto [it, added] = groupOf.try_emplace(Dipole{q.m, q.n}, groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(j);
    }
    for (const std::vector<int>& group : groups)
        for (size_t start = 0; start < group.size(); start += size_t(o.channels)) {
            const size_t end = std::min(group.size(), start + size_t(o.channels));
            s.batches.push_back(EmuBatch{s.quadripoleCount(), int(end - start)});
            for (size_t k = start; k < end; ++k) {
                const int normal = group[k];
                const EmuQuad q = s.quads[size_t(normal)];
                // A gap filler's reciprocal fills the same gap.
                s.quads.push_back(EmuQuad{q.m, q.n, q.a, q.b, q.gapFiller});
                s.partners[size_t(normal)] = s.quadripoleCount() - 1;
                s.partners.push_back(normal);
            }
        }
}

// The numbers of the records must stay within the instrument's int32.
bool numbersFit(const EmuSurvey& s, QString& error) {
    if (int64_t(s.firstQuadripole) + s.recordCount() - 1 <= INT32_MAX)
        return true;
    error = QStringLiteral("the records would be numbered past %1: use a smaller "
                           "--first-quadripole")
                .arg(INT32_MAX);
    return false;
}

} // namespace

EmuQuad EmuSurvey::quad(int position) const {
    if (moving && !movingDipoles.empty()) {
        const int k = position % int(movingDipoles.size());
        return EmuQuad{1, 2, 3 + k, 4 + k, false};
    }
    return quads.at(size_t(position));
}

int EmuSurvey::recordCount() const {
    if (!moving)
        return quadripoleCount();
    int count = 0;
    for (const EmuBatch& b : batches)
        count += b.count;
    return count;
}

bool EmuSurvey::build(const EmuOptions& o, EmuSurvey& s, QString& error) {
    s = EmuSurvey{};
    s.firstQuadripole = std::max(0, o.firstQuadripole);
    if (o.movingArray)
        return buildMoving(o, s) && numbersFit(s, error);

    const int perLine = o.electrodes;
    const int lines = o.lines;
    // Electrodes below the first node are not planted: their slots stay
    // empty.
    s.firstNode = o.firstNode;
    s.lastNode = o.firstNode - 1 + perLine * lines;
    if (s.lastNode > kMaxNodeNumber) {
        error = QStringLiteral("too many electrodes: %1 (at most %2)")
                    .arg(s.lastNode)
                    .arg(kMaxNodeNumber);
        return false;
    }
    s.nodes.assign(size_t(s.lastNode) + 1, EmuNode{});
    s.nodes[0] = EmuNode{0, kRemoteCoordinate, kRemoteCoordinate, kRemoteCoordinate};
    for (int j = 0; j < lines; ++j)
        for (int i = 0; i < perLine; ++i) {
            const int number = o.firstNode + j * perLine + i;
            s.nodes[size_t(number)] =
                EmuNode{number, float(i * o.spacing), float(j * o.lineSpacing), 0.0f};
        }
    s.xMin = 0.0;
    s.xMax = (perLine - 1) * o.spacing;
    s.yMin = 0.0;
    s.yMax = (lines - 1) * o.lineSpacing;

    SequenceBuilder builder(o, s);
    for (int j = 0; j < lines; ++j) {
        std::vector<int> p;
        for (int i = 0; i < perLine; ++i)
            p.push_back(o.firstNode + j * perLine + i);
        builder.addProfile(p);
    }
    // Cross-line profiles, so that the vertical plane across the lines has
    // data too; they need at least as many lines as the array has
    // electrodes on the ground.
    const int crossNeeded = o.array == ArrayType::PoleDipole ? 3 : 4;
    if (lines >= crossNeeded)
        for (int i = 0; i < perLine; ++i) {
            std::vector<int> p;
            for (int j = 0; j < lines; ++j)
                p.push_back(o.firstNode + j * perLine + i);
            builder.addProfile(p);
        }

    if (s.quads.empty()) {
        error = QStringLiteral("the survey has no quadripole: use more electrodes");
        return false;
    }
    if (s.quadripoleCount() > kMaxQuadripoles) {
        error = QStringLiteral("the sequence has %1 quadripoles, more than the instrument's %2; "
                               "use fewer --levels, --electrodes or --lines")
                    .arg(s.quadripoleCount())
                    .arg(kMaxQuadripoles);
        return false;
    }
    // Gap fillers are drawn over the normal quadripoles alone, so that
    // adding reciprocals changes none of them.
    if (o.gapFillers > 0.0) {
        EmuRandom rng(o.seed, 7);
        for (EmuQuad& q : s.quads)
            q.gapFiller = rng.chance(o.gapFillers);
    }
    appendReciprocals(o, s);
    if (s.quadripoleCount() > kMaxQuadripoles) {
        error = QStringLiteral("the sequence with its reciprocals has %1 quadripoles (%2 + %3), "
                               "more than the instrument's %4; use a larger --reciprocals K, "
                               "or fewer --levels, --electrodes or --lines")
                    .arg(s.quadripoleCount())
                    .arg(s.normalCount)
                    .arg(s.quadripoleCount() - s.normalCount)
                    .arg(kMaxQuadripoles);
        return false;
    }
    if (!numbersFit(s, error))
        return false;
    // Electrodes of the sequence, the remote one included when it is used.
    s.nodeCount = perLine * lines + (s.usesRemote ? 1 : 0);
    return true;
}

std::vector<EmuBatch> applySkips(const std::vector<EmuBatch>& batches,
                                 const std::vector<SkipRange>& skips, int firstNumber) {
    if (skips.empty())
        return batches;
    auto skipped = [&](int position) {
        const int64_t number = int64_t(firstNumber) + position;
        for (const SkipRange& r : skips)
            if (number >= r.index && number < int64_t(r.index) + r.count)
                return true;
        return false;
    };
    std::vector<EmuBatch> out;
    for (const EmuBatch& b : batches) {
        EmuBatch part{b.first, 0};
        for (int i = b.first; i < b.first + b.count; ++i) {
            if (skipped(i)) {
                if (part.count > 0)
                    out.push_back(part);
                part = EmuBatch{i + 1, 0};
            } else {
                ++part.count;
            }
        }
        if (part.count > 0)
            out.push_back(part);
    }
    return out;
}

} // namespace varmexemu
