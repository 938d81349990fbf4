#pragma once

#include <cstdint>
#include <string>

enum class MsgButtons { Ok, OkCancel, YesNo, RetryCancel };
enum class MsgIcon { Auto, None, Exclamation, Question, Information };
enum class MsgResult { Ok, Cancel, Yes, No, Retry };

// What the tasks and the protocol object take from the front end that a
// test must control: message boxes, the wait cursor, blocking pauses, idle
// calls, the operator's cancel and progress for long transfers. What only
// the window's pages ask for is in seams/page_services.h. The Qt
// implementation lives in app/, the command line's in cli/; tests use a
// scripted double.
//
// Texts are 8-bit (Latin-1) strings, exactly as the printer and the operator
// see them.
class IHostServices {
public:
    virtual ~IHostServices() = default;

    // Shows a box with the application's name as caption. MsgIcon::Auto picks
    // the house rule: exclamation for OK / OK-Cancel boxes, question for
    // Yes/No boxes, exclamation for Retry/Cancel.
    MsgResult Message(const std::string& text, MsgButtons buttons, MsgIcon icon = MsgIcon::Auto) {
        return ShowMessageBox(text, buttons, ResolveIcon(buttons, icon));
    }

    static MsgIcon ResolveIcon(MsgButtons buttons, MsgIcon icon) {
        if (icon != MsgIcon::Auto) return icon;
        return buttons == MsgButtons::YesNo ? MsgIcon::Question : MsgIcon::Exclamation;
    }

    virtual MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) = 0;
    // The same box with a longer text the operator may open under it
    // ("Show Details..."); empty details show the box alone. A front end
    // without such a part shows the box alone.
    virtual MsgResult ShowMessageBoxWithDetails(const std::string& text, const std::string& details,
                                                MsgButtons buttons, MsgIcon icon) {
        (void)details;
        return ShowMessageBox(text, buttons, icon);
    }

    virtual void SetWaitCursor(bool on) = 0;

    // A blocking wait on the user-interface thread. A front end with a
    // window waits in slices with Idle between them.
    virtual void Pause(int milliseconds) = 0;

    // Called between the slices of every wait (see seams/idle_pacer.h), so
    // a window keeps painting and answering the desktop while the program
    // waits for the printer. It must start nothing that reaches the
    // printer: operator input reaches no control meanwhile. Front ends
    // without a window need not implement it.
    virtual void Idle() {}

    // The operator asked, during an idle call, to cancel the running
    // operation (Escape, or closing the window). Every wait then ends at
    // its next slice, and the protocol object writes nothing more, so the
    // rest of the operation fails as unanswered within a slice or two. The
    // request lasts until the operation has returned to the front end.
    virtual bool CancelRequested() const { return false; }

    // Progress of a long transfer in a small modal window without Cancel.
    // The first call opens it; EndProgress closes it.
    virtual void ShowProgress(const std::string& text, int64_t done, int64_t total) = 0;
    virtual void EndProgress() = 0;
};
