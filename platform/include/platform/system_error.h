#pragma once

namespace platform {

// Text of an errno value in a per-thread buffer, valid until the next call on the same thread.
const char* systemErrorText(int error);

}  // namespace platform
