#include "stream/stream_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "stream/frame_check.h"
#include "stream/protocol.h"

namespace quillan::stream {
namespace {

// Chunks are taken in slices of this size, so a pending frame plus one slice always fits.
constexpr size_t kSliceLength = 65536;
// Bytes needed at a frame start before it can be judged (magic or type pair, and length).
constexpr size_t kFrameHeadLength = 8;

using platform::loadLE16;
using platform::loadLE32;

bool isLegacyPair(const uint8_t* p, uint8_t first, uint8_t last)
{
    return p[1] == kLegacyMarker && p[0] >= first && p[0] <= last;
}

// Whether the 8 bytes at p start a frame that synchronisation may begin with.
bool isFrameStart(const uint8_t* p)
{
    const uint32_t word = loadLE32(p);
    if (word == kContainerMagic)
        return loadLE32(p + 4) <= kMaxContainerLength;
    if (word == kSyncContainerMagic) {
        const uint32_t length = loadLE32(p + 4);
        return length >= kBlockHeaderSize && length <= kBufferRxMax;
    }
    if (p[1] != kLegacyMarker)
        return false;
    const uint8_t type = p[0];
    if (type == 8 || (type >= 2 && type <= 7 && type != 4)) {
        const size_t length = legacyFrameLength(p);
        const size_t limit = type == 8 ? kMaxContainerLength : kMaxFrameLength;
        return length >= kMinLegacyLength && length <= limit;
    }
    return false;
}

}  // namespace

StreamParser::StreamParser(StreamSink& sink, Clock clock)
    : m_Sink(sink),
      m_Clock(clock ? std::move(clock) : Clock(platform::tickCountMs)),
      m_Buffer(new uint8_t[kBufferRxMax])
{
    // Touched here, on the connecting thread: the receive thread takes no page faults mid-stream.
    std::memset(m_Buffer.get(), 0, kBufferRxMax);
    m_LastStatisticsTick = m_Clock();
}

void StreamParser::reset()
{
    emptyBuffer();
    setSynchronised(false);
    m_ResyncRequested.store(false);
    m_Stats = StreamStats{};
    m_HavePictureCounter = false;
    m_HaveTimeStamp = false;
    m_LastStatisticsTick = m_Clock();
}

void StreamParser::feed(const uint8_t* data, size_t length)
{
    if (m_ResyncRequested.exchange(false)) {
        emptyBuffer();
        setSynchronised(false);
    }
    m_Stats.byteCount += static_cast<uint32_t>(length);
    while (length > 0) {
        const size_t n = std::min(length, kSliceLength);
        feedSlice(data, n);
        data += n;
        length -= n;
    }
    if (m_Clock() - m_LastStatisticsTick >= 1001)
        writeStatisticsLine();
}

void StreamParser::feedSlice(const uint8_t* data, size_t length)
{
    // The held bytes start at the buffer's front (m_Head is 0 here).
    if (m_Fill + length > kBufferRxMax - 1) {
        // Overflow: nothing held can still become a frame.
        emptyBuffer();
        setSynchronised(false);
    }
    std::memcpy(m_Buffer.get() + m_Fill, data, length);
    m_Fill += length;
    process();
    if (m_Head == m_Fill) {
        m_Head = m_Fill = 0;
    } else if (m_Head > 0) {
        // Keep the pending frame at the front, so the stream stays in the buffer's first pages.
        // After a frame that ended in this slice it is shorter than the slice. Its walk offset
        // is relative to m_Head.
        std::memmove(m_Buffer.get(), m_Buffer.get() + m_Head, m_Fill - m_Head);
        m_Fill -= m_Head;
        m_Head = 0;
    }
}

void StreamParser::process()
{
    for (;;) {
        if (!m_Synchronised.load(std::memory_order_relaxed) && !search())
            return;
        if (m_Fill - m_Head < kFrameHeadLength)
            return;
        const uint32_t word = loadLE32(m_Buffer.get() + m_Head);
        Step step;
        if (word == kContainerMagic && !m_AfterLegacyFrame)
            step = containerStep();
        else if (word == kSyncContainerMagic && !m_AfterLegacyFrame)
            step = syncContainerStep();
        else
            step = legacyStep();
        if (step == Step::NeedMore)
            return;
    }
}

bool StreamParser::search()
{
    const uint8_t* p = m_Buffer.get();
    size_t i = m_Head;
    for (; i + kFrameHeadLength <= m_Fill; ++i) {
        if (isFrameStart(p + i)) {
            m_Head = i;
            m_Walk = Walk{};
            m_AfterLegacyFrame = false;
            ++m_Stats.syncCount;
            setSynchronised(true);
            return true;
        }
    }
    m_Head = i;  // keep the tail that may still begin a frame
    return false;
}

StreamParser::Step StreamParser::syncContainerStep()
{
    const size_t length = loadLE32(m_Buffer.get() + m_Head + 4);
    if (length < kBlockHeaderSize || length > kBufferRxMax)
        return dropSync(1);
    if (m_Fill - m_Head < length)
        return Step::NeedMore;
    m_Head += length;
    m_Sink.syncContainerArrived();
    return Step::Continue;
}

StreamParser::Step StreamParser::containerStep()
{
    const uint8_t* frame = m_Buffer.get() + m_Head;
    const size_t available = m_Fill - m_Head;
    const size_t total = loadLE32(frame + 4);
    if (total > kMaxContainerLength)
        return dropSync(1);
    for (;;) {
        const size_t offset = m_Walk.offset;
        // A non-zero total length must be closed by the end block.
        if (total != 0 && offset >= total)
            return dropSync(1);
        if (available - offset < kBlockHeaderSize)
            return Step::NeedMore;
        const uint32_t tag = loadLE32(frame + offset);
        const size_t length = loadLE32(frame + offset + 4);
        if (length < kBlockHeaderSize)
            return dropSync(1);
        const size_t end = offset + length;
        if ((total != 0 && end > total) || end > kBufferRxMax)
            return dropSync(1);
        if (end > available)
            return Step::NeedMore;
        m_Walk.offset = end;
        if (!handleBlock(tag, frame + offset, length))
            return Step::Continue;
        if (tag == kTagEnd) {
            finishContainer(end);
            return Step::Continue;
        }
    }
}

bool StreamParser::handleBlock(uint32_t tag, const uint8_t* block, size_t length)
{
    switch (tag) {
    case kTagProfileHeader:
        if (length >= 14) {
            m_Walk.sawHeader = true;
            m_Walk.pictureCounter = loadLE16(block + 8);
            noteTimeStamp(loadLE32(block + 10));
        }
        break;
    case kTagXmlDescriptor: {
        const char* text = reinterpret_cast<const char*>(block + kBlockHeaderSize);
        size_t textLength = std::min(length - kBlockHeaderSize, kXmlTextCapacity - 1);
        if (const void* nul = std::memchr(text, 0, textLength))
            textLength = static_cast<size_t>(static_cast<const char*>(nul) - text);
        m_Sink.xmlReceived(std::string_view(text, textLength));
        m_Sink.log("XML recieved");
        if (!m_Sink.linearizationValid()) {
            emptyBuffer();
            setSynchronised(false);
            return false;
        }
        break;
    }
    case kTagImage:
        m_Walk.stores = true;
        m_Walk.image = true;
        m_FrameKind.store(0);
        break;
    case kTagProfilePixel:
    case kTagProfileLinearized:
        m_Walk.stores = true;
        m_Walk.image = false;
        m_FrameKind.store(1);
        break;
    default: break;
    }
    return true;
}

void StreamParser::finishContainer(size_t length)
{
    const uint8_t* frame = m_Buffer.get() + m_Head;
    const Walk walk = m_Walk;
    m_Head += length;
    m_Walk = Walk{};
    if (!walk.stores)
        return;
    const FrameCheck check = checkFrame(frame, length);
    if (check != FrameCheck::Ok) {
        if (check == FrameCheck::BadCrc)
            ++m_Stats.crcErrors;
        return;
    }
    ++m_Stats.frameCount;
    if (walk.sawHeader)
        notePictureCounter(walk.pictureCounter, true);
    if (walk.image)
        m_Sink.storeImageContainer(frame, length);
    else
        m_Sink.storeProfileContainer(frame, length);
}

StreamParser::Step StreamParser::legacyStep()
{
    const uint8_t* frame = m_Buffer.get() + m_Head;
    const uint8_t type = frame[0];
    if (m_AfterLegacyFrame && !isLegacyPair(frame, 2, 4)) {
        // Only profile frames may follow a legacy frame without a new search.
        ++m_Stats.lostSyncCount;
        return dropSync(0);
    }
    if (!isLegacyPair(frame, 2, 8))
        return dropSync(0);
    const size_t length = type == 4 ? kType4Length : legacyFrameLength(frame);
    const size_t limit = type == 8 ? kMaxContainerLength : kMaxFrameLength;
    if (length < kMinLegacyLength || length > limit)
        return dropSync(1);
    if (m_Fill - m_Head < length)
        return Step::NeedMore;
    m_Head += length;
    m_AfterLegacyFrame = true;
    switch (type) {
    case 2:
    case 3:
        if (!handleLegacyProfile(frame, length))
            return dropSync(0);
        return Step::Continue;
    case 4: return Step::Continue;
    case 5:
    case 6:
        if (checkFrame(frame, length) == FrameCheck::BadCrc)
            ++m_Stats.crcErrors;
        break;
    case 7: handleLinearization(frame, length); break;
    default: break;
    }
    ++m_Stats.lostSyncCount;
    return dropSync(0);
}

bool StreamParser::handleLegacyProfile(const uint8_t* frame, size_t length)
{
    switch (checkFrame(frame, length)) {
    case FrameCheck::Ok: break;
    case FrameCheck::BadCrc: ++m_Stats.crcErrors; return true;
    case FrameCheck::LengthOverLimit: return false;
    default: return true;
    }
    ++m_Stats.frameCount;
    notePictureCounter(loadLE16(frame + 6), false);
    noteTimeStamp(loadLE32(frame + 8));
    m_Sink.storeLegacyProfile(frame, length);
    return true;
}

void StreamParser::handleLinearization(const uint8_t* frame, size_t length)
{
    if (m_Sink.linearizationValid())
        return;
    const FrameCheck check = checkFrame(frame, length);
    if (check != FrameCheck::Ok) {
        if (check == FrameCheck::BadCrc)
            ++m_Stats.crcErrors;
        m_Sink.log("LinearizationData: NOT OK");
        return;
    }
    m_Sink.log("LinearizationData: OK");
    m_Sink.linearizationReceived(frame + 6, length - 10);
}

StreamParser::Step StreamParser::dropSync(size_t skip)
{
    m_Head += skip;
    m_Walk = Walk{};
    m_AfterLegacyFrame = false;
    setSynchronised(false);
    return Step::Continue;
}

void StreamParser::emptyBuffer()
{
    m_Head = m_Fill = 0;
    m_Walk = Walk{};
    m_AfterLegacyFrame = false;
}

void StreamParser::setSynchronised(bool value)
{
    if (m_Synchronised.exchange(value) != value)
        m_Sink.synchronisationChanged(value);
}

void StreamParser::notePictureCounter(uint16_t counter, bool logGap)
{
    if (m_HavePictureCounter && counter != static_cast<uint16_t>(m_PreviousPictureCounter + 1)) {
        ++m_Stats.frameCountErrors;
        if (logGap) {
            char line[48];
            std::snprintf(line, sizeof line, "PicCntErr: %u != %u", unsigned{m_PreviousPictureCounter},
                          unsigned{counter});
            m_Sink.log(line);
        }
    }
    m_PreviousPictureCounter = counter;
    m_HavePictureCounter = true;
}

void StreamParser::noteTimeStamp(uint32_t stamp)
{
    if (m_HaveTimeStamp) {
        m_Stats.period = stamp - m_PreviousTimeStamp;
        m_Stats.maxPeriod = std::max(m_Stats.maxPeriod, m_Stats.period);
        m_Stats.minPeriod = std::min(m_Stats.minPeriod, m_Stats.period);
    }
    m_PreviousTimeStamp = stamp;
    m_HaveTimeStamp = true;
}

void StreamParser::writeStatisticsLine()
{
    m_LastStatisticsTick = m_Clock();
    const FifoLevels fifo = m_Sink.fifoLevels();
    char line[320];
    std::snprintf(line, sizeof line,
                  "%.1f MByte/s %.1f Hz Periode: %.3f us MaxPeriode: %.3f MinPeriod: %.3f FiFo: %.1f %% "
                  "SyncCnt: %u FrameCntErr: %u CRCErr: %u WriteIn: %u ReadOut: %u",
                  m_Stats.byteCount / 1'000'000.0, double(m_Stats.frameCount), double(m_Stats.period),
                  double(m_Stats.maxPeriod), double(m_Stats.minPeriod), fifo.fillPercent, m_Stats.syncCount,
                  m_Stats.frameCountErrors, m_Stats.crcErrors, fifo.writeIndex, fifo.readIndex);
    m_Sink.log(line);
    m_Stats.frameCount = 0;
    m_Stats.byteCount = 0;
    m_Stats.maxPeriod = 0;
    m_Stats.minPeriod = 999'999;
}

}  // namespace quillan::stream
