// A device streaming compressed frames for the compression tests: a smooth
// test image (the formula aravis_compress_check.py computes too) sent about 50
// times a second while a client acquires, until standard input closes.
// usage: compress_host jpeg|h264 mono8|rgb8 WIDTH HEIGHT ADDRESS
// Exit status: 0 after a clean stop, 3 when the compression mode is refused
// (the status on standard output), 2 for bad arguments, 1 for other failures.
#include "gev_camera.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> gradient(bool mono, uint32_t w, uint32_t h)
{
    std::vector<uint8_t> v;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            if (mono) {
                v.push_back(static_cast<uint8_t>(x * 200 / w + y * 50 / h));
            } else {
                v.push_back(static_cast<uint8_t>(x * 250 / w));
                v.push_back(static_cast<uint8_t>(y * 250 / h));
                v.push_back(static_cast<uint8_t>(128 + int(x * 60 / w) - int(y * 60 / h)));
            }
        }
    return v;
}

int usage()
{
    std::fprintf(stderr, "usage: compress_host jpeg|h264 mono8|rgb8 WIDTH HEIGHT ADDRESS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
        return usage();
    const std::string mode = argv[1], format = argv[2];
    const long w = std::strtol(argv[3], nullptr, 10), h = std::strtol(argv[4], nullptr, 10);
    if ((mode != "jpeg" && mode != "h264") || (format != "mono8" && format != "rgb8") || w < 16 || h < 16 ||
        w > 4096 || h > 4096)
        return usage();
    const bool mono = format == "mono8";
    const char* pfnc = mono ? "Mono8" : "RGB8";

    std::unique_ptr<CGevCamera> camera(createCamera());
    if (!camera || camera->AddPixelFormat(pfnc) != GevResult::Ok || camera->SetPixelFormat(pfnc, 0) != GevResult::Ok ||
        camera->SetImageSize(uint32_t(w), uint32_t(h), 0) != GevResult::Ok || camera->SetGevMode(1) != GevResult::Ok ||
        camera->SetCompressionParameters(90, 2000000, 0) != GevResult::Ok)
        return 1;
    const uint32_t set = camera->SetCompressionMode(mode == "jpeg" ? 1 : 2, 0);
    if (set != GevResult::Ok) {
        std::printf("compression refused 0x%X\n", set);
        return 3;
    }
    const uint32_t started = camera->Start(argv[5]);
    if (started != GevResult::Ok) {
        std::fprintf(stderr, "Error: Start(%s) failed with 0x%X\n", argv[5], started);
        return 1;
    }
    std::printf("serving %s payload %u\n", argv[5], camera->GetPayloadSize(0));
    std::fflush(stdout);

    std::thread producer([&] {
        // The frame buffer holds the raw image (the payload size is the compressed estimate).
        const std::vector<uint8_t> image = gradient(mono, uint32_t(w), uint32_t(h));
        std::vector<uint8_t> frame = image;
        while (camera->BeginFrame(0) == GevResult::Ok) {
            if (camera->SendImage(frame.data(), 0, 0) != GevResult::Ok)
                std::fprintf(stderr, "Error: frame not sent\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    for (;;) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        char buffer[64];
        if (::poll(&in, 1, 100) > 0 && ::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            break;
    }
    const uint32_t stopped = camera->Stop();
    producer.join();
    std::printf("stopped 0x%X\n", stopped);
    return stopped == GevResult::Ok ? 0 : 1;
}
