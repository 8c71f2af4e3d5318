#include "model/register_map.h"

#include "model/bootstrap_registers.h"
#include "model/host_info.h"

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
    {Bootstrap::kVersion, Kind::UInt, 0x00010002, nullptr, R},     // 1.2
    {Bootstrap::kDeviceMode, Kind::UInt, 0x80000001, nullptr, R},  // big-endian, UTF-8
    {Bootstrap::kDeviceMacHigh, Kind::UInt, 0xA0000000, nullptr, R},
    {Bootstrap::kDeviceMacLow, Kind::UInt, 1, nullptr, R},
    {Bootstrap::kSupportedIpConfiguration, Kind::UInt, 7, nullptr, R},
    {Bootstrap::kCurrentIpConfiguration, Kind::UInt, 6, nullptr, RW},
    {Bootstrap::kCurrentIpAddress, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kCurrentSubnetMask, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kCurrentDefaultGateway, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kManufacturerName, Kind::String, 32, "Norvik Works", R},
    {Bootstrap::kModelName, Kind::String, 32, "Pravel", R},
    {Bootstrap::kDeviceVersion, Kind::String, 32, "2.5.0.0", R},
    {Bootstrap::kManufacturerInfo, Kind::String, 48, "Pravel GigE Vision 3D line profile camera", R},
    {Bootstrap::kSerialNumber, Kind::String, 16, "00000001", R},
    {Bootstrap::kFirstUrl, Kind::String, 512, "", R},
    {Bootstrap::kSecondUrl, Kind::String, 512, "", R},
    {Bootstrap::kUserDefinedName, Kind::String, 16, "", RW},
    {Bootstrap::kNumberOfNetworkInterfaces, Kind::UInt, 1, nullptr, R},
    {Bootstrap::kPersistentIpAddress, Kind::UInt, 0, nullptr, RW},
    {Bootstrap::kPersistentSubnetMask, Kind::UInt, 0, nullptr, RW},
    {Bootstrap::kPersistentDefaultGateway, Kind::UInt, 0, nullptr, RW},
    {Bootstrap::kNumberOfMessageChannels, Kind::UInt, 1, nullptr, R},
    {Bootstrap::kNumberOfStreamChannels, Kind::UInt, 2, nullptr, R},
    {Bootstrap::kGvspCapability, Kind::UInt, 0x80000000, nullptr, R},
    {Bootstrap::kMessageChannelCapability, Kind::UInt, 0x80000000, nullptr, R},
    {Bootstrap::kGvcpCapability, Kind::UInt, 0xDA20005F, nullptr, R},
    {Bootstrap::kHeartbeatTimeout, Kind::UInt, 3000, nullptr, RW},  // ms
    {Bootstrap::kTimestampTickFrequencyHigh, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kTimestampTickFrequencyLow, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kTimestampControl, Kind::UInt, 0, nullptr, W},
    {Bootstrap::kTimestampValueHigh, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kTimestampValueLow, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kControlSwitchoverKey, Kind::UInt, 0, nullptr, W},
    {Bootstrap::kGvspConfiguration, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kIeee1588Status, Kind::UInt, 0x05000000, nullptr, R},
    {Bootstrap::kControlChannelPrivilege, Kind::CCP, 0, nullptr, RW},
    {Bootstrap::kMessageChannelPort, Kind::UInt, 0, nullptr, RW},
    {Bootstrap::kMessageChannelDestinationAddress, Kind::UInt, 0, nullptr, RW},
    {Bootstrap::kMessageChannelTransmissionTimeout, Kind::UInt, 3000, nullptr, RW},  // ms
    {Bootstrap::kMessageChannelRetryCount, Kind::UInt, 5, nullptr, RW},
    {Bootstrap::kMessageChannelSourcePort, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kNumberOfActionSignals, Kind::UInt, 0, nullptr, R},
};

constexpr Row kManufacturer[] = {
    {Manufacturer::kFixedWord, Kind::UInt, 0x00020001, nullptr, Internal},
    {Manufacturer::kHostProcessorCount, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kHostProcessorArchitecture, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kHostPageSize, Kind::UInt, 4096, nullptr, Internal},
    {Manufacturer::kHostAllocationGranularity, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kHostOsMajor, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kHostOsMinor, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kHostOsBuild, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAdapterIndex, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAdapterAddress, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAdapterMask, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAdapterType, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAdapterMtu, Kind::UInt, 0, nullptr, Internal},
};

// Created after the manufacturer words; the two mailboxes follow the acquisition stop request.
constexpr Row kLater[] = {
    {Bootstrap::kLinkSpeed, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kPrimaryApplicationIpAddress, Kind::UInt, 0, nullptr, R},
    {Bootstrap::kPrimaryApplicationPort, Kind::UInt, 0, nullptr, R},
    {Manufacturer::kRequestSourceIp, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kRequestSourcePort, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAcquisitionStart, Kind::UInt, 0, nullptr, Internal},
    {Manufacturer::kAcquisitionStop, Kind::UInt, 0, nullptr, Internal},
};

constexpr Row kLast[] = {
    {Bootstrap::kActionDeviceKey, Kind::UInt, 0, nullptr, RW},
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
    using namespace Bootstrap;
    const auto at = [channel](uint32_t channel0Address) { return StreamChannel(channel0Address, channel); };
    const uint32_t sourcePortAccess = channel == 0 ? R : RW;
    bool ok = tree.AddRegister(std::make_shared<UIntReg>(at(kStreamChannelPort0), 0, RW));
    ok = tree.AddRegister(std::make_shared<SCPSReg>(at(kStreamChannelPacketSize0), 0x400005DC, RW)) && ok;  // DF, 1500
    ok = tree.AddRegister(std::make_shared<UIntReg>(at(kStreamChannelPacketDelay0), 0, RW)) && ok;
    ok = tree.AddRegister(std::make_shared<UIntReg>(at(kStreamChannelDestinationAddress0), 0, RW)) && ok;
    ok = tree.AddRegister(std::make_shared<UIntReg>(at(kStreamChannelSourcePort0), 0, sourcePortAccess)) && ok;
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

    const auto channels = UInt(Bootstrap::kNumberOfStreamChannels);
    for (uint32_t n = 0; n < channels->GetValue(); ++n)
        AddStreamChannelBlock(*m_Tree, n);

    UInt(Bootstrap::kTimestampTickFrequencyHigh)->SetValue(0);
    UInt(Bootstrap::kTimestampTickFrequencyLow)->SetValue(1000000000);  // 1 GHz

    const HostInfo host = QueryHostInfo();
    UInt(Manufacturer::kHostProcessorCount)->SetValue(host.processorCount);
    UInt(Manufacturer::kHostProcessorArchitecture)->SetValue(host.processorArchitecture);
    UInt(Manufacturer::kHostPageSize)->SetValue(host.pageSize);
    UInt(Manufacturer::kHostAllocationGranularity)->SetValue(host.allocationGranularity);
    UInt(Manufacturer::kHostOsMajor)->SetValue(host.osMajor);
    UInt(Manufacturer::kHostOsMinor)->SetValue(host.osMinor);
    UInt(Manufacturer::kHostOsBuild)->SetValue(host.osBuild);
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
    return std::dynamic_pointer_cast<CCPReg>(find(Bootstrap::kControlChannelPrivilege));
}

}  // namespace Kivu
