#pragma once
// Cuts the scanner's byte stream into frames: synchronisation search, containers with
// tagged blocks, sync containers, legacy frames, frame and picture-counter checks, and
// the once-a-second statistics line. Single-threaded except where noted.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "stream/stream_sink.h"

namespace quillan::stream {

struct StreamStats {
    // Since the last statistics line.
    uint32_t byteCount = 0;
    uint32_t frameCount = 0;
    uint32_t period = 0;  // time-stamp difference of the last two frames
    uint32_t maxPeriod = 0;
    uint32_t minPeriod = 999'999;
    // Since the last reset.
    uint32_t syncCount = 0;         // synchronisation points found
    uint32_t frameCountErrors = 0;  // picture-counter gaps
    uint32_t crcErrors = 0;
    uint32_t lostSyncCount = 0;  // frames after which synchronisation was dropped
};

class StreamParser {
public:
    using Clock = std::function<uint32_t()>;  // milliseconds, wrapping

    explicit StreamParser(StreamSink& sink, Clock clock = nullptr);
    StreamParser(const StreamParser&) = delete;
    StreamParser& operator=(const StreamParser&) = delete;

    // One received chunk, of any size.
    void feed(const uint8_t* data, size_t length);

    // Start of a (re)connection: held bytes dropped, searching, statistics and counter
    // bookkeeping cleared.
    void reset();

    // Any thread: the next feed drops the held bytes and searches for a frame start.
    void requestResync() { resyncRequested_.store(true); }

    // Any thread.
    bool synchronised() const { return synchronised_.load(); }
    // Any thread: 1 when the last stored container carried a profile, 0 an image.
    uint16_t frameKind() const { return frameKind_.load(); }

    const StreamStats& stats() const { return stats_; }

private:
    enum class Step { Continue, NeedMore };

    void feedSlice(const uint8_t* data, size_t length);
    void process();
    bool search();
    Step containerStep();
    Step syncContainerStep();
    Step legacyStep();
    bool handleBlock(uint32_t tag, const uint8_t* block, size_t length);
    void finishContainer(size_t length);
    bool handleLegacyProfile(const uint8_t* frame, size_t length);
    void handleLinearization(const uint8_t* frame, size_t length);
    Step dropSync(size_t skip);
    void emptyBuffer();
    void setSynchronised(bool value);
    void notePictureCounter(uint16_t counter, bool logGap);
    void noteTimeStamp(uint32_t stamp);
    void writeStatisticsLine();

    StreamSink& sink_;
    Clock clock_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t head_ = 0;  // start of the frame being assembled; 0 between slices
    size_t fill_ = 0;  // end of the held bytes

    // Walk of the container at head_: each block is handled once.
    struct Walk {
        size_t offset = 8;
        bool sawHeader = false;
        bool stores = false;
        bool image = false;
        uint16_t pictureCounter = 0;
    } walk_;
    bool afterLegacyFrame_ = false;

    std::atomic<bool> synchronised_{false};
    std::atomic<bool> resyncRequested_{false};
    std::atomic<uint16_t> frameKind_{1};

    StreamStats stats_;
    bool havePictureCounter_ = false;
    uint16_t previousPictureCounter_ = 0;
    bool haveTimeStamp_ = false;
    uint32_t previousTimeStamp_ = 0;
    uint32_t lastStatisticsTick_ = 0;
};

}  // namespace quillan::stream
