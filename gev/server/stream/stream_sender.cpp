#include "server/stream/stream_protocol.h"

#include "model/resend_request.h"
#include "server/stream/stream_clock.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace Kivu {

namespace {

constexpr size_t kBatch = 1024;
constexpr int64_t kSpinNs = 100000;       // below this a paced wait spins
constexpr int64_t kMaxSleepNs = 5000000;  // a paced wait looks at the stop flag at least this often
constexpr int kShuffleSwaps = 20;
constexpr size_t kShuffleReach = 20;  // how far a swapped packet moves at most

}  // namespace

// ---- Send buffers --------------------------------------------------------

void StreamProtocol::waitIdleLocked(std::unique_lock<std::mutex>& lk)
{
    m_IdleCv.wait(lk, [&] {
        if (m_InFlight >= 0)
            return false;
        for (const SendBuffer& b : m_Buffers)
            if (b.pins != 0)
                return false;
        return true;
    });
}

void StreamProtocol::releaseLocked(int index)
{
    SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
    if (index == m_InFlight) {
        b.release = true;
        return;
    }
    // Not sent now: its order no longer needs the packets of other buffers.
    dropBorrowsLocked(index);
    if (b.pins != 0 || b.lends != 0) {
        b.release = true;
        return;
    }
    b.release = false;
    b.slot = Slot::Free;
    m_Free.push(index);
}

void StreamProtocol::dropBorrowsLocked(int index)
{
    SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
    const uint32_t borrows = b.borrows;
    b.borrows = 0;
    for (size_t i = 0; i < kBuffers; ++i) {
        if ((borrows & (1u << i)) == 0)
            continue;
        SendBuffer& lender = m_Buffers[i];
        if (--lender.lends == 0 && lender.release)
            releaseLocked(static_cast<int>(i));
    }
}

void StreamProtocol::shuffleLocked(int held, int current)
{
    SendBuffer& h = m_Buffers[static_cast<size_t>(held)];
    SendBuffer& c = m_Buffers[static_cast<size_t>(current)];
    const size_t nh = h.packets;
    const size_t n = nh + c.packets;
    // Positions 0 .. n-2 of both blocks (the current block's trailer stays
    // last); with fewer packets than the reach the swaps stay within the count.
    if (n < 3)
        return;
    const size_t reach = std::min(kShuffleReach, n - 2);
    auto at = [&](size_t k) -> Element& { return k < nh ? h.order[k] : c.order[k - nh]; };
    bool heldGets = false, currentGets = false;
    for (int i = 0; i < kShuffleSwaps; ++i) {
        const size_t a = m_Random() % (n - 1 - reach);
        const size_t k = a + 1 + m_Random() % reach;
        if (a < nh && k >= nh) {
            // Only packets of these two blocks cross into the current one, so an
            // order never carries packets of more than its two neighbours.
            if (at(a).owner != held && at(a).owner != current)
                continue;
            heldGets = heldGets || at(k).owner == current;
            currentGets = currentGets || at(a).owner == held;
        }
        std::swap(at(a), at(k));
    }
    if (heldGets && (h.borrows & (1u << current)) == 0) {
        h.borrows |= 1u << current;
        ++c.lends;
    }
    if (currentGets && (c.borrows & (1u << held)) == 0) {
        c.borrows |= 1u << held;
        ++h.lends;
    }
}

void StreamProtocol::stopStreaming()
{
    std::lock_guard lk(m_Mutex);
    m_Streaming.store(false);
    while (!m_Ready.empty())
        releaseLocked(m_Ready.pop());
    while (!m_History.empty())
        releaseLocked(m_History.pop());
    if (m_Held >= 0) {
        releaseLocked(m_Held);
        m_Held = -1;
    }
    m_FreeCv.notify_all();
}

// ---- Stream thread -------------------------------------------------------

void StreamProtocol::streamThread()
{
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -5);  // above normal, best effort
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);                 // paced sleeps end on time

    std::unique_lock lk(m_Mutex);
    for (;;) {
        m_ReadyCv.wait(lk, [&] { return m_Stopping.load() || !m_Ready.empty(); });
        if (m_Stopping.load())
            break;
        const int index = m_Ready.pop();
        if (m_History.size() == kHistory)
            releaseLocked(m_History.pop());
        SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
        b.slot = Slot::History;
        m_History.push(index);
        m_InFlight = index;
        const bool send = m_Streaming.load();
        const uint64_t blockId = b.blockId;
        lk.unlock();
        if (send)
            transmit(b, blockId);
        lk.lock();
        m_InFlight = -1;
        dropBorrowsLocked(index);
        if (b.release)
            releaseLocked(index);
        m_FreeCv.notify_all();
        m_IdleCv.notify_all();
    }
}

int64_t StreamProtocol::paceUntil(int64_t deadline)
{
    for (;;) {
        const int64_t now = clockNs(CLOCK_MONOTONIC);
        if (now >= deadline)
            return now;
        if (!sendAllowed())
            return -1;
        const int64_t left = deadline - now;
        if (left > 2 * kSpinNs) {
            const int64_t until = now + std::min(left - kSpinNs, kMaxSleepNs);
            timespec ts{static_cast<time_t>(until / 1000000000), static_cast<long>(until % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        }
    }
}

void StreamProtocol::transmit(SendBuffer& b, uint64_t blockId)
{
    const size_t count = b.packets;
    mmsghdr* messages = b.messages.data();
    if (b.shuffled) {
        // The owners of borrowed packets are kept until this send ends (lends).
        if (b.sendOrder.size() < count)
            b.sendOrder.resize(count);
        for (size_t k = 0; k < count; ++k) {
            const Element& e = b.order[k];
            b.sendOrder[k] = m_Buffers[static_cast<size_t>(e.owner)].messages[e.packet];
        }
        messages = b.sendOrder.data();
    }
    // Ranges of packet indices to send: all, or without [first, resume) in dropped blocks.
    size_t ranges[2][2] = {{0, count}, {count, count}};
    const uint32_t period = m_DropPeriod.load();
    if (m_DropEnabled.load() && period != 0 && blockId % period == 0) {
        ranges[0][1] = std::min<size_t>(count, m_DropFirst.load());
        ranges[1][0] = std::min<size_t>(count, std::max<size_t>(m_DropResume.load(), ranges[0][1]));
    }
    const uint32_t delay = m_Delay.load();
    if (delay == 0) {
        for (const auto& r : ranges)
            for (size_t at = r[0]; at < r[1] && sendAllowed(); at += kBatch)
                m_Socket->Send(&messages[at], std::min(kBatch, r[1] - at));
        return;
    }
    // Paced: one packet at a time on a running deadline, so the time a send
    // takes does not add to the gap.
    const int64_t gap = static_cast<int64_t>(std::min<uint64_t>(
        scale(delay, 1000000000, m_TickFrequency.load()), uint64_t(INT64_MAX / 4)));
    int64_t next = clockNs(CLOCK_MONOTONIC);
    for (const auto& r : ranges) {
        for (size_t at = r[0]; at < r[1]; ++at) {
            const int64_t start = paceUntil(next);
            if (start < 0)
                return;
            m_Socket->Send(&messages[at], 1);
            next += gap;
            // More than a gap late (preempted): resume at the rate rather than burst.
            if (next < start)
                next = start + gap;
        }
    }
}

bool StreamProtocol::OnResend(ResendCmd* cmd)
{
    const ResendRange req = UnpackResendRequest(cmd->GetRequest());
    int index = -1;
    size_t first = 0, last = 0;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_Streaming.load())
            return true;
        const bool standard = m_GevMode.load() == GevMode::Standard;
        for (size_t i = 0; i < m_History.size(); ++i) {
            SendBuffer& b = m_Buffers[static_cast<size_t>(m_History.at(i))];
            const bool match = standard ? (b.blockId & 0xFFFF) == (req.blockId & 0xFFFF) : b.blockId == req.blockId;
            if (match && !b.release)
                index = m_History.at(i);
        }
        if (index < 0)
            return true;
        SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
        first = req.firstPacket;
        last = std::min<size_t>(req.lastPacket, b.packets - 1);  // up to the trailer
        if (first >= b.packets || first > last)
            return true;
        ++b.pins;
    }
    SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
    {
        std::lock_guard lk(m_ResendMutex);
        m_ResendMessages.assign(b.messages.begin() + static_cast<std::ptrdiff_t>(first),
                                b.messages.begin() + static_cast<std::ptrdiff_t>(last + 1));
        m_Socket->Send(m_ResendMessages.data(), m_ResendMessages.size());
    }
    std::lock_guard lk(m_Mutex);
    if (--b.pins == 0 && b.release)
        releaseLocked(index);
    m_FreeCv.notify_all();
    m_IdleCv.notify_all();
    return true;
}

}  // namespace Kivu
