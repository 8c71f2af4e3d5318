#pragma once
// The image registers (Width, Height, OffsetX, OffsetY, PixelFormat) as the
// stream's geometry: a write stores the value under the register's key of each
// channel and resizes it; a read shows the value stored under that key. A
// channel taking another source at acquisition start takes its geometry.
#include "model/base.h"
#include "model/four_bytes_register.h"
#include "server/camera_channel.h"

#include <cstdint>
#include <memory>

namespace Kivu {

class Camera;
class RegTree;

class ImageRegisterHooks : public Base {
public:
    // Subscribes to the image registers of tree.
    ImageRegisterHooks(Camera& camera, RegTree& tree);
    ~ImageRegisterHooks() override;
    ImageRegisterHooks(const ImageRegisterHooks&) = delete;
    ImageRegisterHooks& operator=(const ImageRegisterHooks&) = delete;

private:
    template <class R>
    void subscribe(R& reg);
    template <class R>
    void unsubscribe(R& reg);
    template <class R>
    bool beforeWrite(R* reg);
    template <class R>
    bool afterWrite(R* reg);
    template <class R>
    bool beforeRead(R* reg);

    int mapOf(uint32_t address) const;
    bool allowWrite(Register& reg);
    void written(int map, uint32_t value, bool fromClient);
    // The value under the register's key, when there is one.
    bool selected(int map, uint32_t& value);

    Camera& m_Camera;
    std::shared_ptr<UIntReg> m_UInt[ChannelSettings::MapCount];
    std::shared_ptr<IntReg> m_Int[ChannelSettings::MapCount];
};

}  // namespace Kivu
