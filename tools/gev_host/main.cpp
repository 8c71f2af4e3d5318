// gev_host: creates a camera, declares a few features with handlers and serves
// until SIGINT, SIGTERM or the end of standard input.
//
//   gev_host [--persistent IP MASK] [--identity SERIAL] [--xml FILE] ADDRESS
//
// Every handler call is printed on standard output as "read NAME" or
// "write NAME VALUE"; a write of 13 to Gain is refused.
#include "gev_camera.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_Stop = 0;

void onSignal(int) { g_Stop = 1; }

struct Host {
    CGevCamera* camera = nullptr;
    int reads = 0;
};

bool onRead(void* context, const char* name)
{
    auto& host = *static_cast<Host*>(context);
    if (std::strcmp(name, "ReadCount") == 0)
        host.camera->SetIntegerValue("ReadCount", ++host.reads);
    std::printf("read %s\n", name);
    std::fflush(stdout);
    return true;
}

bool onWrite(void* context, const char* name)
{
    auto& host = *static_cast<Host*>(context);
    char text[160] = "";
    int64_t integer = 0;
    float number = 0;
    if (host.camera->GetIntegerValue(name, &integer) == GevResult::Ok)
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(integer));
    else if (host.camera->GetFloatValue(name, &number) == GevResult::Ok)
        std::snprintf(text, sizeof text, "%g", static_cast<double>(number));
    else
        host.camera->GetStringValue(name, text, sizeof text);
    std::printf("write %s %s\n", name, text);
    std::fflush(stdout);
    return !(std::strcmp(name, "Gain") == 0 && integer == 13);
}

bool declare(CGevCamera& camera)
{
    const uint32_t results[] = {
        camera.AddCategory("HostControl", nullptr),
        camera.AddRegisterFeature(2, "Gain", "HostControl", 3, "Amplification of the sensor signal", 0),
        camera.SetIntegerRange("Gain", 0, 100, 1),
        camera.AddRegisterFeature(3, "ExposureTime", "HostControl", 3, "Exposure time in microseconds", 1),
        camera.SetFloatRange("ExposureTime", 10.0f, 100000.0f),
        camera.AddRegisterFeature(4, "HostLabel", "HostControl", 3, "A free text", 0),
        camera.AddRegisterFeature(5, "LaserEnable", "HostControl", 3, "Switches the laser", 0),
        camera.AddRegisterFeature(7, "ScanMode", "HostControl", 3, "How profiles are taken", 0),
        camera.AddEnumEntry("ScanMode", "Continuous", 0),
        camera.AddEnumEntry("ScanMode", "Triggered", 1),
        camera.AddRegisterFeature(1, "ReadCount", "HostControl", 1, "Reads of this feature so far", 0),
    };
    for (size_t i = 0; i < std::size(results); ++i) {
        if (results[i] != GevResult::Ok) {
            std::fprintf(stderr, "Error: declaration step %zu failed with 0x%X\n", i, results[i]);
            return false;
        }
    }
    return camera.SetIntegerValue("Gain", 10) == GevResult::Ok &&
           camera.SetFloatValue("ExposureTime", 500.0f) == GevResult::Ok &&
           camera.SetStringValue("HostLabel", "line scanner") == GevResult::Ok;
}

// Reads the published description back through the camera's memory.
bool saveXml(CGevCamera& camera, const char* path)
{
    char url[513] = {};
    if (camera.ReadMemory(0x0200, url, 512) != GevResult::Ok)
        return false;
    const char* length = std::strrchr(url, ';');
    if (length == nullptr)
        return false;
    const unsigned long size = std::strtoul(length + 1, nullptr, 16);
    std::vector<char> xml((size + 3) & ~3ul);
    if (camera.ReadMemory(0x200000, xml.data(), static_cast<uint32_t>(xml.size())) != GevResult::Ok)
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), std::fclose);
    return file && std::fwrite(xml.data(), 1, size, file.get()) == size;
}

int usage()
{
    std::fprintf(stderr, "usage: gev_host [--persistent IP MASK] [--identity SERIAL] [--xml FILE] ADDRESS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* persistentIp = nullptr;
    const char* persistentMask = nullptr;
    const char* serial = nullptr;
    const char* xmlPath = nullptr;
    const char* address = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--persistent" && i + 2 < argc) {
            persistentIp = argv[++i];
            persistentMask = argv[++i];
        } else if (a == "--identity" && i + 1 < argc) {
            serial = argv[++i];
        } else if (a == "--xml" && i + 1 < argc) {
            xmlPath = argv[++i];
        } else if (address == nullptr && a[0] != '-') {
            address = argv[i];
        } else {
            return usage();
        }
    }
    if (address == nullptr)
        return usage();

    std::unique_ptr<CGevCamera> camera(createCamera());
    Host host{camera.get()};
    if (!declare(*camera))
        return 1;
    camera->SetFeatureReadCallback(&host, &onRead);
    camera->SetFeatureWriteCallback(&host, &onWrite);
    camera->SetGevMode(1);
    if (serial != nullptr && camera->SetDeviceIdentity(nullptr, nullptr, nullptr, nullptr, serial) != GevResult::Ok)
        return 1;
    if (persistentIp != nullptr && camera->SetPersistentIp(persistentIp, persistentMask, nullptr) != GevResult::Ok) {
        std::fprintf(stderr, "Error: bad persistent address\n");
        return 1;
    }

    const uint32_t started = camera->Start(address);
    if (started != GevResult::Ok) {
        std::fprintf(stderr, "Error: Start(%s) failed with 0x%X\n", address, started);
        return 1;
    }
    if (xmlPath != nullptr && !saveXml(*camera, xmlPath))
        std::fprintf(stderr, "Warning: could not save the description\n");
    std::printf("serving %s\n", address);
    std::fflush(stdout);

    struct sigaction action{};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    while (g_Stop == 0) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) > 0) {
            char buffer[64];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                break;
        }
    }
    const uint32_t stopped = camera->Stop();
    std::printf("stopped 0x%X\n", stopped);
    return stopped == GevResult::Ok ? 0 : 1;
}
