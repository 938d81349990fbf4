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
    enum Kind { None, RatioAtLeast, RatioAtMost, Below } kind = None;
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
    // The measured run did not do what it should (a wrong checksum, missing
    // replies): the figure is not to be trusted.
    bool faulty = false;

    double Ratio() const { return baseline > 0 ? value / baseline : 0; }
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

// The best (shortest) of `rounds` timings of `run`, in seconds.
double BestOf(int rounds, const std::function<void()>& run);

// The best times (s) of `baseline` and `measured` over `rounds` alternating
// runs of each: both see the same machine state, and the best is the run
// least disturbed by anything else on it.
struct BestTimes {
    double baseline = 1e300;
    double measured = 1e300;
};
BestTimes InterleavedBest(int rounds, const std::function<void()>& baseline,
                          const std::function<void()>& measured);

}  // namespace bench
