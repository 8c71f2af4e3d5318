#pragma once
// The device's default registers: GigE Vision bootstrap, manufacturer and stream-channel registers.
#include "model/bootstrap_registers.h"
#include "model/reg_tree.h"
#include "model/registers.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Kivu {

constexpr uint32_t kRegTreeBase = 0;
constexpr uint32_t kRegTreeSize = 0x80000000;

// Builds the default registers into a tree and keeps a reference to each one
// (the stream-channel blocks are held by the tree only). References are
// released in the reverse order of creation.
class RegisterMap {
public:
    explicit RegisterMap(std::shared_ptr<RegTree> tree);
    ~RegisterMap();
    RegisterMap(const RegisterMap&) = delete;
    RegisterMap& operator=(const RegisterMap&) = delete;

    const std::shared_ptr<RegTree>& Tree() const { return m_Tree; }

    // The map's register at address, or empty when there is none of that class.
    std::shared_ptr<UIntReg> UInt(uint32_t address) const;
    std::shared_ptr<StringReg> String(uint32_t address) const;
    std::shared_ptr<CCPReg> CCP() const;
    std::shared_ptr<ResendCmd> Resend() const { return m_Resend; }
    std::shared_ptr<EventEmitter> Events() const { return m_Events; }

private:
    std::shared_ptr<Register> find(uint32_t address) const;

    std::shared_ptr<RegTree> m_Tree;
    std::vector<std::shared_ptr<Register>> m_Registers;  // creation order
    std::shared_ptr<ResendCmd> m_Resend;
    std::shared_ptr<EventEmitter> m_Events;
};

// Adds the five registers of stream channel n (port, packet size and delay,
// destination address, source port); false when one of them could not be added.
bool AddStreamChannelBlock(RegTree& tree, uint32_t channel);

}  // namespace Kivu
