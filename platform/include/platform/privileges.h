#pragma once

namespace platform {

// Whether the calling thread may change network configuration (CAP_NET_ADMIN effective).
bool hasNetAdminCapability();

}  // namespace platform
