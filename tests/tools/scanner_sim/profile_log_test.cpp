// The per-profile log: counters, status values and the points a client should decode, computed
// here straight from the surface formula and the analytic tables.
#include "scanner_sim/profile_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "scanner_sim/profile_container.h"
#include "scanner_sim/settings_model.h"

namespace scanner_sim {
namespace {

struct Parsed {
    std::vector<std::pair<std::string, std::string>> fields;  // up to "points"
    std::vector<double> values;  // x z i ...
    std::string field(const std::string& name) const
    {
        for (const auto& [k, v] : fields)
            if (k == name)
                return v;
        return "?";
    }
};

Parsed parse(const std::string& line)
{
    EXPECT_TRUE(line.ends_with('\n'));
    std::istringstream in(line);
    Parsed p;
    std::string key, value;
    while (in >> key >> value) {
        p.fields.emplace_back(key, value);
        if (key == "points")
            break;
    }
    for (double v; in >> v;)
        p.values.push_back(v);
    return p;
}

// Row of echo 0 at column c of profile n on the default 2048 x 1088 sensor, per the surface's
// definition.
double row(int c, uint64_t n)
{
    const double phase = c / 2048.0 + static_cast<double>(n % 100) / 100.0;
    return std::floor(32 * (544 + 272 * std::sin(2 * std::numbers::pi * phase)) + 0.5) / 32;
}

SentProfile profileWith(const std::vector<const char*>& commands, ProfileCounters counters)
{
    SettingsModel model;
    for (const char* c : commands)
        EXPECT_TRUE(model.Apply(c)) << c;
    ProfileSettings s;
    s.status = model.Status();
    s.geometry = model.Identity().geometry;
    return SentProfile{counters, std::make_shared<const ProfileSettings>(s), 2, ProfileFault::None, false,
                       CounterFault::None};
}

TEST(ProfileLog, LineCarriesCountersStatusAndAnalyticPoints)
{
    SentProfile p = profileWith({"SetROI1WidthX=64\r", "SetROI1OffsetX=100\r", "SetEA2Function=4\r",
                                 "SetEA2OutputFunction=1\r"},
                                ProfileCounters{5, 42, 7000, 11, 22});
    p.counterFault = CounterFault::Gap;
    const Parsed line = parse(ProfileLog::FormatLine(p));
    const std::pair<std::string, std::string> head[] = {
        {"profile", "5"},       {"connection", "2"}, {"counter", "42"},     {"timestamp", "7000"},
        {"encoder_htl", "11"},  {"encoder_ttl", "22"}, {"state", "64"},     {"io", "2"},
        {"temperature", "41"},  {"fault", "gap"},    {"points", "64"},
    };
    ASSERT_EQ(line.fields.size(), std::size(head));
    for (size_t i = 0; i < std::size(head); ++i)
        EXPECT_EQ(line.fields[i], head[i]);
    ASSERT_EQ(line.values.size(), 64u * 3);
    for (int c = 0; c < 64; ++c) {
        const double* v = &line.values[static_cast<size_t>(c) * 3];
        if (c == 48) {  // the no-point band of 64 columns
            EXPECT_EQ(v[0], 0);
            EXPECT_EQ(v[1], 0);
            EXPECT_EQ(v[2], 0);
            continue;
        }
        const double u = c + 100;
        const double r = row(c, 5);
        EXPECT_NEAR(v[0], (u / 2048 - 0.5) * (60 + 60.0 / 1088 * r), 1e-6) << c;
        EXPECT_NEAR(v[1], 100 + 200 * r / 1088, 1e-6) << c;
        EXPECT_EQ(v[2], (4 * c + 5) % 1024) << c;
    }
}

TEST(ProfileLog, SettingsShapeThePoints)
{
    const ProfileCounters n{3, 3, 0, 0, 0};
    struct Case {
        std::vector<const char*> commands;
        size_t points;
        // column 1: echo slots' intensities (x, z only checked for being non-zero)
        std::vector<int> intensities;
        bool measured;
    };
    const Case cases[] = {
        {{"SetROI1WidthX=32\r"}, 32, {7}, true},
        {{"SetROI1WidthX=32\r", "SetSignalEnable=3\r"}, 64, {7, 263}, true},
        {{"SetROI1WidthX=32\r", "SetSignalContentStrength=0\r"}, 32, {0}, true},
        {{"SetROI1WidthX=32\r", "SetSignalContentWidth=0\r"}, 32, {4}, true},  // the high 8 bits only
        {{"SetROI1WidthX=32\r", "SetLaserDeactivated=1\r"}, 32, {0}, false},
    };
    for (const Case& c : cases) {
        const Parsed line = parse(ProfileLog::FormatLine(profileWith(c.commands, n)));
        ASSERT_EQ(line.field("points"), std::to_string(c.points)) << c.commands.back();
        ASSERT_EQ(line.values.size(), c.points * 3);
        const size_t slots = c.intensities.size();
        for (size_t e = 0; e < slots; ++e) {
            const double* v = &line.values[(slots + e) * 3];
            EXPECT_EQ(v[2], c.intensities[e]) << c.commands.back() << " echo " << e;
            EXPECT_EQ(v[1] != 0, c.measured) << c.commands.back();
        }
        if (!c.measured) {
            for (double v : line.values)
                ASSERT_EQ(v, 0) << c.commands.back();
        }
    }
    SentProfile flipped = profileWith({"SetROI1WidthX=32\r"}, n);
    flipped.fault = ProfileFault::FlipByte;
    EXPECT_EQ(parse(ProfileLog::FormatLine(flipped)).field("fault"), "flip");
    flipped.fault = ProfileFault::None;
    flipped.counterFault = CounterFault::Repeat;
    EXPECT_EQ(parse(ProfileLog::FormatLine(flipped)).field("fault"), "repeat");
}

}  // namespace
}  // namespace scanner_sim
