#include "tools/scanner_sim/command_text.h"

#include <gtest/gtest.h>

namespace scanner_sim {
namespace {

using namespace std::string_literals;

TEST(CommandText, Describes)
{
    struct Case {
        Command command;
        std::string expected;
    };
    const Case cases[] = {
        {{0, true, "\x02\x00\x00\x03\x00\x00\x00\x02"s}, "binary 02 00 00 03 00 00 00 02"},
        {{0, false, "SetAcquisitionStop\r"}, "text \"SetAcquisitionStop\\r\""},
        {{0, false, "a\"b\\c\n\xff"s}, "text \"a\\\"b\\\\c\\x0a\\xff\""},
        {{0, false, "GetSettings=0"}, "text \"GetSettings=0\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describeCommand(c.command), c.expected);
}

}  // namespace
}  // namespace scanner_sim
