#include "stream/frame_check.h"

#include "platform/bytes.h"
#include "stream/crc32.h"
#include "stream/protocol.h"

namespace quillan::stream {

uint32_t legacyFrameLength(const uint8_t* frame)
{
    if (frame[0] == 7)
        return platform::loadLE32(frame + 2) & 0x7FFFFFFFu;
    return frame[2] | (uint32_t{frame[3]} << 8) | (uint32_t{frame[4]} << 16);
}

uint32_t ownLengthField(const uint8_t* frame)
{
    if (platform::loadLE32(frame) == kContainerMagic)
        return platform::loadLE32(frame + 4);
    const uint32_t v = platform::loadLE32(frame + 2);
    return frame[0] == 7 ? v & 0x7FFFFFFFu : v;
}

FrameCheck checkFrame(const uint8_t* frame, size_t length)
{
    if (length > kMaxCheckedLength)
        return FrameCheck::TooLong;
    if (length < 8)
        return FrameCheck::TooShort;
    if (crc32Mpeg2(frame, length - 4) != platform::loadBE32(frame + length - 4))
        return FrameCheck::BadCrc;
    const bool container = platform::loadLE32(frame) == kContainerMagic;
    if (!container && frame[0] == 4)
        return FrameCheck::Type4;
    if (ownLengthField(frame) > kMaxFrameLength)
        return FrameCheck::LengthOverLimit;
    return FrameCheck::Ok;
}

}  // namespace quillan::stream
