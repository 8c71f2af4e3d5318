#pragma once
// One function per scanner command. Each builds the exact text, sends it with one WriteData call
// and returns that call's result unchanged (the length sent, or the client library's negative code).
// Values are written as unsigned 32-bit decimals; n is the I/O line 1..4 (callers check it).
#include <cstdint>
#include <string>

#include "scanner_api.h"

namespace lumabridge {

int SendSetExposureTime(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetAcquisitionLineTime(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetROI1OffsetX(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetROI1WidthX(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetROI1OffsetZ(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetROI1HeightZ(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetAmountProfilesY(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetTriggerAmountProfilesY(ScannerApi& scanner, ScannerHandle handle, uint32_t v);

// "SetTriggerSource=c\rSetAcquisitionStop\r"
int SendSetTriggerSource0(ScannerApi& scanner, ScannerHandle handle);
int SendSetTriggerSource1(ScannerApi& scanner, ScannerHandle handle);
int SendSetTriggerSource2(ScannerApi& scanner, ScannerHandle handle);
int SendSetTriggerSource3(ScannerApi& scanner, ScannerHandle handle);

int SendSetTriggerSoftware(ScannerApi& scanner, ScannerHandle handle);
int SendSetTriggerEncoderStep(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetTriggerDelay(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetSignalEnable(ScannerApi& scanner, ScannerHandle handle, uint32_t v);  // then "SetAcquisitionStop\r"

int SendSetSignalSelection0(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalSelection1(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalSelection2(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalSelection3(ScannerApi& scanner, ScannerHandle handle);

int SendSetSignalWidthMin(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetSignalWidthMax(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetSignalStrengthMin(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetSignalContentWidth0(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalContentStrength1(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalContentStrength0(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalContentReserved1(ScannerApi& scanner, ScannerHandle handle);
int SendSetSignalContentReserved0(ScannerApi& scanner, ScannerHandle handle);
int SendSetLinearizationMode1(ScannerApi& scanner, ScannerHandle handle);
int SendSetLinearizationMode0(ScannerApi& scanner, ScannerHandle handle);
int SendSetSyncOut(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetSyncOutDelay(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetLaserDeactivated1(ScannerApi& scanner, ScannerHandle handle);
int SendSetLaserDeactivated0(ScannerApi& scanner, ScannerHandle handle);

int SendSetEncoderTriggerFunction0(ScannerApi& scanner, ScannerHandle handle);
int SendSetEncoderTriggerFunction1(ScannerApi& scanner, ScannerHandle handle);
int SendSetEncoderTriggerFunction2(ScannerApi& scanner, ScannerHandle handle);
int SendSetEncoderTriggerFunction3(ScannerApi& scanner, ScannerHandle handle);
int SendSetEncoderTriggerFunction4(ScannerApi& scanner, ScannerHandle handle);

int SendSetResetEncoder(ScannerApi& scanner, ScannerHandle handle);
int SendSetAcquisitionStart(ScannerApi& scanner, ScannerHandle handle);
int SendSetAcquisitionStop(ScannerApi& scanner, ScannerHandle handle);
int SendSetResetSettings(ScannerApi& scanner, ScannerHandle handle);
int SendSetHeartBeat(ScannerApi& scanner, ScannerHandle handle, uint32_t v);
int SendSetUserString(ScannerApi& scanner, ScannerHandle handle, const std::string& text);
// "SetInitializeAcquisition" without "\r"; the client library answers it itself.
int SendSetInitializeAcquisition(ScannerApi& scanner, ScannerHandle handle);

// I/O lines: "SetEA" n ...
int SendSetEAOutput(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
int SendSetEAOutputFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
int SendSetEAInputFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
int SendSetEAInputLoad(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
int SendSetEAInputLoadAll(ScannerApi& scanner, ScannerHandle handle);  // lines 1..4, load 1
// Function v, then FunctionFixedFrameNumberFinishSignal=0.
int SendSetEAFunction(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
// Function 2, then FunctionFixedFrameNumberFinishSignal=1.
int SendSetEAFrameFinishSignal(ScannerApi& scanner, ScannerHandle handle, unsigned n);
int SendSetEAFunctionProfileEnable(ScannerApi& scanner, ScannerHandle handle, unsigned n);
// Laser-off, profile-enable and reset-counter functions off.
int SendClearEAFunctions(ScannerApi& scanner, ScannerHandle handle, unsigned n);
int SendSetEAResetCounterSignaledge(ScannerApi& scanner, ScannerHandle handle, unsigned n, uint32_t v);
// Line n resets the encoder counters.
int SendSetEAResetCounterEncoder(ScannerApi& scanner, ScannerHandle handle, unsigned n);
// No line resets any counter (16 commands for lines 1..4).
int SendClearEAResetCounters(ScannerApi& scanner, ScannerHandle handle);

}  // namespace lumabridge
