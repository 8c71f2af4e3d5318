#pragma once
// Inputs of the golden vectors; golden_vectors.py builds the same vectors from the same values.
#include <string>
#include <utility>
#include <vector>

#include "scanner_sim/container.h"
#include "scanner_sim/crc32_mpeg2.h"
#include "scanner_sim/legacy_frame.h"
#include "scanner_sim/lin1dd.h"
#include "scanner_sim/profile_container.h"
#include "scanner_sim/status_blocks.h"

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

inline LinGeometry goldenLinGeometry() { return LinGeometry{12345678, 100, 200, 60, 120, 2048, 1088, false, 1}; }

inline LinGeometry goldenLinGeometry8x8()
{
    LinGeometry g = goldenLinGeometry();
    g.cells = 8;
    return g;
}

inline ProfileCounters goldenCounters(uint64_t index) { return ProfileCounters{index, 0x1234, 0x89ABCDEF, 1000, 2000}; }

// Profile cases: the golden status fields with these ROI X, signal enable and content bits.
struct ProfileCase {
    const char* name;
    uint16_t offsetX, widthX, stepX;
    uint8_t signalEnable;
    bool z, strength, width, reserved;
    bool linearized, swapped;
    uint64_t index;
};

inline const std::vector<ProfileCase>& goldenProfileCases()
{
    static const std::vector<ProfileCase> cases = {
        {"profile_pixel", 0, 2048, 0, 1, true, true, true, false, false, false, 7},
        {"profile_two_echoes", 16, 100, 1, 3, true, false, true, true, false, false, 123},
        {"profile_all_fields_echo1", 8, 40, 0, 2, false, false, false, false, false, false, 99},
        {"profile_linearized", 1000, 64, 0, 1, true, true, true, false, true, false, 42},
        {"profile_linearized_swapped", 0, 16, 2, 3, true, true, true, true, true, true, 250},
        {"profile_linearized_strength_only", 500, 20, 0, 1, true, true, false, false, true, false, 3},
    };
    return cases;
}

struct LegacyCase {
    ProfileCase profile;  // linearized and swapped unused
    uint8_t type;
};

inline const std::vector<LegacyCase>& goldenLegacyCases()
{
    static const std::vector<LegacyCase> cases = {
        {{"legacy_type2", 4, 30, 0, 1, true, true, true, false, false, false, 11}, 2},
        {{"legacy_type3_all_fields", 0, 10, 1, 3, false, false, false, false, false, false, 60}, 3},
    };
    return cases;
}

inline ProfileSettings goldenProfileSettings(const ProfileCase& c)
{
    ProfileSettings s;
    s.status = goldenStatusFields();
    s.status.roiOffsetX = c.offsetX, s.status.roiWidthX = c.widthX, s.status.roiStepX = c.stepX;
    s.status.signalEnable = c.signalEnable;
    s.status.contentZ = c.z, s.status.contentStrength = c.strength, s.status.contentWidth = c.width;
    s.status.contentReserved = c.reserved;
    s.geometry = goldenLinGeometry();
    s.linearized = c.linearized;
    s.swappedStrengthWidth = c.swapped;
    return s;
}

inline std::vector<std::pair<std::string, std::string>> goldenVectors()
{
    std::string crc(4, '\0');
    const uint32_t check = crc32Mpeg2("123456789");
    for (int i = 0; i < 4; ++i)
        crc[static_cast<size_t>(i)] = static_cast<char>(check >> (24 - 8 * i));
    std::vector<std::pair<std::string, std::string>> out = {
        {"crc_check", crc},
        {"empty_container", buildContainer({})},
        {"xml_device", xmlContainer("<device/>")},
        {"sync_container", syncContainer()},
        {"lin1dd_frame", lin1ddFrame(goldenLinGeometry())},
        {"status_container", statusOnlyContainer(goldenStatusFields())},
        {"lin1dd_frame_8x8", lin1ddFrame(goldenLinGeometry8x8())},
    };
    for (const ProfileCase& c : goldenProfileCases())
        out.emplace_back(c.name, profileContainer(goldenProfileSettings(c), goldenCounters(c.index)));
    for (const LegacyCase& c : goldenLegacyCases())
        out.emplace_back(c.profile.name, legacyProfileFrame(goldenProfileSettings(c.profile), goldenCounters(c.profile.index), c.type));
    return out;
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
