#include "platform/clock.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

TEST(Process, HostDirectoryHoldsThisProgram)
{
    std::string dir = platform::hostProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(dir + "platform_test"));
}

TEST(Process, TestOverrideAddsSlashAndRestores)
{
    std::string real = platform::hostProgramDirectory();
    platform::setHostProgramDirectoryForTest("/tmp/x");
    EXPECT_EQ(platform::hostProgramDirectory(), "/tmp/x/");
    platform::setHostProgramDirectoryForTest("");
    EXPECT_EQ(platform::hostProgramDirectory(), real);
}

TEST(Clock, TickCountAdvancesInMilliseconds)
{
    uint32_t a = platform::tickCountMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uint32_t elapsed = platform::tickCountMs() - a;
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(Clock, LocalTimeFieldsInRange)
{
    auto t = platform::localTimeNow();
    EXPECT_GE(t.year, 2020u);
    EXPECT_GE(t.month, 1u);
    EXPECT_LE(t.month, 12u);
    EXPECT_LE(t.hour, 23u);
    EXPECT_LT(t.millisecond, 1000u);
}
