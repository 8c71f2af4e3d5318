#pragma once
// Inputs of the golden vectors; golden_vectors.py builds the same vectors from the same values.
#include <string>
#include <utility>
#include <vector>

#include "tools/scanner_sim/container.h"
#include "tools/scanner_sim/crc32_mpeg2.h"
#include "tools/scanner_sim/lin1dd.h"
#include "tools/scanner_sim/status_blocks.h"

namespace scanner_sim::test {

inline StatusFields goldenStatusFields()
{
    StatusFields f;
    f.pictureCounter = 0x1234;
    f.timeStamp = 0x89ABCDEF;
    f.encoderHtl = 1000;
    f.encoderTtl = 2000;
    f.ioState = 0b1010;
    f.ioHigh = 0x9;
    f.userIoCounter = 77;
    f.exposureTime = 0x123456;
    f.headerWord23 = 5;
    f.cpuFifo = 11;
    f.fpgaFifo = 12;
    f.temperature = 41;
    f.statusBytes = {1, 2, 3};
    f.ethernetBandwidth = 900;
    f.dmaBandwidth = 800;
    f.statisticUserData = 0xBEEF;
    f.roiOffsetX = 16, f.roiWidthX = 1024, f.roiStepX = 0;
    f.roiOffsetZ = 32, f.roiHeightZ = 512, f.roiStepZ = 1;
    f.laserActive = true;
    f.triggerSource = -1;
    f.triggerAmountProfilesY = 10;
    f.cameraRunning = true;
    f.lineTime = 1000;
    f.triggerDelay = 7;
    f.syncOutDelay = 300;
    f.syncOut = 200;
    f.signalEnable = 3;
    f.contentZ = true, f.contentStrength = true, f.contentWidth = false, f.contentReserved = true;
    f.triggerEncoderStep = 4;
    f.signalSelection = 2;
    f.signalWidthMin = 3, f.signalWidthMax = 40;
    f.amountProfilesY = 100;
    f.signalStrengthMin = 15;
    f.countDirection = 1;
    f.encoderTriggerFunction = 4;
    // function, laseroff, profileenable, resetcounter, inputfunction, inputload, output, outputfunction,
    // repeat, signaledge, basetime, picture, htl, ttl
    f.userIo[0] = {5, 1, 0, 1, 1, 0, 1, 0, 2, 1, 1, 0, 1, 0};
    f.userIo[1] = {5, 0, 1, 0, 0, 1, 2, 1, 1, 2, 0, 1, 0, 1};
    f.userIo[2] = {3, 0, 0, 0, 1, 1, 3, 0, 0, 0, 0, 0, 0, 0};
    f.userIo[3] = {4, 1, 1, 1, 0, 0, 1, 1, 3, 3, 1, 1, 1, 1};
    return f;
}

inline LinGeometry goldenLinGeometry() { return LinGeometry{12345678, 100, 200, 60, 120, 2048, 1088, false}; }

inline std::vector<std::pair<std::string, std::string>> goldenVectors()
{
    std::string crc(4, '\0');
    const uint32_t check = crc32Mpeg2("123456789");
    for (int i = 0; i < 4; ++i)
        crc[static_cast<size_t>(i)] = static_cast<char>(check >> (24 - 8 * i));
    return {
        {"crc_check", crc},
        {"empty_container", buildContainer({})},
        {"xml_device", xmlContainer("<device/>")},
        {"sync_container", syncContainer()},
        {"lin1dd_frame", lin1ddFrame(goldenLinGeometry())},
        {"status_container", statusOnlyContainer(goldenStatusFields())},
    };
}

inline std::string toHex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

}  // namespace scanner_sim::test
