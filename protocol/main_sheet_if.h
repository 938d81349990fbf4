#pragma once

// What the protocol object needs of the main sheet: rebuilding the feature
// pages after every successful connect.
class IMainSheet {
public:
    virtual ~IMainSheet() = default;
    virtual void RebuildPages() = 0;
};
