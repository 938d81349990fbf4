#pragma once

#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "seams/host_services.h"

// One output stream shared by the printers of a fleet: each piece is
// written whole.
class CSharedStream {
public:
    explicit CSharedStream(std::ostream& stream) : m_stream(stream) {}
    void Write(const std::string& text);

private:
    std::mutex m_mutex;
    std::ostream& m_stream;
};

struct CliHostOptions {
    // Yes/No and OK/Cancel questions are answered Yes and OK; without it, No
    // and Cancel.
    bool yes = false;
    // Retry/Cancel boxes are answered Retry this many times, then Cancel.
    int retries = 0;
    // Draw the firmware progress as a bar (standard error is a terminal and
    // only one printer is at work).
    bool progressBar = false;
    // The terminal's width now, asked at every redraw (0: unknown); empty:
    // standard error's own.
    std::function<int()> columns;
    // Put before every line: the printer's address in a fleet.
    std::string prefix;
    std::function<void(int)> sleep;
    // While it returns true, boxes say nothing and go unrecorded, and
    // questions are answered No or Cancel without counting as declined: the
    // command is being stopped, and its reason is said instead.
    std::function<bool()> muted;
};

// The desktop services on a command line: message boxes become one line on
// standard error with the same text, questions are answered from the
// command line, nothing waits for a person. One per printer, so the
// printers of a fleet run side by side.
class CCliHost : public IHostServices {
public:
    CCliHost(CSharedStream& err, CliHostOptions options);
    // A bar still drawn gets its line ended, whichever way the command ends.
    ~CCliHost() override;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
    void SetWaitCursor(bool) override {}
    // A stopped command's waits end at once.
    bool CancelRequested() const override { return m_options.muted && m_options.muted(); }
    void Pause(int milliseconds) override;
    void ShowProgress(const std::string& text, int64_t done, int64_t total) override;
    void EndProgress() override;

    // A question was answered No because --yes was not given.
    bool Declined() const { return m_declined; }
    // The command line's own conclusion, said even while a stopped command
    // winds down: unlike a task's messages then, it rests on what did happen.
    void Tell(const std::string& text);
    // Every message shown, as its line reads (without the prefix).
    const std::vector<std::string>& Messages() const { return m_messages; }

    // A box's text on one line: line breaks become blanks, trailing blanks go.
    static std::string OneLine(const std::string& text);
    // The bar's line, without its redraw codes, at most `columns` - 1 wide
    // so the terminal never wraps it (a wrapped line is redrawn below itself
    // on every step); 0 columns: as wide as an ordinary terminal.
    static std::string BarLine(const std::string& label, int64_t done, int64_t total, int columns);

private:
    void Line(const std::string& text);

    CSharedStream& m_err;
    CliHostOptions m_options;
    int m_retriesUsed = 0;
    bool m_declined = false;
    bool m_barShown = false;
    std::vector<std::string> m_messages;
};
