#include "server/netif_adapters.h"

#include "server/netif_linux.h"

#include <deque>

namespace Kivu {

std::vector<AdapterRecord> OrderAdapters(const std::vector<AdapterRecord>& found)
{
    std::deque<AdapterRecord> ordered;
    for (const AdapterRecord& record : found) {
        if (record.ifType == IfType::Ethernet && record.speedMbps == 1000)
            ordered.push_front(record);
        else
            ordered.push_back(record);
    }
    return {ordered.begin(), ordered.end()};
}

}  // namespace Kivu
