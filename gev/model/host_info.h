#pragma once
// Facts about the host that the manufacturer registers report.
#include <cstdint>

namespace Kivu {

struct HostInfo {
    uint32_t processorCount = 0;
    uint32_t processorArchitecture = 0;  // the Windows PROCESSOR_ARCHITECTURE_* codes
    uint32_t pageSize = 0;
    uint32_t allocationGranularity = 0;
    uint32_t osMajor = 0;
    uint32_t osMinor = 0;
    uint32_t osBuild = 0;
};

HostInfo QueryHostInfo();

// uname machine name -> architecture code (0xFFFF when unknown).
uint32_t ArchitectureCode(const char* machine);

struct OsVersion {
    uint32_t major = 0, minor = 0, build = 0;
};
// "6.1.0-18-amd64" -> 6, 1, 0: leading decimal fields, missing ones are 0.
OsVersion ParseKernelRelease(const char* release);

}  // namespace Kivu
