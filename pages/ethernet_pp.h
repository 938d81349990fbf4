#pragma once

#include "pages/page_base.h"

// The "Ethernet" page: the printer's own network settings.
// Still without controls; it already holds its tab and place in the sheet.
class CEthernetPP : public CPageBase {
    Q_OBJECT

public:
    explicit CEthernetPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Ethernet"), parent) {}
};
