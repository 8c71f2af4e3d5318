// Every builder against the scripted scanner: the exact bytes of its one write, and its result.
#include "command_builders.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fake_scanner.h"

namespace lumabridge {
namespace {

using test::FakeScanner;
using Builder = std::function<int(ScannerApi&, ScannerHandle)>;

struct BuilderCase {
    const char* name;
    Builder send;
    std::string bytes;
};

const int kMinusOne = -1;  // read as unsigned

const BuilderCase kCases[] = {
    {"ExposureTime 0", [](auto& s, auto h) { return SendSetExposureTime(s, h, 0); }, "SetExposureTime=0\r"},
    {"AcquisitionLineTime", [](auto& s, auto h) { return SendSetAcquisitionLineTime(s, h, 1000); },
     "SetAcquisitionLineTime=1000\r"},
    {"ROI1OffsetX", [](auto& s, auto h) { return SendSetROI1OffsetX(s, h, 12); }, "SetROI1OffsetX=12\r"},
    {"ROI1WidthX", [](auto& s, auto h) { return SendSetROI1WidthX(s, h, 1024); }, "SetROI1WidthX=1024\r"},
    {"ROI1OffsetZ", [](auto& s, auto h) { return SendSetROI1OffsetZ(s, h, 7); }, "SetROI1OffsetZ=7\r"},
    {"ROI1HeightZ", [](auto& s, auto h) { return SendSetROI1HeightZ(s, h, 500); }, "SetROI1HeightZ=500\r"},
    {"AmountProfilesY", [](auto& s, auto h) { return SendSetAmountProfilesY(s, h, 200); }, "SetAmountProfilesY=200\r"},
    {"TriggerAmountProfilesY max",
     [](auto& s, auto h) { return SendSetTriggerAmountProfilesY(s, h, 4294967295u); },
     "SetTriggerAmountProfilesY=4294967295\r"},
    {"TriggerSource0", [](auto& s, auto h) { return SendSetTriggerSource0(s, h); },
     "SetTriggerSource=0\rSetAcquisitionStop\r"},
    {"TriggerSource1", [](auto& s, auto h) { return SendSetTriggerSource1(s, h); },
     "SetTriggerSource=1\rSetAcquisitionStop\r"},
    {"TriggerSource2", [](auto& s, auto h) { return SendSetTriggerSource2(s, h); },
     "SetTriggerSource=2\rSetAcquisitionStop\r"},
    {"TriggerSource3", [](auto& s, auto h) { return SendSetTriggerSource3(s, h); },
     "SetTriggerSource=3\rSetAcquisitionStop\r"},
    {"TriggerSoftware", [](auto& s, auto h) { return SendSetTriggerSoftware(s, h); }, "SetTriggerSoftware\r"},
    {"TriggerEncoderStep", [](auto& s, auto h) { return SendSetTriggerEncoderStep(s, h, 4); },
     "SetTriggerEncoderStep=4\r"},
    {"TriggerDelay negative", [](auto& s, auto h) { return SendSetTriggerDelay(s, h, kMinusOne); },
     "SetTriggerDelay=4294967295\r"},
    {"SignalEnable", [](auto& s, auto h) { return SendSetSignalEnable(s, h, 3); },
     "SetSignalEnable=3\rSetAcquisitionStop\r"},
    {"SignalSelection0", [](auto& s, auto h) { return SendSetSignalSelection0(s, h); }, "SetSignalSelection=0\r"},
    {"SignalSelection1", [](auto& s, auto h) { return SendSetSignalSelection1(s, h); }, "SetSignalSelection=1\r"},
    {"SignalSelection2", [](auto& s, auto h) { return SendSetSignalSelection2(s, h); }, "SetSignalSelection=2\r"},
    {"SignalSelection3", [](auto& s, auto h) { return SendSetSignalSelection3(s, h); }, "SetSignalSelection=3\r"},
    {"SignalWidthMin", [](auto& s, auto h) { return SendSetSignalWidthMin(s, h, 2); }, "SetSignalWidthMin=2\r"},
    {"SignalWidthMax", [](auto& s, auto h) { return SendSetSignalWidthMax(s, h, 63); }, "SetSignalWidthMax=63\r"},
    {"SignalStrengthMin", [](auto& s, auto h) { return SendSetSignalStrengthMin(s, h, 10); },
     "SetSignalStrengthMin=10\r"},
    {"SignalContentWidth0", [](auto& s, auto h) { return SendSetSignalContentWidth0(s, h); },
     "SetSignalContentWidth=0\r"},
    {"SignalContentStrength1", [](auto& s, auto h) { return SendSetSignalContentStrength1(s, h); },
     "SetSignalContentStrength=1\r"},
    {"SignalContentStrength0", [](auto& s, auto h) { return SendSetSignalContentStrength0(s, h); },
     "SetSignalContentStrength=0\r"},
    {"SignalContentReserved1", [](auto& s, auto h) { return SendSetSignalContentReserved1(s, h); },
     "SetSignalContentReserved=1\r"},
    {"SignalContentReserved0", [](auto& s, auto h) { return SendSetSignalContentReserved0(s, h); },
     "SetSignalContentReserved=0\r"},
    {"LinearizationMode1", [](auto& s, auto h) { return SendSetLinearizationMode1(s, h); },
     "SetLinearizationMode=1\r"},
    {"LinearizationMode0", [](auto& s, auto h) { return SendSetLinearizationMode0(s, h); },
     "SetLinearizationMode=0\r"},
    {"SyncOut", [](auto& s, auto h) { return SendSetSyncOut(s, h, 20); }, "SetSyncOut=20\r"},
    {"SyncOutDelay", [](auto& s, auto h) { return SendSetSyncOutDelay(s, h, 5); }, "SetSyncOutDelay=5\r"},
    {"LaserDeactivated1", [](auto& s, auto h) { return SendSetLaserDeactivated1(s, h); }, "SetLaserDeactivated=1\r"},
    {"LaserDeactivated0", [](auto& s, auto h) { return SendSetLaserDeactivated0(s, h); }, "SetLaserDeactivated=0\r"},
    {"EncoderTriggerFunction0", [](auto& s, auto h) { return SendSetEncoderTriggerFunction0(s, h); },
     "SetEncoderTriggerFunction=0\r"},
    {"EncoderTriggerFunction1", [](auto& s, auto h) { return SendSetEncoderTriggerFunction1(s, h); },
     "SetEncoderTriggerFunction=1\r"},
    {"EncoderTriggerFunction2", [](auto& s, auto h) { return SendSetEncoderTriggerFunction2(s, h); },
     "SetEncoderTriggerFunction=2\r"},
    {"EncoderTriggerFunction3", [](auto& s, auto h) { return SendSetEncoderTriggerFunction3(s, h); },
     "SetEncoderTriggerFunction=3\r"},
    {"EncoderTriggerFunction4", [](auto& s, auto h) { return SendSetEncoderTriggerFunction4(s, h); },
     "SetEncoderTriggerFunction=4\r"},
    {"ResetEncoder", [](auto& s, auto h) { return SendSetResetEncoder(s, h); }, "SetResetEncoder\r"},
    {"AcquisitionStart", [](auto& s, auto h) { return SendSetAcquisitionStart(s, h); }, "SetAcquisitionStart\r"},
    {"AcquisitionStop", [](auto& s, auto h) { return SendSetAcquisitionStop(s, h); }, "SetAcquisitionStop\r"},
    {"ResetSettings", [](auto& s, auto h) { return SendSetResetSettings(s, h); }, "SetResetSettings\r"},
    {"HeartBeat", [](auto& s, auto h) { return SendSetHeartBeat(s, h, 3000); }, "SetHeartBeat=3000\r"},
    {"UserString", [](auto& s, auto h) { return SendSetUserString(s, h, "line 7"); }, "SetUserString=line 7\r"},
    {"UserString empty", [](auto& s, auto h) { return SendSetUserString(s, h, ""); }, "SetUserString=\r"},
    {"InitializeAcquisition", [](auto& s, auto h) { return SendSetInitializeAcquisition(s, h); },
     "SetInitializeAcquisition"},
    {"EAOutput", [](auto& s, auto h) { return SendSetEAOutput(s, h, 1, 1); }, "SetEA1Output=1\r"},
    {"EAOutputFunction", [](auto& s, auto h) { return SendSetEAOutputFunction(s, h, 4, 0); },
     "SetEA4OutputFunction=0\r"},
    {"EAInputFunction", [](auto& s, auto h) { return SendSetEAInputFunction(s, h, 2, 1); },
     "SetEA2InputFunction=1\r"},
    {"EAInputLoad", [](auto& s, auto h) { return SendSetEAInputLoad(s, h, 3, 0); }, "SetEA3InputLoad=0\r"},
    {"EAInputLoadAll", [](auto& s, auto h) { return SendSetEAInputLoadAll(s, h); },
     "SetEA1InputLoad=1\rSetEA2InputLoad=1\rSetEA3InputLoad=1\rSetEA4InputLoad=1\r"},
    {"EAFunction", [](auto& s, auto h) { return SendSetEAFunction(s, h, 3, 1); },
     "SetEA3Function=1\rSetEA3FunctionFixedFrameNumberFinishSignal=0\r"},
    {"EAFrameFinishSignal", [](auto& s, auto h) { return SendSetEAFrameFinishSignal(s, h, 2); },
     "SetEA2Function=2\rSetEA2FunctionFixedFrameNumberFinishSignal=1\r"},
    {"EAFunctionProfileEnable", [](auto& s, auto h) { return SendSetEAFunctionProfileEnable(s, h, 4); },
     "SetEA4FunctionProfileEnable=1\r"},
    {"ClearEAFunctions", [](auto& s, auto h) { return SendClearEAFunctions(s, h, 2); },
     "SetEA2FunctionLaserOff=0\rSetEA2FunctionProfileEnable=0\rSetEA2FunctionResetCounter=0\r"},
    {"EAResetCounterSignaledge", [](auto& s, auto h) { return SendSetEAResetCounterSignaledge(s, h, 1, 2); },
     "SetEA1ResetCounterSignaledge=2\r"},
    {"EAResetCounterEncoder", [](auto& s, auto h) { return SendSetEAResetCounterEncoder(s, h, 3); },
     "SetEA3Function=3\rSetEA3FunctionResetCounter=1\rSetEA3ResetCounterRepeat=1\rSetEA3ResetCounterEncoderHTL=1\r"
     "SetEA3ResetCounterEncoderTTLRS422=1\r"},
    {"ClearEAResetCounters", [](auto& s, auto h) { return SendClearEAResetCounters(s, h); },
     "SetEA1FunctionResetCounter=0\rSetEA1ResetCounterRepeat=0\rSetEA1ResetCounterEncoderHTL=0\r"
     "SetEA1ResetCounterEncoderTTLRS422=0\r"
     "SetEA2FunctionResetCounter=0\rSetEA2ResetCounterRepeat=0\rSetEA2ResetCounterEncoderHTL=0\r"
     "SetEA2ResetCounterEncoderTTLRS422=0\r"
     "SetEA3FunctionResetCounter=0\rSetEA3ResetCounterRepeat=0\rSetEA3ResetCounterEncoderHTL=0\r"
     "SetEA3ResetCounterEncoderTTLRS422=0\r"
     "SetEA4FunctionResetCounter=0\rSetEA4ResetCounterRepeat=0\rSetEA4ResetCounterEncoderHTL=0\r"
     "SetEA4ResetCounterEncoderTTLRS422=0\r"},
};

TEST(CommandBuilders, EachSendsItsExactTextInOneWrite)
{
    for (const BuilderCase& c : kCases) {
        SCOPED_TRACE(c.name);
        FakeScanner scanner;
        EXPECT_EQ(c.send(scanner, &scanner), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(scanner.Commands(), std::vector<std::string>{c.bytes});
    }
}

TEST(CommandBuilders, LengthsOfTheFixedTexts)
{
    FakeScanner scanner;
    EXPECT_EQ(SendSetUserString(scanner, nullptr, ""), 15);
    EXPECT_EQ(SendSetEAFunction(scanner, nullptr, 3, 1), 62);
    EXPECT_EQ(SendSetSignalContentWidth0(scanner, nullptr), 24);
    EXPECT_EQ(SendSetEAInputLoadAll(scanner, nullptr), 72);
    EXPECT_EQ(SendSetInitializeAcquisition(scanner, nullptr), 24);
}

// A send that fails reports the client library's code unchanged.
class RefusingScanner : public FakeScanner {
public:
    int WriteData(ScannerHandle handle, const char* text, int len) override
    {
        FakeScanner::WriteData(handle, text, len);
        return -1000;
    }
};

TEST(CommandBuilders, ReturnWriteDataResultUnchanged)
{
    for (const BuilderCase& c : kCases) {
        SCOPED_TRACE(c.name);
        RefusingScanner scanner;
        EXPECT_EQ(c.send(scanner, &scanner), -1000);
        EXPECT_EQ(scanner.Commands().size(), 1u);  // tried once, no retry
    }
}

}  // namespace
}  // namespace lumabridge
