#pragma once
// Runs one camera operation so that no exception leaves the interface: one
// thrown inside answers the failure status.
#include "gev_camera.h"

#include <cstdint>
#include <exception>

namespace Kivu {

template <class F>
uint32_t guarded(F&& f)
{
    try {
        return f();
    } catch (const std::exception&) {
        return GevResult::Fail;
    }
}

}  // namespace Kivu
