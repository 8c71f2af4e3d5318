#pragma once
// Profile containers: the status blocks with the profile's counters, then the profile block
// (pixel layout, or the scale block and the linearized layout), then the end block.
#include <cstdint>
#include <string>
#include <vector>

#include "scanner_sim/lin1dd.h"
#include "scanner_sim/profile_blocks.h"
#include "scanner_sim/status_blocks.h"

namespace scanner_sim {

constexpr int kMaxProfileColumns = 2048;

// What stays fixed while the scanner's configuration does not change.
struct ProfileSettings {
    // Registers and ROI. Its counters (picture counter, time stamp, encoders) are not used.
    StatusFields status;
    LinGeometry geometry;  // sensor size (the surface) and the analytic tables (the linearized values)
    bool linearized = false;  // 0x021A0801 + 0x021A0602 instead of 0x021A0601
    ProfileScale scale;
    bool swappedStrengthWidth = false;
    bool shortGeneralBlock = false;  // general block of 44 bytes: without the user I/O counter and exposure
    uint8_t legacyType = 0;  // 2 or 3: legacy profile frames of that type instead of containers

    bool operator==(const ProfileSettings&) const = default;
};

struct ProfileCounters {
    uint64_t index = 0;  // profile number n of the surface
    uint16_t pictureCounter = 0;
    uint32_t timeStamp = 0;
    uint32_t encoderHtl = 0;
    uint32_t encoderTtl = 0;

    bool operator==(const ProfileCounters&) const = default;
};

// ROI width X, at most 2048.
int profileColumns(const ProfileSettings& settings);
// SignalEnable as the echo mask (bits 0-3); the linearized layout always has one echo.
uint8_t profileEchoMask(const ProfileSettings& settings);
uint8_t profileContent(const ProfileSettings& settings);  // content bits of the status fields

// Sensor point of a column and a Z value: u = c (stepX + 1) + offsetX, v = (stepZ + 1) zRaw / 32 + offsetZ.
double sensorU(const StatusFields& status, int column);
double sensorV(const StatusFields& status, uint16_t zRaw);

// The values a profile carries, as a decoder reads them back (absent fields are 0).
struct ProfilePoint {
    uint16_t zRaw = 0;  // pixel layout: row x 32; linearized: the raw Z value
    uint16_t strength = 0;  // 10 bits; only the high 8 without the width field
    uint8_t width = 0;
    uint16_t reserved = 0;
    uint16_t xRaw = 0;  // linearized only

    bool operator==(const ProfilePoint&) const = default;
};

struct ProfileValues {
    ProfileCounters counters;
    int columns = 0;
    std::vector<int> echoSlots;  // echo numbers present in each column (pixel layout: the mask's bits)
    std::vector<ProfilePoint> points;  // columns x echoSlots.size(), column-major

    const ProfilePoint& at(int column, size_t echo) const
    {
        return points[static_cast<size_t>(column) * echoSlots.size() + echo];
    }
};

// The surface echo of a column as the scanner measures it with these settings: none while the
// laser is off.
EchoValue profileEcho(const ProfileSettings& settings, int columns, int column, uint64_t n, int echo);
void profileEchoes(const ProfileSettings& settings, int columns, uint64_t n, int echo, std::vector<EchoValue>& out);

// The linearized layout: raw = floor((mm - offset) / scale + 1/2), clamped to 0..65535, of the
// analytic millimetres at (sensorU, sensorV); columns without a point carry the raw values of 0 mm.
ProfileValues profileValues(const ProfileSettings& settings, const ProfileCounters& counters);

// A point as the client library hands it out: millimetres of the analytic tables at the echo's
// sensor point (0, 0 for an echo without a point) and the intensity the profile carries.
struct ExpectedPoint {
    double x = 0;
    double z = 0;
    int intensity = 0;
};

// The points of a profile in the order they are sent: each column, then each echo present.
std::vector<ExpectedPoint> expectedPoints(const ProfileSettings& settings, const ProfileCounters& counters);

// The blocks of profile `counters`, in order, without the end block.
std::vector<Block> profileBlocks(const ProfileSettings& settings, const ProfileCounters& counters);
std::string profileContainer(const ProfileSettings& settings, const ProfileCounters& counters);

}  // namespace scanner_sim
