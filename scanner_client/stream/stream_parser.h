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
    void requestResync() { m_ResyncRequested.store(true); }

    // Any thread.
    bool synchronised() const { return m_Synchronised.load(); }
    // Any thread: 1 when the last stored container carried a profile, 0 an image.
    uint16_t frameKind() const { return m_FrameKind.load(); }

    const StreamStats& stats() const { return m_Stats; }

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

    StreamSink& m_Sink;
    Clock m_Clock;
    std::unique_ptr<uint8_t[]> m_Buffer;
    size_t m_Head = 0;  // start of the frame being assembled; 0 between slices
    size_t m_Fill = 0;  // end of the held bytes

    // Walk of the container at m_Head: each block is handled once.
    struct Walk {
        size_t offset = 8;
        bool sawHeader = false;
        bool stores = false;
        bool image = false;
        uint16_t pictureCounter = 0;
    } m_Walk;
    bool m_AfterLegacyFrame = false;

    std::atomic<bool> m_Synchronised{false};
    std::atomic<bool> m_ResyncRequested{false};
    std::atomic<uint16_t> m_FrameKind{1};

    StreamStats m_Stats;
    bool m_HavePictureCounter = false;
    uint16_t m_PreviousPictureCounter = 0;
    bool m_HaveTimeStamp = false;
    uint32_t m_PreviousTimeStamp = 0;
    uint32_t m_LastStatisticsTick = 0;
};

}  // namespace quillan::stream
