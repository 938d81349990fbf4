#include "support/fake_host.h"

#include <algorithm>
#include <numeric>

#include "seams/print_canvas.h"

int FakeHost::TotalPauseMs() const { return std::accumulate(pauses.begin(), pauses.end(), 0); }

std::vector<std::string> FakeHost::BoxTexts() const {
    std::vector<std::string> texts;
    for (const Box& box : boxes) texts.push_back(box.text);
    return texts;
}

MsgResult FakeHost::ShowMessageBoxWithDetails(const std::string& text, const std::string& details,
                                              MsgButtons buttons, MsgIcon icon) {
    const MsgResult result = ShowMessageBox(text, buttons, icon);
    boxes.back().details = details;
    return result;
}

MsgResult FakeHost::ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) {
    boxes.push_back({text, buttons, icon, {}});
    if (!boxAnswers.empty()) {
        MsgResult r = boxAnswers.front();
        boxAnswers.pop_front();
        return r;
    }
    switch (buttons) {
        case MsgButtons::Ok:
        case MsgButtons::OkCancel:
            return MsgResult::Ok;
        case MsgButtons::YesNo:
            return MsgResult::Yes;
        case MsgButtons::RetryCancel:
            return m_retryAnswer;
    }
    return MsgResult::Ok;
}

void FakeHost::SetWaitCursor(bool on) {
    waitCursorDepth += on ? 1 : -1;
    if (on) ++waitCursorShows;
}

void FakeHost::Pause(int milliseconds) {
    pauses.push_back(milliseconds);
    if (onPause) onPause(milliseconds);
}

void FakeHost::Idle() {
    ++idles;
    if (idles == cancelAtIdle) cancelled = true;
    if (onIdle) onIdle();
}

std::optional<std::string> FakeHost::GetOpenFileName(const std::string& filter) {
    openFileFilters.push_back(filter);
    if (openFileAnswers.empty()) return std::nullopt;
    auto r = openFileAnswers.front();
    openFileAnswers.pop_front();
    return r;
}

std::optional<std::string> FakeHost::GetSaveFileName() {
    ++saveDialogs;
    if (saveFileAnswers.empty()) return std::nullopt;
    auto r = saveFileAnswers.front();
    saveFileAnswers.pop_front();
    return r;
}

std::unique_ptr<CPrintCanvas> FakeHost::RunPrintDialog() {
    ++printDialogs;
    if (printCanvases.empty()) return nullptr;
    auto c = std::move(printCanvases.front());
    printCanvases.pop_front();
    return c;
}

void FakeHost::ShowProgress(const std::string& text, int64_t done, int64_t total) {
    progress.emplace_back(done, total);
    progressTexts.push_back(text);
}

void FakeHost::EndProgress() { ++progressEnds; }

bool FakeHost::StartDetached(const std::string& program,
                             const std::vector<std::string>& arguments) {
    started.emplace_back(program, arguments);
    return true;
}

std::chrono::milliseconds LongestWithoutIdle(FakeHost& host, const std::function<void()>& action) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    host.onIdle = [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    };
    action();
    longest = std::max(longest, Clock::now() - last);
    host.onIdle = nullptr;
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}
