#pragma once

#include "pages/page_base.h"

// The "Upgrade Firmware" page: printer and laminator firmware upgrades.
// Still without controls; it already holds its tab and place in the sheet.
class CFirmwarePP : public CPageBase {
    Q_OBJECT

public:
    explicit CFirmwarePP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Upgrade Firmware"), parent) {}
};
