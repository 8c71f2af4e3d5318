#include "model/register.h"

#include <utility>

namespace Kivu {

Register::Register(uint32_t address, uint32_t length, uint32_t type, uint32_t access, uint32_t reserved,
                   std::string name)
    : m_Address(address), m_Length(length), m_Type(type), m_Access(access), m_Reserved(reserved),
      m_Name(std::move(name))
{
}

Register::AccessScope::AccessScope(Register& reg, uint32_t origin) : m_Reg(reg)
{
    m_Reg.m_Lock.AcquireExclusive(true);
    m_SavedRequester = m_Reg.GetRequester();
    m_Reg.m_Requester.store(origin, std::memory_order_relaxed);
}

Register::AccessScope::~AccessScope()
{
    m_Reg.m_Requester.store(m_SavedRequester, std::memory_order_relaxed);
    m_Reg.m_Lock.Release();
}

}  // namespace Kivu
