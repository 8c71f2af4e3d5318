#pragma once
// What the camera's configuration operations keep per stream channel; the
// stream state (streaming, latched geometry, payload type, timestamps, parts,
// chunk size, compression, test knobs) lives in the channel's StreamProtocol.
#include "gev_camera.h"

#include <cstdint>
#include <map>
#include <shared_mutex>

namespace Kivu {

struct ChannelSettings {
    enum Map { Width, Height, PixelFormat, OffsetX, OffsetY, MapCount };

    mutable std::shared_mutex lock;  // every field below
    uint8_t regionMode = 0;
    uint8_t sourceCount = 1;
    std::map<uint32_t, uint32_t> maps[MapCount];  // by selection key
    void* changeContext = nullptr;
    ChannelChangeCallback change = nullptr;
};

}  // namespace Kivu
