#pragma once

#include "pages/page_base.h"

// The "Printer Identity" page: identity and print-engine settings.
// Still without controls; it already holds its tab and place in the sheet.
class CPrinterIdentityPP : public CPageBase {
    Q_OBJECT

public:
    explicit CPrinterIdentityPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Printer Identity"), parent) {}
};
