// Debug options file, debug log file and raw-data capture of a connection.
#if defined(__SANITIZE_ADDRESS__) && !defined(__clang__)
// g++ 12 with AddressSanitizer misreads the std::function moves inside libstdc++'s regex automaton.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "quillan.h"
#include "scanner_sim/scanner_sim.h"

#include "platform/process.h"

#include "eventually.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}


// Each test gets its own host directory; the override is process-wide, so tests here run one by one.
class DebugFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("quillan_debug_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        platform::setHostProgramDirectoryForTest(dir.string());
        sim.Start();
        sim.SetSilent(true);
        port = std::to_string(sim.Port());
    }
    void TearDown() override
    {
        platform::setHostProgramDirectoryForTest("");
        fs::remove_all(dir);
    }

    void writeOptions(const std::string& text) { std::ofstream(dir / "QuillanDllDebug.txt") << text; }

    QuillanHandle connect() { return dll.Connect(const_cast<char*>("127.0.0.1"), port.data(), 0); }

    std::vector<fs::path> files() const
    {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != "QuillanDllDebug.txt")
                out.push_back(e.path());
        return out;
    }

    fs::path dir;
    scanner_sim::ScannerSim sim;
    std::string port;
    QuillanDLL dll;
};

TEST_F(DebugFiles, NoOptionsFileWritesNothing)
{
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(sim.WaitForCommand(std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8), 3000ms));
    EXPECT_EQ(dll.Disconnect(h), nullptr);
    EXPECT_TRUE(files().empty());
}

TEST_F(DebugFiles, DebugFileGetsPrefixedLinesAndIsAppended)
{
    writeOptions("activatedebugfile\r\n");
    for (int run = 0; run < 2; ++run) {
        QuillanHandle h = connect();
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(sim.WaitForAccepts(run + 1, 3000ms));
        ASSERT_TRUE(sim.WaitForCommand(std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8), 3000ms, run + 1));
        EXPECT_EQ(dll.Disconnect(h), nullptr);
    }
    std::string log = readFile(dir / "QuillanDllOutputFile_127_0_0_1.txt");
    std::regex line(R"(\[\d+\] \d{4} \d{2} \d{2} \d{2} \d{2} \d{2} \d{3} connected\n)");
    auto count = std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator());
    EXPECT_EQ(count, 2) << log;
    for (const char* text : {"memory allocated [41984000 bytes]", "TCP thread has started", "receiving",
                             "set initializ acquisition", "Cleaning", "Exit TCP client thread."})
        EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(DebugFiles, AbsentScannerIsTriedOncePerSecond)
{
    writeOptions("activatedebugfile\n");
    sim.SetRefusing(true);
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(dll.Disconnect(h), nullptr);
    std::string log = readFile(dir / "QuillanDllOutputFile_127_0_0_1.txt");
    size_t tries = 0;
    for (size_t at = log.find("Trying to connect. Error: "); at != std::string::npos;
         at = log.find("Trying to connect. Error: ", at + 1))
        ++tries;
    EXPECT_GE(tries, 2u) << log;
    EXPECT_LE(tries, 4u) << log;
    EXPECT_EQ(log.find(" connected\n"), std::string::npos);
}

TEST_F(DebugFiles, FullCaptureHoldsTheFirstBytesReceived)
{
    writeOptions("SaveReceivedBinaryData=1\n");
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(sim.WaitForCommand(std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8), 3000ms));
    std::string payload;
    for (int i = 0; i < (1 << 20) + 5000; ++i)
        payload.push_back(static_cast<char>((i * 13) ^ (i >> 8)));
    ASSERT_TRUE(sim.SendRaw(payload));

    auto dump = [&]() -> fs::path {
        for (const auto& f : files())
            if (f.filename().string().ends_with("_RxRawData.bin"))
                return f;
        return {};
    };
    ASSERT_TRUE(eventually([&] { return !dump().empty() && fs::file_size(dump()) == (1u << 20); }, 3000ms));
    EXPECT_EQ(readFile(dump()), payload.substr(0, 1u << 20));
    EXPECT_EQ(dll.Disconnect(h), nullptr);
    EXPECT_EQ(fs::file_size(dump()), 1u << 20);  // a finished capture is not rewritten at the end
}

TEST_F(DebugFiles, PartialCaptureIsWrittenOnLoss)
{
    writeOptions("savereceivedbinarydata=1\n");
    QuillanHandle h = connect();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(sim.WaitForCommand(std::string("\x02\x00\x00\x03\x00\x00\x00\x02", 8), 3000ms));
    ASSERT_TRUE(sim.SendRaw("partial capture"));
    std::this_thread::sleep_for(100ms);
    sim.CloseClient();
    auto found = [&] {
        for (const auto& f : files())
            if (f.filename().string().ends_with("_RxRawData.bin"))
                return readFile(f) == "partial capture";
        return false;
    };
    EXPECT_TRUE(eventually(found, 3000ms));
    EXPECT_EQ(dll.Disconnect(h), nullptr);
}

}  // namespace
