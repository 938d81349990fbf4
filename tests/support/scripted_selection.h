#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "links/usb_selection.h"

// Answers the USB selection dialog for the operator: OK on a line, or closed
// without a choice (Escape) once the script is used up.
class ScriptedSelection : public IUsbSelectionRunner {
public:
    std::deque<std::optional<int>> choices;  // no value: closed without a choice
    std::vector<UsbSelectionLines> shown;

    void RunSelection(CUsbDiscovery& discovery, IHostServices& host) override {
        shown.push_back(PrepareUsbSelection(discovery, host));
        if (!shown.back().discovered) return;  // the dialog ended by itself
        std::optional<int> choice;
        if (!choices.empty()) {
            choice = choices.front();
            choices.pop_front();
        }
        if (choice) ConfirmUsbSelection(discovery.State(), *choice);
    }
};
