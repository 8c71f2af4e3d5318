#include "src/handle_table.h"

CScannerHandleTable& CScannerHandleTable::instance()
{
    static CScannerHandleTable table;
    return table;
}

CScannerLockBlock* CScannerHandleTable::find(void* handle) const
{
    auto value = reinterpret_cast<uintptr_t>(handle);
    int slot = slotOf(value);
    if (value == 0 || slot >= kSlots || slot >= usedCount.load())
        return nullptr;
    CScannerLockBlock* block = lockBlocks[static_cast<size_t>(slot)].load();
    return block && block->handle.load() == value ? block : nullptr;
}
