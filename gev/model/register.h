#pragma once
// The register: one piece of device state at an address of the device's 32-bit space.
#include "model/base.h"
#include "model/rw_lock.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace Kivu {

// Who performs an access. Access bits are enforced for remote clients only.
namespace Origin {
constexpr uint32_t Internal = 0;
constexpr uint32_t Local = 1;
constexpr uint32_t Remote = 2;
}  // namespace Origin

// GigE Vision status codes returned by register accesses.
namespace GevStatus {
constexpr uint32_t Success = 0;
constexpr uint32_t NotImplemented = 0x8001;
constexpr uint32_t InvalidParameter = 0x8002;  // refused by a before-write callback
constexpr uint32_t InvalidAddress = 0x8003;
constexpr uint32_t BadAlignment = 0x8005;
constexpr uint32_t AccessDenied = 0x8006;
constexpr uint32_t BadHeader = 0x800E;
constexpr uint32_t Error = 0x8FFF;
}  // namespace GevStatus

namespace RegType {
constexpr uint32_t Int32 = 0;
constexpr uint32_t Int64 = 1;
constexpr uint32_t UInt32 = 2;
constexpr uint32_t Float = 3;
constexpr uint32_t String = 4;
constexpr uint32_t NoData = 5;
}  // namespace RegType

namespace Access {
constexpr uint32_t None = 0;  // internal only
constexpr uint32_t Read = 1;
constexpr uint32_t Write = 2;
constexpr uint32_t ReadWrite = 3;
}  // namespace Access

class Register : public Base {
public:
    Register(uint32_t address, uint32_t length, uint32_t type, uint32_t access, uint32_t reserved,
             std::string name);
    Register(const Register&) = delete;
    Register& operator=(const Register&) = delete;

    virtual bool NeedsAccessCheck(uint32_t origin) const { return origin >= Origin::Remote; }
    virtual uint32_t GetAddress() const { return m_Address; }
    virtual uint32_t GetLength() const { return m_Length; }
    virtual uint32_t GetAccess() const { return m_Access.load(std::memory_order_relaxed); }
    virtual uint32_t GetReserved() const { return m_Reserved; }
    virtual const char* GetName() const { return m_Name.c_str(); }
    virtual uint32_t GetType() const { return m_Type; }
    virtual uint32_t GetRequester() const { return m_Requester.load(std::memory_order_relaxed); }
    virtual uint32_t GetStatus() const { return m_Status.load(std::memory_order_relaxed); }
    virtual void SetAccess(uint32_t access) { m_Access.store(access, std::memory_order_relaxed); }
    virtual void SetStatus(uint32_t status) { m_Status.store(status, std::memory_order_relaxed); }

    // Raw access in network byte order. A length of 0 means the register's own length.
    virtual uint32_t Read(uint32_t offset, uint8_t* buffer, uint32_t length, uint32_t origin) = 0;
    virtual uint32_t Write(uint32_t offset, const uint8_t* buffer, uint32_t length, uint32_t origin) = 0;

protected:
    // Holds the register's lock exclusively for one access with the requester
    // set to its origin; puts the requester back before the lock is released.
    class AccessScope {
    public:
        AccessScope(Register& reg, uint32_t origin);
        ~AccessScope();
        AccessScope(const AccessScope&) = delete;
        AccessScope& operator=(const AccessScope&) = delete;

    private:
        Register& m_Reg;
        uint32_t m_SavedRequester;
    };

    // False when origin is checked and lacks the access bit.
    bool Allows(uint32_t origin, uint32_t accessBit) const
    {
        return !NeedsAccessCheck(origin) || (GetAccess() & accessBit) != 0;
    }

    RWLock m_Lock;

private:
    const uint32_t m_Address;
    const uint32_t m_Length;
    const uint32_t m_Type;
    std::atomic<uint32_t> m_Access;
    const uint32_t m_Reserved;
    const std::string m_Name;
    std::atomic<uint32_t> m_Requester{0};
    std::atomic<uint32_t> m_Status{0};
};

}  // namespace Kivu
