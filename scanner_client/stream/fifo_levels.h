#pragma once
// Fill of the frame FIFO as the statistics line and the fill report show it.
#include <cstdint>

namespace quillan::stream {

struct FifoLevels {
    uint32_t writeIndex = 0;  // byte offset where the next frame goes
    uint32_t readIndex = 0;   // byte offset of the next frame to read
    double fillPercent = 0;   // unread bytes in percent of the FIFO size
};

}  // namespace quillan::stream
