#pragma once
// The image registers (Width, Height, OffsetX, OffsetY, PixelFormat) as the
// stream's geometry: a write stores the value for the current selection and
// resizes channel 0; a read shows the value of the current selection.
#include "gev/model/base.h"
#include "gev/model/four_bytes_register.h"
#include "gev/server/camera_channel.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace Kivu {

class Camera;
class RegTree;

class ImageRegisterHooks : public Base {
public:
    // Subscribes to the image registers of tree; their current values become
    // the values of selections never written.
    ImageRegisterHooks(Camera& camera, RegTree& tree);
    ~ImageRegisterHooks() override;
    ImageRegisterHooks(const ImageRegisterHooks&) = delete;
    ImageRegisterHooks& operator=(const ImageRegisterHooks&) = delete;

    // The value of a selection without its own entry.
    uint32_t Fallback(int map) const { return m_Fallback[map].load(); }

private:
    template <class R>
    void subscribe(int map, R& reg);
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
    // The current selection's value, when it has its own entry.
    bool selected(int map, uint32_t& value);

    Camera& m_Camera;
    std::shared_ptr<UIntReg> m_UInt[ChannelSettings::MapCount];
    std::shared_ptr<IntReg> m_Int[ChannelSettings::MapCount];
    std::atomic<uint32_t> m_Fallback[ChannelSettings::MapCount] = {};
};

}  // namespace Kivu
