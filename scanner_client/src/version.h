#pragma once

namespace quillan {

// "1.11.0", three blanks, "x64": sent to the scanner and given by GetVersion.
inline constexpr char kVersionText[] = "1.11.0   x64";

}  // namespace quillan
