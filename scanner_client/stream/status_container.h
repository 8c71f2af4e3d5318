#pragma once
// The scanner state carried in the status blocks of a container, and its decoder.
#include <array>
#include <cstddef>
#include <cstdint>

namespace quillan::stream {

enum StatusField : size_t {
    PictureCounter,
    TimeStamp,
    CpuFifoFill,
    FpgaFifoFill,
    EthernetBandwidth,
    DmaBandwidth,
    StatisticUserData,
    IoState,
    EncoderHtl,
    EncoderTtlRs422,
    Temperature,
    ScannerState,
    UserIoCounter,
    SignalEnable,
    ContentZ,
    ContentStrength,
    ContentWidth,
    ContentReserved,
    LineTime,
    CameraRunning,
    TriggerSource,
    TriggerAmountProfilesY,
    AmountProfilesY,
    TriggerEncoderStep,
    TriggerDelay,
    ExposureTime,
    LaserActive,
    RoiWidthX,
    RoiOffsetX,
    RoiStepX,
    RoiHeightZ,
    RoiOffsetZ,
    SyncOut,
    SyncOutDelay,
    SignalWidthMin,
    SignalWidthMax,
    SignalStrengthMin,
    SignalSelection,
    EncoderTriggerFunction,
    EncoderCountDirection,
    FirstUserIoField,  // 14 fields per user I/O line, lines 1 to 4
};

// Fields of one user I/O line, in record order.
enum UserIoField : size_t {
    Function,
    FunctionLaserOff,
    FunctionProfileEnable,
    FunctionResetCounter,
    InputFunction,
    InputLoad,
    Output,
    OutputFunction,
    ResetCounterRepeat,
    ResetCounterSignaledge,
    ResetCounterBaseTimeCounter,
    ResetCounterPictureCounter,
    ResetCounterEncoderHtl,
    ResetCounterEncoderTtlRs422,
};

inline constexpr size_t kUserIoLines = 4;
inline constexpr size_t kUserIoFieldCount = 14;
inline constexpr size_t kStatusFieldCount = FirstUserIoField + kUserIoLines * kUserIoFieldCount;

// Index of a user I/O field; line is 0 to 3 for lines 1 to 4.
constexpr size_t userIoIndex(size_t line, UserIoField field)
{
    return FirstUserIoField + line * kUserIoFieldCount + field;
}

using StatusRecord = std::array<int32_t, kStatusFieldCount>;
static_assert(kStatusFieldCount == 96);

// Unpacks the status blocks of one stored container into `record`. Fields that no
// block supplies, or that lie outside their block or outside the `size` bytes, keep
// their values. Bytes that do not start with the container magic change nothing.
void decodeStatusContainer(const uint8_t* container, size_t size, StatusRecord& record);

}  // namespace quillan::stream
