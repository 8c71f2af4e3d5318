#include "getopt.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace lumabridge {
namespace {

struct Argv {
    explicit Argv(std::vector<std::string> args) : m_Args(std::move(args))
    {
        m_Args.insert(m_Args.begin(), "lumabridge");
        for (auto& a : m_Args)
            m_Pointers.push_back(a.data());
        m_Pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_Args.size()); }
    char** argv() { return m_Pointers.data(); }

    std::vector<std::string> m_Args;
    std::vector<char*> m_Pointers;
};

struct GetoptCase {
    const char* name;
    std::vector<std::string> args;
    const char* results;  // each return value, with "=argument" when optarg is set
    int optind;           // after the parse
    const char* err;
};

// Every call until -1, as "c" or "c=argument", separated by spaces.
std::string parseAll(Argv& a, std::ostream& err)
{
    ResetGetopt();
    std::string results;
    for (int c, calls = 0; calls < 20 && (c = getopt(a.argc(), a.argv(), "x:w:p:f:u:n:s:i:t:chrde", err)) != -1;
         ++calls) {
        if (!results.empty())
            results += ' ';
        results += static_cast<char>(c);
        if (optarg != nullptr)
            results += std::string("=") + optarg;
    }
    return results;
}

TEST(Getopt, Table)
{
    const GetoptCase cases[] = {
        {"grouped flags", {"-rd"}, "r d", 2, ""},
        {"flags and an attached argument in one group", {"-ri1.2.3.4", "-e"}, "r i=1.2.3.4 e", 3, ""},
        {"attached argument", {"-i1.2.3.4"}, "i=1.2.3.4", 2, ""},
        {"detached argument", {"-i", "1.2.3.4", "-d"}, "i=1.2.3.4 d", 4, ""},
        {"a detached argument may begin with -", {"-i", "-d"}, "i=-d", 3, ""},
        {"an empty detached argument", {"-u", "", "-r"}, "u= r", 4, ""},
        {"-- ends the options and is passed", {"-r", "--", "-d"}, "r", 3, ""},
        {"- ends the options and stays", {"-r", "-", "-d"}, "r", 2, ""},
        {"the first non-option ends the options", {"activatehardwarelinearization", "-i", "x"}, "", 1, ""},
        {"a non-option between options", {"-r", "word", "-d"}, "r", 2, ""},
        {"an empty argument ends the options", {"", "-r"}, "", 1, ""},
        {"unknown letter", {"-q", "-r"}, "? r", 3, "lumabridge: illegal option -- q"},
        {"unknown letter inside a group", {"-rqd"}, "r ? d", 2, "lumabridge: illegal option -- q"},
        {"a colon is not an option", {"-:"}, "?", 2, "lumabridge: illegal option -- :"},
        {"missing argument ends the parse", {"-r", "-x"}, "r ?", 3, "lumabridge: option requires an argument -- x"},
        {"missing argument at the end of a group", {"-ri"}, "r ?", 2, "lumabridge: option requires an argument -- i"},
        {"repeated option", {"-i", "a", "-ib"}, "i=a i=b", 4, ""},
        {"a long option is read as letters", {"--help"}, "? h e ? ?", 2,
         "lumabridge: illegal option -- -lumabridge: illegal option -- l"
         "lumabridge: option requires an argument -- p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Argv a(c.args);
        std::ostringstream err;
        EXPECT_EQ(parseAll(a, err), c.results);
        EXPECT_EQ(optind, c.optind);
        EXPECT_EQ(err.str(), c.err);
    }
}

TEST(Getopt, OptoptHoldsTheLastCharacterAsUnsigned)
{
    Argv a({"-\xe9"});
    std::ostringstream err;
    ResetGetopt();
    EXPECT_EQ(getopt(a.argc(), a.argv(), "x:", err), '?');
    EXPECT_EQ(optopt, 0xe9);
    EXPECT_EQ(err.str(), "lumabridge: illegal option -- \xe9");
}

TEST(Getopt, ArgumentsAreNotPermuted)
{
    Argv a({"-r", "word", "-d"});
    std::ostringstream err;
    parseAll(a, err);
    EXPECT_EQ(a.m_Pointers[2], a.m_Args[2].data());
    EXPECT_STREQ(a.argv()[optind], "word");
}

}  // namespace
}  // namespace lumabridge
