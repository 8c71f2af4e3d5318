#pragma once
// The camera's error border: every CGevCamera operation runs its body through
// guarded, so that no exception leaves the interface. One thrown inside is
// written to the debug output and answers the operation's failure value.
#include "gev_camera.h"

#include <cstdint>
#include <exception>
#include <utility>

namespace Kivu {

// Writes "Error: <operation>: <what>" to the debug output; never throws.
void reportEscaped(const char* operation, const char* what) noexcept;

template <class Result, class Body>
Result guarded(const char* operation, Result failure, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        reportEscaped(operation, e.what());
    } catch (...) {
        reportEscaped(operation, "unknown exception");
    }
    return failure;
}

// A status operation: the failure status.
template <class Body>
uint32_t guarded(const char* operation, Body&& body) noexcept
{
    return guarded<uint32_t>(operation, GevResult::Fail, std::forward<Body>(body));
}

}  // namespace Kivu
