#include "app/page_factory.h"

#include "pages/ethernet_pp.h"
#include "pages/firmware_pp.h"
#include "pages/mag_encoding_pp.h"
#include "pages/mag_read_pp.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "pages/stats_cmnds_pp.h"

FeaturePages CreateFeaturePages(const PageContext& context) {
    return {
        std::make_unique<CPrinterIdentityPP>(context), std::make_unique<CStats_CmndsPP>(context),
        std::make_unique<CFirmwarePP>(context),        std::make_unique<CQueryPrinterPP>(context),
        std::make_unique<CEthernetPP>(context),        std::make_unique<CMagEncodingPP>(context),
        std::make_unique<CMagReadPP>(context),
    };
}

QStringList FeaturePageTitles() {
    return {
        CPrinterIdentityPP::tr("Printer Identity"),
        CStats_CmndsPP::tr("Statistics / Commands"),
        QStringLiteral("Upgrade Firmware"),
        CQueryPrinterPP::tr("Query Printer"),
        CEthernetPP::tr("Ethernet"),
        CMagEncodingPP::tr("Mag Encode"),
        CMagReadPP::tr("Mag Read"),
    };
}
