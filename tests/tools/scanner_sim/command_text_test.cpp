#include "scanner_sim/command_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>

#include "scanner_sim/command_log.h"

namespace scanner_sim {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(CommandText, Describes)
{
    struct Case {
        bool binary;
        std::string_view bytes;
        const char* expected;
    };
    const Case cases[] = {
        {true, "\x02\x00\x00\x03\x00\x00\x00\x02"sv, "binary 02 00 00 03 00 00 00 02"},
        {false, "SetAcquisitionStop\r", "text \"SetAcquisitionStop\\r\""},
        {false, "a\"b\\c\n\xff", "text \"a\\\"b\\\\c\\x0a\\xff\""},
        {false, "GetSettings=0", "text \"GetSettings=0\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describeCommand({0, c.binary, std::string(c.bytes)}), c.expected);
}

TEST(CommandText, UnescapesWhatDescribeWrites)
{
    struct Case {
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"SetAcquisitionStart\\r", "SetAcquisitionStart\r"},
        {"plain", "plain"},
        {"", ""},
        {"a\\\\b\\\"c\\n\\t", "a\\b\"c\n\t"},
        {"\\x02\\x00\\xFf", "\x02\x00\xff"s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unescapeCommand(c.text), c.expected) << c.text;
    for (const char* bad : {"a\\", "\\q", "\\x1", "\\xg0"})
        EXPECT_THROW(unescapeCommand(bad), std::invalid_argument) << bad;
    for (const std::string& bytes : {"SetUserString=a\"b\\c\r"s, "\x01\x7f\xfe\r"s}) {
        const std::string described = describeCommand({0, false, bytes});
        ASSERT_TRUE(described.starts_with("text \"") && described.ends_with("\""));
        EXPECT_EQ(unescapeCommand(described.substr(6, described.size() - 7)), bytes);
    }
}

TEST(CommandLog, LineFormat)
{
    struct Case {
        long ms;
        int connection;
        bool binary;
        std::string_view bytes;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, false, "SetAcquisitionStop\r", "0 0 text \"SetAcquisitionStop\\r\"\n"},
        {1503, 2, false, "SetHeartBeat=3000\r", "1503 2 text \"SetHeartBeat=3000\\r\"\n"},
        {86400000, 11, true, "\x02\x00\x00\x03\x00\x00\x00\x02"sv,
         "86400000 11 binary 02 00 00 03 00 00 00 02\n"},
        {7, 1, false, "SetUserString=a b\n\r", "7 1 text \"SetUserString=a b\\x0a\\r\"\n"},
    };
    for (const Case& c : cases) {
        const Command command{c.connection, c.binary, std::string(c.bytes)};
        EXPECT_EQ(CommandLog::FormatLine(std::chrono::milliseconds(c.ms), command), c.expected);
    }
}

}  // namespace
}  // namespace scanner_sim
