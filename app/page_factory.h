#pragma once

#include <QStringList>
#include <array>
#include <functional>
#include <memory>

#include "pages/page_base.h"

inline constexpr int kFeaturePageCount = 7;

// The feature pages in sheet order, not yet in any sheet.
using FeaturePages = std::array<std::unique_ptr<CPageBase>, kFeaturePageCount>;
using FeaturePageFactory = std::function<FeaturePages(const PageContext&)>;

// Printer Identity, Statistics / Commands, Upgrade Firmware, Query Printer,
// Ethernet, Mag Encode, Mag Read.
FeaturePages CreateFeaturePages(const PageContext& context);

// Their tab titles in the same order, for a sheet that takes its width
// before the pages exist.
QStringList FeaturePageTitles();
