#include "platform/process.h"

#include <mutex>
#include <unistd.h>

namespace platform {
namespace {
std::mutex overrideMutex;
std::string overrideDirectory;
}  // namespace

std::string hostProgramDirectory()
{
    {
        std::lock_guard lock(overrideMutex);
        if (!overrideDirectory.empty())
            return overrideDirectory;
    }
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return {};
    std::string full(path, static_cast<size_t>(n));
    auto slash = full.rfind('/');
    return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
}

void setHostProgramDirectoryForTest(const std::string& directory)
{
    std::lock_guard lock(overrideMutex);
    overrideDirectory = directory;
    if (!overrideDirectory.empty() && overrideDirectory.back() != '/')
        overrideDirectory += '/';
}

}  // namespace platform
