#pragma once
// The process-wide stop flag that the interrupt signal sets; nothing clears it.

namespace lumabridge {

void OnSignal(int);
bool IsStopRequested();

// OnSignal for SIGINT, without SA_RESTART, so that a read waiting on the console ends.
void InstallInterruptHandler();

}  // namespace lumabridge
