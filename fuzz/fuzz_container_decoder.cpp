// Profile, image and status decoders over arbitrary frames.
#include "lin/legacy_profile.h"
#include "lin/profile_container.h"
#include "lin/profile_points.h"
#include "stream/status_container.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static auto profile = std::make_unique<quillan::DecodedProfile>();
    static quillan::ProfileContainerDecoder decoder;
    static std::vector<double> x(300), z(300);
    static std::vector<int> intensity(300), width(300);

    // A copy of exactly `size` bytes, so any read past the frame is caught.
    std::vector<uint8_t> frame(data, data + size);
    bool byteOrder = size > 0 && (data[size - 1] & 1);
    decoder.decode(frame.data(), frame.size(), byteOrder, *profile);
    quillan::EmitProfilePoints(*profile, {x.data(), z.data(), intensity.data(), width.data(), 300}, byteOrder);
    quillan::DecodeLegacyProfile(frame.data(), frame.size(), *profile);
    quillan::EmitProfilePoints(*profile, {x.data(), z.data(), intensity.data(), width.data(), 300}, !byteOrder);

    quillan::stream::StatusRecord record{};
    quillan::stream::decodeStatusContainer(frame.data(), frame.size(), record);
    return 0;
}
