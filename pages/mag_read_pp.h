#pragma once

#include "pages/page_base.h"

// The "Mag Read" page: magnetic-stripe reading.
// Still without controls; it already holds its tab and place in the sheet.
class CMagReadPP : public CPageBase {
    Q_OBJECT

public:
    explicit CMagReadPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Mag Read"), parent) {}
};
