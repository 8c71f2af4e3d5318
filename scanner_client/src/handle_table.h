#pragma once
// The process-wide table of up to 100 scanner connections and their per-operation locks.
#include "src/fifo_size_setting.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace quillan {
class CQuillan;
}

// Operation locks of a slot; Disconnect takes all of them.
enum QuillanLock {
    kLockGetConnectStatus,
    kLockGetRawData,
    kLockGetXZIExtended,
    kLockGetInfo,
    kLockWriteData,
    kLockLinearize,
    kLockSetLinearizationFile,
    kLockResetDllFiFo,
    kLockGetDllFiFoState,
    kLockGetLinDatType,
    kLockReadData,
    kLockGetImage,
    kLockCount
};

struct CScannerLockBlock {
    std::array<std::mutex, kLockCount> mutexes;
    // Handle of the connection in the slot, 0 when free. Written under all locks (and the table mutex).
    std::atomic<uintptr_t> handle{0};
    quillan::CQuillan* connection = nullptr;
};

class CScannerHandleTable {
public:
    static constexpr int kSlots = 100;

    static CScannerHandleTable& instance();

    // Handles are never reused: slot in the low byte, a connection counter above it.
    uintptr_t makeHandle(int slot) { return (++m_Generation << 8) | static_cast<uintptr_t>(slot); }
    static int slotOf(uintptr_t handle) { return static_cast<int>(handle & 0xFF); }

    // The lock block holding this handle, or null.
    CScannerLockBlock* find(void* handle) const;

    std::array<std::atomic<CScannerLockBlock*>, kSlots> lockBlocks{};
    std::atomic<int> usedCount{0};
    std::atomic<int> callCounter{0};
    std::atomic<uint32_t> lastRateTick{0};
    std::atomic<int> dllFifoSize{quillan::kDefaultDllFifoSize};
    std::mutex tableMutex;
    int users = 0;  // QuillanDLL objects bound to the table, under tableMutex

private:
    uint64_t m_Generation = 0;  // under tableMutex
};
