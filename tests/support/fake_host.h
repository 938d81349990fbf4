#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "seams/host_services.h"
#include "seams/page_services.h"
#include "seams/print_canvas.h"

// Host services for tests, benchmarks and fuzz targets: answers from a
// script, records every call, and never waits. Unscripted message boxes
// answer with their first button (OK, Yes or Retry); unscripted dialogs
// answer "cancelled".
class FakeHost : public IHostServices, public IPageServices {
public:
    // A run that must end on a printer that never answers (a benchmark, a
    // fuzz input) answers unscripted Retry/Cancel boxes with Cancel.
    explicit FakeHost(MsgResult retryAnswer = MsgResult::Retry) : m_retryAnswer(retryAnswer) {}

    struct Box {
        std::string text;
        MsgButtons buttons;
        MsgIcon icon;
        std::string details;  // the box's detailed text; empty: none
    };

    // --- script -----------------------------------------------------------
    std::deque<MsgResult> boxAnswers;
    std::deque<std::optional<std::string>> openFileAnswers;
    std::deque<std::optional<std::string>> saveFileAnswers;
    // Canvases handed out by RunPrintDialog, in order; none = cancelled.
    std::deque<std::unique_ptr<CPrintCanvas>> printCanvases;

    // --- record -----------------------------------------------------------
    std::vector<Box> boxes;
    std::vector<int> pauses;
    std::vector<std::string> openFileFilters;
    int saveDialogs = 0;
    int printDialogs = 0;
    int waitCursorDepth = 0;  // shows on minus hides
    int waitCursorShows = 0;
    std::vector<std::pair<std::string, std::vector<std::string>>> started;
    std::vector<std::pair<int64_t, int64_t>> progress;
    std::vector<std::string> progressTexts;
    int progressEnds = 0;

    int TotalPauseMs() const;
    // The boxes' texts, in order.
    std::vector<std::string> BoxTexts() const;
    // Hook run at every pause, e.g. to change the simulated printer while the
    // program waits.
    std::function<void(int)> onPause;
    // Idle calls made between the slices of the waits; the hook runs at each.
    int idles = 0;
    std::function<void()> onIdle;
    // The operator's cancel: set by a test, or at the idle call numbered
    // cancelAtIdle (1 = the first).
    bool cancelled = false;
    int cancelAtIdle = 0;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
    MsgResult ShowMessageBoxWithDetails(const std::string& text, const std::string& details,
                                        MsgButtons buttons, MsgIcon icon) override;
    void SetWaitCursor(bool on) override;
    void Pause(int milliseconds) override;
    void Idle() override;
    bool CancelRequested() const override { return cancelled; }
    std::optional<std::string> GetOpenFileName(const std::string& filter) override;
    std::optional<std::string> GetSaveFileName() override;
    std::unique_ptr<CPrintCanvas> RunPrintDialog() override;
    void ShowProgress(const std::string& text, int64_t done, int64_t total) override;
    void EndProgress() override;
    bool StartDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;

private:
    MsgResult m_retryAnswer;
};

// The longest stretch the window would go without an idle call while
// `action` runs, counting from its start to its end.
std::chrono::milliseconds LongestWithoutIdle(FakeHost& host, const std::function<void()>& action);
