#include "gvsp_pcap.h"

#include "platform/bytes.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace gvsp_test {

bool WritePcap(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    uint8_t global[24] = {};
    platform::storeLE32(global, 0xA1B2C3D4);
    platform::storeLE16(global + 4, 2);
    platform::storeLE16(global + 6, 4);
    platform::storeLE32(global + 16, 65535 + 14 + 28);
    platform::storeLE32(global + 20, 1);  // Ethernet
    bool ok = std::fwrite(global, sizeof(global), 1, f) == 1;
    uint32_t usec = 0;
    for (const auto& d : datagrams) {
        std::vector<uint8_t> frame(14 + 20 + 8 + d.size(), 0);
        frame[12] = 0x08;  // IPv4
        uint8_t* ip = frame.data() + 14;
        ip[0] = 0x45;
        platform::storeBE16(ip + 2, static_cast<uint16_t>(20 + 8 + d.size()));
        ip[8] = 64;
        ip[9] = 17;
        platform::storeBE32(ip + 12, 0x7F000001);
        platform::storeBE32(ip + 16, 0x7F000002);
        uint32_t sum = 0;
        for (int i = 0; i < 20; i += 2)
            sum += platform::loadBE16(ip + i);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        platform::storeBE16(ip + 10, static_cast<uint16_t>(~sum));
        uint8_t* udp = ip + 20;
        platform::storeBE16(udp, 40000);
        platform::storeBE16(udp + 2, port);
        platform::storeBE16(udp + 4, static_cast<uint16_t>(8 + d.size()));
        std::copy(d.begin(), d.end(), udp + 8);
        uint8_t rec[16];
        platform::storeLE32(rec, 1);
        platform::storeLE32(rec + 4, usec++);
        platform::storeLE32(rec + 8, static_cast<uint32_t>(frame.size()));
        platform::storeLE32(rec + 12, static_cast<uint32_t>(frame.size()));
        ok = ok && std::fwrite(rec, sizeof(rec), 1, f) == 1 && std::fwrite(frame.data(), frame.size(), 1, f) == 1;
    }
    return std::fclose(f) == 0 && ok;
}

namespace {

std::string tsharkGvsp(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port)
{
    char path[] = "/tmp/gvsp_capture_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "no capture file";
    close(fd);
    if (!WritePcap(path, datagrams, port)) {
        std::remove(path);
        return "capture not written";
    }
    const std::string cmd = std::string("tshark -n -r ") + path + " -d udp.port==" + std::to_string(port) +
                            ",gvsp -V -o gvsp.enable_heuristic:FALSE 2>&1";
    std::string text;
    if (FILE* out = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), out)) > 0)
            text.append(buf, n);
        pclose(out);
    }
    std::remove(path);
    return text;
}

}  // namespace

std::string GvspDissectionFault(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port)
{
    const std::string text = tsharkGvsp(datagrams, port);
    if (text.find("Malformed") != std::string::npos || text.find("Expert Info (Error") != std::string::npos)
        return text.substr(0, 4000);
    size_t frames = 0;
    for (size_t at = text.find("GigE Vision Streaming Protocol"); at != std::string::npos;
         at = text.find("GigE Vision Streaming Protocol", at + 1))
        ++frames;
    if (frames != datagrams.size())
        return std::to_string(frames) + " of " + std::to_string(datagrams.size()) + " datagrams dissected as GVSP\n" +
               text.substr(0, 4000);
    return "";
}

}  // namespace gvsp_test
