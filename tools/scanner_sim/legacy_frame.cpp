#include "scanner_sim/legacy_frame.h"

#include "scanner_sim/byte_buffer.h"
#include "scanner_sim/crc32_mpeg2.h"

namespace scanner_sim {
namespace {

constexpr size_t kHeader = 320;
constexpr size_t kTail = 64;
constexpr size_t kPixelDataInBody = 20 - 8;  // point data of block 0x021A0601, from its body

std::string pointData(const ProfileSettings& s, const ProfileCounters& counters)
{
    std::vector<EchoValue> points;
    const ProfileValues v = profileValues(s, counters);
    for (int c = 0; c < v.columns; ++c)
        for (int echo : v.echoSlots)
            points.push_back(profileEcho(s, v.columns, c, counters.index, echo));
    return pixelProfileBlock(profileEchoMask(s), profileContent(s), points).body.substr(kPixelDataInBody);
}

}  // namespace

size_t legacyFrameLength(const ProfileSettings& s)
{
    ProfileSettings pixels = s;
    pixels.linearized = false;
    return kHeader + pointData(pixels, {}).size() + kTail;
}

std::string legacyProfileFrame(const ProfileSettings& settings, const ProfileCounters& counters, uint8_t type)
{
    ProfileSettings s = settings;
    s.linearized = false;  // legacy frames carry pixel values only
    const StatusFields& f = s.status;
    const std::string points = pointData(s, counters);
    const size_t length = kHeader + points.size() + kTail;
    std::string b(kHeader, '\0');
    put8(b, 0, type);
    put8(b, 1, 0x19);
    put24(b, 2, static_cast<uint32_t>(length));
    put8(b, 5, 0);
    put16(b, 6, counters.pictureCounter);
    put32(b, 8, counters.timeStamp);
    const bool htl = f.userIo[0].function == 5 && f.userIo[1].function == 5;
    put32(b, 12, htl ? counters.encoderHtl : counters.encoderTtl);
    put16(b, 23, f.headerWord23);
    put8(b, 62, f.statusBytes[1]);
    put8(b, 63, f.statusBytes[0]);
    put16(b, 65, f.roiWidthX);
    put16(b, 67, f.roiOffsetX);
    put16(b, 99, f.roiStepX);
    put8(b, 213, profileEchoMask(s));
    put8(b, 215, profileContent(s));
    put16(b, 290, f.roiHeightZ);
    put16(b, 292, f.roiOffsetZ);
    put16(b, 294, f.roiStepZ);
    b += points;
    b.append(kTail - 4, '\0');
    put8(b, length - 14, f.temperature);
    put8(b, length - 13, f.statusBytes[2]);
    appendCrc(b);
    return b;
}

}  // namespace scanner_sim
