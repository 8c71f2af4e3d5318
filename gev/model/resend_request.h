#pragma once
// How a packet resend request travels through the ResendCmd mailbox:
// first = block id, second = first packet id (high half) and last packet id (low half).
#include "model/mailboxes.h"

#include <cstdint>

namespace Kivu {

struct ResendRange {
    uint64_t blockId = 0;
    uint32_t firstPacket = 0;
    uint32_t lastPacket = 0;
};

inline ResendCmd::Request PackResendRequest(const ResendRange& r)
{
    return ResendCmd::Request{r.blockId, (uint64_t(r.firstPacket) << 32) | r.lastPacket};
}

inline ResendRange UnpackResendRequest(const ResendCmd::Request& q)
{
    return ResendRange{q.first, uint32_t(q.second >> 32), uint32_t(q.second)};
}

}  // namespace Kivu
