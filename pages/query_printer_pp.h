#pragma once

#include "pages/page_base.h"

// The "Query Printer" page: the query and sensor report.
// Still without controls; it already holds its tab and place in the sheet.
class CQueryPrinterPP : public CPageBase {
    Q_OBJECT

public:
    explicit CQueryPrinterPP(const PageContext& context, QWidget* parent = nullptr)
        : CPageBase(context, QStringLiteral("Query Printer"), parent) {}
};
