// Raw register and memory access of the host, in network byte order.
#include "server/camera.h"
#include "server/camera_guard.h"

namespace Kivu {

uint32_t Camera::WriteRegister(uint32_t address, uint32_t value)
{
    return guarded(__func__, [&]() -> uint32_t {
        return m_Tree->WriteRegister(address, value, Origin::Local) == 0 ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::ReadRegister(uint32_t address, uint32_t* value)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (value == nullptr)
            return GevResult::InvalidArgument;
        uint32_t status = 0;
        const uint32_t v = m_Tree->ReadRegister(address, &status, Origin::Local);
        if (status != 0)
            return GevResult::Fail;
        *value = v;
        return GevResult::Ok;
    });
}

uint32_t Camera::WriteMemory(uint32_t address, const void* data, uint32_t length)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (data == nullptr)
            return GevResult::InvalidArgument;
        return m_Tree->WriteMemory(address, static_cast<const uint8_t*>(data), length, Origin::Local) == 0
                   ? GevResult::Ok
                   : GevResult::Fail;
    });
}

uint32_t Camera::ReadMemory(uint32_t address, void* data, uint32_t length)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (data == nullptr)
            return GevResult::InvalidArgument;
        return m_Tree->ReadMemory(address, static_cast<uint8_t*>(data), length, Origin::Local) == 0
                   ? GevResult::Ok
                   : GevResult::Fail;
    });
}

}  // namespace Kivu
