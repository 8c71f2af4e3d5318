#pragma once
// The device's address space: registers by start address within one window.
#include "model/mailboxes.h"
#include "model/register.h"
#include "model/rw_lock.h"

#include <cstdint>
#include <map>
#include <memory>

namespace Kivu {

// Registers never share a byte; they may touch. Lookups and accesses take the
// tree's lock shared, changes take it exclusively. Single-register accesses
// release the tree's lock before the register is accessed; block accesses hold
// it shared throughout, so callbacks they reach must not add or remove registers.
class RegTree {
public:
    RegTree(uint32_t base, uint32_t size);
    ~RegTree();
    RegTree(const RegTree&) = delete;
    RegTree& operator=(const RegTree&) = delete;

    // False when the register leaves the window or overlaps a present one.
    bool AddRegister(std::shared_ptr<Register> reg);
    void RemoveRegister(uint32_t address);
    // The register starting exactly at address, or empty.
    std::shared_ptr<Register> Find(uint32_t address);
    std::shared_ptr<ResendCmd> FindResendCmd();
    std::shared_ptr<EventEmitter> FindEventEmitter();

    // One 4-byte access. The value holds the four bytes in network order as
    // they lie in memory. Registers other than numeric ones raise
    // std::runtime_error("Wrong register type!").
    uint32_t ReadRegister(uint32_t address, uint32_t* status, uint32_t origin);
    uint32_t WriteRegister(uint32_t address, uint32_t value, uint32_t origin);
    // A whole register read with origin 2.
    uint32_t ReadRegisterBytes(uint32_t address, uint8_t* buffer);

    // Block accesses across adjacent registers, in address order. A range that
    // is not fully covered fails before any register is touched; otherwise the
    // first failing register ends the access (the ones before it were accessed).
    uint32_t ReadMemory(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t origin);
    uint32_t WriteMemory(uint32_t address, const uint8_t* buffer, uint32_t length, uint32_t origin);

    void Clear();

private:
    using Map = std::map<uint32_t, std::shared_ptr<Register>>;

    uint32_t checkSingle(uint32_t address) const;
    std::shared_ptr<Register> findNumeric(uint32_t address, uint32_t& status);
    template <class Access>
    uint32_t visit(uint32_t address, uint32_t length, Access access);

    const uint64_t m_Base;
    const uint64_t m_End;  // base + size, computed without wrapping
    Map m_Registers;
    RWLock m_Lock;
};

}  // namespace Kivu
