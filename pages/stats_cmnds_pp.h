#pragma once

#include "pages/page_base.h"

// The "Statistics / Commands" page: usage counters, typed commands and print files.
// Still without controls; it already holds its tab and place in the sheet.
class CStats_CmndsPP : public CPageBase {
    Q_OBJECT

public:
    explicit CStats_CmndsPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Statistics / Commands"), parent) {}
};
