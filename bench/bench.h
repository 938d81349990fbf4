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

// The best (shortest) of `rounds` timings of `run`, in seconds.
double BestOf(int rounds, const std::function<void()>& run);

// Host services that never wait: pauses are recorded, boxes answered with
// their first button (OK, Yes, Retry), dialogs cancelled.
class RecordingHost : public IHostServices {
public:
    std::vector<int> pauses;
    std::vector<std::string> boxes;
    std::optional<std::string> openFileAnswer;
    std::optional<std::string> saveFileAnswer;

    long long PauseMs() const;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon) override;
    void SetWaitCursor(bool) override {}
    void Pause(int milliseconds) override { pauses.push_back(milliseconds); }
    std::optional<std::string> GetOpenFileName(const std::string&) override {
        return openFileAnswer;
    }
    std::optional<std::string> GetSaveFileName() override { return saveFileAnswer; }
    std::unique_ptr<CPrintCanvas> RunPrintDialog() override { return nullptr; }
    void ShowProgress(const std::string&, int64_t, int64_t) override {}
    void EndProgress() override {}
    bool StartDetached(const std::string&, const std::vector<std::string>&) override {
        return true;
    }
};

}  // namespace bench
