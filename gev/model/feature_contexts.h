#pragma once
// The records the description hangs on its elements.
//   1 register node: its backing register
//   2 feature or category, 3 enumeration: names of the category it is listed
//     in and of the register node removed with it
//   4 enumeration entry, 5 "%i", 6 "%lli", 7 "%u", 8 float, 9 text, 10 pValue:
//     the kind only; the value is always parsed from the element's text
#include "model/feature_desc.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Kivu {

namespace ContextKind {
constexpr uint32_t RegisterNode = 1;
constexpr uint32_t Feature = 2;
constexpr uint32_t Enumeration = 3;
constexpr uint32_t EnumEntry = 4;
constexpr uint32_t Int32 = 5;
constexpr uint32_t Int64 = 6;
constexpr uint32_t UInt32 = 7;
constexpr uint32_t Float = 8;
constexpr uint32_t Text = 9;
constexpr uint32_t ValueLink = 10;
}  // namespace ContextKind

// Owns the register behind a register node while the register sits in the
// tree. Deleting it hands the register to the owner, which takes its hooks
// off (others may keep the register) and the register out of the tree once
// the description lock is given up: that needs the register's own lock, which
// a client access may hold while its hook waits for the description.
class FeatureDesc::FeatureRegContext : public FeatureContextBase {
public:
    FeatureRegContext(FeatureDesc& owner, std::shared_ptr<Register> reg, std::function<void()> unhook)
        : FeatureContextBase(ContextKind::RegisterNode), m_Owner(owner), m_Reg(std::move(reg)),
          m_Unhook(std::move(unhook))
    {
    }
    ~FeatureRegContext() override { m_Owner.retire(std::move(m_Reg), std::move(m_Unhook)); }

    const std::shared_ptr<Register>& Reg() const { return m_Reg; }

private:
    FeatureDesc& m_Owner;
    std::shared_ptr<Register> m_Reg;
    std::function<void()> m_Unhook;
};

// Releases the registers of removed nodes when it goes out of scope; declared
// before the operation's Hold, so that happens after the lock is given up.
class FeatureDesc::RetireScope {
public:
    explicit RetireScope(FeatureDesc& owner) : m_Owner(owner) {}
    ~RetireScope() { m_Owner.releaseRetired(); }
    RetireScope(const RetireScope&) = delete;
    RetireScope& operator=(const RetireScope&) = delete;

private:
    FeatureDesc& m_Owner;
};

// What kinds 2 and 3 share.
class FeatureNodeContext : public FeatureDescBase::FeatureContextBase {
public:
    FeatureNodeContext(uint32_t kind, std::string own) : FeatureContextBase(kind), name(std::move(own)) {}

    const std::string name;
    std::string category;      // the category whose pFeature lists it, or empty
    std::string registerNode;  // the register node removed together with it, or empty
};

template <uint32_t K>
class FeatureDesc::FeatureContextTemplate : public FeatureNodeContext {
public:
    explicit FeatureContextTemplate(std::string own) : FeatureNodeContext(K, std::move(own)) {}
};

class FeatureDesc::EnumFeatureContext : public FeatureContextTemplate<ContextKind::Enumeration> {
public:
    using FeatureContextTemplate::FeatureContextTemplate;

    std::shared_ptr<const std::vector<std::string>> names;
    bool stale = true;
};

class FeatureDesc::AttributeContext : public FeatureContextBase {
public:
    explicit AttributeContext(uint32_t kind) : FeatureContextBase(kind) {}
};

}  // namespace Kivu

namespace Kivu {

// The description lock for one operation, shared or exclusive, that can be
// given up before the operation touches a register.
class FeatureDesc::Hold {
public:
    Hold(RWLock& lock, bool exclusive) : m_Lock(lock)
    {
        if (exclusive)
            m_Lock.AcquireExclusive(true);
        else
            m_Lock.AcquireShared();
    }
    ~Hold() { Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

    void Release()
    {
        if (m_Held) {
            m_Held = false;
            m_Lock.Release();
        }
    }

private:
    RWLock& m_Lock;
    bool m_Held = true;
};

}  // namespace Kivu
