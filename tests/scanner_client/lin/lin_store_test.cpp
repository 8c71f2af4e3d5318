#include "lin/lin_store.h"

#include "lin1dd_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

#include "lin1dd_golden.inc"

using namespace quillan;
using namespace lintest;

uint32_t le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(LinStore, WithoutDataEverythingFails)
{
    LinStore store;
    EXPECT_FALSE(store.valid());
    double x = 5, z = 5;
    EXPECT_EQ(store.linearize(10, 10, &x, &z), kLinNoData);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(z, 0.0);
    uint8_t buf[200];
    EXPECT_EQ(store.copyDescriptor(buf, sizeof buf), kLinNoData);
}

TEST(LinStore, GoldenImageBecomesActive)
{
    LinStore store;
    const Bytes img = fromHex(kGoldenLin1ddHex);
    ASSERT_EQ(store.loadImage(img.data(), img.size()), kLinOk);
    EXPECT_TRUE(store.valid());
    EXPECT_TRUE(store.parametersLoaded());

    const Geometry g;
    double x = 0, z = 0;
    ASSERT_EQ(store.linearize(512, 272, &x, &z), kLinConverted);
    EXPECT_NEAR(x, g.x(512, 272), 1e-9);
    EXPECT_NEAR(z, g.z(512, 272), 1e-9);
    EXPECT_EQ(store.linearize(512, 272, nullptr, nullptr), kLinConverted);
    x = z = -1;
    EXPECT_EQ(store.linearize(3000, 272, &x, &z), kLinOutsideTable);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(z, -1);

    // The descriptor as a caller sees it: serial at 0, parametersLoaded at
    // 104, parameters from 108; nothing written past 152 bytes.
    uint8_t buf[160];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(store.copyDescriptor(nullptr, 152), kLinNoData);
    EXPECT_EQ(store.copyDescriptor(buf, 151), kLinNoData);
    EXPECT_EQ(buf[0], 0xEE);
    ASSERT_EQ(store.copyDescriptor(buf, 152), 0);
    EXPECT_EQ(le32(buf), 12345678u);
    EXPECT_EQ(le32(buf + 4), 0u);
    EXPECT_EQ(le32(buf + 8), 1u);   // X table loaded
    EXPECT_EQ(le32(buf + 12), 1u);  // nx
    EXPECT_EQ(le32(buf + 56), 1u);  // Z table loaded
    EXPECT_EQ(le32(buf + 104), 1u);
    EXPECT_EQ(le32(buf + 108), 0x42C80000u);  // 100.0f
    EXPECT_EQ(le32(buf + 108 + 4 * 5), 2048u);
    EXPECT_EQ(le32(buf + 108 + 4 * 6), 1088u);
    EXPECT_EQ(buf[152], 0xEE);
}

TEST(LinStore, FailedLoadDropsThePreviousData)
{
    LinStore store;
    const Bytes img = fromHex(kGoldenLin1ddHex);
    ASSERT_EQ(store.loadImage(img.data(), img.size()), kLinOk);
    const auto held = store.active();

    // Parameters then a cut table: not valid, but the parameters were read.
    const Geometry g;
    const Bytes bad = concat({magic(), record(2, g.parameters()), record(3, Bytes(4)), record(7, {})});
    EXPECT_EQ(store.loadImage(bad.data(), bad.size()), kLinBadTable);
    EXPECT_FALSE(store.valid());
    EXPECT_TRUE(store.parametersLoaded());
    double x = 1, z = 1;
    EXPECT_EQ(store.linearize(10, 10, &x, &z), kLinNoData);

    // Data still held by a reader stays usable.
    double hx = 0, hz = 0;
    EXPECT_EQ(held->convert(1024, 0, hx, hz), kLinConverted);
    EXPECT_NEAR(hz, 100.0, 1e-12);

    store.clearParametersLoaded();
    EXPECT_FALSE(store.parametersLoaded());

    const Bytes modeOnly = concat({magic(), record(7, {})});
    EXPECT_EQ(store.loadImage(modeOnly.data(), modeOnly.size()), kLinOk);
    EXPECT_TRUE(store.valid());
    EXPECT_TRUE(store.linearizationMode());
    EXPECT_FALSE(store.parametersLoaded());
    EXPECT_EQ(store.linearize(10, 10, &x, &z), kLinNoData);  // no tables

    store.clear();
    EXPECT_FALSE(store.valid());
}

class LinStoreFile : public ::testing::Test {
protected:
    std::string path(const char* name)
    {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("quillan_lin_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                          std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir);
        dirs_.push_back(dir);
        return (dir / name).string();
    }
    std::string write(const char* name, const Bytes& bytes)
    {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    void TearDown() override
    {
        for (const auto& d : dirs_)
            std::filesystem::remove_all(d);
    }
    std::string sparse(const char* name, uintmax_t size)
    {
        const std::string p = write(name, {});
        std::filesystem::resize_file(p, size);
        return p;
    }
    std::vector<std::filesystem::path> dirs_;
};

TEST_F(LinStoreFile, LoaderCodes)
{
    const Bytes img = fromHex(kGoldenLin1ddHex);
    Bytes wrongMagic = img;
    wrongMagic[0] = 'X';
    const struct { const char* name; std::string file; int code; bool valid; } cases[] = {
        {"missing", path("missing.bin"), kLinFileOpenFailed, false},
        {"empty", write("empty.bin", {}), kLinFileReadFailed, false},
        {"directory", path(""), kLinFileOpenFailed, false},
        {"five bytes", write("five.bin", Bytes(5, 'x')), kLinOk, true},
        {"wrong magic", write("magic.bin", wrongMagic), kLinBadMagic, false},
        {"golden", write("golden.bin", img), kLinOk, true},
        {"oversized", sparse("huge.bin", (256u << 20) + 1), kLinFileNoMemory, false},
    };
    for (const auto& c : cases) {
        LinStore store;
        EXPECT_EQ(store.loadFile(c.file.c_str()), c.code) << c.name;
        EXPECT_EQ(store.valid(), c.valid) << c.name;
    }

    LinStore store;
    ASSERT_EQ(store.loadFile(write("g.bin", img).c_str()), kLinOk);
    double x = 0, z = 0;
    ASSERT_EQ(store.linearize(2048, 1088, &x, &z), kLinConverted);
    EXPECT_NEAR(x, 60.0, 1e-9);
    EXPECT_NEAR(z, 300.0, 1e-9);
    EXPECT_EQ(store.loadFile(nullptr), kLinFileOpenFailed);
    EXPECT_FALSE(store.valid());
}

}  // namespace
