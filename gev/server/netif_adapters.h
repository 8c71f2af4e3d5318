#pragma once
// The order in which the device prefers the host's adapters.
#include "server/netif.h"

#include <vector>

namespace Kivu {

// Gigabit Ethernet adapters go in front, each before the ones found earlier;
// every other adapter is appended in the order found.
std::vector<AdapterRecord> OrderAdapters(const std::vector<AdapterRecord>& found);

}  // namespace Kivu
