// Linearization data loaded from a file, and what the exported functions derive from it.
#include "quillan.h"
#include "scanner_sim/scanner_sim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "eventually.h"
#include "lin/lin1dd_builder.h"
#include "lin/lin1dd_golden.inc"  // serial 12345678, zs 100, zr 200, xs 60, xe 120, 2048 x 1088

namespace {

std::string fromHex(const char* hex)
{
    std::string out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

class LinearizationAbi : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Start();
        sim.SetSilent(true);
        port = std::to_string(sim.Port());
        h = Quillan_Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
        ASSERT_NE(h, nullptr);
        path = (std::filesystem::temp_directory_path() / ("lin1dd_" + std::to_string(::getpid()) + ".bin")).string();
        std::ofstream(path, std::ios::binary) << fromHex(kGoldenLin1ddHex);
    }
    void TearDown() override
    {
        Quillan_Disconnect(h);
        std::remove(path.c_str());
    }
    int load() { return Quillan_SetLinearizationFile(h, path.data()); }

    scanner_sim::ScannerSim sim;
    std::string port;
    std::string path;
    QuillanHandle h = nullptr;
};

TEST_F(LinearizationAbi, NothingBeforeDataIsLoaded)
{
    double x = 7, z = 7;
    EXPECT_EQ(Quillan_Linearize(h, 1024, 544, &x, &z), -1);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(z, 0.0);
    unsigned char desc[152];
    EXPECT_EQ(Quillan_GetLinDatType(h, desc, sizeof(desc)), -1);
    char text[256];
    EXPECT_EQ(Quillan_GetInfo(h, text, sizeof(text), const_cast<char*>("text")), -3);
    int a = 5, b = 5, c = 5, d = 5;
    EXPECT_EQ(Quillan_ConvertMmToPix(h, -10, 150, 10, 250, &a, &b, &c, &d), -1);
    EXPECT_EQ(a, 5);
    std::string missing = path + ".missing";
    EXPECT_EQ(Quillan_SetLinearizationFile(h, missing.data()), -1);
}

TEST_F(LinearizationAbi, FileDataConvertsAnalytically)
{
    ASSERT_EQ(load(), 0);
    // x = (u/W - 1/2)(xs + (xe - xs) v / H), z = zs + zr v / H
    const double points[][2] = {{1024, 544}, {0, 0}, {2047, 1087}, {300.5, 17.25}};
    for (const auto& p : points) {
        double x = 0, z = 0;
        ASSERT_EQ(Quillan_Linearize(h, p[0], p[1], &x, &z), 0) << p[0] << "," << p[1];
        EXPECT_NEAR(x, (p[0] / 2048 - 0.5) * (60 + 60 * p[1] / 1088), 1e-9);
        EXPECT_NEAR(z, 100 + 200 * p[1] / 1088, 1e-9);
    }
    double x = 0, z = 0;
    EXPECT_EQ(Quillan_Linearize(h, 5000, 10, &x, &z), 1);  // outside the table

    unsigned char desc[152];
    EXPECT_EQ(Quillan_GetLinDatType(h, desc, 151), -1);
    EXPECT_EQ(Quillan_GetLinDatType(h, desc, sizeof(desc)), 0);

    char text[256];
    int n = Quillan_GetInfo(h, text, sizeof(text), const_cast<char*>("TEXT"));
    const std::string expected = "[general]\r\nsn=12345678\r\nz_start=100.000\r\nz_range=200.000\r\n"
                                 "x_range_at_start=60.000\r\nx_range_at_end=120.000\r\nwidthX=2048\r\nwidthZ=1088\r\n";
    ASSERT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(text), expected);
    EXPECT_EQ(Quillan_GetInfo(h, text, n, const_cast<char*>("text")), -3);  // no room for the NUL
}

// A reconnection after the file was loaded keeps the file's data: its summary and conversions stay.
TEST_F(LinearizationAbi, FileDataOutlivesAReconnection)
{
    // The silent simulator never makes the connection ready: its received hellos show each connection.
    ASSERT_TRUE(eventually([&] { return !sim.ReceivedBytes(0).empty(); }, std::chrono::seconds(5)));
    ASSERT_EQ(load(), 0);
    sim.CloseClient();
    ASSERT_TRUE(eventually([&] { return !sim.ReceivedBytes(1).empty(); }, std::chrono::seconds(10)));

    char text[256];
    EXPECT_GT(Quillan_GetInfo(h, text, sizeof(text), const_cast<char*>("text")), 0);
    double x = 0, z = 0;
    EXPECT_EQ(Quillan_Linearize(h, 1024, 544, &x, &z), 0);
}

// The summary needs the parameter record only: a load whose table record is broken after it still
// prints the serial number and parameters it read, while nothing converts.
TEST_F(LinearizationAbi, TextNeedsOnlyTheParameterRecord)
{
    using namespace lintest;
    Geometry g;
    Bytes serial;
    putU64(serial, 87654321);
    Bytes brokenTable;
    putU32(brokenTable, 4);  // nx and nz, then no axes
    putU32(brokenTable, 4);
    struct Case {
        const char* name;
        Bytes image;
        int loadRc;
        bool text;
    };
    const Case cases[] = {
        {"table cut short after the parameters",
         concat({magic(), record(1, serial), record(2, g.parameters()), record(3, brokenTable)}), 3, true},
        {"parameter record short", concat({magic(), record(1, serial), record(2, Bytes(40, 0))}), 2, false},
        {"no parameter record", concat({magic(), record(1, serial)}), 0, false},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(c.image.data()), static_cast<std::streamsize>(c.image.size()));
        EXPECT_EQ(load(), c.loadRc) << c.name;
        char text[256] = {};
        int n = Quillan_GetInfo(h, text, sizeof(text), const_cast<char*>("text"));
        if (!c.text) {
            EXPECT_EQ(n, -3) << c.name;
            continue;
        }
        const std::string expected = "[general]\r\nsn=87654321\r\nz_start=100.000\r\nz_range=200.000\r\n"
                                     "x_range_at_start=60.000\r\nx_range_at_end=120.000\r\nwidthX=2048\r\nwidthZ=1088\r\n";
        EXPECT_EQ(n, static_cast<int>(expected.size())) << c.name;
        EXPECT_EQ(std::string(text), expected) << c.name;
        double x = 0, z = 0;
        EXPECT_EQ(Quillan_Linearize(h, 1024, 544, &x, &z), -1) << c.name;
    }
}

TEST_F(LinearizationAbi, MillimetreRectangleToSensorRegion)
{
    ASSERT_EQ(load(), 0);
    struct Case {
        double x1, z1, x2, z2;
        int left, top, right, bottom;
    };
    // Rows of z 150 and 250 are 272 and 816; columns are the nearest to each x at those rows.
    const Case cases[] = {
        {-10, 150, 10, 250, 829, 260, 1219, 836},
        {10, 250, -10, 150, 829, 260, 1219, 836},     // corners in the other order
        {-100, 150, 100, 250, 0, 260, 2047, 836},     // clipped to the field's edges
    };
    for (const auto& c : cases) {
        int left = 0, top = 0, right = 0, bottom = 0;
        ASSERT_EQ(Quillan_ConvertMmToPix(h, c.x1, c.z1, c.x2, c.z2, &left, &top, &right, &bottom), 0);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(top, c.top);
        EXPECT_EQ(right, c.right);
        EXPECT_EQ(bottom, c.bottom);
    }
}

}  // namespace
