// Pins the binary interface of CGevCamera: the operation at each slot, the
// layout of the records passed across it and the one export.
#include "gev_camera.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

// With the Itanium C++ ABI a pointer to a virtual member function holds 1 plus
// the byte offset of its vtable entry.
template <class F>
std::ptrdiff_t vtableOffset(F member)
{
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof words);
    return words[0] - 1;
}

struct Slot {
    int slot;
    const char* name;
    std::ptrdiff_t offset;
};
#define SLOT(n, name) Slot{n, #name, vtableOffset(&CGevCamera::name)}

const Slot kSlots[] = {
    SLOT(1, Start),
    SLOT(2, Stop),
    SLOT(3, AddCategory),
    SLOT(4, AddRegisterFeature),
    SLOT(5, AddFeatureNode),
    SLOT(6, AddEventSelectorFeatures),
    SLOT(7, AddEvent),
    SLOT(8, AddEventDataFeature),
    SLOT(9, AddChunkSelectorFeatures),
    SLOT(10, AddChunk),
    SLOT(11, AddChunkFeature),
    SLOT(12, RemoveFeature),
    SLOT(13, SetIntegerValue),
    SLOT(14, SetFloatValue),
    SLOT(15, SetStringValue),
    SLOT(16, SetEnumValue),
    SLOT(17, GetIntegerValue),
    SLOT(18, GetFloatValue),
    SLOT(19, GetStringValue),
    SLOT(20, GetFeatureValueText),
    SLOT(21, SetFeatureChildValue),
    SLOT(22, GetFeatureChildValue),
    SLOT(23, SetFeatureChildAttribute),
    SLOT(24, AddEnumEntry),
    SLOT(25, SetEnumEntryChildValue),
    SLOT(26, RemoveFeatureChild),
    SLOT(27, RemoveEnumEntry),
    SLOT(28, GetEnumEntryTable),
    SLOT(29, SetFloatRange),
    SLOT(30, SetIntegerRange),
    SLOT(31, GetIntegerRange),
    SLOT(32, GetFloatRange),
    SLOT(33, SetFeatureDescription),
    SLOT(34, GetFeatureAddress),
    SLOT(35, GetFeatureType),
    SLOT(36, GetFeatureAccessMode),
    SLOT(37, SetFeatureAccessMode),
    SLOT(38, WriteRegister),
    SLOT(39, ReadRegister),
    SLOT(40, WriteMemory),
    SLOT(41, ReadMemory),
    SLOT(42, SendEvent),
    SLOT(43, SendEvents),
    SLOT(44, SendEventData),
    SLOT(45, GetNetworkInterfaceCount),
    SLOT(46, GetNetworkInterfaceIp),
    SLOT(47, GetNetworkInterfaceInfo),
    SLOT(48, GetStreamChannelCount),
    SLOT(49, IsRunning),
    SLOT(50, BeginFrame),
    SLOT(51, SendImage),
    SLOT(52, SendData),
    SLOT(53, SetCompressionMode),
    SLOT(54, SetCompressionParameters),
    SLOT(55, SetStreamChannelCount),
    SLOT(56, SetSourceCount),
    SLOT(57, SetRegionMode),
    SLOT(58, SetGevMode),
    SLOT(59, SetTimestampMode),
    SLOT(60, SetMaxImageSize),
    SLOT(61, SetPayloadType),
    SLOT(62, SetFeatureReadCallback),
    SLOT(63, SetFeatureWriteCallback),
    SLOT(64, SetActionCallback),
    SLOT(65, SetScheduledActionCallback),
    SLOT(66, SetClientConnectionCallback),
    SLOT(67, SetActionSignalCount),
    SLOT(68, SetChannelChangeCallback),
    SLOT(69, AddChunkData),
    SLOT(70, AddPixelFormatEx),
    SLOT(71, AddPixelFormat),
    SLOT(72, SetImageSize),
    SLOT(73, SetImageOffset),
    SLOT(74, SetRegionPixelFormat),
    SLOT(75, SetPixelFormatValue),
    SLOT(76, SetPixelFormat),
    SLOT(77, SetChunkPayloadSize),
    SLOT(78, GetChunkPayloadSize),
    SLOT(79, GetWidth),
    SLOT(80, GetHeight),
    SLOT(81, GetPixelFormatName),
    SLOT(82, GetPixelFormat),
    SLOT(83, PixelFormatNameOf),
    SLOT(84, PixelFormatValueOf),
    SLOT(85, GetOffsetX),
    SLOT(86, GetOffsetY),
    SLOT(87, GetPayloadSize),
    SLOT(88, GetSourceIndex),
    SLOT(89, SetPersistentIp),
    SLOT(90, GetCurrentIp),
    SLOT(91, SetMacAddress),
    SLOT(92, GetMacAddress),
    SLOT(93, SetDeviceIdentity),
    SLOT(94, SetSimulationParameters),
    SLOT(95, ConvertPixels),
    SLOT(96, LatchTimestamp),
    SLOT(97, SetUserDefinedName),
    SLOT(98, SendImageEx),
    SLOT(99, SendDataEx),
    SLOT(100, SetRegionWidth),
    SLOT(101, SetRegionHeight),
    SLOT(102, SetRegionOffsetX),
    SLOT(103, SetRegionOffsetY),
    SLOT(104, ApplyRegionSettings),
    SLOT(105, UpdateImagePart),
    SLOT(106, SetImagePartData),
    SLOT(107, RemoveImagePart),
    SLOT(108, SetFrameTimestamp),
};

TEST(CameraAbi, OperationsSitInTheirSlots)
{
    ASSERT_EQ(std::size(kSlots), 108u);
    // The virtual destructor takes the first two entries (complete and deleting).
    for (const Slot& s : kSlots)
        EXPECT_EQ(s.offset, static_cast<std::ptrdiff_t>((s.slot + 1) * sizeof(void*))) << "slot " << s.slot << " " << s.name;
    EXPECT_TRUE(std::has_virtual_destructor_v<CGevCamera>);
    EXPECT_TRUE(std::is_abstract_v<CGevCamera>);
}

TEST(CameraAbi, RecordLayouts)
{
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, ip), 0u);
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, mac), 4u);
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, mask), 12u);
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, reserved), 16u);
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, linkSpeedBps), 20u);
    EXPECT_EQ(offsetof(NetworkInterfaceInfo, mtu), 24u);
    EXPECT_EQ(sizeof(NetworkInterfaceInfo), 28u);

    EXPECT_EQ(offsetof(SimulationParameters, dropPeriod), 4u);
    EXPECT_EQ(offsetof(SimulationParameters, packetDelayNs), 16u);
    EXPECT_EQ(offsetof(SimulationParameters, discoveryEveryNth), 40u);
    EXPECT_EQ(sizeof(SimulationParameters), 44u);

    EXPECT_EQ(offsetof(ActionCommandInfo, actionTimeNs), 16u);
    EXPECT_EQ(offsetof(PartDescriptor, width), 4u);
    EXPECT_EQ(offsetof(PartDescriptor, dataType), 8u);
    EXPECT_EQ(offsetof(PartDescriptor, pixelFormatName), 16u);
}

}  // namespace
