#include "model/reg_tree.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace Kivu {

RegTree::RegTree(uint32_t base, uint32_t size) : m_Base(base), m_End(uint64_t(base) + size) {}

RegTree::~RegTree()
{
    Clear();
}

bool RegTree::AddRegister(std::shared_ptr<Register> reg)
{
    if (!reg)
        return false;
    const uint64_t start = reg->GetAddress();
    const uint64_t end = start + reg->GetLength();
    if (start < m_Base || end > m_End)
        return false;

    ExclusiveLock lock(m_Lock);
    const auto next = m_Registers.lower_bound(static_cast<uint32_t>(start));
    if (next != m_Registers.end() && next->first < end)
        return false;
    if (next != m_Registers.begin()) {
        const Register& prev = *std::prev(next)->second;
        if (uint64_t(prev.GetAddress()) + prev.GetLength() > start)
            return false;
    }
    return m_Registers.emplace(static_cast<uint32_t>(start), std::move(reg)).second;
}

void RegTree::RemoveRegister(uint32_t address)
{
    if (address < m_Base || address > m_End)
        return;
    std::shared_ptr<Register> removed;  // released after the tree's lock
    ExclusiveLock lock(m_Lock);
    const auto it = m_Registers.find(address);
    if (it != m_Registers.end()) {
        removed = std::move(it->second);
        m_Registers.erase(it);
    }
}

void RegTree::Clear()
{
    Map dropped;  // released after the tree's lock
    ExclusiveLock lock(m_Lock);
    dropped.swap(m_Registers);
}

std::shared_ptr<Register> RegTree::Find(uint32_t address)
{
    SharedLock lock(m_Lock);
    const auto it = m_Registers.find(address);
    return it != m_Registers.end() ? it->second : nullptr;
}

std::shared_ptr<ResendCmd> RegTree::FindResendCmd()
{
    return std::dynamic_pointer_cast<ResendCmd>(Find(kResendCmdAddress));
}

std::shared_ptr<EventEmitter> RegTree::FindEventEmitter()
{
    return std::dynamic_pointer_cast<EventEmitter>(Find(kEventEmitterAddress));
}

uint32_t RegTree::checkSingle(uint32_t address) const
{
    if (address < m_Base || uint64_t(address) + 4 > m_End)
        return GevStatus::InvalidAddress;
    if (address % 4 != 0)
        return GevStatus::BadAlignment;
    return GevStatus::Success;
}

std::shared_ptr<Register> RegTree::findNumeric(uint32_t address, uint32_t& status)
{
    status = checkSingle(address);
    if (status != GevStatus::Success)
        return nullptr;
    auto reg = Find(address);
    if (!reg) {
        status = GevStatus::InvalidAddress;
        return nullptr;
    }
    if (reg->GetType() > RegType::Float)
        throw std::runtime_error("Wrong register type!");
    return reg;
}

uint32_t RegTree::ReadRegister(uint32_t address, uint32_t* status, uint32_t origin)
{
    uint32_t result = 0;
    uint32_t st;
    if (auto reg = findNumeric(address, st)) {
        uint8_t bytes[4] = {};
        st = reg->Read(0, bytes, 4, origin);
        std::memcpy(&result, bytes, 4);
    }
    if (status != nullptr)
        *status = st;
    return result;
}

uint32_t RegTree::WriteRegister(uint32_t address, uint32_t value, uint32_t origin)
{
    uint32_t st;
    if (auto reg = findNumeric(address, st)) {
        uint8_t bytes[4];
        std::memcpy(bytes, &value, 4);
        st = reg->Write(0, bytes, 4, origin);
    }
    return st;
}

uint32_t RegTree::ReadRegisterBytes(uint32_t address, uint8_t* buffer)
{
    const uint32_t st = checkSingle(address);
    if (st != GevStatus::Success)
        return st;
    auto reg = Find(address);
    if (!reg)
        return GevStatus::InvalidAddress;
    return reg->Read(0, buffer, 0, Origin::Remote);
}

template <class Access>
uint32_t RegTree::visit(uint32_t address, uint32_t length, Access access)
{
    const uint64_t start = address;
    const uint64_t end = start + length;
    if (length == 0 || start < m_Base || end > m_End)
        return GevStatus::InvalidAddress;
    if (address % 4 != 0 || length % 4 != 0)
        return GevStatus::BadAlignment;

    SharedLock lock(m_Lock);
    auto first = m_Registers.upper_bound(address);
    if (first == m_Registers.begin())
        return GevStatus::InvalidAddress;
    --first;  // the last register starting at or below address

    // The whole range must be covered before anything is touched.
    uint64_t pos = start;
    for (auto it = first; pos < end; ++it) {
        if (it == m_Registers.end() || it->first > pos)
            return GevStatus::InvalidAddress;
        const uint64_t e = uint64_t(it->first) + it->second->GetLength();
        if (e <= pos)
            return GevStatus::InvalidAddress;
        pos = e;
    }
    pos = start;
    for (auto it = first; pos < end; ++it) {
        Register& reg = *it->second;
        const uint64_t s = it->first;
        const uint64_t e = std::min<uint64_t>(end, s + reg.GetLength());
        const uint32_t st = access(reg, static_cast<uint32_t>(pos - s), static_cast<uint32_t>(pos - start),
                                   static_cast<uint32_t>(e - pos));
        if (st != GevStatus::Success)
            return st;
        pos = e;
    }
    return GevStatus::Success;
}

uint32_t RegTree::ReadMemory(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t origin)
{
    if (buffer == nullptr)
        return GevStatus::InvalidAddress;
    return visit(address, length, [&](Register& reg, uint32_t offset, uint32_t at, uint32_t n) {
        return reg.Read(offset, buffer + at, n, origin);
    });
}

uint32_t RegTree::WriteMemory(uint32_t address, const uint8_t* buffer, uint32_t length, uint32_t origin)
{
    if (buffer == nullptr)
        return GevStatus::InvalidAddress;
    return visit(address, length, [&](Register& reg, uint32_t offset, uint32_t at, uint32_t n) {
        return reg.Write(offset, buffer + at, n, origin);
    });
}

}  // namespace Kivu
