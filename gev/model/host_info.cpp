#include "model/host_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

namespace Kivu {

uint32_t ArchitectureCode(const char* machine)
{
    struct Entry {
        const char* machine;
        uint32_t code;
    };
    static constexpr Entry table[] = {
        {"x86_64", 9}, {"amd64", 9}, {"aarch64", 12}, {"arm64", 12}, {"i386", 0}, {"i486", 0},
        {"i586", 0},   {"i686", 0},  {"armv7l", 5},   {"armv6l", 5}, {"ia64", 6},
    };
    for (const Entry& e : table)
        if (std::strcmp(machine, e.machine) == 0)
            return e.code;
    return 0xFFFF;
}

OsVersion ParseKernelRelease(const char* release)
{
    uint32_t fields[3] = {0, 0, 0};
    const char* p = release;
    for (uint32_t& field : fields) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            break;
        uint64_t v = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            v = v * 10 + static_cast<uint64_t>(*p++ - '0');
            if (v > 0xFFFFFFFFu)
                v = 0xFFFFFFFFu;
        }
        field = static_cast<uint32_t>(v);
        if (*p != '.')
            break;
        ++p;
    }
    return {fields[0], fields[1], fields[2]};
}

HostInfo QueryHostInfo()
{
    HostInfo info;
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info.processorCount = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
    const long page = sysconf(_SC_PAGESIZE);
    info.pageSize = page > 0 ? static_cast<uint32_t>(page) : 4096;
    info.allocationGranularity = info.pageSize;  // mmap hands out whole pages
    utsname names{};
    if (uname(&names) == 0) {
        info.processorArchitecture = ArchitectureCode(names.machine);
        const OsVersion v = ParseKernelRelease(names.release);
        info.osMajor = v.major;
        info.osMinor = v.minor;
        info.osBuild = v.build;
    } else {
        info.processorArchitecture = 0xFFFF;
    }
    return info;
}

}  // namespace Kivu
