#include "command_builders.h"

namespace lumabridge {
namespace {

int send(ScannerApi& scanner, ScannerHandle handle, const std::string& text)
{
    return scanner.WriteData(handle, text.c_str(), static_cast<int>(text.size()));
}

// "<name>=<v>\r"
int sendValue(ScannerApi& scanner, ScannerHandle handle, const char* name, uint32_t v)
{
    return send(scanner, handle, std::string(name) + "=" + std::to_string(v) + "\r");
}

// "SetEA<n>"
std::string ea(unsigned n) { return "SetEA" + std::to_string(n); }

int sendLineValue(ScannerApi& scanner, ScannerHandle handle, unsigned n, const char* name, uint32_t v)
{
    return send(scanner, handle, ea(n) + name + "=" + std::to_string(v) + "\r");
}

int sendFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t function, int finishSignal)
{
    const std::string line = ea(n);
    return send(scanner, handle,
                line + "Function=" + std::to_string(function) + "\r" + line +
                    "FunctionFixedFrameNumberFinishSignal=" + std::to_string(finishSignal) + "\r");
}

}  // namespace

int SendSetExposureTime(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetExposureTime", v);
}
int SendSetAcquisitionLineTime(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetAcquisitionLineTime", v);
}
int SendSetROI1OffsetX(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetROI1OffsetX", v);
}
int SendSetROI1WidthX(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetROI1WidthX", v);
}
int SendSetROI1OffsetZ(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetROI1OffsetZ", v);
}
int SendSetROI1HeightZ(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetROI1HeightZ", v);
}
int SendSetAmountProfilesY(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetAmountProfilesY", v);
}
int SendSetTriggerAmountProfilesY(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetTriggerAmountProfilesY", v);
}

int SendSetTriggerSource0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetTriggerSource=0\rSetAcquisitionStop\r");
}
int SendSetTriggerSource1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetTriggerSource=1\rSetAcquisitionStop\r");
}
int SendSetTriggerSource2(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetTriggerSource=2\rSetAcquisitionStop\r");
}
int SendSetTriggerSource3(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetTriggerSource=3\rSetAcquisitionStop\r");
}

int SendSetTriggerSoftware(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetTriggerSoftware\r");
}
int SendSetTriggerEncoderStep(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetTriggerEncoderStep", v);
}
int SendSetTriggerDelay(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetTriggerDelay", v);
}
int SendSetSignalEnable(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return send(scanner, handle, "SetSignalEnable=" + std::to_string(v) + "\rSetAcquisitionStop\r");
}

int SendSetSignalSelection0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalSelection=0\r");
}
int SendSetSignalSelection1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalSelection=1\r");
}
int SendSetSignalSelection2(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalSelection=2\r");
}
int SendSetSignalSelection3(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalSelection=3\r");
}

int SendSetSignalWidthMin(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetSignalWidthMin", v);
}
int SendSetSignalWidthMax(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetSignalWidthMax", v);
}
int SendSetSignalStrengthMin(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetSignalStrengthMin", v);
}
int SendSetSignalContentWidth0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalContentWidth=0\r");
}
int SendSetSignalContentStrength1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalContentStrength=1\r");
}
int SendSetSignalContentStrength0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalContentStrength=0\r");
}
int SendSetSignalContentReserved1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalContentReserved=1\r");
}
int SendSetSignalContentReserved0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetSignalContentReserved=0\r");
}
int SendSetLinearizationMode1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetLinearizationMode=1\r");
}
int SendSetLinearizationMode0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetLinearizationMode=0\r");
}
int SendSetSyncOut(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetSyncOut", v);
}
int SendSetSyncOutDelay(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetSyncOutDelay", v);
}
int SendSetLaserDeactivated1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetLaserDeactivated=1\r");
}
int SendSetLaserDeactivated0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetLaserDeactivated=0\r");
}

int SendSetEncoderTriggerFunction0(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEncoderTriggerFunction=0\r");
}
int SendSetEncoderTriggerFunction1(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEncoderTriggerFunction=1\r");
}
int SendSetEncoderTriggerFunction2(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEncoderTriggerFunction=2\r");
}
int SendSetEncoderTriggerFunction3(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEncoderTriggerFunction=3\r");
}
int SendSetEncoderTriggerFunction4(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEncoderTriggerFunction=4\r");
}

int SendSetResetEncoder(ScannerApi& scanner, ScannerHandle handle) { return send(scanner, handle, "SetResetEncoder\r"); }
int SendSetAcquisitionStart(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetAcquisitionStart\r");
}
int SendSetAcquisitionStop(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetAcquisitionStop\r");
}
int SendSetResetSettings(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetResetSettings\r");
}
int SendSetHeartBeat(ScannerApi& scanner, ScannerHandle handle, uint32_t v)
{
    return sendValue(scanner, handle, "SetHeartBeat", v);
}
int SendSetUserString(ScannerApi& scanner, ScannerHandle handle, const std::string& text)
{
    return send(scanner, handle, "SetUserString=" + text + "\r");
}
int SendSetInitializeAcquisition(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetInitializeAcquisition");
}

int SendSetEAOutput(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendLineValue(scanner, handle, n, "Output", v);
}
int SendSetEAOutputFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendLineValue(scanner, handle, n, "OutputFunction", v);
}
int SendSetEAInputFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendLineValue(scanner, handle, n, "InputFunction", v);
}
int SendSetEAInputLoad(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendLineValue(scanner, handle, n, "InputLoad", v);
}
int SendSetEAInputLoadAll(ScannerApi& scanner, ScannerHandle handle)
{
    return send(scanner, handle, "SetEA1InputLoad=1\rSetEA2InputLoad=1\rSetEA3InputLoad=1\rSetEA4InputLoad=1\r");
}
int SendSetEAFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendFunction(scanner, handle, n, v, 0);
}
int SendSetEAFrameFinishSignal(ScannerApi& scanner, ScannerHandle handle, unsigned n)
{
    return sendFunction(scanner, handle, n, 2, 1);
}
int SendSetEAFunctionProfileEnable(ScannerApi& scanner, ScannerHandle handle, unsigned n)
{
    return send(scanner, handle, ea(n) + "FunctionProfileEnable=1\r");
}
int SendClearEAFunctions(ScannerApi& scanner, ScannerHandle handle, unsigned n)
{
    const std::string line = ea(n);
    return send(scanner, handle,
                line + "FunctionLaserOff=0\r" + line + "FunctionProfileEnable=0\r" + line + "FunctionResetCounter=0\r");
}
int SendSetEAResetCounterSignaledge(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v)
{
    return sendLineValue(scanner, handle, n, "ResetCounterSignaledge", v);
}
int SendSetEAResetCounterEncoder(ScannerApi& scanner, ScannerHandle handle, unsigned n)
{
    const std::string line = ea(n);
    return send(scanner, handle,
                line + "Function=3\r" + line + "FunctionResetCounter=1\r" + line + "ResetCounterRepeat=1\r" + line +
                    "ResetCounterEncoderHTL=1\r" + line + "ResetCounterEncoderTTLRS422=1\r");
}
int SendClearEAResetCounters(ScannerApi& scanner, ScannerHandle handle)
{
    std::string text;
    for (unsigned n = 1; n <= 4; ++n) {
        const std::string line = ea(n);
        text += line + "FunctionResetCounter=0\r" + line + "ResetCounterRepeat=0\r" + line +
                "ResetCounterEncoderHTL=0\r" + line + "ResetCounterEncoderTTLRS422=0\r";
    }
    return send(scanner, handle, text);
}

}  // namespace lumabridge
