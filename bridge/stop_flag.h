#pragma once
// The process-wide stop flag that SIGINT (and SIGTERM) sets; nothing clears it.

namespace lumabridge {

void OnSignal(int);
bool IsStopRequested();

// OnSignal for SIGINT and SIGTERM, so that both end the program in order. Blocking calls
// that the signal interrupts on any thread are restarted.
void InstallInterruptHandler();

}  // namespace lumabridge
