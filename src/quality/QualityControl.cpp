#include "quality/QualityControl.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <queue>
#include <tuple>
#include <utility>

namespace {

constexpr const char* kFlagNames[kQualityFlagKinds] = {
    "non-positive rho", "high q",          "low current",
    "low potential",    "spatial outlier", "reciprocal error",
};

// A record slot that received nothing holds this as its rho.
constexpr float kNoDataValue = -9e30f;

// Locale-independent text of a number ('.' whatever the user's locale).
std::string Number(double value, int digits = 6) {
    if (!std::isfinite(value))
        return {};
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return std::string(buffer, result.ptr);
}

bool RealNode(const Sequence& sequence, int32_t node) {
    if (node <= 0 || node >= kMaxNodes)
        return false;
    const NodeRecord& record = sequence.NodeOrInfinity(node);
    // Electrodes "at infinity" under their own number are remote too: they
    // cannot be watered or re-seated from the line.
    return !(std::fabs(record.x) >= kInfinityThreshold ||
             std::fabs(record.y) >= kInfinityThreshold);
}

float Median(std::vector<float>& values) {
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    float m = values[mid];
    if (values.size() % 2 == 0) {
        const float lower = *std::max_element(values.begin(), values.begin() + long(mid));
        m = (m + lower) * 0.5f;
    }
    return m;
}

} // namespace

uint8_t QualityFlagOfKind(int kind) {
    return uint8_t(1u << kind);
}

const char* QualityFlagName(int kind) {
    return kind >= 0 && kind < kQualityFlagKinds ? kFlagNames[kind] : "";
}

std::string QualityReasons(uint8_t flags) {
    std::string text;
    for (int k = 0; k < kQualityFlagKinds; ++k) {
        if (flags & QualityFlagOfKind(k)) {
            if (!text.empty())
                text += "; ";
            text += kFlagNames[k];
        }
    }
    return text;
}

void QualityControl::Clear() {
    sequence_ = nullptr;
    ++revision_;
    quality_.clear();
    neighbours_.clear();
    judgedBy_.clear();
    reciprocalOf_.clear();
    electrodes_.clear();
    reciprocalPairs_ = 0;
    measured_ = 0;
    flagged_ = 0;
    std::fill(std::begin(kindCounts_), std::end(kindCounts_), 0);
    electrodeMeasured_.assign(kMaxNodes, 0);
    electrodeFlagged_.assign(kMaxNodes, 0);
    suspects_.clear();
    suspectsStale_ = false;
}

void QualityControl::Build(const Sequence& sequence, const QualityLimits& limits, bool rhoOnly) {
    Clear();
    sequence_ = &sequence;
    limits_ = limits;
    rhoOnly_ = rhoOnly;
    const int count = sequence.QuadripoleCountCapped();
    quality_.assign(size_t(count), QuadripoleQuality{});
    electrodes_.assign(size_t(count) * 4, 0);
    for (int i = 0; i < count; ++i) {
        const QuadripoleRecord& q = sequence.quadripoles[i];
        const int32_t nodes[4] = {q.a, q.b, q.m, q.n};
        int kept = 0;
        for (int32_t node : nodes) {
            if (!RealNode(sequence, node))
                continue;
            int32_t* own = &electrodes_[size_t(i) * 4];
            if (std::find(own, own + kept, node) == own + kept)
                own[kept++] = node;
        }
    }
    BuildNeighbours(sequence);
    BuildReciprocals(sequence);
}

void QualityControl::BuildNeighbours(const Sequence& sequence) {
    const size_t count = quality_.size();
    neighbours_.assign(count, {});
    judgedBy_.assign(count, {});
    SectionGeometry geometry;
    try {
        geometry.BuildSectionGeometry(sequence, false);
    } catch (...) {
        return; // no spatial check without report points
    }
    if (size_t(geometry.quadripoleCount()) != count)
        return;
    // Each quadripole is judged among the report points of the first plane
    // that shows it: the vertical sections before the plan view.
    std::vector<int8_t> planeOf(count, -1);
    for (Plane p : {Plane::XZ, Plane::YZ, Plane::XY}) {
        const PlaneGeometry& plane = geometry.plane(p);
        for (size_t s = 0; s < plane.members.size(); ++s) {
            const auto& members = plane.members[s];
            std::vector<int32_t> own;
            for (int32_t q : members) {
                if (q >= 0 && size_t(q) < count && planeOf[size_t(q)] < 0) {
                    planeOf[size_t(q)] = int8_t(p);
                    own.push_back(q);
                }
            }
            if (own.empty() || members.size() < 2)
                continue;
            // Members by horizontal position; the nearest ones are found by
            // walking out from each point until the horizontal distance
            // alone exceeds the worst of the best found.
            std::vector<std::pair<float, int32_t>> byH;
            byH.reserve(members.size());
            for (int32_t q : members) {
                if (q >= 0 && size_t(q) < count)
                    byH.emplace_back(SectionGeometry::H(geometry.placements()[size_t(q)], p), q);
            }
            std::sort(byH.begin(), byH.end());
            std::vector<size_t> position(count, 0);
            for (size_t k = 0; k < byH.size(); ++k)
                position[size_t(byH[k].second)] = k;
            for (int32_t q : own) {
                const QuadPlacement& at = geometry.placements()[size_t(q)];
                const float h = SectionGeometry::H(at, p);
                const float v = SectionGeometry::V(at, p);
                std::priority_queue<std::pair<float, int32_t>> best; // largest distance on top
                auto consider = [&](size_t k) {
                    const int32_t other = byH[k].second;
                    if (other == q)
                        return;
                    const QuadPlacement& o = geometry.placements()[size_t(other)];
                    const float dh = SectionGeometry::H(o, p) - h;
                    const float dv = SectionGeometry::V(o, p) - v;
                    const float d = dh * dh + dv * dv;
                    if (int(best.size()) < kQualityNeighbours) {
                        best.emplace(d, other);
                    } else if (d < best.top().first) {
                        best.pop();
                        best.emplace(d, other);
                    }
                };
                const size_t at0 = position[size_t(q)];
                // A bound on the walk keeps a column of many equal
                // positions from costing the square of its size.
                constexpr size_t kWalkLimit = 512;
                for (int dir : {-1, 1}) {
                    size_t steps = 0;
                    for (long k = long(at0) + dir;
                         k >= 0 && k < long(byH.size()) && steps < kWalkLimit; k += dir, ++steps) {
                        const float dh = byH[size_t(k)].first - h;
                        if (int(best.size()) == kQualityNeighbours && dh * dh > best.top().first)
                            break;
                        consider(size_t(k));
                    }
                }
                auto& list = neighbours_[size_t(q)];
                while (!best.empty()) {
                    list.push_back(best.top().second);
                    best.pop();
                }
                std::reverse(list.begin(), list.end());
                for (int32_t other : list)
                    judgedBy_[size_t(other)].push_back(q);
            }
        }
    }
}

void QualityControl::BuildReciprocals(const Sequence& sequence) {
    const int count = int(quality_.size());
    reciprocalOf_.assign(size_t(count), -1);
    using Key = std::tuple<int32_t, int32_t, int32_t, int32_t>;
    auto dipole = [](int32_t x, int32_t y) {
        return std::make_pair(std::min(x, y), std::max(x, y));
    };
    std::map<Key, int32_t> first;
    for (int i = 0; i < count; ++i) {
        const QuadripoleRecord& q = sequence.quadripoles[i];
        if (q.gapFiller == -1)
            continue;
        const auto ab = dipole(q.a, q.b);
        const auto mn = dipole(q.m, q.n);
        first.emplace(Key{ab.first, ab.second, mn.first, mn.second}, i);
    }
    for (int i = 0; i < count; ++i) {
        const QuadripoleRecord& q = sequence.quadripoles[i];
        if (q.gapFiller == -1 || reciprocalOf_[size_t(i)] >= 0)
            continue;
        const auto ab = dipole(q.a, q.b);
        const auto mn = dipole(q.m, q.n);
        if (ab == mn)
            continue;
        const auto found = first.find(Key{mn.first, mn.second, ab.first, ab.second});
        if (found == first.end() || found->second == i || reciprocalOf_[size_t(found->second)] >= 0)
            continue;
        reciprocalOf_[size_t(i)] = found->second;
        reciprocalOf_[size_t(found->second)] = i;
        ++reciprocalPairs_;
    }
}

void QualityControl::AddRecords(const MeasureRecord* records, int firstIndex, int count) {
    if (!records || count <= 0 || quality_.empty())
        return;
    const int total = int(quality_.size());
    for (int j = 0; j < count; ++j) {
        const int index = firstIndex + j;
        if (index < 0 || index >= total)
            continue;
        const MeasureRecord& r = records[j];
        if (sequence_->quadripoles[index].gapFiller == -1 || (r.recordFlags & kRecordFlagGapFiller))
            continue;
        QuadripoleQuality& q = quality_[size_t(index)];
        const bool hasValue = std::isfinite(r.rho) && r.rho != kNoDataValue;
        SetMeasured(index, hasValue);
        q.rho = hasValue ? r.rho : 0;
        q.q = r.q;
        q.current = r.current;
        q.potential = r.vp;
        // The value, its reciprocal and every point that counts it as a
        // neighbour are judged again.
        Judge(index);
        const int reciprocal = reciprocalOf_[size_t(index)];
        if (reciprocal >= 0)
            Judge(reciprocal);
        for (int32_t other : judgedBy_[size_t(index)])
            Judge(other);
    }
}

void QualityControl::Judge(int index) {
    QuadripoleQuality& q = quality_[size_t(index)];
    uint8_t flags = 0;
    q.outlierScore = -1;
    q.reciprocalError = -1;
    if (q.measured) {
        if (!(q.rho > 0))
            flags |= kFlagNonPositiveRho;
        if (!rhoOnly_) {
            if (std::isfinite(q.q) && q.q > limits_.maxQ)
                flags |= kFlagHighQ;
            if (!(std::fabs(q.current) >= limits_.minCurrentMa))
                flags |= kFlagLowCurrent;
            if (!(std::fabs(q.potential) >= limits_.minPotentialMv))
                flags |= kFlagLowPotential;
        }
        if (q.rho > 0) {
            std::vector<float> logs;
            logs.reserve(kQualityNeighbours);
            for (int32_t other : neighbours_[size_t(index)]) {
                const QuadripoleQuality& o = quality_[size_t(other)];
                if (o.measured && o.rho > 0)
                    logs.push_back(std::log10(o.rho));
            }
            if (int(logs.size()) >= kQualityMinNeighbours) {
                const float median = Median(logs);
                for (float& value : logs)
                    value = std::fabs(value - median);
                const float spread =
                    std::max(kQualityMadScale * Median(logs), kQualityMinLogSpread);
                q.outlierScore = std::fabs(std::log10(q.rho) - median) / spread;
                if (q.outlierScore > limits_.outlierMads)
                    flags |= kFlagSpatialOutlier;
            }
        }
        const int reciprocal = reciprocalOf_[size_t(index)];
        if (reciprocal >= 0) {
            const QuadripoleQuality& r = quality_[size_t(reciprocal)];
            if (r.measured) {
                const float mean = (std::fabs(q.rho) + std::fabs(r.rho)) * 0.5f;
                q.reciprocalError = mean > 0 ? std::fabs(q.rho - r.rho) / mean : 0.0f;
                if (q.reciprocalError > limits_.reciprocalError)
                    flags |= kFlagReciprocal;
            }
        }
    }
    SetFlags(index, flags);
}

void QualityControl::SetMeasured(int index, bool measured) {
    QuadripoleQuality& q = quality_[size_t(index)];
    if (q.measured == measured)
        return;
    q.measured = measured;
    const int delta = measured ? 1 : -1;
    measured_ += delta;
    for (int e = 0; e < 4; ++e) {
        const int32_t node = electrodes_[size_t(index) * 4 + size_t(e)];
        if (node > 0)
            electrodeMeasured_[size_t(node)] += delta;
    }
    suspectsStale_ = true;
}

void QualityControl::SetFlags(int index, uint8_t flags) {
    QuadripoleQuality& q = quality_[size_t(index)];
    if (q.flags == flags)
        return;
    ++revision_;
    for (int k = 0; k < kQualityFlagKinds; ++k) {
        const uint8_t bit = QualityFlagOfKind(k);
        kindCounts_[k] += ((flags & bit) ? 1 : 0) - ((q.flags & bit) ? 1 : 0);
    }
    const int delta = (flags != 0 ? 1 : 0) - (q.flags != 0 ? 1 : 0);
    if (delta != 0) {
        flagged_ += delta;
        for (int e = 0; e < 4; ++e) {
            const int32_t node = electrodes_[size_t(index) * 4 + size_t(e)];
            if (node > 0)
                electrodeFlagged_[size_t(node)] += delta;
        }
        suspectsStale_ = true;
    }
    q.flags = flags;
}

int QualityControl::KindCount(int kind) const {
    return kind >= 0 && kind < kQualityFlagKinds ? kindCounts_[kind] : 0;
}

void QualityControl::DecideSuspects() const {
    if (!suspectsStale_)
        return;
    suspectsStale_ = false;
    suspects_.clear();
    if (flagged_ == 0)
        return;
    std::vector<int> work = electrodeFlagged_;
    std::vector<char> explained(quality_.size(), 0);
    int unexplained = flagged_;
    for (int round = 0; round < 64; ++round) {
        int32_t best = -1;
        double bestShare = 0;
        for (int32_t node = 1; node < kMaxNodes; ++node) {
            const int n = electrodeMeasured_[size_t(node)];
            const int f = work[size_t(node)];
            if (f < 3 || n <= 0)
                continue;
            const double share = double(f) / n;
            const double rest = double(unexplained - f) / std::max(1, measured_ - n);
            if (share < 0.3 || share < 4.0 * rest)
                continue;
            if (share > bestShare) {
                bestShare = share;
                best = node;
            }
        }
        if (best < 0)
            break;
        suspects_.push_back(best);
        for (size_t i = 0; i < quality_.size(); ++i) {
            if (quality_[i].flags == 0 || explained[i])
                continue;
            const int32_t* own = &electrodes_[i * 4];
            if (std::find(own, own + 4, best) == own + 4)
                continue;
            explained[i] = 1;
            --unexplained;
            for (int e = 0; e < 4; ++e) {
                if (own[e] > 0)
                    --work[size_t(own[e])];
            }
        }
    }
}

std::vector<int32_t> QualityControl::SuspectElectrodes() const {
    DecideSuspects();
    return suspects_;
}

bool QualityControl::IsSuspect(int32_t node) const {
    DecideSuspects();
    return std::find(suspects_.begin(), suspects_.end(), node) != suspects_.end();
}

std::vector<ElectrodeQuality> QualityControl::Electrodes() const {
    DecideSuspects();
    std::vector<ElectrodeQuality> list;
    for (int32_t node = 1; node < int32_t(electrodeMeasured_.size()); ++node) {
        if (electrodeMeasured_[size_t(node)] == 0)
            continue;
        ElectrodeQuality e;
        e.node = node;
        e.measurements = electrodeMeasured_[size_t(node)];
        e.flagged = electrodeFlagged_[size_t(node)];
        e.suspect = std::find(suspects_.begin(), suspects_.end(), node) != suspects_.end();
        list.push_back(e);
    }
    return list;
}

float QualityControl::Severity(int index) const {
    const QuadripoleQuality& q = quality_[size_t(index)];
    float s = 0;
    if (q.flags & kFlagNonPositiveRho)
        s += 100;
    if (q.flags & kFlagHighQ)
        s += q.q / limits_.maxQ;
    if (q.flags & kFlagLowCurrent)
        s += std::min(100.0f, limits_.minCurrentMa / std::max(std::fabs(q.current), 1e-3f));
    if (q.flags & kFlagLowPotential)
        s += std::min(100.0f, limits_.minPotentialMv / std::max(std::fabs(q.potential), 1e-4f));
    if (q.flags & kFlagSpatialOutlier)
        s += q.outlierScore / limits_.outlierMads;
    if (q.flags & kFlagReciprocal)
        s += q.reciprocalError / limits_.reciprocalError;
    return s;
}

std::vector<int> QualityControl::WorstMeasurements(int limit) const {
    std::vector<std::pair<float, int>> flagged;
    for (int i = 0; i < int(quality_.size()); ++i) {
        if (quality_[size_t(i)].flags != 0)
            flagged.emplace_back(-Severity(i), i);
    }
    const size_t keep = std::min(flagged.size(), size_t(std::max(limit, 0)));
    std::partial_sort(flagged.begin(), flagged.begin() + long(keep), flagged.end());
    std::vector<int> list;
    for (size_t k = 0; k < keep; ++k)
        list.push_back(flagged[k].second);
    return list;
}

std::string QualityControl::SummaryLine() const {
    std::string line = "QC: " + std::to_string(flagged_) + " flagged";
    const auto suspects = SuspectElectrodes();
    if (!suspects.empty()) {
        std::vector<int32_t> sorted = suspects;
        std::sort(sorted.begin(), sorted.end());
        line += sorted.size() == 1 ? ", electrode " : ", electrodes ";
        for (size_t k = 0; k < sorted.size(); ++k) {
            if (k > 0)
                line += ", ";
            line += std::to_string(sorted[k]);
        }
        line += " suspect";
    }
    return line;
}

std::string QualityControl::SummaryReport() const {
    std::string text = "QC summary: " + std::to_string(measured_) + " measured, " +
                       std::to_string(flagged_) + " flagged";
    if (measured_ > 0)
        text += " (" + Number(100.0 * flagged_ / measured_, 3) + " %)";
    text += "\n";
    for (int k = 0; k < kQualityFlagKinds; ++k) {
        if (kindCounts_[k] > 0)
            text +=
                "  " + std::string(kFlagNames[k]) + ": " + std::to_string(kindCounts_[k]) + "\n";
    }
    if (reciprocalPairs_ > 0)
        text += "  reciprocal pairs in the sequence: " + std::to_string(reciprocalPairs_) + "\n";
    const auto electrodes = Electrodes();
    for (int32_t node : SuspectElectrodes()) {
        for (const ElectrodeQuality& e : electrodes) {
            if (e.node == node)
                text += "  suspect electrode " + std::to_string(node) + ": " +
                        std::to_string(e.flagged) + " of " + std::to_string(e.measurements) +
                        " measurements flagged\n";
        }
    }
    return text;
}

std::string QualityControl::SidecarCsv() const {
    std::string text =
        "position,a,b,m,n,rhoa,q,current_mA,vp_mV,reciprocal,reciprocal_error,reasons\n";
    for (int i = 0; i < int(quality_.size()); ++i) {
        const QuadripoleQuality& q = quality_[size_t(i)];
        if (q.flags == 0)
            continue;
        const QuadripoleRecord& r = sequence_->quadripoles[i];
        const int reciprocal = reciprocalOf_[size_t(i)];
        text += std::to_string(i + 1) + "," + std::to_string(r.a) + "," + std::to_string(r.b) +
                "," + std::to_string(r.m) + "," + std::to_string(r.n) + "," + Number(q.rho) + "," +
                (rhoOnly_ ? "" : Number(q.q)) + "," + (rhoOnly_ ? "" : Number(q.current)) + "," +
                (rhoOnly_ ? "" : Number(q.potential)) + "," +
                (reciprocal >= 0 ? std::to_string(reciprocal + 1) : "") + "," +
                (q.reciprocalError >= 0 ? Number(q.reciprocalError, 4) : "") + "," +
                QualityReasons(q.flags) + "\n";
    }
    return text;
}
