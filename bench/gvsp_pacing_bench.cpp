// Streams blocks through one stream channel with an inter-packet delay (SCPD)
// and measures the gaps between consecutive packets of a block from the
// kernel's receive timestamps (SO_TIMESTAMPNS) on a loopback socket.
// usage: gvsp_pacing_bench [delay_us ...]   (default 5 20 100)
#include "model/register_map.h"
#include "server/stream/stream_protocol.h"
#include "udp/udp_socket.h"
#include "platform/bytes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kWidth = 1400, kLines = 100;  // Mono8: 97 payload packets of 1452 bytes at SCPS 1500
constexpr uint32_t kBlocks = 20;

struct Arrival {
    uint64_t blockId;
    int64_t ns;
};

// Every datagram waiting on fd (non-blocking), with its receive timestamp.
std::vector<Arrival> drain(int fd)
{
    std::vector<Arrival> out;
    std::vector<uint8_t> buf(9000);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    for (;;) {
        iovec v{buf.data(), buf.size()};
        msghdr m{};
        m.msg_iov = &v;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof(control);
        const ssize_t n = ::recvmsg(fd, &m, MSG_DONTWAIT);
        if (n < 0)
            break;
        if (n < 20)
            continue;
        int64_t ns = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts{};
                std::memcpy(&ts, CMSG_DATA(c), sizeof(ts));
                ns = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
            }
        }
        if (ns >= 0)
            out.push_back({platform::loadBE64(&buf[8]), ns});  // extended id mode
    }
    return out;
}

double percentile(const std::vector<double>& sorted, double p)
{
    const size_t i = std::min(sorted.size() - 1, static_cast<size_t>(p * double(sorted.size() - 1) + 0.5));
    return sorted[i];
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<double> delaysUs;
    for (int i = 1; i < argc; ++i)
        delaysUs.push_back(std::atof(argv[i]));
    if (delaysUs.empty())
        delaysUs = {5, 20, 100};

    auto tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
    Kivu::RegisterMap map(tree);
    map.UInt(0x0024)->SetValue(kLoopback);
    map.UInt(0xA030)->SetValue(9000);
    Kivu::StreamProtocol p(tree, 0);
    p.Start(Kivu::GevMode::Extended);
    p.SetGeometry({kWidth, kLines, 0x01080001, 0, 0});

    const platform::UniqueFD socket = Kivu::Udp::OpenBound(kLoopback, 64 << 20);
    const int rx = socket.get();
    const int on = 1;
    ::setsockopt(rx, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));

    auto reg = [&](uint32_t a) { return std::dynamic_pointer_cast<Kivu::UIntReg>(tree->Find(a)); };
    reg(0x0D04)->SetValue(0x40000000 | 1500);
    reg(0x0D18)->SetValue(kLoopback);
    reg(0x0D00)->SetValue(Kivu::Udp::LocalPort(rx));

    const std::vector<uint8_t> frame(size_t(kWidth) * kLines, 0x5A);
    const uint64_t tickHz = p.TickFrequency();
    std::printf("%u blocks of %u bytes per delay, SCPS 1500, tick frequency %llu Hz\n", kBlocks, kWidth * kLines,
                (unsigned long long)tickHz);
    std::printf("%10s %8s %10s %10s %10s %10s %10s %8s\n", "delay_us", "ticks", "gaps", "mean_us", "median_us",
                "p10_us", "p90_us", "dev_%");
    bool allWithin = true;
    for (const double us : delaysUs) {
        const uint32_t ticks = static_cast<uint32_t>(us * 1e-6 * double(tickHz) + 0.5);
        reg(0x0D08)->SetValue(ticks);
        const double setUs = double(ticks) / double(tickHz) * 1e6;
        map.UInt(0xA04C)->SetValue(0);
        for (uint32_t i = 0; i < kBlocks; ++i) {
            p.WaitReady();
            p.SendImage(frame.data(), 0, 0, 0);
        }
        // Every buffer is back but those kept for resend, one of which may be the
        // last block still on its way: give it a block's time.
        while (p.FreeBufferCount() < Kivu::StreamProtocol::kBuffers - Kivu::StreamProtocol::kHistory)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double blockUs = (double(frame.size()) / 1452 + 3) * setUs;
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(blockUs)) +
                                    std::chrono::milliseconds(20));
        map.UInt(0xA050)->SetValue(0);
        const std::vector<Arrival> got = drain(rx);
        std::vector<double> gaps;
        for (size_t i = 1; i < got.size(); ++i)
            if (got[i].blockId == got[i - 1].blockId)
                gaps.push_back(double(got[i].ns - got[i - 1].ns) / 1000.0);
        if (gaps.empty()) {
            std::printf("%10.1f %8u   no packets received\n", setUs, ticks);
            allWithin = false;
            continue;
        }
        double sum = 0;
        for (const double g : gaps)
            sum += g;
        const double mean = sum / double(gaps.size());
        std::sort(gaps.begin(), gaps.end());
        const double median = percentile(gaps, 0.5);
        const double dev = (mean - setUs) / setUs * 100.0;
        std::printf("%10.1f %8u %10zu %10.2f %10.2f %10.2f %10.2f %+8.1f\n", setUs, ticks, gaps.size(), mean,
                    median, percentile(gaps, 0.1), percentile(gaps, 0.9), dev);
        allWithin = allWithin && std::abs(dev) <= 10.0 && std::abs(median - setUs) <= setUs * 0.1;
    }
    std::printf("mean and median within 10%% of the delay: %s\n", allWithin ? "yes" : "no");
    p.Stop();
    return 0;
}
