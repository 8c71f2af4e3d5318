// The point-cloud file: created empty when the scanner thread starts, then the next -p profiles
// after each acquisition start, appended, one line per point.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "scanner_thread_rig.h"

namespace lumabridge::test {
namespace {

namespace fs = std::filesystem;

class PointCloud : public ScannerThreadTest {
protected:
    void SetUp() override
    {
        ScannerThreadTest::SetUp();
        dir = fs::temp_directory_path() / ("lb_point_cloud_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        ScannerThreadTest::TearDown();
        fs::remove_all(dir);
    }
    static std::string Contents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Profile k: two points; the encoder 42 for odd k, 0xFFFFFFFF for even k.
    static Profile Numbered(int k)
    {
        Profile p = WithCounter(k, {k + 0.5, -1.5});
        p.z = {150.0, 0.0000004};
        p.intensity = {512, -3};
        p.encoder = k % 2 ? 42u : 0xFFFFFFFFu;
        return p;
    }
    static std::vector<Profile> Numbered(int first, int last)
    {
        std::vector<Profile> profiles;
        for (int k = first; k <= last; ++k)
            profiles.push_back(Numbered(k));
        return profiles;
    }

    fs::path dir;
};

TEST_F(PointCloud, NextProfilesOfEachAcquisitionAppended)
{
    const fs::path file = dir / "cloud.txt";
    std::ofstream(file) << "an older run\n";
    ScannerRig rig;
    rig.bridge.SetPointCloudOptions(3, file.string());
    rig.Connect();
    rig.Feed({Numbered(1)});  // no acquisition yet
    EXPECT_EQ(Contents(file), "") << "truncated at the thread's start";

    rig.probe.StartPointCloud();
    rig.Feed(Numbered(2, 6));
    EXPECT_FALSE(rig.probe.SavingPointCloud());
    rig.probe.StartPointCloud();
    rig.Feed(Numbered(7, 9));
    EXPECT_FALSE(rig.probe.SavingPointCloud());
    rig.Feed(Numbered(10, 10));
    rig.bridge.Shutdown();

    auto profile = [](const std::string& x, const std::string& encoder) {
        return x + " " + encoder + " 150.000000 512\n-1.500000 " + encoder + " 0.000000 -3\n\n";
    };
    EXPECT_EQ(Contents(file), profile("2.500000", "-000001") + profile("3.500000", "000042") +
                                  profile("4.500000", "-000001") + profile("7.500000", "000042") +
                                  profile("8.500000", "-000001") + profile("9.500000", "000042"));
    EXPECT_EQ(rig.err.str().find("PointCLoud"), std::string::npos);
}

TEST_F(PointCloud, OpeningAtStart)
{
    struct Case {
        const char* name;
        uint32_t scans;
        std::string file;  // relative to the test's directory
        bool created;
        bool warned;
    };
    const std::vector<Case> cases = {
        {"default name", 1, "", true, false},
        {"no scans to save", 0, "cloud.txt", false, false},
        {"cannot be opened", 3, "missing/cloud.txt", false, true},
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScannerRig rig;
        rig.bridge.SetPointCloudOptions(c.scans, c.file);
        rig.Connect();
        rig.probe.StartPointCloud();
        rig.Feed(Numbered(1, 4));
        EXPECT_FALSE(rig.probe.SavingPointCloud()) << "counted out even without a file";
        rig.bridge.Shutdown();
        const fs::path written = c.file.empty() ? "ScanData.txt" : c.file;
        EXPECT_EQ(fs::exists(written), c.created);
        if (c.created) {
            EXPECT_EQ(Contents(written), "1.500000 000042 150.000000 512\n-1.500000 000042 0.000000 -3\n\n");
        }
        EXPECT_EQ(CountLines(rig.err, "Warning: Cannnot open the PointCLoud file"), c.warned ? 1u : 0u);
        fs::remove(written);
    }
    fs::current_path(before);
}

}  // namespace
}  // namespace lumabridge::test
