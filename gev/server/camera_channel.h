#pragma once
// What the camera's configuration operations keep per stream channel; the
// stream state (streaming, latched geometry, payload type, timestamps, parts,
// chunk size, test knobs) lives in the channel's StreamProtocol.
#include "gev_camera.h"

#include <cstdint>
#include <map>
#include <shared_mutex>

namespace Kivu {

struct ChannelSettings {
    enum Map { Width, Height, PixelFormat, OffsetX, OffsetY, MapCount };

    mutable std::shared_mutex lock;  // every field below
    uint16_t compressionMode = 0;
    bool reinitialise = false;  // the encoder's state, for the next compressed frame
    uint32_t quality = 0;
    uint32_t bitrate = 0;
    bool qualityChanged = false;
    bool bitrateChanged = false;
    uint8_t regionMode = 0;
    uint8_t sourceCount = 1;
    std::map<uint32_t, uint32_t> maps[MapCount];  // by selection key
    void* changeContext = nullptr;
    ChannelChangeCallback change = nullptr;
};

}  // namespace Kivu
