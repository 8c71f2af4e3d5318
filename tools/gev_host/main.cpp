// gev_host: creates a camera, declares a few features with handlers and serves
// until SIGINT, SIGTERM or the end of standard input.
//
//   gev_host [--persistent IP MASK] [--identity SERIAL] [--xml FILE]
//            [--gev 1.2|2.0] [--stream image|parts2|parts3] [--rate HZ]
//            [--width W] [--lines H] [--chunks] [--formats NAME,...] ADDRESS
//
// Every handler call is printed on standard output as "read NAME" or
// "write NAME VALUE"; a write of 13 to Gain is refused.
//
// With --stream a producer thread sends a block on channel 0 at the given rate
// while a client acquires: a Mono16 test image, or a multi-part block of a
// Mono16 range part and a Mono10 intensity part (and a Coord3D_ABC32f part
// with parts3). An image has the size a client sets (Width, Height), parts
// the size given on the command line. With --formats the image also offers the
// named pixel formats (Mono8, Mono12Packed, BayerRG8 ...): when a client selects
// one, the Mono16 test image is converted into it by ConvertPixels. Frame k carries the timestamp 1e12 + 1000 k ns (timestamp
// mode 3), the range and image pixel i hold (k + i) & 0xFFFF, the intensity
// pixel i (k + i) & 0x3FF, the point i (k, i, -1). With --chunks each block
// also carries the chunks 0x1001 (u64 timestamp) and 0x1002 (u32 k), both
// big-endian, and 0x1003 (one little-endian u32 per line: k * 1000 + line),
// behind an image-data trailer with id 1. The description then declares them
// in the category ChunkDataControl as ChunkTimestamp, ChunkFrameCounter and
// ChunkLineValue, the last one read for the line that ChunkScanLineSelector
// selects.
#include "gev_camera.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
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
    std::fprintf(stderr,
                 "usage: gev_host [--persistent IP MASK] [--identity SERIAL] [--xml FILE] [--gev 1.2|2.0]\n"
                 "                [--stream image|parts2|parts3] [--rate HZ] [--width W] [--lines H] [--chunks]\n"
                 "                [--formats NAME,...]\n"
                 "                ADDRESS\n");
    return 2;
}

struct StreamOptions {
    int parts = -1;  // -1 no stream, 0 image, 2 or 3 parts
    double rate = 10;
    uint16_t width = 64;
    uint16_t lines = 16;
    bool chunks = false;
    std::vector<std::string> formats;  // offered besides Mono16 (images only)
};

constexpr uint32_t kMono16 = 0x01100007;

// Bytes of one converted line of width pixels in a PFNC format: packed formats
// (12 bits occupied) take three bytes per started pair.
size_t lineBytes(uint32_t format, size_t width)
{
    const uint32_t bits = (format >> 16) & 0xFF;
    return bits == 12 ? (width + 1) / 2 * 3 : width * ((bits + 7) / 8);
}

constexpr uint32_t kTimestampChunk = 0x1001;
constexpr uint32_t kCounterChunk = 0x1002;
constexpr uint32_t kLineChunk = 0x1003;
constexpr uint32_t kImageChunk = 1;
constexpr uint64_t kTimestampBase = 1000000000000ull;

void storeBE(uint8_t* p, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

void store16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void store32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

void storeFloat(uint8_t* p, float f)
{
    std::memcpy(p, &f, 4);  // little-endian hosts, as the PFNC formats are
}

PartDescriptor partDescriptor(int index, const StreamOptions& o)
{
    static const char* const kFormats[] = {"Mono16", "Mono10", "Coord3D_ABC32f"};
    PartDescriptor d;
    d.componentIndex = static_cast<uint8_t>(index);
    d.key1 = static_cast<uint8_t>(index);
    d.width = o.width;
    d.height = o.lines;
    d.dataType = index == 2 ? 5 : 1;
    d.pixelFormatName = kFormats[index];
    return d;
}

uint32_t lineChunkBytes(const StreamOptions& o)
{
    return 4u * o.lines;
}

// The chunk features that let a client's chunk parser read the values back.
bool declareChunks(CGevCamera& camera, const StreamOptions& o)
{
    const uint32_t results[] = {
        camera.AddChunkSelectorFeatures("ChunkDataControl"),
        camera.AddRegisterFeature(1, "ChunkScanLineSelector", "ChunkDataControl", 3,
                                  "Selects the scan line whose chunk values are read", 1),
        camera.SetIntegerRange("ChunkScanLineSelector", 0, o.lines - 1, 1),
        camera.AddChunk(kTimestampChunk, "ChunkTimestamp", "ChunkDataControl", 1, 8, "Time stamp of the block"),
        camera.AddChunk(kCounterChunk, "ChunkFrameCounter", "ChunkDataControl", 1, 4, "Number of the block"),
        camera.AddChunkFeature(kLineChunk, "ChunkLineValue", "ChunkDataControl", 1, 4, nullptr),
    };
    for (size_t i = 0; i < std::size(results); ++i) {
        if (results[i] != GevResult::Ok) {
            std::fprintf(stderr, "Error: chunk declaration step %zu failed with 0x%X\n", i, results[i]);
            return false;
        }
    }
    return true;
}

bool configureStream(CGevCamera& camera, const StreamOptions& o)
{
    if (camera.SetStreamChannelCount(1) != GevResult::Ok || camera.SetTimestampMode(3, 0) != GevResult::Ok)
        return false;
    if (o.chunks && (!declareChunks(camera, o) ||
                     camera.SetChunkPayloadSize(8 + 4 + lineChunkBytes(o), 3, 0) != GevResult::Ok))
        return false;
    if (o.parts == 0) {
        if (camera.AddPixelFormat("Mono16") != GevResult::Ok)
            return false;
        for (const std::string& name : o.formats) {
            if (camera.AddPixelFormat(name.c_str()) != GevResult::Ok) {
                std::fprintf(stderr, "Error: unknown pixel format %s\n", name.c_str());
                return false;
            }
        }
        return camera.SetPixelFormat("Mono16", 0) == GevResult::Ok &&
               camera.SetImageSize(o.width, o.lines, 0) == GevResult::Ok;
    }
    for (int i = 0; i < o.parts; ++i)
        if (camera.UpdateImagePart(partDescriptor(i, o)) != GevResult::Ok)
            return false;
    return true;
}

// Sends blocks while clients acquire, until BeginFrame fails (the camera stops).
class Producer {
public:
    Producer(CGevCamera& camera, const StreamOptions& o) : m_Camera(camera), m_O(o)
    {
        const size_t pixels = size_t(o.width) * o.lines;
        uint32_t chunkSize = 0;
        camera.GetChunkPayloadSize(&chunkSize, 0);
        if (o.parts == 0) {
            m_Frame.resize(pixels * 2 + chunkSize);
        } else {
            m_Frame.resize(chunkSize);
            for (int i = 0; i < o.parts; ++i)
                m_Parts.emplace_back(new uint8_t[pixels * (i == 2 ? 12 : 2)]);
        }
        m_Thread = std::thread([this] { run(); });
    }
    ~Producer()
    {
        m_Thread.join();  // the camera's Stop ends BeginFrame
        std::printf("sent %llu\n", static_cast<unsigned long long>(m_Sent.load()));
    }
    Producer(const Producer&) = delete;
    Producer& operator=(const Producer&) = delete;

private:
    // pixels values (k + i) & (period - 1), i = 0.., little-endian u16, copied
    // from a table holding the period twice.
    static void fillCounting(uint8_t* out, size_t pixels, uint64_t k, const std::vector<uint8_t>& table)
    {
        const size_t period = table.size() / 4;
        for (size_t done = 0; done < pixels;) {
            const size_t start = (k + done) & (period - 1);
            const size_t n = std::min(pixels - done, period);
            std::memcpy(out + 2 * done, table.data() + 2 * start, 2 * n);
            done += n;
        }
    }

    static std::vector<uint8_t> countingTable(size_t period)
    {
        std::vector<uint8_t> table(4 * period);
        for (size_t i = 0; i < 2 * period; ++i)
            store16(table.data() + 2 * i, static_cast<uint32_t>(i & (period - 1)));
        return table;
    }

    void fill(uint64_t k, size_t pixels)
    {
        uint8_t* range = m_O.parts != 0 ? m_Parts[0].get() : m_Format != kMono16 ? m_Source.data() : m_Frame.data();
        fillCounting(range, pixels, k, m_Range);
        if (m_O.parts >= 2)
            fillCounting(m_Parts[1].get(), pixels, k, m_Intensity);
        if (m_O.parts >= 3)
            for (size_t i = 0; i < pixels; ++i) {
                uint8_t* p = m_Parts[2].get() + 12 * i;
                storeFloat(p, static_cast<float>(k));
                storeFloat(p + 4, static_cast<float>(i));
                storeFloat(p + 8, -1.0f);
            }
    }

    // An image follows the size and pixel format the client set (latched by
    // BeginFrame); a format other than Mono16 gets the test image converted.
    size_t imagePixels()
    {
        if (m_O.parts != 0)
            return size_t(m_O.width) * m_O.lines;
        const size_t width = m_Camera.GetWidth(0), height = m_Camera.GetHeight(0);
        const size_t payload = m_Camera.GetPayloadSize(0);
        uint32_t chunkSize = 0;
        m_Camera.GetChunkPayloadSize(&chunkSize, 0);
        m_Format = m_Camera.GetPixelFormat(0);
        m_ImageBytes = payload - std::min<size_t>(payload, chunkSize);
        if (m_Format == kMono16) {
            if (m_Frame.size() < payload)
                m_Frame.resize(payload);
            return std::min(width * height, payload / 2);
        }
        m_Source.resize(2 * width * height);
        m_Frame.resize(std::max(payload, height * lineBytes(m_Format, width) + chunkSize));
        return width * height;
    }

    bool convert()
    {
        const uint32_t status = m_Camera.ConvertPixels(m_Source.data(), m_Frame.data(), m_Camera.GetWidth(0),
                                                       m_Camera.GetHeight(0), kMono16, m_Format, 0, 0, 0, 0);
        if (status != GevResult::Ok)
            std::fprintf(stderr, "Error: conversion into 0x%08X failed with 0x%X\n", m_Format, status);
        return status == GevResult::Ok;
    }

    bool sendOne(uint64_t k)
    {
        const size_t pixels = imagePixels();
        fill(k, pixels);
        if (m_O.parts == 0 && m_Format != kMono16 && !convert())
            return false;
        uint64_t total = 0;
        for (int i = 0; i < m_O.parts; ++i) {
            const uint32_t bytes = static_cast<uint32_t>(pixels * (i == 2 ? 12 : 2));
            total += bytes;
            if (m_Camera.SetImagePartData(m_Parts[static_cast<size_t>(i)], bytes, partDescriptor(i, m_O)) !=
                GevResult::Ok)
                return false;
        }
        const uint64_t ts = kTimestampBase + 1000 * k;
        if (m_O.chunks) {
            uint8_t tsBytes[8], counter[4];
            storeBE(tsBytes, ts, 8);
            storeBE(counter, k, 4);
            for (uint32_t line = 0; line < m_O.lines; ++line)
                store32(m_LineValues.data() + 4 * line, static_cast<uint32_t>(k * 1000 + line));
            const uint32_t imageBytes = static_cast<uint32_t>(m_O.parts == 0 ? m_ImageBytes : total);
            if (m_Camera.AddChunkData(m_Frame.data(), tsBytes, 8, kTimestampChunk, 0) != GevResult::Ok ||
                m_Camera.AddChunkData(m_Frame.data(), counter, 4, kCounterChunk, 0) != GevResult::Ok ||
                m_Camera.AddChunkData(m_Frame.data(), m_LineValues.data(), lineChunkBytes(m_O), kLineChunk, 0) !=
                    GevResult::Ok ||
                m_Camera.AddChunkData(m_Frame.data(), nullptr, imageBytes, kImageChunk, 0) != GevResult::Ok)
                return false;
        }
        m_Camera.SetFrameTimestamp(ts);
        return m_Camera.SendImage(m_Frame.data(), 0, 0) == GevResult::Ok;
    }

    void run()
    {
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / m_O.rate));
        auto next = std::chrono::steady_clock::now();
        for (uint64_t k = 1; m_Camera.BeginFrame(0) == GevResult::Ok; ++k) {
            if (!sendOne(k)) {
                std::fprintf(stderr, "Error: frame %llu not sent\n", static_cast<unsigned long long>(k));
                continue;
            }
            m_Sent.fetch_add(1);
            next += period;
            const auto now = std::chrono::steady_clock::now();
            if (next < now)
                next = now;  // late: no burst to catch up
            std::this_thread::sleep_until(next);
        }
    }

    CGevCamera& m_Camera;
    const StreamOptions m_O;
    std::vector<uint8_t> m_Frame;
    std::vector<uint8_t> m_Source;  // the Mono16 test image before its conversion
    uint32_t m_Format = kMono16;
    size_t m_ImageBytes = 0;
    std::vector<uint8_t> m_LineValues = std::vector<uint8_t>(lineChunkBytes(m_O));
    const std::vector<uint8_t> m_Range = countingTable(0x10000);
    const std::vector<uint8_t> m_Intensity = countingTable(0x400);
    std::vector<ImagePartBuffer> m_Parts;
    std::atomic<uint64_t> m_Sent{0};
    std::thread m_Thread;
};

}  // namespace

int main(int argc, char** argv)
{
    const char* persistentIp = nullptr;
    const char* persistentMask = nullptr;
    const char* serial = nullptr;
    const char* xmlPath = nullptr;
    const char* address = nullptr;
    uint16_t gevMode = 1;
    StreamOptions stream;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--gev" && more) {
            const std::string v = argv[++i];
            if (v != "1.2" && v != "2.0")
                return usage();
            gevMode = v == "1.2" ? 0 : 1;
            continue;
        }
        if (a == "--stream" && more) {
            const std::string v = argv[++i];
            stream.parts = v == "image" ? 0 : v == "parts2" ? 2 : v == "parts3" ? 3 : -2;
            if (stream.parts == -2)
                return usage();
            continue;
        }
        if ((a == "--rate" || a == "--width" || a == "--lines") && more) {
            char* end = nullptr;
            const double v = std::strtod(argv[++i], &end);
            if (*end != 0 || !(v >= (a == "--rate" ? 0.1 : 1.0)) || v > (a == "--rate" ? 100000.0 : 4096.0))
                return usage();
            if (a == "--rate")
                stream.rate = v;
            else
                (a == "--width" ? stream.width : stream.lines) = static_cast<uint16_t>(v);
            continue;
        }
        if (a == "--chunks") {
            stream.chunks = true;
            continue;
        }
        if (a == "--formats" && more) {
            const std::string list = argv[++i];
            for (size_t start = 0; start <= list.size();) {
                const size_t comma = std::min(list.find(',', start), list.size());
                if (comma == start)
                    return usage();
                stream.formats.push_back(list.substr(start, comma - start));
                start = comma + 1;
            }
            continue;
        }
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
    camera->SetGevMode(gevMode);
    if (stream.parts >= 0 && !configureStream(*camera, stream)) {
        std::fprintf(stderr, "Error: stream configuration failed\n");
        return 1;
    }
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
    std::unique_ptr<Producer> producer;
    if (stream.parts >= 0)
        producer = std::make_unique<Producer>(*camera, stream);

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
    producer.reset();
    std::printf("stopped 0x%X\n", stopped);
    return stopped == GevResult::Ok ? 0 : 1;
}
