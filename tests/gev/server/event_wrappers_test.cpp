#include "server/event_wrappers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace std::chrono_literals;

namespace {

struct EventDeleter {
    void operator()(platform::Event* e) const { Kivu::DestroyEvent(e); }
};
using EventPtr = std::unique_ptr<platform::Event, EventDeleter>;

}  // namespace

TEST(EventWrappers, ResetModesAndZeroTimeout)
{
    EventPtr autoReset(Kivu::CreateEvent(false, false));
    EXPECT_EQ(Kivu::WaitForEvent(autoReset.get(), 0), Kivu::kEventWaitTimeout);
    EXPECT_EQ(Kivu::SetEvent(autoReset.get()), 0);
    EXPECT_EQ(Kivu::WaitForEvent(autoReset.get(), 0), 0);
    EXPECT_EQ(Kivu::WaitForEvent(autoReset.get(), 0), Kivu::kEventWaitTimeout) << "auto reset clears";

    EventPtr manual(Kivu::CreateEvent(true, true));
    EXPECT_EQ(Kivu::WaitForEvent(manual.get(), 0), 0);
    EXPECT_EQ(Kivu::WaitForEvent(manual.get(), 20), 0) << "manual reset stays set";
    EXPECT_EQ(Kivu::ResetEvent(manual.get()), 0);
    EXPECT_EQ(Kivu::WaitForEvent(manual.get(), 20), Kivu::kEventWaitTimeout);
}

TEST(EventWrappers, NullHandlesReportAnError)
{
    EXPECT_NE(Kivu::SetEvent(nullptr), 0);
    EXPECT_NE(Kivu::ResetEvent(nullptr), 0);
    EXPECT_NE(Kivu::DestroyEvent(nullptr), 0);
    EXPECT_NE(Kivu::WaitForEvent(nullptr, 0), 0);
    EXPECT_NE(Kivu::WaitForEvent(nullptr, 0), Kivu::kEventWaitTimeout);
}

TEST(EventWrappers, InfiniteTimeoutsWaitUntilSignalled)
{
    for (uint64_t timeout : {uint64_t{0xFFFFFFFF}, Kivu::kEventWaitInfinite, uint64_t{0x1FFFFFFFF}}) {
        SCOPED_TRACE(timeout);
        EventPtr e(Kivu::CreateEvent(false, false));
        auto waited = std::async(std::launch::async, [&] { return Kivu::WaitForEvent(e.get(), timeout); });
        EXPECT_EQ(waited.wait_for(100ms), std::future_status::timeout);
        Kivu::SetEvent(e.get());
        ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(waited.get(), 0);
    }
}
