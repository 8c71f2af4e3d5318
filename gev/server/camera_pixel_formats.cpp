#include "server/camera_pixel_formats.h"

#include "model/pixel_formats.h"

#include <cstring>

namespace Kivu {

// Lookups only: nothing is ever added to the table.
uint32_t PixelFormatCode(const char* name)
{
    if (name == nullptr)
        return 0;
    for (const PixelFormat& f : PixelFormatTable())
        if (std::strcmp(f.name, name) == 0)
            return f.code;
    return 0;
}

const char* PixelFormatName(uint32_t code)
{
    for (const PixelFormat& f : PixelFormatTable())
        if (f.code == code)
            return f.name;
    return nullptr;
}

}  // namespace Kivu
