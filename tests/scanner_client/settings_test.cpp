// Pure parsers of the scanner client: FIFO-size settings, local commands, debug options.
#include "src/debug_options.h"
#include "src/fifo_size_setting.h"
#include "src/local_command.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace quillan;

TEST(FifoSizeSetting, Table)
{
    struct Case {
        const char* text;
        FifoSizeSetting kind;
        int size;
    };
    const Case cases[] = {
        {"SetDllFiFoSize=50000000\r", FifoSizeSetting::Valid, 50000000},
        {"SetDllFiFoSize=4198400", FifoSizeSetting::Valid, 4198400},
        {"SetDllFiFoSize=4198399", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize=1000", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize=12x", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize=", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize 5000000", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize= +5000000", FifoSizeSetting::Valid, 5000000},
        {"xxSetDllFiFoSize=5000000", FifoSizeSetting::Valid, 5000000},
        {"SetDllFiFoSize=5000000000", FifoSizeSetting::Invalid, 0},  // above INT_MAX, not truncated
        {"SetDllFiFoSize=2147483647", FifoSizeSetting::Valid, 2147483647},
        {"SetDllFiFoSize=99999999999999999999999", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize=5000000 ", FifoSizeSetting::Invalid, 0},
        {"SetDllFiFoSize=1=5000000", FifoSizeSetting::Valid, 5000000},  // value after the last '='
        {"SetLibraryScannerFiFoSize=4198399", FifoSizeSetting::Invalid, 0},
        {"SetLibraryScannerFiFoSize=8000000\r", FifoSizeSetting::Valid, 8000000},
        {"SetExposureTime=100\r", FifoSizeSetting::NotASetting, 0},
        {"", FifoSizeSetting::NotASetting, 0},
    };
    for (const auto& c : cases) {
        auto r = parseFifoSizeSetting(c.text);
        EXPECT_EQ(r.kind, c.kind) << c.text;
        EXPECT_EQ(r.size, c.size) << c.text;
    }
}

TEST(LocalCommand, Table)
{
    struct Case {
        const char* text;
        LocalCommand command;
    };
    const Case cases[] = {
        {"SetSortingX=1\r", LocalCommand::SortingXOn},
        {"SetSortingX=1", LocalCommand::SortingXOn},
        {"setsortingx=1", LocalCommand::None},
        {"SetSortingX=1\r\n", LocalCommand::None},
        {"SetSortingX=1\r\r", LocalCommand::None},
        {"SetInitializeAcquisition", LocalCommand::InitializeAcquisition},
        {"SetAutoConnectMode=0\r", LocalCommand::AutoConnectOff},
        {"SetAutoConnectMode=1", LocalCommand::AutoConnectOn},
        {"SetEchoMode=1", LocalCommand::EchoModeOn},
        {"SetEchoMode=0\r", LocalCommand::EchoModeOff},
        {"SetLibraryScannerFiFoMode=0", LocalCommand::NewestFrameOnly},
        {"SetLibraryScannerFiFoMode=1\r", LocalCommand::EveryFrame},
        {"SetCameraMode", LocalCommand::CameraMode},
        {"SetCameraMode\r", LocalCommand::CameraMode},
        {"SetCameraMode=0\r", LocalCommand::CameraMode},
        {"SetCameraMode=1", LocalCommand::None},
        {"SetExposureTime=100\r", LocalCommand::None},
        {"", LocalCommand::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(classifyCommand(c.text), c.command) << c.text;
}

TEST(DebugOptions, Table)
{
    struct Case {
        const char* file;
        uint32_t capture;
        bool debugFile;
        bool terminal;
    };
    const Case cases[] = {
        {"", 0, false, false},
        {"ActivateDebugTerminal\nactivatedebugfile=1\n", 0, false, false},
        {"activatedebugterminal\n", 0, false, true},
        {"activatedebugfile\r\nactivatedebugterminal\r\n", 0, true, true},  // CRLF endings
        {" activatedebugfile\n", 0, false, false},
        {"SaveReceivedBinaryData=200\n", 104857600, false, false},
        {"savereceivedbinarydata=3\n", 3u << 20, false, false},
        {"savereceivedbinarydata=3MB\n", 3u << 20, false, false},
        {"savereceivedbinarydata=0\n", 0, false, false},
        {"savereceivedbinarydata=\n", 0, false, false},
        {"savereceivedbinarydata=-5\n", 0, false, false},
        {"savereceivedbinarydata=4096\n", 104857600, false, false},  // would overflow 32 bits when shifted
        {"savereceivedbinarydata=99999999999\n", 104857600, false, false},
        {"activatedebugfile", 0, true, false},  // last line without a line feed
    };
    for (const auto& c : cases) {
        std::istringstream in(c.file);
        auto o = parseDebugOptions(in);
        EXPECT_EQ(o.captureBytes, c.capture) << c.file;
        EXPECT_EQ(o.debugFile, c.debugFile) << c.file;
        EXPECT_EQ(o.debugTerminal, c.terminal) << c.file;
    }
}

TEST(DebugOptions, FileNameFromAddress)
{
    EXPECT_EQ(debugFileName("192.168.0.5"), "QuillanDllOutputFile_192_168_0_5.txt");
}
