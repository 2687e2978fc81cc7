#pragma once
// Live data quality: flags on each measurement as its batch arrives, the
// reciprocal pairs of the sequence, and the electrodes that take part in
// more bad readings than the rest. Fed with the same batches as the
// displays, in time proportional to the batch, so that an operator learns
// about a dry electrode while the instrument is still on the line.
//
// Plain C++: the window, the recorder and the sidecar file show what this
// model holds.
#include "imaging/SectionGeometry.h"
#include "sequence/Sequence.h"

#include <cstdint>
#include <string>
#include <vector>

// What makes a measurement suspicious. The defaults are field values: a
// quality value above 5 is a reading the instrument itself doubts; below
// 1 mA of injected current the electrodes' contact is poor; below 0.1 mV
// the potential is near the noise of the receiver; three MADs of the log
// apparent resistivity from the neighbouring report points is a value the
// ground around it does not explain; 5 % is the reciprocal error above
// which inversion codes drop a pair.
struct QualityLimits {
    float maxQ = 5.0f;
    float minCurrentMa = 1.0f;
    float minPotentialMv = 0.1f;
    float outlierMads = 3.0f;
    float reciprocalError = 0.05f;
};

enum QualityFlag : uint8_t {
    kFlagNonPositiveRho = 0x01,
    kFlagHighQ = 0x02,
    kFlagLowCurrent = 0x04,
    kFlagLowPotential = 0x08,
    kFlagSpatialOutlier = 0x10,
    kFlagReciprocal = 0x20,
};
constexpr int kQualityFlagKinds = 6;
// The flag of kind k (0..5), and its name as shown ("high q", ...).
uint8_t QualityFlagOfKind(int kind);
const char* QualityFlagName(int kind);
// "high q; low current": the names of every flag set, in kind order.
std::string QualityReasons(uint8_t flags);

// Nearest report points consulted for the spatial check, and how many of
// them must be measured before a value is judged.
constexpr int kQualityNeighbours = 8;
constexpr int kQualityMinNeighbours = 4;
// The spread of the neighbours is their median absolute deviation of
// log10 rho, scaled to a standard deviation (x 1.4826), and never taken
// below 0.05 (about 12 %): a uniform neighbourhood must not turn a few
// per cent of ordinary scatter or a steep but real contrast into flags.
constexpr float kQualityMadScale = 1.4826f;
constexpr float kQualityMinLogSpread = 0.05f;

struct QuadripoleQuality {
    float rho = 0;
    float q = 0;
    float current = 0;
    float potential = 0;
    // Relative difference with the reciprocal; negative until both are in.
    float reciprocalError = -1;
    // |log10 rho - median| / spread of the neighbours; negative when unjudged.
    float outlierScore = -1;
    uint8_t flags = 0;
    bool measured = false;
};

struct ElectrodeQuality {
    int32_t node = 0;
    int measurements = 0;
    int flagged = 0;
    bool suspect = false;
};

class QualityControl {
public:
    // Once per acquisition, after the node and quadripole sets are in place.
    // `rhoOnly`: the records carry no current, potential or quality value,
    // so only the checks on rho apply.
    void Build(const Sequence& sequence, const QualityLimits& limits, bool rhoOnly);
    void Clear();

    // The records of one batch: record j is quadripole firstIndex + j.
    // Records outside the sequence, of gap fillers or without a value are
    // not judged. A quadripole measured again takes its new value.
    void AddRecords(const MeasureRecord* records, int firstIndex, int count);

    int quadripoleCount() const { return int(quality_.size()); }
    const QuadripoleQuality& quality(int index) const { return quality_[size_t(index)]; }
    uint8_t flags(int index) const { return quality_[size_t(index)].flags; }
    int measuredCount() const { return measured_; }
    // Bumped whenever a flag changes, so that a view redraws its marks only
    // then.
    uint64_t revision() const { return revision_; }
    int flaggedCount() const { return flagged_; }
    int KindCount(int kind) const;
    // Quadripole index of the reciprocal, -1 when the sequence has none.
    int ReciprocalOf(int index) const { return reciprocalOf_[size_t(index)]; }
    int reciprocalPairs() const { return reciprocalPairs_; }
    const std::vector<int32_t>& Neighbours(int index) const { return neighbours_[size_t(index)]; }

    // Every electrode that took part in a measured quadripole, by node
    // number, with the suspicion decided (see SuspectElectrodes).
    std::vector<ElectrodeQuality> Electrodes() const;
    // Node numbers of the suspect electrodes, most flagged first. An
    // electrode is suspect when at least 3 of its measurements are flagged,
    // that is at least 30 % of them and at least four times the flagged
    // share among the measurements it takes no part in. Flagged readings are
    // explained one electrode at a time, worst first, so the partners of a
    // bad electrode are not blamed for its readings.
    std::vector<int32_t> SuspectElectrodes() const;
    bool IsSuspect(int32_t node) const;
    // Flagged quadripoles, worst first, at most `limit`.
    std::vector<int> WorstMeasurements(int limit) const;

    // "QC: 23 flagged, electrodes 17, 42 suspect".
    std::string SummaryLine() const;
    // Several lines: counts per kind, suspect electrodes with their counts.
    std::string SummaryReport() const;
    // The sidecar: one CSV line per flagged measurement with its reasons.
    std::string SidecarCsv() const;

    const Sequence* sequence() const { return sequence_; }

private:
    void BuildNeighbours(const Sequence& sequence);
    void BuildReciprocals(const Sequence& sequence);
    void Judge(int index);
    void SetFlags(int index, uint8_t flags);
    void SetMeasured(int index, bool measured);
    float Severity(int index) const;
    void DecideSuspects() const;

    const Sequence* sequence_ = nullptr;
    QualityLimits limits_;
    bool rhoOnly_ = false;
    std::vector<QuadripoleQuality> quality_;
    std::vector<std::vector<int32_t>> neighbours_;
    std::vector<std::vector<int32_t>> judgedBy_; // reverse of neighbours_
    std::vector<int32_t> reciprocalOf_;
    std::vector<int32_t> electrodes_; // 4 node numbers per quadripole, 0 for none
    int reciprocalPairs_ = 0;
    int measured_ = 0;
    int flagged_ = 0;
    uint64_t revision_ = 0;
    int kindCounts_[kQualityFlagKinds] = {};
    std::vector<int> electrodeMeasured_; // by node number
    std::vector<int> electrodeFlagged_;
    mutable std::vector<int32_t> suspects_;
    mutable bool suspectsStale_ = true;
};
