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
    bool Met(double value, double baseline) const;
};

struct Row {
    std::string name;
    std::string unit;
    double value = 0;
    std::string baselineName;
    double baseline = 0;  // 0: none
    Goal goal;
    std::string note;
    // The range over the repeats of the ratio, or of the value where there
    // is no baseline; value, baseline and ratio are medians.
    double spreadLow = 0;
    double spreadHigh = 0;
    // The measured run did not do what it should (a wrong checksum, missing
    // replies): the figure is not to be trusted.
    bool faulty = false;

    double Ratio() const { return baseline > 0 ? value / baseline : 0; }
    // Sets value, baseline and spread from the run times of interleaved
    // repeats; `toValue` turns seconds into the row's unit.
    void FromPairs(const std::vector<double>& ours, const std::vector<double>& base,
                   const std::function<double(double)>& toValue);
    // Value and spread from repeats without a baseline.
    void FromRepeats(const std::vector<double>& values);
    bool Met() const { return !faulty && goal.Met(value, baseline); }
};

struct Options {
    bool quick = false;  // smaller sizes, for a smoke run
    std::string executable;
};

// Each section appends its rows.
void RunTransfers(const Options& options, std::vector<Row>& rows);
void RunPageActions(const Options& options, std::vector<Row>& rows);
void RunReport(const Options& options, std::vector<Row>& rows);
void RunColdStart(const Options& options, std::vector<Row>& rows);
void RunCommandLine(const Options& options, std::vector<Row>& rows);
void RunStalls(const Options& options, std::vector<Row>& rows);

// Every figure is the median of this many repeats (interleaved with its
// baseline's): on a shared machine single runs swing by tens of per cent.
inline int Repeats(const Options& options) { return options.quick ? 1 : 5; }

// Seconds one run of `run` takes.
double TimeOnce(const std::function<void()>& run);
// `pairs` runs of `ours` and `baseline`, alternating, ours first; the
// seconds of each run, in order.
void TimePairs(int pairs, const std::function<void()>& ours, const std::function<void()>& baseline,
               std::vector<double>& oursSeconds, std::vector<double>& baselineSeconds);
double Median(std::vector<double> values);

}  // namespace bench
