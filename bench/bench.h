#pragma once

// The benchmark program's shared parts: result rows with their baselines,
// a host double that records pauses instead of sleeping, and timing helpers.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "seams/host_services.h"
#include "seams/print_canvas.h"
#include "support/fake_host.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// How a figure is judged against its baseline.
struct Goal {
    enum Kind { None, RatioAtLeast, RatioAtMost, Below, AtMost } kind = None;
    double limit = 0;
    std::string Text() const;
    // `ratio`: the value against its baseline (0: no baseline).
    bool Met(double value, double ratio) const;
};

struct Row {
    std::string name;
    std::string unit;
    double value = 0;
    std::string baselineName;
    double baseline = 0;  // 0: none
    Goal goal;
    std::string note;
    // The median of the ratios of the pairs, each pair run back to back
    // under the same load: on a shared machine the load drifts between
    // pairs far more than within one. 0: the ratio of the medians.
    double ratio = 0;
    // The range over the pairs of the ratio, or of the value where there
    // is no baseline; value and baseline are medians.
    double spreadLow = 0;
    double spreadHigh = 0;
    int pairs = 0;  // timed pairs behind the figures; 0 where not paired
    // The measured run did not do what it should (a wrong checksum, missing
    // replies): the figure is not to be trusted.
    bool faulty = false;

    double Ratio() const {
        if (ratio > 0) return ratio;
        return baseline > 0 ? value / baseline : 0;
    }
    // Sets value, baseline and spread from the run times of interleaved
    // repeats; `toValue` turns seconds into the row's unit.
    void FromPairs(const std::vector<double>& ours, const std::vector<double>& base,
                   const std::function<double(double)>& toValue);
    // Value and spread from repeats without a baseline.
    void FromRepeats(const std::vector<double>& values);
    bool Met() const { return !faulty && goal.Met(value, Ratio()); }
};

struct Options {
    bool quick = false;  // smaller sizes, for a smoke run
    int pairs = 0;       // --pairs N: the ratio rows' timed pairs; 0: the default
    std::string executable;
};

// Each section appends its rows.
void RunTransfers(const Options& options, std::vector<Row>& rows);
void RunPageActions(const Options& options, std::vector<Row>& rows);
void RunReport(const Options& options, std::vector<Row>& rows);
void RunColdStart(const Options& options, std::vector<Row>& rows);
void RunCommandLine(const Options& options, std::vector<Row>& rows);
void RunStalls(const Options& options, std::vector<Row>& rows);

// A figure without a baseline is the median of this many repeats.
inline int Repeats(const Options& options) { return options.quick ? 1 : 5; }

// A figure judged against a baseline comes from this many timed pairs: on a
// loaded 2-core machine the ratio of single pairs swings by tens of per
// cent, and a row near its goal line passes or fails by the run with fewer.
inline constexpr int kRatioPairs = 15;
inline int RatioPairs(const Options& options) {
    if (options.pairs > 0) return options.pairs;
    return options.quick ? 3 : kRatioPairs;
}

// Seconds one run of `run` takes.
double TimeOnce(const std::function<void()>& run);
// One untimed run of each (caches, page cache, lazily built tables), then
// `pairs` pairs of `ours` and `baseline` back to back, the order turning
// every pair (ours first, then the baseline first), so neither side always
// runs in the other's wake. The measure each run returns, in pair order.
void MeasurePairs(int pairs, const std::function<double()>& ours,
                  const std::function<double()>& baseline, std::vector<double>& oursMeasures,
                  std::vector<double>& baselineMeasures);
// As above, measuring the seconds each run takes.
void TimePairs(int pairs, const std::function<void()>& ours, const std::function<void()>& baseline,
               std::vector<double>& oursSeconds, std::vector<double>& baselineSeconds);
double Median(std::vector<double> values);

// The child mode that counts the instructions of in-process status requests
// under callgrind (see RunInstructionProbe).
inline constexpr const char* kInstructionProbeOption = "--count-requests";
int RunInstructionProbe(int argc, char** argv);

}  // namespace bench
