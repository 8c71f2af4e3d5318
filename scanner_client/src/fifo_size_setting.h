#pragma once
// Library-wide settings written with a null handle: "SetDllFiFoSize=<n>" and "SetLibraryScannerFiFoSize=<n>".
#include <optional>

namespace quillan {

inline constexpr int kDefaultDllFifoSize = 41984000;
inline constexpr int kMinDllFifoSize = 4198400;  // the largest frame the FIFO must hold

enum class FifoSizeSetting { NotASetting, Invalid, Valid };

struct FifoSizeParse {
    FifoSizeSetting kind;
    int size;
};

FifoSizeParse parseFifoSizeSetting(const char* text);

}  // namespace quillan
