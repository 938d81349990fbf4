#pragma once

#include "pages/page_base.h"

// The "Mag Encode" page: magnetic-stripe encoding.
// Still without controls; it already holds its tab and place in the sheet.
class CMagEncodingPP : public CPageBase {
    Q_OBJECT

public:
    explicit CMagEncodingPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Mag Encode"), parent) {}
};
