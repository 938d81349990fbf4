#pragma once

#include <functional>

#include "protocol/main_sheet_if.h"

// Stands in for the main sheet beside a protocol object: counts the rebuilds
// it asks for and can run a hook at each, to look at the link meanwhile.
class CountingSheet : public IMainSheet {
public:
    int rebuilds = 0;
    std::function<void()> onRebuild;

    void RebuildPages() override {
        ++rebuilds;
        if (onRebuild) onRebuild();
    }
};
