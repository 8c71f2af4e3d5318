#include "scanner_sim/inbound_tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scanner_sim {
namespace {

using namespace std::string_literals;

Token text(std::string s) { return Token{false, std::move(s)}; }
Token packet(std::string s) { return Token{true, std::move(s)}; }

const std::string kStart = "\x02\x00\x00\x03\x00\x00\x00\x02"s;
const std::string kCameraMode1 = "\x00\x00\x00\x00\x00\xA0\x00\x02"s;
const std::string kCameraMode2 = "\x00\x00\x00\x00\x00\x48\x00\x02"s;

struct Case {
    const char* name;
    std::vector<std::string> writes;  // one feed per entry
    std::vector<Token> expected;
    std::string pendingText;  // what flushText hands out afterwards ("" = nothing pending)
};

class TokenizerTable : public ::testing::TestWithParam<Case> {};

TEST_P(TokenizerTable, SplitsCommands)
{
    const Case& c = GetParam();
    InboundTokenizer tokenizer;
    std::vector<Token> out;
    for (const std::string& w : c.writes)
        tokenizer.Feed(w, out);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(tokenizer.HasPendingText(), !c.pendingText.empty());
    const auto rest = tokenizer.FlushText();
    if (c.pendingText.empty())
        EXPECT_FALSE(rest.has_value());
    else
        EXPECT_EQ(rest, text(c.pendingText));
    EXPECT_FALSE(tokenizer.HasPendingText());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenizerTable,
    ::testing::Values(
        Case{"hello_then_start",
             {"SetHostLibraryVersion=1.11.0   x64\r" + kStart},
             {text("SetHostLibraryVersion=1.11.0   x64\r"), packet(kStart)},
             ""},
        Case{"several_texts_in_one_write",
             {"SetTriggerSource=0\rSetAcquisitionStop\r"},
             {text("SetTriggerSource=0\r"), text("SetAcquisitionStop\r")},
             ""},
        Case{"text_split_across_writes", {"SetAcq", "uisitionSt", "op\r"}, {text("SetAcquisitionStop\r")}, ""},
        Case{"packet_split_across_writes",
             {kStart.substr(0, 1), kStart.substr(1, 4), kStart.substr(5)},
             {packet(kStart)},
             ""},
        Case{"camera_mode_packets_back_to_back",
             {kCameraMode1 + kCameraMode2},
             {packet(kCameraMode1), packet(kCameraMode2)},
             ""},
        // Zero and 0x02 inside a text belong to the text.
        Case{"binary_bytes_inside_text", {"Ab\x00\x02z\r"s}, {text("Ab\x00\x02z\r"s)}, ""},
        Case{"packet_then_text_then_packet",
             {kStart + "get_xmldescriptor\r" + kStart},
             {packet(kStart), text("get_xmldescriptor\r"), packet(kStart)},
             ""},
        Case{"bare_get_settings", {"GetSettings=2"}, {text("GetSettings=2")}, ""},
        Case{"bare_get_settings_then_command",
             {"GetSettings=0SetAcquisitionStop\r"},
             {text("GetSettings=0"), text("SetAcquisitionStop\r")},
             ""},
        Case{"get_settings_with_cr", {"GetSettings=3\r"}, {text("GetSettings=3\r")}, ""},
        Case{"get_settings_split", {"GetSett", "ings=", "1"}, {text("GetSettings=1")}, ""},
        Case{"get_settings_without_digit_waits", {"GetSettings=x"}, {}, "GetSettings=x"},
        Case{"longer_text_with_get_settings_prefix_is_not_cut",
             {"XGetSettings=1\r"},
             {text("XGetSettings=1\r")},
             ""},
        Case{"text_without_cr_stays_pending", {"SetUserString=abc"}, {}, "SetUserString=abc"},
        Case{"text_after_commands_stays_pending",
             {"SetA=1\rSetB"},
             {text("SetA=1\r")},
             "SetB"},
        Case{"lone_cr_is_a_command", {"\r"}, {text("\r")}, ""},
        Case{"empty_write", {""}, {}, ""}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST(Tokenizer, PartialPacketIsNotPendingText)
{
    InboundTokenizer tokenizer;
    std::vector<Token> out;
    tokenizer.Feed(kStart.substr(0, 3), out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(tokenizer.HasPendingText());
    EXPECT_FALSE(tokenizer.FlushText().has_value());
    tokenizer.Feed(kStart.substr(3), out);
    EXPECT_EQ(out, std::vector<Token>{packet(kStart)});
}

TEST(Tokenizer, AfterFlushA0x02StartsAPacket)
{
    InboundTokenizer tokenizer;
    std::vector<Token> out;
    tokenizer.Feed("abc", out);
    ASSERT_TRUE(tokenizer.FlushText().has_value());
    tokenizer.Feed(kStart, out);
    EXPECT_EQ(out, std::vector<Token>{packet(kStart)});
}

TEST(Tokenizer, ResetDropsPartialInput)
{
    InboundTokenizer tokenizer;
    std::vector<Token> out;
    tokenizer.Feed(kStart.substr(0, 5), out);
    tokenizer.Reset();
    tokenizer.Feed("SetA=1\r", out);
    EXPECT_EQ(out, std::vector<Token>{text("SetA=1\r")});
}

}  // namespace
}  // namespace scanner_sim
