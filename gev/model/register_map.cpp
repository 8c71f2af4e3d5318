#include "gev/model/register_map.h"

#include "gev/model/host_info.h"

#include <utility>

namespace Kivu {

namespace {

enum class Kind { UInt, String, CCP };

struct Row {
    uint32_t address;
    Kind kind;
    uint32_t value;    // default of a number register, length of a string register
    const char* text;  // default of a string register
    uint32_t access;
};

constexpr uint32_t R = Access::Read;
constexpr uint32_t W = Access::Write;
constexpr uint32_t RW = Access::ReadWrite;
constexpr uint32_t Internal = Access::None;

constexpr Row kBootstrap[] = {
    {0x0000, Kind::UInt, 0x00010002, nullptr, R},  // version 1.2
    {0x0004, Kind::UInt, 0x80000001, nullptr, R},  // device mode: big-endian, UTF-8
    {0x0008, Kind::UInt, 0xA0000000, nullptr, R},  // MAC high
    {0x000C, Kind::UInt, 1, nullptr, R},           // MAC low
    {0x0010, Kind::UInt, 7, nullptr, R},           // supported IP configuration
    {0x0014, Kind::UInt, 6, nullptr, RW},          // current IP configuration
    {0x0024, Kind::UInt, 0, nullptr, R},           // current IP address
    {0x0034, Kind::UInt, 0, nullptr, R},           // current subnet mask
    {0x0044, Kind::UInt, 0, nullptr, R},           // current default gateway
    {0x0048, Kind::String, 32, "Norvik Works", R},
    {0x0068, Kind::String, 32, "Pravel", R},
    {0x0088, Kind::String, 32, "2.5.0.0", R},
    {0x00A8, Kind::String, 48, "Pravel GigE Vision 3D line profile camera", R},
    {0x00D8, Kind::String, 16, "00000001", R},
    {0x0200, Kind::String, 512, "", R},  // first URL
    {0x0400, Kind::String, 512, "", R},  // second URL
    {0x00E8, Kind::String, 16, "", RW},  // user-defined name
    {0x0600, Kind::UInt, 1, nullptr, R},  // number of network interfaces
    {0x064C, Kind::UInt, 0, nullptr, RW},  // persistent IP address
    {0x065C, Kind::UInt, 0, nullptr, RW},  // persistent subnet mask
    {0x066C, Kind::UInt, 0, nullptr, RW},  // persistent default gateway
    {0x0900, Kind::UInt, 1, nullptr, R},   // number of message channels
    {0x0904, Kind::UInt, 2, nullptr, R},   // number of stream channels
    {0x092C, Kind::UInt, 0x80000000, nullptr, R},  // GVSP capability
    {0x0930, Kind::UInt, 0x80000000, nullptr, R},  // message channel capability
    {0x0934, Kind::UInt, 0xDA20005F, nullptr, R},  // GVCP capability
    {0x0938, Kind::UInt, 3000, nullptr, RW},       // heartbeat timeout (ms)
    {0x093C, Kind::UInt, 0, nullptr, R},           // timestamp tick frequency high
    {0x0940, Kind::UInt, 0, nullptr, R},           // timestamp tick frequency low
    {0x0944, Kind::UInt, 0, nullptr, W},           // timestamp control
    {0x0948, Kind::UInt, 0, nullptr, R},           // timestamp value high
    {0x094C, Kind::UInt, 0, nullptr, R},           // timestamp value low
    {0x095C, Kind::UInt, 0, nullptr, W},           // control switchover key
    {0x0960, Kind::UInt, 0, nullptr, R},           // GVSP configuration
    {0x096C, Kind::UInt, 0x05000000, nullptr, R},
    {0x0A00, Kind::CCP, 0, nullptr, RW},           // control channel privilege
    {0x0B00, Kind::UInt, 0, nullptr, RW},          // MCP
    {0x0B10, Kind::UInt, 0, nullptr, RW},          // MCDA
    {0x0B14, Kind::UInt, 3000, nullptr, RW},       // MCTT (ms)
    {0x0B18, Kind::UInt, 5, nullptr, RW},          // MCRC
    {0x0B1C, Kind::UInt, 0, nullptr, R},           // MCSP
    {0x0908, Kind::UInt, 0, nullptr, R},           // number of action signals
};

constexpr Row kManufacturer[] = {
    {0xA000, Kind::UInt, 0x00020001, nullptr, Internal},
    {0xA004, Kind::UInt, 0, nullptr, Internal},     // host processor count
    {0xA008, Kind::UInt, 0, nullptr, Internal},     // host processor architecture
    {0xA00C, Kind::UInt, 4096, nullptr, Internal},  // host page size
    {0xA010, Kind::UInt, 0, nullptr, Internal},     // host allocation granularity
    {0xA014, Kind::UInt, 0, nullptr, Internal},     // host OS major version
    {0xA018, Kind::UInt, 0, nullptr, Internal},     // host OS minor version
    {0xA01C, Kind::UInt, 0, nullptr, Internal},     // host OS build number
    {0xA020, Kind::UInt, 0, nullptr, Internal},     // five adapter words
    {0xA024, Kind::UInt, 0, nullptr, Internal},
    {0xA028, Kind::UInt, 0, nullptr, Internal},
    {0xA02C, Kind::UInt, 0, nullptr, Internal},
    {0xA030, Kind::UInt, 0, nullptr, Internal},
};

// Created after the manufacturer words; the two mailboxes follow 0xA050.
constexpr Row kLater[] = {
    {0x0670, Kind::UInt, 0, nullptr, R},         // link speed
    {0x0A14, Kind::UInt, 0, nullptr, R},         // primary application IP address
    {0x0A04, Kind::UInt, 0, nullptr, R},         // primary application port
    {0xA040, Kind::UInt, 0, nullptr, Internal},  // source IP of the request being served
    {0xA044, Kind::UInt, 0, nullptr, Internal},  // its source port
    {0xA04C, Kind::UInt, 0, nullptr, Internal},  // acquisition start request
    {0xA050, Kind::UInt, 0, nullptr, Internal},  // acquisition stop request
};

constexpr Row kLast[] = {
    {0x090C, Kind::UInt, 0, nullptr, RW},  // action device key
};

std::shared_ptr<Register> build(const Row& row)
{
    switch (row.kind) {
    case Kind::String: return std::make_shared<StringReg>(row.address, row.text, row.value, row.access);
    case Kind::CCP: return std::make_shared<CCPReg>(row.address, row.value, row.access);
    case Kind::UInt: break;
    }
    return std::make_shared<UIntReg>(row.address, row.value, row.access);
}

}  // namespace

bool AddStreamChannelBlock(RegTree& tree, uint32_t channel)
{
    const uint32_t b = kStreamChannelBlockBase + kStreamChannelBlockStride * channel;
    const uint32_t sourcePortAccess = channel == 0 ? R : RW;
    bool ok = tree.AddRegister(std::make_shared<UIntReg>(b + 0x00, 0, RW));              // SCP
    ok = tree.AddRegister(std::make_shared<SCPSReg>(b + 0x04, 0x400005DC, RW)) && ok;    // SCPS: DF, 1500
    ok = tree.AddRegister(std::make_shared<UIntReg>(b + 0x08, 0, RW)) && ok;             // SCPD
    ok = tree.AddRegister(std::make_shared<UIntReg>(b + 0x18, 0, RW)) && ok;             // SCDA
    ok = tree.AddRegister(std::make_shared<UIntReg>(b + 0x1C, 0, sourcePortAccess)) && ok;  // SCSP
    return ok;
}

RegisterMap::RegisterMap(std::shared_ptr<RegTree> tree) : m_Tree(std::move(tree))
{
    for (const Row& row : kBootstrap)
        m_Registers.push_back(build(row));
    for (const Row& row : kManufacturer)
        m_Registers.push_back(build(row));
    for (const Row& row : kLater)
        m_Registers.push_back(build(row));
    m_Resend = std::make_shared<ResendCmd>();
    m_Events = std::make_shared<EventEmitter>();
    m_Registers.push_back(m_Resend);
    m_Registers.push_back(m_Events);
    for (const Row& row : kLast)
        m_Registers.push_back(build(row));

    for (const auto& reg : m_Registers)
        m_Tree->AddRegister(reg);

    const auto channels = UInt(0x0904);
    for (uint32_t n = 0; n < channels->GetValue(); ++n)
        AddStreamChannelBlock(*m_Tree, n);

    UInt(0x093C)->SetValue(0);
    UInt(0x0940)->SetValue(1000000000);  // 1 GHz

    const HostInfo host = QueryHostInfo();
    UInt(0xA004)->SetValue(host.processorCount);
    UInt(0xA008)->SetValue(host.processorArchitecture);
    UInt(0xA00C)->SetValue(host.pageSize);
    UInt(0xA010)->SetValue(host.allocationGranularity);
    UInt(0xA014)->SetValue(host.osMajor);
    UInt(0xA018)->SetValue(host.osMinor);
    UInt(0xA01C)->SetValue(host.osBuild);
}

RegisterMap::~RegisterMap()
{
    m_Events.reset();
    m_Resend.reset();
    while (!m_Registers.empty())
        m_Registers.pop_back();
}

std::shared_ptr<Register> RegisterMap::find(uint32_t address) const
{
    for (const auto& reg : m_Registers)
        if (reg->GetAddress() == address)
            return reg;
    return nullptr;
}

std::shared_ptr<UIntReg> RegisterMap::UInt(uint32_t address) const
{
    return std::dynamic_pointer_cast<UIntReg>(find(address));
}

std::shared_ptr<StringReg> RegisterMap::String(uint32_t address) const
{
    return std::dynamic_pointer_cast<StringReg>(find(address));
}

std::shared_ptr<CCPReg> RegisterMap::CCP() const
{
    return std::dynamic_pointer_cast<CCPReg>(find(0x0A00));
}

}  // namespace Kivu
