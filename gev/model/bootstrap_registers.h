#pragma once
// Register addresses: the GigE Vision bootstrap registers under their standard
// names, and the device's own registers in the manufacturer range.
#include <cstdint>

namespace Kivu {

namespace Bootstrap {

constexpr uint32_t kVersion = 0x0000;
constexpr uint32_t kDeviceMode = 0x0004;
constexpr uint32_t kDeviceMacHigh = 0x0008;
constexpr uint32_t kDeviceMacLow = 0x000C;
constexpr uint32_t kSupportedIpConfiguration = 0x0010;
constexpr uint32_t kCurrentIpConfiguration = 0x0014;
constexpr uint32_t kCurrentIpAddress = 0x0024;
constexpr uint32_t kCurrentSubnetMask = 0x0034;
constexpr uint32_t kCurrentDefaultGateway = 0x0044;
constexpr uint32_t kManufacturerName = 0x0048;          // 32 bytes
constexpr uint32_t kModelName = 0x0068;                 // 32 bytes
constexpr uint32_t kDeviceVersion = 0x0088;             // 32 bytes
constexpr uint32_t kManufacturerInfo = 0x00A8;          // 48 bytes
constexpr uint32_t kSerialNumber = 0x00D8;              // 16 bytes
constexpr uint32_t kUserDefinedName = 0x00E8;           // 16 bytes
constexpr uint32_t kFirstUrl = 0x0200;                  // 512 bytes
constexpr uint32_t kSecondUrl = 0x0400;                 // 512 bytes
constexpr uint32_t kNumberOfNetworkInterfaces = 0x0600;
constexpr uint32_t kPersistentIpAddress = 0x064C;
constexpr uint32_t kPersistentSubnetMask = 0x065C;
constexpr uint32_t kPersistentDefaultGateway = 0x066C;
constexpr uint32_t kLinkSpeed = 0x0670;
constexpr uint32_t kNumberOfMessageChannels = 0x0900;
constexpr uint32_t kNumberOfStreamChannels = 0x0904;
constexpr uint32_t kNumberOfActionSignals = 0x0908;
constexpr uint32_t kActionDeviceKey = 0x090C;
constexpr uint32_t kGvspCapability = 0x092C;
constexpr uint32_t kMessageChannelCapability = 0x0930;
constexpr uint32_t kGvcpCapability = 0x0934;
constexpr uint32_t kHeartbeatTimeout = 0x0938;
constexpr uint32_t kTimestampTickFrequencyHigh = 0x093C;
constexpr uint32_t kTimestampTickFrequencyLow = 0x0940;
constexpr uint32_t kTimestampControl = 0x0944;
constexpr uint32_t kTimestampValueHigh = 0x0948;
constexpr uint32_t kTimestampValueLow = 0x094C;
constexpr uint32_t kControlSwitchoverKey = 0x095C;
constexpr uint32_t kGvspConfiguration = 0x0960;
constexpr uint32_t kIeee1588Status = 0x096C;
constexpr uint32_t kControlChannelPrivilege = 0x0A00;
constexpr uint32_t kPrimaryApplicationPort = 0x0A04;
constexpr uint32_t kPrimaryApplicationIpAddress = 0x0A14;
constexpr uint32_t kMessageChannelPort = 0x0B00;
constexpr uint32_t kMessageChannelDestinationAddress = 0x0B10;
constexpr uint32_t kMessageChannelTransmissionTimeout = 0x0B14;
constexpr uint32_t kMessageChannelRetryCount = 0x0B18;
constexpr uint32_t kMessageChannelSourcePort = 0x0B1C;

// Stream channel 0; channel n's register is StreamChannel(address, n).
constexpr uint32_t kStreamChannelPort0 = 0x0D00;
constexpr uint32_t kStreamChannelPacketSize0 = 0x0D04;
constexpr uint32_t kStreamChannelPacketDelay0 = 0x0D08;
constexpr uint32_t kStreamChannelDestinationAddress0 = 0x0D18;
constexpr uint32_t kStreamChannelSourcePort0 = 0x0D1C;
constexpr uint32_t kStreamChannelStride = 0x40;

constexpr uint32_t StreamChannel(uint32_t channel0Address, uint32_t channel)
{
    return channel0Address + kStreamChannelStride * channel;
}

}  // namespace Bootstrap

// Registers of the device itself, not readable by clients.
namespace Manufacturer {

constexpr uint32_t kFixedWord = 0xA000;
constexpr uint32_t kHostProcessorCount = 0xA004;
constexpr uint32_t kHostProcessorArchitecture = 0xA008;
constexpr uint32_t kHostPageSize = 0xA00C;
constexpr uint32_t kHostAllocationGranularity = 0xA010;
constexpr uint32_t kHostOsMajor = 0xA014;
constexpr uint32_t kHostOsMinor = 0xA018;
constexpr uint32_t kHostOsBuild = 0xA01C;
// The served adapter.
constexpr uint32_t kAdapterIndex = 0xA020;
constexpr uint32_t kAdapterAddress = 0xA024;
constexpr uint32_t kAdapterMask = 0xA028;
constexpr uint32_t kAdapterType = 0xA02C;
constexpr uint32_t kAdapterMtu = 0xA030;
// The request being served.
constexpr uint32_t kRequestSourceIp = 0xA040;
constexpr uint32_t kRequestSourcePort = 0xA044;
// Acquisition start and stop requests: the source index, or all sources.
constexpr uint32_t kAcquisitionStart = 0xA04C;
constexpr uint32_t kAcquisitionStop = 0xA050;

}  // namespace Manufacturer

}  // namespace Kivu
