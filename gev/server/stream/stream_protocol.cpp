#include "gev/server/stream/stream_protocol.h"

#include "gev/model/register_map.h"
#include "gev/server/resend_request.h"
#include "gev/server/stream/gvsp_chunks.h"
#include "platform/bytes.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Kivu {

namespace {

constexpr uint32_t kAllSources = 0xFFFFFFFF;
constexpr uint32_t kFireTestPacket = 0x80000000;
constexpr uint32_t kDontFragment = 0x40000000;
constexpr size_t kBatch = 1024;
constexpr int64_t kSpinNs = 100000;       // below this a paced wait spins
constexpr int64_t kMaxSleepNs = 5000000;  // a paced wait looks at the stop flag at least this often
constexpr int kShuffleSwaps = 20;
constexpr size_t kShuffleReach = 20;  // how far a swapped packet moves at most

int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint64_t scale(uint64_t value, uint64_t mul, uint64_t div)
{
    if (div == 0)
        return 0;
    __extension__ using U128 = unsigned __int128;
    const U128 r = static_cast<U128>(value) * mul / div;
    return r > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(r);
}

}  // namespace

StreamProtocol::StreamProtocol(std::shared_ptr<RegTree> tree, uint32_t channel, std::unique_ptr<StreamSocket> socket,
                               std::shared_ptr<StreamSources> sources)
    : m_Tree(std::move(tree)), m_Channel(channel),
      m_Sources(sources ? std::move(sources) : std::make_shared<StreamSources>(channel + 1)),
      m_Socket(std::move(socket)), m_Random(std::random_device{}())
{
    const uint32_t b = kStreamChannelBlockBase + kStreamChannelBlockStride * channel;
    m_Scp = reg(b + 0x00);
    m_Scps = reg(b + 0x04);
    m_Scpd = reg(b + 0x08);
    m_Scda = reg(b + 0x18);
    m_Scsp = reg(b + 0x1C);
    m_CurrentIp = reg(0x0024);
    m_TickHigh = reg(0x093C);
    m_TickLow = reg(0x0940);
    m_TsControl = reg(0x0944);
    m_TsHigh = reg(0x0948);
    m_TsLow = reg(0x094C);
    m_MaxPacket = reg(0xA030);
    m_AcqStart = reg(0xA04C);
    m_AcqStop = reg(0xA050);
    m_Resend = m_Tree->FindResendCmd();
    if (!m_Resend)
        throw std::runtime_error("Missing resend mailbox\n");
    const uint64_t f = (uint64_t(m_TickHigh->GetValue()) << 32) | m_TickLow->GetValue();
    m_TickFrequency.store(f != 0 ? f : 1000000000);
    m_PacketBytes.store(Gvsp::PacketBytes(m_Scps->GetValue()));
    m_ScpValue = m_Scp->GetValue();
    m_Delay.store(m_Scpd->GetValue());
    m_Buffers.resize(kBuffers);
    for (size_t i = 0; i < kBuffers; ++i)
        m_Free.push(static_cast<int>(i));
    subscribeAll();
}

StreamProtocol::~StreamProtocol()
{
    unsubscribeAll();
    Stop();
}

std::shared_ptr<UIntReg> StreamProtocol::reg(uint32_t address) const
{
    auto r = std::dynamic_pointer_cast<UIntReg>(m_Tree->Find(address));
    if (!r) {
        char text[64];
        std::snprintf(text, sizeof(text), "Missing register 0x%04X\n", address);
        throw std::runtime_error(text);
    }
    return r;
}

void StreamProtocol::subscribeAll()
{
    m_Scp->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScp));
    m_Scps->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScps));
    m_Scpd->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnScpd));
    m_AcqStart->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStart));
    m_AcqStop->Subscribe(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStop));
    m_TsControl->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnTimestampControl));
    m_Resend->Subscribe(MakeCallback(this, &StreamProtocol::OnResend));
}

void StreamProtocol::unsubscribeAll()
{
    m_Scp->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScp));
    m_Scps->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &StreamProtocol::OnScps));
    m_Scpd->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnScpd));
    m_AcqStart->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStart));
    m_AcqStop->RemoveCallbacks(CallbackList::AfterWrite, MakeCallback(this, &StreamProtocol::OnAcquisitionStop));
    m_TsControl->RemoveCallbacks(CallbackList::BeforeWrite,
                                 MakeCallback(this, &StreamProtocol::OnTimestampControl));
    m_Resend->RemoveCallbacks(MakeCallback(this, &StreamProtocol::OnResend));
}

// ---- Lifecycle -----------------------------------------------------------

bool StreamProtocol::Start(uint32_t gevMode)
{
    if (IsStarted() || (gevMode != GevMode::Standard && gevMode != GevMode::Extended))
        return false;
    m_GevMode.store(gevMode);
    {
        std::lock_guard lk(m_Mutex);
        m_BlockId16 = 0;
        m_BlockId64 = 0;
        m_Repacketize = true;
        m_FrameBegun = false;
    }
    m_Stopping.store(false);
    m_Streaming.store(false);
    m_Thread = std::jthread([this] { streamThread(); });
    m_Scp->SetValue(0);
    m_Scda->SetValue(0);
    return true;
}

void StreamProtocol::RequestStop()
{
    std::lock_guard lk(m_Mutex);
    m_Stopping.store(true);
    m_ReadyCv.notify_all();
    m_FreeCv.notify_all();
    m_StreamingCv.notify_all();
}

void StreamProtocol::Stop()
{
    RequestStop();
    if (m_Streaming.load())
        stopStreaming();
    if (m_Thread.joinable())
        m_Thread.join();
    if (m_Scp->GetValue() != 0)
        m_Scp->SetValue(0);
    if (m_Scda->GetValue() != 0)
        m_Scda->SetValue(0);
    // A producer inside a send entry sees the stop flag and leaves; only then
    // are its buffers reset.
    std::lock_guard send(m_SendMutex);
    std::unique_lock lk(m_Mutex);
    waitIdleLocked(lk);
    m_Free.clear();
    m_Ready.clear();
    m_History.clear();
    m_Held = -1;
    for (size_t i = 0; i < kBuffers; ++i) {
        SendBuffer& b = m_Buffers[i];
        b = SendBuffer{};
        m_Free.push(static_cast<int>(i));
    }
    m_FrameBegun = false;
}

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

// ---- Producer ------------------------------------------------------------

bool StreamProtocol::WaitReady()
{
    if (m_Stopping.load())
        return false;
    std::unique_lock lk(m_Mutex);
    m_StreamingCv.wait(lk, [&] { return m_Stopping.load() || m_Streaming.load(); });
    if (m_Stopping.load())
        return false;
    if (m_Repacketize) {
        m_Latched.geometry = m_Geometry;
        m_Latched.packetBytes = m_PacketBytes.load();
        m_Repacketize = false;
    }
    m_FrameBegun = true;
    return true;
}

int StreamProtocol::acquireBuffer(bool& refused)
{
    std::unique_lock lk(m_Mutex);
    m_FreeCv.wait(lk, [&] { return m_Stopping.load() || !m_Streaming.load() || !m_Free.empty(); });
    refused = m_Stopping.load();
    if (refused || !m_Streaming.load())
        return -1;
    const int index = m_Free.pop();
    m_Buffers[static_cast<size_t>(index)].slot = Slot::Filling;
    return index;
}

uint64_t StreamProtocol::nextBlockId()
{
    if (m_GevMode.load() == GevMode::Standard) {
        if (++m_BlockId16 == 0)
            m_BlockId16 = 1;
        return m_BlockId16;
    }
    if (++m_BlockId64 == 0)
        m_BlockId64 = 1;
    return m_BlockId64;
}

bool StreamProtocol::queueBlock(Gvsp::BlockSpec spec, const Source* sources, size_t count, uint64_t patchAt,
                                uint32_t patchLength)
{
    Gvsp::LayoutError error = Gvsp::LayoutError::None;
    const Gvsp::LayoutSize size = Gvsp::MeasureBlock(spec, &error);
    if (error != Gvsp::LayoutError::None)
        return false;
    bool refused = false;
    const int index = acquireBuffer(refused);
    if (index < 0)
        return !refused;
    SendBuffer& b = m_Buffers[static_cast<size_t>(index)];
    {
        std::lock_guard lk(m_Mutex);
        spec.blockId = nextBlockId();
    }
    spec.timestamp = GetTimestamp();

    if (b.data.size() < size.dataBytes)
        b.data.resize(size.dataBytes);
    if (b.headers.size() < size.headerBytes)
        b.headers.resize(size.headerBytes);
    if (b.refs.size() < size.packets) {
        b.refs.resize(size.packets);
        b.iov.resize(2 * size.packets);
        b.messages.resize(size.packets);
    }
    uint64_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        if (sources[i].size != 0)
            std::memcpy(b.data.data() + at, sources[i].data, sources[i].size);
        at += sources[i].size;
    }
    if (patchAt != UINT64_MAX && patchAt + 8 <= at)
        platform::storeBE32(b.data.data() + patchAt + 4, patchLength);
    Gvsp::LayoutBlock(spec, b.headers.data(), b.headers.size(), b.refs.data(), b.refs.size());
    for (size_t k = 0; k < size.packets; ++k) {
        const Gvsp::PacketRef& r = b.refs[k];
        iovec* v = &b.iov[2 * k];
        v[0] = {b.headers.data() + r.headerOffset, r.headerLength};
        v[1] = {b.data.data() + r.dataOffset, r.dataLength};
        mmsghdr& m = b.messages[k];
        m = mmsghdr{};
        m.msg_hdr.msg_iov = v;
        m.msg_hdr.msg_iovlen = r.dataLength != 0 ? 2 : 1;
    }
    b.packets = size.packets;
    b.blockId = spec.blockId;
    b.release = false;
    b.shuffled = m_Shuffle.load();
    if (b.shuffled) {
        if (b.order.size() < size.packets)
            b.order.resize(size.packets);
        for (size_t k = 0; k < size.packets; ++k)
            b.order[k] = {static_cast<uint32_t>(k), index};
    }

    std::lock_guard lk(m_Mutex);
    if (!m_Streaming.load() || m_Stopping.load()) {
        // Acquisition ended while the block was built: drop it.
        releaseLocked(index);
        m_FreeCv.notify_all();
        return !m_Stopping.load();
    }
    if (b.shuffled) {
        const int held = m_Held;
        b.slot = Slot::Held;
        m_Held = index;
        if (held < 0)
            return true;  // sent with the next block
        shuffleLocked(held, index);
        m_Buffers[static_cast<size_t>(held)].slot = Slot::Ready;
        m_Ready.push(held);
    } else {
        b.slot = Slot::Ready;
        m_Ready.push(index);
    }
    m_ReadyCv.notify_one();
    return true;
}

bool StreamProtocol::SendImage(const uint8_t* frame, uint64_t chunkBytes, uint32_t lines, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    struct FrameEnd {
        StreamProtocol& p;
        ~FrameEnd()
        {
            std::lock_guard lk(p.m_Mutex);
            p.m_FrameBegun = false;
            p.m_FrameParts = 0;
            p.m_FramePartTotal = 0;
        }
    } end{*this};
    if (m_Stopping.load())
        return false;
    if (!m_Streaming.load())
        return true;
    std::vector<ImagePartEntry> parts;
    Latched latched;
    uint32_t chunkSize = 0;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun || m_PayloadType.load() != kImagePayloadType)
            return false;
        for (const ImagePartEntry& e : m_Parts)
            if (e.data)
                parts.push_back(e);
        latched = m_Latched;
        chunkSize = m_ChunkSize;
    }
    // Parts travel in their own buffers: the frame buffer is needed for chunks only.
    if (frame == nullptr && (parts.empty() || chunkBytes != 0))
        return true;

    Gvsp::BlockSpec spec;
    spec.mode = m_GevMode.load() == GevMode::Standard ? Gvsp::IdMode::Standard : Gvsp::IdMode::Extended;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    spec.hasChunks = chunkBytes > 0;

    if (parts.empty()) {
        const FrameGeometry& g = latched.geometry;
        const uint32_t bits = PixelBits(g.pixelFormat);
        const uint64_t full = uint64_t(g.width) * g.height * bits / 8;
        const uint64_t payload = full + chunkSize;
        if (chunkBytes > chunkSize)
            return false;
        const uint32_t sent = lines == 0 ? g.height : std::min(lines, g.height);
        const uint64_t imageBytes = uint64_t(g.width) * sent * bits / 8;
        spec.image = {g.pixelFormat, g.width, g.height, g.offsetX, g.offsetY};
        spec.trailerSizeY = sent;
        spec.payloadSize = imageBytes + chunkBytes;
        // The chunk area, which ends at the payload's end, follows the image bytes sent.
        const Source sources[2] = {{frame, imageBytes}, {frame + payload - chunkBytes, chunkBytes}};
        const bool patch = lines != 0 && chunkBytes >= Gvsp::kChunkTrailerBytes;
        return queueBlock(spec, sources, 2, patch ? imageBytes : UINT64_MAX, static_cast<uint32_t>(imageBytes));
    }
    if (parts.size() == 1 || spec.mode == Gvsp::IdMode::Standard) {
        if (parts.size() != 1)
            return false;
        const ImagePartEntry& p = parts[0];
        const uint32_t sent = lines == 0 ? p.height : lines;
        spec.image = {p.pixelFormat, p.width, sent, 0, 0};
        spec.trailerSizeY = sent;
        spec.payloadSize = p.dataSize + chunkBytes;
        const Source sources[2] = {{p.data.get(), p.dataSize}, {chunkBytes != 0 ? frame + p.dataSize : nullptr, chunkBytes}};
        return queueBlock(spec, sources, 2, UINT64_MAX, 0);
    }
    spec.kind = Gvsp::BlockKind::MultiPart;
    std::vector<Gvsp::PartInfo> infos(parts.size());
    std::vector<Source> sources;
    for (size_t i = 0; i < parts.size(); ++i) {
        const ImagePartEntry& p = parts[i];
        infos[i] = {p.dataType, p.dataSize, p.pixelFormat, static_cast<uint16_t>(i), p.width, p.height,
                    lines == 0 ? p.height : lines};
        sources.push_back({p.data.get(), p.dataSize});
    }
    sources.push_back({frame, chunkBytes});
    spec.parts = infos;
    spec.chunkLength = chunkBytes;
    return queueBlock(spec, sources.data(), sources.size(), UINT64_MAX, 0);
}

bool StreamProtocol::SendImageWithChunk(const uint8_t* buffer, uint64_t size, uint64_t chunkBytes, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    if (m_Stopping.load() || m_GevMode.load() != GevMode::Extended)
        return false;
    if (!m_Streaming.load())
        return true;
    Latched latched;
    uint32_t chunkSize = 0;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun)
            return false;
        m_FrameBegun = false;
        if (m_PayloadType.load() != kImagePayloadType)
            return false;
        latched = m_Latched;
        chunkSize = m_ChunkSize;
    }
    if (buffer == nullptr)
        return true;
    const FrameGeometry& g = latched.geometry;
    const uint64_t lineBytes = uint64_t(g.width) * PixelBits(g.pixelFormat) / 8;
    const uint64_t payload = lineBytes * g.height + chunkSize;
    if (lineBytes == 0 || chunkBytes > chunkSize)
        return false;
    // Whole lines of the data; the chunk area ends at the configured payload's end.
    const uint64_t lines = std::min<uint64_t>(size / lineBytes, g.height);
    const uint64_t imageBytes = lineBytes * lines;
    Gvsp::BlockSpec spec;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    spec.hasChunks = chunkBytes > 0;
    spec.image = {g.pixelFormat, g.width, static_cast<uint32_t>(lines), g.offsetX, g.offsetY};
    spec.trailerSizeY = static_cast<uint32_t>(lines);
    spec.payloadSize = imageBytes + chunkBytes;
    const Source sources[2] = {{buffer, imageBytes}, {buffer + payload - chunkBytes, chunkBytes}};
    return queueBlock(spec, sources, 2, chunkBytes >= Gvsp::kChunkTrailerBytes ? imageBytes : UINT64_MAX,
                      static_cast<uint32_t>(imageBytes));
}

bool StreamProtocol::SendEncoded(Gvsp::BlockKind kind, const uint8_t* data, uint64_t size, uint16_t flags)
{
    std::lock_guard send(m_SendMutex);
    if (m_Stopping.load() || m_GevMode.load() != GevMode::Extended ||
        (kind != Gvsp::BlockKind::Jpeg && kind != Gvsp::BlockKind::H264))
        return false;
    if (!m_Streaming.load())
        return true;
    Latched latched;
    {
        std::lock_guard lk(m_Mutex);
        if (!m_FrameBegun)
            return false;
        latched = m_Latched;
    }
    Gvsp::BlockSpec spec;
    spec.kind = kind;
    spec.packetBytes = latched.packetBytes;
    spec.flags = flags;
    spec.payloadSize = data != nullptr ? size : 0;
    spec.image.pixelFormat = latched.geometry.pixelFormat;
    spec.tickFrequency = m_TickFrequency.load();
    const Source source{data, spec.payloadSize};
    const bool ok = data == nullptr || queueBlock(spec, &source, 1, UINT64_MAX, 0);
    std::lock_guard lk(m_Mutex);
    m_FrameBegun = false;
    return ok;
}

// ---- Configuration -------------------------------------------------------

void StreamProtocol::SetGeometry(const FrameGeometry& g)
{
    std::lock_guard lk(m_Mutex);
    m_Geometry = g;
    m_Repacketize = true;
}

bool StreamProtocol::SetChunkSize(uint32_t bytes)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    m_ChunkSize = bytes;
    return true;
}

uint32_t StreamProtocol::GetChunkSize() const
{
    std::lock_guard lk(m_Mutex);
    return m_ChunkSize;
}

uint64_t StreamProtocol::payloadSizeLocked() const
{
    uint64_t size = 0;
    if (m_Parts.empty()) {
        size = uint64_t(m_Geometry.width) * m_Geometry.height * PixelBits(m_Geometry.pixelFormat) / 8;
    } else {
        for (const ImagePartEntry& p : m_Parts)
            size += uint64_t(p.width) * p.height * PixelBits(p.pixelFormat) / 8;
    }
    return size + m_ChunkSize;
}

uint64_t StreamProtocol::PayloadSize() const
{
    std::lock_guard lk(m_Mutex);
    return payloadSizeLocked();
}

FrameGeometry StreamProtocol::LatchedGeometry() const
{
    std::lock_guard lk(m_Mutex);
    return m_Latched.geometry;
}

uint64_t StreamProtocol::LatchedPayloadSize() const
{
    std::lock_guard lk(m_Mutex);
    const FrameGeometry& g = m_Latched.geometry;
    return uint64_t(g.width) * g.height * PixelBits(g.pixelFormat) / 8 + m_ChunkSize;
}

bool StreamProtocol::UpdateImagePart(const ImagePartEntry& entry)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    auto it = std::find_if(m_Parts.begin(), m_Parts.end(), [&](const ImagePartEntry& e) {
        return e.key3 == entry.key3 && e.key1 == entry.key1 && e.key2 == entry.key2;
    });
    if (it == m_Parts.end()) {
        ImagePartEntry added = entry;
        added.dataSize = 0;
        added.data.reset();
        m_Parts.push_back(std::move(added));
    } else {
        it->width = entry.width;
        it->height = entry.height;
        it->dataType = entry.dataType;
        it->pixelFormat = entry.pixelFormat;
    }
    m_Repacketize = true;
    return true;
}

bool StreamProtocol::SetImagePartData(const PartKey& key, std::shared_ptr<const uint8_t> data, uint32_t size)
{
    std::lock_guard lk(m_Mutex);
    for (ImagePartEntry& e : m_Parts) {
        if (PartKey{e.key3, e.key1, e.key2} == key) {
            e.data = std::move(data);
            e.dataSize = e.data ? size : 0;
            ++m_FrameParts;
            m_FramePartTotal += size;
            return true;
        }
    }
    return false;
}

bool StreamProtocol::RemoveImagePart(const PartKey& key)
{
    if (m_Streaming.load())
        return false;
    std::lock_guard lk(m_Mutex);
    const auto it = std::find_if(m_Parts.begin(), m_Parts.end(),
                                 [&](const ImagePartEntry& e) { return PartKey{e.key3, e.key1, e.key2} == key; });
    if (it == m_Parts.end())
        return false;
    m_Parts.erase(it);
    m_Repacketize = true;
    return true;
}

std::vector<ImagePartEntry> StreamProtocol::Parts() const
{
    std::lock_guard lk(m_Mutex);
    return m_Parts;
}

size_t StreamProtocol::FreeBufferCount() const
{
    std::lock_guard lk(m_Mutex);
    return m_Free.size();
}

uint16_t StreamProtocol::FramePartCount() const
{
    std::lock_guard lk(m_Mutex);
    return m_FrameParts;
}

uint64_t StreamProtocol::FramePartTotal() const
{
    std::lock_guard lk(m_Mutex);
    return m_FramePartTotal;
}

void StreamProtocol::SetPacketDrop(bool enabled, uint32_t period, uint32_t first, uint32_t resume, uint64_t delayNs)
{
    if (!enabled) {
        m_DropEnabled.store(false);
        return;
    }
    m_DropPeriod.store(period);
    m_DropFirst.store(first);
    m_DropResume.store(resume);
    m_DropEnabled.store(true);
    const uint64_t ticks = scale(delayNs, m_TickFrequency.load(), 1000000000);
    m_Scpd->SetValue(static_cast<uint32_t>(std::min<uint64_t>(ticks, UINT32_MAX)));
}

bool StreamProtocol::SetShuffle(bool on)
{
    std::lock_guard lk(m_Mutex);
    if (m_Streaming.load())
        return false;
    if (!on && m_Held >= 0) {
        releaseLocked(m_Held);
        m_Held = -1;
        m_FreeCv.notify_all();
    }
    m_Shuffle.store(on);
    return true;
}

// ---- Timestamps ----------------------------------------------------------

bool StreamProtocol::SetTimestampSource(uint32_t mode, uint64_t start)
{
    if (m_Streaming.load())
        return false;
    if (mode != TimestampMode::LocalTime && mode != TimestampMode::Counter && mode != TimestampMode::Fixed)
        return false;
    if (start != 0)
        m_Origin.store(start);
    m_TimestampMode.store(mode);
    m_TickFrequency.store(1000000000);
    m_TickHigh->SetValue(0);
    m_TickLow->SetValue(1000000000);
    return true;
}

uint64_t StreamProtocol::GetTimestamp()
{
    uint64_t ticks = 0;
    const uint64_t f = m_TickFrequency.load();
    switch (m_TimestampMode.load()) {
    case TimestampMode::LocalTime: ticks = scale(static_cast<uint64_t>(clockNs(CLOCK_REALTIME)), f, 1000000000); break;
    case TimestampMode::Counter: {
        const uint64_t now = static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC));
        const uint64_t origin = m_Origin.load();
        ticks = scale(now > origin ? now - origin : 0, f, 1000000000);
        break;
    }
    default: ticks = m_FixedTimestamp.load(); break;
    }
    m_LastTimestamp.store(ticks);
    return ticks;
}

void StreamProtocol::RestartTimestampOrigin()
{
    if (m_TimestampMode.load() == TimestampMode::Counter)
        m_Origin.store(static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC)));
}

uint64_t StreamProtocol::CurrentBlockId() const
{
    std::lock_guard lk(m_Mutex);
    const uint64_t id = m_GevMode.load() == GevMode::Standard ? m_BlockId16 : m_BlockId64;
    return id == 0 ? 1 : id;
}

// ---- Register hooks ------------------------------------------------------

bool StreamProtocol::OnScp(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (m_Streaming.load())
        return false;
    if (value == m_ScpValue)
        return true;
    {
        std::unique_lock lk(m_Mutex);
        waitIdleLocked(lk);
    }
    if (m_ScpValue != 0) {
        m_Socket->Close();
        m_Scsp->SetValue(0);
    }
    if (value != 0 && m_Socket->Open(m_CurrentIp->GetValue()))
        m_Scsp->SetValue(m_Socket->LocalPort());
    m_ScpValue = value;
    return true;
}

bool StreamProtocol::OnScps(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (m_Streaming.load())
        return false;
    const uint32_t size = value & 0xFFFF;
    uint32_t max = m_MaxPacket->GetValue();
    if (max == 0 || max > 0xFFFF)
        max = 0xFFFF;
    if (size > max || size < kMinPacketSize)
        return false;
    if (Gvsp::PacketBytes(value) != m_PacketBytes.load()) {
        std::lock_guard lk(m_Mutex);
        m_PacketBytes.store(Gvsp::PacketBytes(value));
        m_Repacketize = true;
    }
    if ((value & kFireTestPacket) != 0 && r->GetRequester() != Origin::Internal)
        sendTestPacket(size - Gvsp::kIpUdpHeaderBytes);
    return true;
}

bool StreamProtocol::sendTestPacket(uint32_t size)
{
    const uint16_t port = static_cast<uint16_t>(m_Scp->GetValue());
    const uint32_t address = m_Scda->GetValue();
    if (port == 0 || address == 0 || !m_Socket->IsOpen())
        return false;
    std::lock_guard lk(m_ResendMutex);
    if (!m_Socket->Connect(address, port))
        return false;
    m_TestPacket.resize(size);
    Gvsp::WriteTestPacket(m_TestPacket.data(), size);
    iovec v{m_TestPacket.data(), size};
    mmsghdr m{};
    m.msg_hdr.msg_iov = &v;
    m.msg_hdr.msg_iovlen = 1;
    // An oversize probe must fail rather than be fragmented.
    m_Socket->SetDontFragment(true);
    const bool sent = m_Socket->Send(&m, 1) == 1;
    m_Socket->SetDontFragment((m_Scps->GetValue() & kDontFragment) != 0);
    return sent;
}

bool StreamProtocol::OnScpd(UIntReg* r)
{
    m_Delay.store(r->GetValue());
    return true;
}

bool StreamProtocol::OnAcquisitionStart(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (!IsStarted() || m_Stopping.load() || m_Streaming.load())
        return true;
    if (value != kAllSources) {
        if (m_Sources->ChannelOf(value) != m_Channel)
            return true;
        m_Sources->SetCurrentSource(m_Channel, m_Sources->Selected());
    }
    const uint16_t port = static_cast<uint16_t>(m_Scp->GetValue());
    const uint32_t address = m_Scda->GetValue();
    if (port == 0 || address == 0)
        return true;
    if (!m_Socket->IsOpen() || !m_Socket->Connect(address, port))
        return true;
    m_Socket->SetDontFragment((m_Scps->GetValue() & kDontFragment) != 0);
    std::lock_guard lk(m_Mutex);
    // Blocks of an earlier acquisition are not resent under the new ids.
    while (!m_History.empty())
        releaseLocked(m_History.pop());
    m_BlockId16 = 0;
    m_BlockId64 = 0;
    m_Streaming.store(true);
    m_StreamingCv.notify_all();
    return true;
}

bool StreamProtocol::OnAcquisitionStop(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    if (value == kAllSources || m_Sources->ChannelOf(value) == m_Channel)
        stopStreaming();
    return true;
}

bool StreamProtocol::OnTimestampControl(UIntReg* r)
{
    const uint32_t value = r->GetValue();
    // The channel serving the selected source acts; the write is refused when
    // no channel serves it.
    const uint32_t selected = m_Sources->Selected();
    if (selected != GetSource())
        return m_Sources->IsServed(selected);
    if ((value & 1) != 0 && m_TimestampMode.load() == TimestampMode::Counter)
        m_Origin.store(static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC)));
    if ((value & 2) != 0) {
        const uint64_t ts = GetTimestamp();
        m_TsHigh->SetValue(static_cast<uint32_t>(ts >> 32));
        m_TsLow->SetValue(static_cast<uint32_t>(ts));
    }
    return true;
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
