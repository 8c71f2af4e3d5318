// Matching of the scanner's XML answers to the requests waiting for them.
#include "src/xml_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using quillan::XmlExchange;

TEST(XmlExchange, AnswersGoToRequestsInOrder)
{
    XmlExchange x;
    x.answered("unasked", true);  // nobody waits: dropped
    uint64_t first = x.expect();
    uint64_t second = x.expect();
    x.answered("one", true);
    x.answered("two", false);
    x.answered("three", true);  // more answers than requests
    auto a = x.wait(first, 0ms);
    auto b = x.wait(second, 0ms);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->text, "one");
    EXPECT_TRUE(a->parsed);
    EXPECT_EQ(b->text, "two");
    EXPECT_FALSE(b->parsed);
    EXPECT_FALSE(x.wait(first, 0ms)) << "an answer is taken once";
}

TEST(XmlExchange, AnswerBeforeTheRequestIsNotTaken)
{
    // The stale answer of an earlier request must not satisfy a request sent after it.
    XmlExchange x;
    uint64_t refresh = x.expect();
    x.answered("descriptor", true);
    ASSERT_TRUE(x.wait(refresh, 0ms));
    uint64_t settings = x.expect();
    EXPECT_FALSE(x.wait(settings, 20ms));
}

TEST(XmlExchange, UnansweredRequestIsWrittenOff)
{
    XmlExchange x;
    uint64_t lost = x.expect();
    EXPECT_FALSE(x.wait(lost, 10ms));
    uint64_t next = x.expect();
    x.answered("for next", true);
    auto a = x.wait(next, 0ms);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->text, "for next");
}

TEST(XmlExchange, WaiterIsWokenByItsAnswerAndByALostConnection)
{
    struct Case {
        const char* name;
        bool answer;  // answer it; otherwise the connection is lost
    };
    for (const Case& c : {Case{"answer", true}, Case{"lost", false}}) {
        XmlExchange x;
        uint64_t ticket = x.expect();
        std::optional<XmlExchange::Answer> got;
        auto started = std::chrono::steady_clock::now();
        std::thread waiter([&] { got = x.wait(ticket, 60s); });
        std::this_thread::sleep_for(20ms);
        if (c.answer)
            x.answered("late", true);
        else
            x.dropPending();
        waiter.join();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << c.name;
        EXPECT_EQ(got.has_value(), c.answer) << c.name;
        if (!c.answer) {
            uint64_t after = x.expect();
            x.answered("after", true);
            auto a = x.wait(after, 0ms);
            ASSERT_TRUE(a) << c.name;
            EXPECT_EQ(a->text, "after") << c.name;
        }
    }
}
