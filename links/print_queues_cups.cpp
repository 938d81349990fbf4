// The print queues of the CUPS scheduler. When the scheduler is not running
// the list is empty at once.
#include <cups/cups.h>

#include "links/print_queues.h"

namespace {

class CCupsPrintQueues : public IPrintQueueSource {
public:
    std::vector<PrintQueue> ListQueues() override;
};

std::vector<PrintQueue> CCupsPrintQueues::ListQueues() {
    std::vector<PrintQueue> queues;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        // Instances ("Queue/duplex") are option sets of a queue, not queues.
        if (dest.instance != nullptr || dest.name == nullptr) continue;
        const char* uri = cupsGetOption("device-uri", dest.num_options, dest.options);
        queues.push_back({dest.name, uri ? uri : ""});
    }
    cupsFreeDests(count, dests);
    return queues;
}

}  // namespace

std::shared_ptr<IPrintQueueSource> MakeSystemPrintQueues() {
    return std::make_shared<CCupsPrintQueues>();
}
