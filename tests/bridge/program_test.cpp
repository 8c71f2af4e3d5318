#include "program.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_scanner.h"
#include "help.h"

namespace lumabridge {
namespace {

// What a FakeBridge saw; it outlives the bridge, which the program destroys.
struct Record {
    std::vector<std::string> calls;
    int shutdowns = 0;
};

// Records the program's calls in order; Connect, BuildDescription and the exit flag are scripted.
class FakeBridge : public ProgramBridge {
public:
    explicit FakeBridge(Record& record) : m_Record(record) {}

    std::vector<std::string> interfaces{"192.168.10.2", "127.0.0.1"};
    bool allocationFails = false;
    bool connects = true;
    bool goesOnline = true;
    std::function<bool(int check)> exitRequested = [](int) { return false; };
    bool scannerLost = false;

    void ReadInterfaces() override
    {
        call("ReadInterfaces");
        m_Interfaces = interfaces;
    }
    const std::vector<std::string>& Interfaces() const override { return m_Interfaces; }
    bool AllocateFrameBuffer() override
    {
        call("AllocateFrameBuffer");
        return allocationFails;
    }
    void SetDebugFileName(const std::string& name) override { call("SetDebugFileName " + name); }
    void SetPointCloudOptions(uint32_t count, const std::string& name) override
    {
        call("SetPointCloudOptions " + std::to_string(count) + " " + name);
    }
    void SetProfileTimeout(uint32_t ms) override { call("SetProfileTimeout " + std::to_string(ms)); }
    void EnableConsoleDebug() override { call("EnableConsoleDebug"); }
    void EnableAutoReconnect() override { call("EnableAutoReconnect"); }
    void DisableFirmwareCheck() override { call("DisableFirmwareCheck"); }
    void EnableOrbalisMode() override { call("EnableOrbalisMode"); }
    void EnableHardwareLinearization() override { call("EnableHardwareLinearization"); }
    bool IsExitRequested() const override { return exitRequested(m_ExitChecks++); }
    bool IsScannerLost() const override { return scannerLost; }
    bool Connect(const std::string& scannerIp, const std::string& userName, uint16_t port) override
    {
        call("Connect " + scannerIp + " " + userName + " " + std::to_string(port));
        return connects;
    }
    bool BuildDescription(const std::string& serverIp, int interfaceIndex, const std::string& userName) override
    {
        call("BuildDescription " + serverIp + " " + std::to_string(interfaceIndex) + " " + userName);
        return goesOnline;
    }
    void Shutdown() override { ++m_Record.shutdowns; }

private:
    void call(const std::string& text) { m_Record.calls.push_back(text); }

    Record& m_Record;
    std::vector<std::string> m_Interfaces;
    mutable int m_ExitChecks = 0;
};

// The program run over a FakeBridge, with standard input as a script.
struct ProgramRun {
    std::function<std::unique_ptr<FakeBridge>(Record&)> makeBridge = [](Record& r) {
        return std::make_unique<FakeBridge>(r);
    };
    std::function<void(FakeBridge&)> setUp = [](FakeBridge&) {};
    std::string input;      // what standard input holds
    bool inputEnds = true;  // end of file after the input (a closed pipe)
    std::function<bool()> stopRequested = [] { return false; };

    std::ostringstream out, err;
    test::ManualClock clock;
    Record record;
    int charsRead = 0;

    bool LastCallWas(const char* prefix) const
    {
        return !record.calls.empty() && record.calls.back().rfind(prefix, 0) == 0;
    }

    int Execute(std::vector<std::string> args)
    {
        args.insert(args.begin(), "lumabridge");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        size_t position = 0;
        Console console{out,
                        err,
                        [&] { return position < input.size() || inputEnds; },
                        [&] {
                            ++charsRead;
                            return position < input.size() ? static_cast<unsigned char>(input[position++]) : -1;
                        },
                        [&] { return stopRequested(); },
                        clock};
        return RunProgram(static_cast<int>(argv.size()) - 1, argv.data(), console,
                          [&]() -> std::unique_ptr<ProgramBridge> {
                              auto bridge = makeBridge(record);
                              if (bridge)
                                  setUp(*bridge);
                              return bridge;
                          });
    }
};

const char* const kBanner = "Version: 2.0.0\n\n\n";

std::string helpAndInterfaces()
{
    std::ostringstream text;
    PrintHelp(text);
    PrintInterfaces({"192.168.10.2", "127.0.0.1"}, text);
    return text.str();
}

TEST(Help, MatchesTheGoldenText)
{
    std::ifstream file(LB_HELP_GOLDEN, std::ios::binary);
    ASSERT_TRUE(file.good());
    const std::string golden((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::ostringstream help;
    PrintHelp(help);
    EXPECT_EQ(help.str(), golden);
}

TEST(Help, InterfacesAreListedWithTheirIndex)
{
    std::ostringstream text;
    PrintInterfaces({"10.0.0.1", "127.0.0.1"}, text);
    EXPECT_EQ(text.str(), "Interface 0  IP: 10.0.0.1\nInterface 1  IP: 127.0.0.1\n");
}

struct MessageCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // after the banner
    std::string err;
    uint32_t waitedMs;
};

// Command lines that end before the scanner is reached.
TEST(Program, MessagesAndExitCodes)
{
    const std::string help = helpAndInterfaces();
    const std::string badIp = "Error: scanner IP address is not valid\nCheck Help for more Info\n";
    const MessageCase cases[] = {
        {"no argument", {}, 1, "", help + "press ENTER to exit.\n", 0},
        {"-h", {"-h"}, 0, "", help, 0},
        {"-h ends the parse where it is met", {"-r", "-h", "-q", "-x", "0"}, 0, "", help, 0},
        {"an error before -h", {"-q", "-h"}, 1, "", "lumabridge: illegal option -- qUnknown option `-q'.\n", 3000},
        {"unknown letter", {"-i", "10.0.0.9", "-q"}, 1, "", "lumabridge: illegal option -- qUnknown option `-q'.\n",
         3000},
        {"missing argument of -i", {"-i"}, 1, "",
         "lumabridge: option requires an argument -- iOption -i requires an argument.\n", 3000},
        {"missing argument of -s", {"-i", "10.0.0.9", "-s"}, 1, "",
         "lumabridge: option requires an argument -- sOption -s requires an argument.\n", 3000},
        {"missing argument of -x", {"-i", "10.0.0.9", "-x"}, 1, "",
         "lumabridge: option requires an argument -- xUnknown option `-x'.\n", 3000},
        {"unprintable option character", {"-\x01"}, 1, "",
         "lumabridge: illegal option -- \x01Unknown option character `\\x1'.\n", 3000},
        {"option character above 127", {"-\xe9"}, 1, "",
         "lumabridge: illegal option -- \xe9Unknown option character `\\xe9'.\n", 3000},
        {"no -i", {"-x", "32001", "-s", "127.0.0.2"}, 1, "", badIp, 3000},
        {"an empty -i", {"-i", ""}, 1, "", badIp, 3000},
        {"-i after a non-option is not parsed", {"activatehardwarelinearization", "-i", "10.0.0.9"}, 1,
         "activate hardware linearization\n", badIp, 3000},
        {"port above 65535", {"-x", "70000", "-i", "10.0.0.9"}, 1, "",
         "Error: invalid scanner port \"70000\" (expected 1 to 65535)\n", 3000},
        {"port 0", {"-x", "0", "-i", "10.0.0.9"}, 1, "", "Error: invalid scanner port \"0\" (expected 1 to 65535)\n",
         3000},
        {"port not a number", {"-x", "32001a"}, 1, "",
         "Error: invalid scanner port \"32001a\" (expected 1 to 65535)\n", 3000},
        {"negative port", {"-x-1"}, 1, "", "Error: invalid scanner port \"-1\" (expected 1 to 65535)\n", 3000},
        {"interface index past the list", {"-n", "2", "-i", "10.0.0.9"}, 1, "",
         "Error: invalid interface index \"2\" (expected -1 for none, or 0 to 1 from the list of interfaces)\n", 3000},
        {"interface index below -1", {"-n", "-2"}, 1, "",
         "Error: invalid interface index \"-2\" (expected -1 for none, or 0 to 1 from the list of interfaces)\n", 3000},
        {"interface index not a number", {"-n", "eth0"}, 1, "",
         "Error: invalid interface index \"eth0\" (expected -1 for none, or 0 to 1 from the list of interfaces)\n",
         3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        EXPECT_EQ(run.Execute(c.args), c.exitCode);
        EXPECT_EQ(run.out.str(), kBanner + c.out);
        EXPECT_EQ(run.err.str(), c.err);
        EXPECT_EQ(run.clock.NowMs(), c.waitedMs);
        EXPECT_EQ(run.record.shutdowns, 1);
        for (const auto& call : run.record.calls)
            EXPECT_NE(call.rfind("Connect", 0), 0u) << call;
    }
}

TEST(Program, HelpWaitsForOneCharacterOrTheInterrupt)
{
    struct Case {
        std::vector<std::string> args;
        std::string input;
        bool inputEnds;
        int exitCode;
        int charsRead;
        uint32_t waitedMs;
    } cases[] = {
        {{"-h"}, "x\n", false, 0, 1, 0},
        {{}, "\n", false, 1, 1, 0},
        {{}, "", true, 1, 1, 0},    // end of file ends the wait
        {{"-h"}, "", false, 0, 0, 300},  // nothing typed: until the interrupt
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no argument" : c.args[0]);
        ProgramRun run;
        run.input = c.input;
        run.inputEnds = c.inputEnds;
        run.stopRequested = [&] { return run.clock.NowMs() >= 300; };
        EXPECT_EQ(run.Execute(c.args), c.exitCode);
        EXPECT_EQ(run.charsRead, c.charsRead);
        EXPECT_EQ(run.clock.NowMs(), c.waitedMs);
        EXPECT_EQ(run.record.shutdowns, 1);
    }
}

TEST(Program, InterfaceIndexWithEmptyList)
{
    ProgramRun run;
    run.setUp = [](FakeBridge& b) { b.interfaces.clear(); };
    EXPECT_EQ(run.Execute({"-n", "0", "-i", "10.0.0.9"}), 1);
    EXPECT_EQ(run.err.str(), "Error: invalid interface index \"0\" (expected -1 for none)\n");
}

TEST(Program, StartupFailures)
{
    struct Case {
        const char* name;
        std::function<void(ProgramRun&)> setUp;
        std::string err;
        uint32_t waitedMs;
        size_t calls;  // how far the program got
    } cases[] = {
        {"no camera", [](ProgramRun& r) { r.makeBridge = [](Record&) { return nullptr; }; }, "Error: failed to create the camera\n", 3000, 0},
        {"allocation", [](ProgramRun& r) { r.setUp = [](FakeBridge& b) { b.allocationFails = true; }; },
         "Error: failed to allocate memory\n", 3000, 2},
        {"connect", [](ProgramRun& r) { r.setUp = [](FakeBridge& b) { b.connects = false; }; },
         "Error: failed to connect to scanner\n", 3000, 4},
        {"online", [](ProgramRun& r) { r.setUp = [](FakeBridge& b) { b.goesOnline = false; }; },
         "Error: failed to bring the server online\n", 6000, 5},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        c.setUp(run);
        EXPECT_EQ(run.Execute({"-i", "10.0.0.9"}), 1);
        EXPECT_EQ(run.out.str(), kBanner);
        EXPECT_EQ(run.err.str(), c.err);
        EXPECT_EQ(run.clock.NowMs(), c.waitedMs);
        EXPECT_EQ(run.record.calls.size(), c.calls);
        EXPECT_EQ(run.record.shutdowns, c.calls == 0 ? 0 : 1);
    }
}

TEST(Program, OptionsReachTheBridge)
{
    ProgramRun run;
    run.input = "\n";
    EXPECT_EQ(run.Execute({"-rdec", "-t", "0", "-p", "3", "-w", "cloud.txt", "-f", "log.txt", "-u", "NAME", "-s",
                           "127.0.0.5", "-n1", "-x", "4000", "-i", "10.1.1.1", "activatehardwarelinearization"}),
              0);
    const std::vector<std::string> expected = {
        "ReadInterfaces",
        "AllocateFrameBuffer",
        "EnableAutoReconnect",
        "EnableConsoleDebug",
        "DisableFirmwareCheck",
        "EnableOrbalisMode",
        "SetProfileTimeout 0",
        "SetDebugFileName log.txt",
        "EnableHardwareLinearization",
        "SetPointCloudOptions 3 cloud.txt",
        "Connect 10.1.1.1 NAME 4000",
        "BuildDescription 127.0.0.5 1 NAME",
    };
    EXPECT_EQ(run.record.calls, expected);
    EXPECT_EQ(run.out.str(), std::string(kBanner) + "activate hardware linearization\n--- exit ---\n");
    EXPECT_EQ(run.err.str(), "");
}

TEST(Program, DefaultsAndRepeatedOptions)
{
    ProgramRun run;
    run.input = "\n";
    EXPECT_EQ(run.Execute({"-i", "10.0.0.1", "-c", "-u", "first", "-i", "10.0.0.2", "-c", "-u", "second", "-n", "-1",
                           "-p", "many"}),
              0);
    const std::vector<std::string> expected = {
        "ReadInterfaces",
        "AllocateFrameBuffer",
        "EnableOrbalisMode",  // once, however often -c is given
        "SetPointCloudOptions 0 ",
        "Connect 10.0.0.2 second 32001",
        "BuildDescription  -1 second",
    };
    EXPECT_EQ(run.record.calls, expected);
}

TEST(Program, BareWordMatchesExactlyAnywhereAfterTheOptions)
{
    struct Case {
        std::vector<std::string> args;
        bool matches;
    } cases[] = {
        {{"-i", "a", "activatehardwarelinearization"}, true},
        {{"-i", "a", "other", "activatehardwarelinearization"}, true},
        {{"-i", "a", "--", "activatehardwarelinearization"}, true},
        {{"-i", "a", "ActivateHardwareLinearization"}, false},
        {{"-i", "a", "activatehardwarelinearization2"}, false},
        {{"-i", "a", "activatehardwarelinearizatio"}, false},
        {{"-iactivatehardwarelinearization"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        ProgramRun run;
        run.input = "\n";
        run.Execute(c.args);
        const bool enabled =
            std::find(run.record.calls.begin(), run.record.calls.end(), "EnableHardwareLinearization") != run.record.calls.end();
        EXPECT_EQ(enabled, c.matches);
        EXPECT_EQ(run.out.str().find("activate hardware linearization\n") != std::string::npos, c.matches);
    }
}

struct LoopCase {
    const char* name;
    std::string input;
    bool inputEnds;
    uint32_t stopAtMs;     // the interrupt arrives once the clock reaches this
    int exitAtCheck;       // IsExitRequested turns true at this check; -1 never
    bool scannerLost;
    int exitCode;
    std::string out;       // after the banner
    std::string err;
    uint32_t minWaitedMs;  // at least this long in the loop
};

TEST(Program, KeyLoop)
{
    const uint32_t never = UINT32_MAX;
    const LoopCase cases[] = {
        {"Enter", "\n", false, never, -1, false, 0, "--- exit ---\n", "", 0},
        {"characters before Enter", "abc\n", false, never, -1, false, 0, "--- exit ---\n", "", 30},
        {"interrupt", "", false, 200, -1, false, 0, "--- stopping ---\n--- exit ---\n", "", 200},
        {"end of file is not a character", "", true, 500, -1, false, 0, "--- stopping ---\n--- exit ---\n", "", 500},
        {"characters then end of file", "ab", true, 500, -1, false, 0, "--- stopping ---\n--- exit ---\n", "", 500},
        {"the bridge asks to exit", "", false, never, 5, false, 0, "--- exit ---\n", "", 40},
        {"scanner lost without -r", "", false, never, 5, true, 1, "--- exit ---\n",
         "Error: connection to scanner is lost\n", 40},
        {"scanner lost before the loop", "\n", false, never, 0, true, 1, "--- exit ---\n",
         "Error: connection to scanner is lost\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        run.input = c.input;
        run.inputEnds = c.inputEnds;
        run.stopRequested = [&] { return run.clock.NowMs() >= c.stopAtMs; };
        run.setUp = [&](FakeBridge& b) {
            b.exitRequested = [&](int call) { return c.exitAtCheck >= 0 && call >= c.exitAtCheck; };
            b.scannerLost = c.scannerLost;
        };
        EXPECT_EQ(run.Execute({"-i", "10.0.0.9"}), c.exitCode);
        EXPECT_EQ(run.out.str(), kBanner + c.out);
        EXPECT_EQ(run.err.str(), c.err);
        EXPECT_GE(run.clock.NowMs(), c.minWaitedMs);
        EXPECT_EQ(run.record.shutdowns, 1);
    }
}

TEST(Program, InterruptWhileConnectingOrGoingOnlineStopsWithoutTheErrorWait)
{
    for (const char* stage : {"Connect", "BuildDescription"}) {
        SCOPED_TRACE(stage);
        ProgramRun run;
        // The interrupt arrives while the Bridge works on the stage, which then fails.
        run.stopRequested = [&] { return run.LastCallWas(stage); };
        run.setUp = [&](FakeBridge& b) {
            b.connects = std::string(stage) != "Connect";
            b.goesOnline = false;
        };
        EXPECT_EQ(run.Execute({"-i", "10.0.0.9"}), 0);
        EXPECT_EQ(run.out.str(), std::string(kBanner) + "--- stopping ---\n--- exit ---\n");
        EXPECT_EQ(run.err.str(), "");
        EXPECT_EQ(run.clock.NowMs(), 0u);
        EXPECT_EQ(run.record.shutdowns, 1);
        EXPECT_TRUE(run.LastCallWas(stage));
    }
}

TEST(Program, InterruptAfterConnectingDoesNotGoOnline)
{
    ProgramRun run;
    run.stopRequested = [&] { return run.LastCallWas("Connect"); };
    EXPECT_EQ(run.Execute({"-i", "10.0.0.9"}), 0);
    EXPECT_EQ(run.out.str(), std::string(kBanner) + "--- stopping ---\n--- exit ---\n");
    EXPECT_TRUE(run.LastCallWas("Connect"));
}

TEST(Program, ExceptionFromTheBridgeEndsWithShutdown)
{
    struct ThrowingBridge : FakeBridge {
        using FakeBridge::FakeBridge;
        bool Connect(const std::string&, const std::string&, uint16_t) override
        {
            throw std::runtime_error("connection table full");
        }
    };
    ProgramRun run;
    run.makeBridge = [](Record& r) { return std::make_unique<ThrowingBridge>(r); };
    EXPECT_EQ(run.Execute({"-i", "10.0.0.9"}), 1);
    EXPECT_EQ(run.err.str(), "Error: connection table full\n");
    EXPECT_EQ(run.record.shutdowns, 1);
    EXPECT_EQ(run.clock.NowMs(), 3000u);
}

}  // namespace
}  // namespace lumabridge
