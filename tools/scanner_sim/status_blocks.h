#pragma once
// The scanner-state blocks of a container (general, statistics, ROI X/Z, FPGA registers) and the
// status-only container that is sent while idle.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "scanner_sim/container.h"

namespace scanner_sim {

constexpr uint32_t kGeneralTag = 0x021A0101;
constexpr uint32_t kStatisticsTag = 0x021A0102;
constexpr uint32_t kRoiXTag = 0x021A0201;
constexpr uint32_t kRoiZTag = 0x021A0202;
constexpr uint32_t kFpgaTagSeriesA = 0x021A0401;
constexpr uint32_t kFpgaTagSeriesB = 0x021A0402;

struct UserIoLine {
    int function = 0;
    int functionLaserOff = 0;
    int functionProfileEnable = 0;
    int functionResetCounter = 0;
    int inputFunction = 0;
    int inputLoad = 0;
    int output = 1;
    int outputFunction = 0;
    int resetCounterRepeat = 0;
    int resetCounterSignaledge = 0;
    int resetCounterBaseTimeCounter = 0;
    int resetCounterPictureCounter = 0;
    int resetCounterEncoderHtl = 0;
    int resetCounterEncoderTtl = 0;

    bool operator==(const UserIoLine&) const = default;
};

struct StatusFields {
    // General block
    uint16_t pictureCounter = 0;
    uint32_t timeStamp = 0;
    uint32_t encoderHtl = 0;
    uint32_t encoderTtl = 0;
    unsigned ioState = 0;  // bits 0-3 (I/O lines 0-3)
    unsigned ioHigh = 0;  // ioBits 4-7, low nibble
    uint32_t userIoCounter = 0;
    uint32_t exposureTime = 0;  // low 24 bits are sent
    // Statistics block
    uint16_t headerWord23 = 0;
    uint32_t cpuFifo = 0;
    uint32_t fpgaFifo = 0;
    uint8_t temperature = 0;
    std::array<uint8_t, 3> statusBytes{};  // +33, +34, +35
    uint16_t ethernetBandwidth = 0;
    uint16_t dmaBandwidth = 0;
    uint16_t statisticUserData = 0;
    // ROI blocks
    uint16_t roiOffsetX = 0, roiWidthX = 0, roiStepX = 0;
    uint16_t roiOffsetZ = 0, roiHeightZ = 0, roiStepZ = 0;
    // FPGA register block
    bool seriesB = true;  // tag 0x021A0402; false: 0x021A0401
    bool laserActive = true;
    int triggerSource = 0;  // 0..3, or -1 for the amount mode
    int triggerAmountProfilesY = 0;  // with triggerSource -1
    bool cameraRunning = false;
    uint32_t lineTime = 0;  // 24 bits
    uint32_t triggerDelay = 0;
    uint32_t syncOutDelay = 0;
    uint32_t syncOut = 0;
    uint8_t signalEnable = 1;
    bool contentZ = true, contentStrength = true, contentWidth = true, contentReserved = false;
    uint16_t triggerEncoderStep = 0;
    uint8_t signalSelection = 0;
    uint8_t signalWidthMin = 0, signalWidthMax = 0;
    uint16_t amountProfilesY = 1;
    uint16_t signalStrengthMin = 0;
    int countDirection = 0;
    int encoderTriggerFunction = 0;  // 0..4
    std::array<UserIoLine, 4> userIo{};

    bool operator==(const StatusFields&) const = default;
};

// In this order: general (52 bytes), statistics (60), ROI X (16), ROI Z (16), FPGA registers (160).
std::vector<Block> statusBlocks(const StatusFields& fields);

// The profile container without its profile block.
std::string statusOnlyContainer(const StatusFields& fields);

}  // namespace scanner_sim
