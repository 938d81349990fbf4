#include "links/print_queues.h"
#include "links/registry_print_queues.h"

std::shared_ptr<IPrintQueueSource> MakeSystemPrintQueues() {
    return std::make_shared<CRegistryPrintQueues>(MakeSystemRegistry());
}
