#pragma once
// What the stream parser hands on; implemented by the connection. Every call comes
// from inside StreamParser::feed, on the thread that feeds it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "stream/fifo_levels.h"

namespace quillan::stream {

class StreamSink {
public:
    virtual ~StreamSink() = default;

    // A whole container that passed the frame check and carried a profile block
    // (0x021A0601 or 0x021A0602) or an image block (0x021A0501). Each stored container
    // is also a newly received status container.
    virtual void storeProfileContainer(const uint8_t* frame, size_t length) = 0;
    virtual void storeImageContainer(const uint8_t* frame, size_t length) = 0;
    // A legacy profile frame (type 2 or 3) that passed the frame check.
    virtual void storeLegacyProfile(const uint8_t* frame, size_t length) = 0;

    // Text of an XML descriptor block: up to its first NUL, at most kXmlTextCapacity - 1 bytes.
    virtual void xmlReceived(std::string_view text) = 0;
    // A sync container arrived (the answer to "SetRequestSyncContainer").
    virtual void syncContainerArrived() = 0;

    // Whether valid linearization data is loaded; type-7 frames are parsed only while
    // it is not, and XML blocks empty the parser's buffer while it is not.
    virtual bool linearizationValid() const = 0;
    // The LIN1DD image of a type-7 frame that passed the frame check (header and CRC removed).
    virtual void linearizationReceived(const uint8_t* image, size_t length) = 0;

    // The parser found or lost frame synchronisation; frames are delivered only while it holds.
    virtual void synchronisationChanged(bool synchronised) = 0;

    // The FIFO's indices and fill for the statistics line.
    virtual FifoLevels fifoLevels() const = 0;
    // A debug line, without prefix or line end.
    virtual void log(std::string_view line) = 0;
};

}  // namespace quillan::stream
