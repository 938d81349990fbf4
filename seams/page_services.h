#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CPrintCanvas;

// What only the window's pages take from the desktop: the file and print
// dialogs and starting another program. Apart from IHostServices so that a
// front end without a window (the command line) implements none of it.
class IPageServices {
public:
    virtual ~IPageServices() = default;

    // `filter` in Qt's form, e.g. "Velmora Firmware Files (*.cfe)". No value
    // when the operator cancels.
    virtual std::optional<std::string> GetOpenFileName(const std::string& filter) = 0;
    // Asks before overwriting; no filter, no default extension.
    virtual std::optional<std::string> GetSaveFileName() = 0;

    // Runs the system print dialog; no canvas when the operator cancels.
    virtual std::unique_ptr<CPrintCanvas> RunPrintDialog() = 0;

    // Starts a program detached, hidden, output discarded, never waited for.
    virtual bool StartDetached(const std::string& program,
                               const std::vector<std::string>& arguments) = 0;
};
