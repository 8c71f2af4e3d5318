#include "scanner_sim/profile_container.h"

#include <algorithm>
#include <cmath>

#include "scanner_sim/container.h"

namespace scanner_sim {
namespace {

uint16_t toRaw(double mm, float offset, float scale)
{
    const double raw = std::floor((mm - static_cast<double>(offset)) / static_cast<double>(scale) + 0.5);
    return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

}  // namespace

EchoValue profileEcho(const ProfileSettings& s, int columns, int column, uint64_t n, int echo)
{
    if (!s.status.laserActive)
        return {};
    return surfaceEcho(s.geometry.widthX, s.geometry.widthZ, columns, column, n, echo);
}

void profileEchoes(const ProfileSettings& s, int columns, uint64_t n, int echo, std::vector<EchoValue>& out)
{
    if (!s.status.laserActive)
        out.assign(static_cast<size_t>(std::max(columns, 0)), EchoValue{});
    else
        surfaceEchoes(s.geometry.widthX, s.geometry.widthZ, columns, n, echo, out);
}

int profileColumns(const ProfileSettings& s) { return std::min<int>(s.status.roiWidthX, kMaxProfileColumns); }

uint8_t profileEchoMask(const ProfileSettings& s) { return s.status.signalEnable & 0x0F; }

uint8_t profileContent(const ProfileSettings& s)
{
    const StatusFields& f = s.status;
    return static_cast<uint8_t>((f.contentZ ? kContentZ : 0) | (f.contentStrength ? kContentStrength : 0) |
                                (f.contentWidth ? kContentWidth : 0) | (f.contentReserved ? kContentReserved : 0));
}

double sensorU(const StatusFields& f, int column)
{
    return static_cast<double>(column) * (f.roiStepX + 1) + f.roiOffsetX;
}

double sensorV(const StatusFields& f, uint16_t zRaw)
{
    return (f.roiStepZ + 1) * (zRaw / 32.0) + f.roiOffsetZ;
}

ProfileValues profileValues(const ProfileSettings& s, const ProfileCounters& counters)
{
    ProfileValues v;
    v.counters = counters;
    v.columns = profileColumns(s);
    const uint8_t f = presentFields(profileContent(s));
    std::vector<EchoValue> echoes;
    if (s.linearized) {
        v.echoSlots = {0};
        v.points.reserve(static_cast<size_t>(v.columns));
        profileEchoes(s, v.columns, counters.index, 0, echoes);
        for (int c = 0; c < v.columns; ++c) {
            const EchoValue& e = echoes[static_cast<size_t>(c)];
            const Millimetres mm = e.zRaw == 0 ? Millimetres{}
                                               : analyticMillimetres(s.geometry, sensorU(s.status, c),
                                                                     sensorV(s.status, e.zRaw));
            ProfilePoint p;
            p.zRaw = toRaw(mm.z, s.scale.zOffset, s.scale.zScale);
            p.xRaw = toRaw(mm.x, s.scale.xOffset, s.scale.xScale);
            if (f & kContentStrength)
                p.strength = (f & kContentWidth) ? e.strength : static_cast<uint16_t>(e.strength & ~3u);
            if (f & kContentWidth)
                p.width = e.width;
            v.points.push_back(p);
        }
        return v;
    }
    const uint8_t mask = profileEchoMask(s);
    for (int echo = 0; echo < 4; ++echo)
        if (mask & (1u << echo))
            v.echoSlots.push_back(echo);
    const size_t slots = v.echoSlots.size();
    v.points.resize(static_cast<size_t>(v.columns) * slots);
    for (size_t slot = 0; slot < slots; ++slot) {
        profileEchoes(s, v.columns, counters.index, v.echoSlots[slot], echoes);
        for (int c = 0; c < v.columns; ++c) {
            const EchoValue& e = echoes[static_cast<size_t>(c)];
            ProfilePoint& p = v.points[static_cast<size_t>(c) * slots + slot];
            if (f & kContentZ)
                p.zRaw = e.zRaw;
            if (f & kContentStrength)
                p.strength = (f & kContentWidth) ? e.strength : static_cast<uint16_t>(e.strength & ~3u);
            if (f & kContentWidth)
                p.width = e.width;
            if (f & kContentReserved)
                p.reserved = e.reserved;
        }
    }
    return v;
}

std::vector<ExpectedPoint> expectedPoints(const ProfileSettings& s, const ProfileCounters& counters)
{
    const ProfileValues v = profileValues(s, counters);
    std::vector<ExpectedPoint> out;
    out.reserve(v.points.size());
    std::vector<std::vector<EchoValue>> echoes(v.echoSlots.size());
    for (size_t slot = 0; slot < v.echoSlots.size(); ++slot)
        profileEchoes(s, v.columns, counters.index, v.echoSlots[slot], echoes[slot]);
    for (int c = 0; c < v.columns; ++c)
        for (size_t slot = 0; slot < v.echoSlots.size(); ++slot) {
            const EchoValue& e = echoes[slot][static_cast<size_t>(c)];
            ExpectedPoint p;
            if (e.zRaw != 0) {
                const Millimetres mm = analyticMillimetres(s.geometry, sensorU(s.status, c), sensorV(s.status, e.zRaw));
                p.x = mm.x;
                p.z = mm.z;
            }
            p.intensity = v.at(c, slot).strength;
            out.push_back(p);
        }
    return out;
}

std::vector<Block> profileBlocks(const ProfileSettings& s, const ProfileCounters& counters)
{
    StatusFields status = s.status;
    status.pictureCounter = counters.pictureCounter;
    status.timeStamp = counters.timeStamp;
    status.encoderHtl = counters.encoderHtl;
    status.encoderTtl = counters.encoderTtl;
    std::vector<Block> blocks = statusBlocks(status);
    if (s.shortGeneralBlock)
        blocks.front().body.resize(44 - 8);

    const ProfileValues values = profileValues(s, counters);
    if (s.linearized) {
        std::vector<LinearizedPoint> points;
        points.reserve(values.points.size());
        for (const ProfilePoint& p : values.points)
            points.push_back(LinearizedPoint{p.zRaw, p.strength, p.width, p.xRaw});
        blocks.push_back(profileScaleBlock(s.scale));
        blocks.push_back(linearizedProfileBlock(profileContent(s), s.swappedStrengthWidth, points));
        return blocks;
    }
    // The fields the content leaves out are not encoded, so the decoded values encode the same.
    std::vector<EchoValue> points;
    points.reserve(values.points.size());
    for (const ProfilePoint& p : values.points)
        points.push_back(EchoValue{p.zRaw, p.strength, p.width, p.reserved});
    blocks.push_back(pixelProfileBlock(profileEchoMask(s), profileContent(s), points));
    return blocks;
}

std::string profileContainer(const ProfileSettings& s, const ProfileCounters& counters)
{
    return buildContainer(profileBlocks(s, counters));
}

}  // namespace scanner_sim
