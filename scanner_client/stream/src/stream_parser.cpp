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
    : sink_(sink),
      clock_(clock ? std::move(clock) : Clock(platform::tickCountMs)),
      buffer_(new uint8_t[kBufferRxMax])
{
    // Touched here, on the connecting thread: the receive thread takes no page faults mid-stream.
    std::memset(buffer_.get(), 0, kBufferRxMax);
    lastStatisticsTick_ = clock_();
}

void StreamParser::reset()
{
    emptyBuffer();
    setSynchronised(false);
    resyncRequested_.store(false);
    stats_ = StreamStats{};
    havePictureCounter_ = false;
    haveTimeStamp_ = false;
    lastStatisticsTick_ = clock_();
}

void StreamParser::feed(const uint8_t* data, size_t length)
{
    if (resyncRequested_.exchange(false)) {
        emptyBuffer();
        setSynchronised(false);
    }
    stats_.byteCount += static_cast<uint32_t>(length);
    while (length > 0) {
        const size_t n = std::min(length, kSliceLength);
        feedSlice(data, n);
        data += n;
        length -= n;
    }
    if (clock_() - lastStatisticsTick_ >= 1001)
        writeStatisticsLine();
}

void StreamParser::feedSlice(const uint8_t* data, size_t length)
{
    // The held bytes start at the buffer's front (head_ is 0 here).
    if (fill_ + length > kBufferRxMax - 1) {
        // Overflow: nothing held can still become a frame.
        emptyBuffer();
        setSynchronised(false);
    }
    std::memcpy(buffer_.get() + fill_, data, length);
    fill_ += length;
    process();
    if (head_ == fill_) {
        head_ = fill_ = 0;
    } else if (head_ > 0) {
        // Keep the pending frame at the front, so the stream stays in the buffer's first pages.
        // After a frame that ended in this slice it is shorter than the slice. Its walk offset
        // is relative to head_.
        std::memmove(buffer_.get(), buffer_.get() + head_, fill_ - head_);
        fill_ -= head_;
        head_ = 0;
    }
}

void StreamParser::process()
{
    for (;;) {
        if (!synchronised_.load(std::memory_order_relaxed) && !search())
            return;
        if (fill_ - head_ < kFrameHeadLength)
            return;
        const uint32_t word = loadLE32(buffer_.get() + head_);
        Step step;
        if (word == kContainerMagic && !afterLegacyFrame_)
            step = containerStep();
        else if (word == kSyncContainerMagic && !afterLegacyFrame_)
            step = syncContainerStep();
        else
            step = legacyStep();
        if (step == Step::NeedMore)
            return;
    }
}

bool StreamParser::search()
{
    const uint8_t* p = buffer_.get();
    size_t i = head_;
    for (; i + kFrameHeadLength <= fill_; ++i) {
        if (isFrameStart(p + i)) {
            head_ = i;
            walk_ = Walk{};
            afterLegacyFrame_ = false;
            ++stats_.syncCount;
            setSynchronised(true);
            return true;
        }
    }
    head_ = i;  // keep the tail that may still begin a frame
    return false;
}

StreamParser::Step StreamParser::syncContainerStep()
{
    const size_t length = loadLE32(buffer_.get() + head_ + 4);
    if (length < kBlockHeaderSize || length > kBufferRxMax)
        return dropSync(1);
    if (fill_ - head_ < length)
        return Step::NeedMore;
    head_ += length;
    sink_.syncContainerArrived();
    return Step::Continue;
}

StreamParser::Step StreamParser::containerStep()
{
    const uint8_t* frame = buffer_.get() + head_;
    const size_t available = fill_ - head_;
    const size_t total = loadLE32(frame + 4);
    if (total > kMaxContainerLength)
        return dropSync(1);
    for (;;) {
        const size_t offset = walk_.offset;
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
        walk_.offset = end;
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
            walk_.sawHeader = true;
            walk_.pictureCounter = loadLE16(block + 8);
            noteTimeStamp(loadLE32(block + 10));
        }
        break;
    case kTagXmlDescriptor: {
        const char* text = reinterpret_cast<const char*>(block + kBlockHeaderSize);
        size_t textLength = std::min(length - kBlockHeaderSize, kXmlTextCapacity - 1);
        if (const void* nul = std::memchr(text, 0, textLength))
            textLength = static_cast<size_t>(static_cast<const char*>(nul) - text);
        sink_.xmlReceived(std::string_view(text, textLength));
        sink_.log("XML recieved");
        if (!sink_.linearizationValid()) {
            emptyBuffer();
            setSynchronised(false);
            return false;
        }
        break;
    }
    case kTagImage:
        walk_.stores = true;
        walk_.image = true;
        frameKind_.store(0);
        break;
    case kTagProfilePixel:
    case kTagProfileLinearized:
        walk_.stores = true;
        walk_.image = false;
        frameKind_.store(1);
        break;
    default: break;
    }
    return true;
}

void StreamParser::finishContainer(size_t length)
{
    const uint8_t* frame = buffer_.get() + head_;
    const Walk walk = walk_;
    head_ += length;
    walk_ = Walk{};
    if (!walk.stores)
        return;
    const FrameCheck check = checkFrame(frame, length);
    if (check != FrameCheck::Ok) {
        if (check == FrameCheck::BadCrc)
            ++stats_.crcErrors;
        return;
    }
    ++stats_.frameCount;
    if (walk.sawHeader)
        notePictureCounter(walk.pictureCounter, true);
    if (walk.image)
        sink_.storeImageContainer(frame, length);
    else
        sink_.storeProfileContainer(frame, length);
}

StreamParser::Step StreamParser::legacyStep()
{
    const uint8_t* frame = buffer_.get() + head_;
    const uint8_t type = frame[0];
    if (afterLegacyFrame_ && !isLegacyPair(frame, 2, 4)) {
        // Only profile frames may follow a legacy frame without a new search.
        ++stats_.lostSyncCount;
        return dropSync(0);
    }
    if (!isLegacyPair(frame, 2, 8))
        return dropSync(0);
    const size_t length = type == 4 ? kType4Length : legacyFrameLength(frame);
    const size_t limit = type == 8 ? kMaxContainerLength : kMaxFrameLength;
    if (length < kMinLegacyLength || length > limit)
        return dropSync(1);
    if (fill_ - head_ < length)
        return Step::NeedMore;
    head_ += length;
    afterLegacyFrame_ = true;
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
            ++stats_.crcErrors;
        break;
    case 7: handleLinearization(frame, length); break;
    default: break;
    }
    ++stats_.lostSyncCount;
    return dropSync(0);
}

bool StreamParser::handleLegacyProfile(const uint8_t* frame, size_t length)
{
    switch (checkFrame(frame, length)) {
    case FrameCheck::Ok: break;
    case FrameCheck::BadCrc: ++stats_.crcErrors; return true;
    case FrameCheck::LengthOverLimit: return false;
    default: return true;
    }
    ++stats_.frameCount;
    notePictureCounter(loadLE16(frame + 6), false);
    noteTimeStamp(loadLE32(frame + 8));
    sink_.storeLegacyProfile(frame, length);
    return true;
}

void StreamParser::handleLinearization(const uint8_t* frame, size_t length)
{
    if (sink_.linearizationValid())
        return;
    const FrameCheck check = checkFrame(frame, length);
    if (check != FrameCheck::Ok) {
        if (check == FrameCheck::BadCrc)
            ++stats_.crcErrors;
        sink_.log("LinearizationData: NOT OK");
        return;
    }
    sink_.log("LinearizationData: OK");
    sink_.linearizationReceived(frame + 6, length - 10);
}

StreamParser::Step StreamParser::dropSync(size_t skip)
{
    head_ += skip;
    walk_ = Walk{};
    afterLegacyFrame_ = false;
    setSynchronised(false);
    return Step::Continue;
}

void StreamParser::emptyBuffer()
{
    head_ = fill_ = 0;
    walk_ = Walk{};
    afterLegacyFrame_ = false;
}

void StreamParser::setSynchronised(bool value)
{
    if (synchronised_.exchange(value) != value)
        sink_.synchronisationChanged(value);
}

void StreamParser::notePictureCounter(uint16_t counter, bool logGap)
{
    if (havePictureCounter_ && counter != static_cast<uint16_t>(previousPictureCounter_ + 1)) {
        ++stats_.frameCountErrors;
        if (logGap) {
            char line[48];
            std::snprintf(line, sizeof line, "PicCntErr: %u != %u", unsigned{previousPictureCounter_},
                          unsigned{counter});
            sink_.log(line);
        }
    }
    previousPictureCounter_ = counter;
    havePictureCounter_ = true;
}

void StreamParser::noteTimeStamp(uint32_t stamp)
{
    if (haveTimeStamp_) {
        stats_.period = stamp - previousTimeStamp_;
        stats_.maxPeriod = std::max(stats_.maxPeriod, stats_.period);
        stats_.minPeriod = std::min(stats_.minPeriod, stats_.period);
    }
    previousTimeStamp_ = stamp;
    haveTimeStamp_ = true;
}

void StreamParser::writeStatisticsLine()
{
    lastStatisticsTick_ = clock_();
    const FifoLevels fifo = sink_.fifoLevels();
    char line[320];
    std::snprintf(line, sizeof line,
                  "%.1f MByte/s %.1f Hz Periode: %.3f us MaxPeriode: %.3f MinPeriod: %.3f FiFo: %.1f %% "
                  "SyncCnt: %u FrameCntErr: %u CRCErr: %u WriteIn: %u ReadOut: %u",
                  stats_.byteCount / 1'000'000.0, double(stats_.frameCount), double(stats_.period),
                  double(stats_.maxPeriod), double(stats_.minPeriod), fifo.fillPercent, stats_.syncCount,
                  stats_.frameCountErrors, stats_.crcErrors, fifo.writeIndex, fifo.readIndex);
    sink_.log(line);
    stats_.frameCount = 0;
    stats_.byteCount = 0;
    stats_.maxPeriod = 0;
    stats_.minPeriod = 999'999;
}

}  // namespace quillan::stream
