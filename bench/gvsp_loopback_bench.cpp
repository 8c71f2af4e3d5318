// Streams blocks through one stream channel to a loopback receiver and prints
// blocks/s, Gbit/s and the sending threads' CPU seconds per gigabyte.
#include "model/register_map.h"
#include "server/stream/stream_protocol.h"
#include "udp/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

double threadCpu(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t packet = argc > 1 ? uint32_t(std::atoi(argv[1])) : 8192;  // SCPS size
    const uint32_t blocks = argc > 2 ? uint32_t(std::atoi(argv[2])) : 400;
    const uint32_t width = 2048, height = 2048;  // Mono16: 8 MiB blocks

    auto tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
    Kivu::RegisterMap map(tree);
    map.UInt(0x0024)->SetValue(0x7F000001);
    map.UInt(0xA030)->SetValue(0xFFFF);
    Kivu::StreamProtocol p(tree, 0);
    p.Start(Kivu::GevMode::Extended);
    p.SetGeometry({width, height, 0x01100007, 0, 0});

    const platform::UniqueFD socket = Kivu::Udp::OpenBound(0x7F000001, 64 << 20);
    const int rx = socket.get();
    timeval tv{0, 300000};
    ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));

    std::atomic<uint64_t> bytes{0}, trailers{0}, packets{0};
    std::thread receiver([&] {
        std::vector<uint8_t> buf(64 * 70000);
        std::vector<mmsghdr> msgs(64);
        std::vector<iovec> iov(64);
        for (;;) {
            for (size_t i = 0; i < 64; ++i) {
                iov[i] = {buf.data() + i * 70000, 70000};
                msgs[i] = mmsghdr{};
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = ::recvmmsg(rx, msgs.data(), 64, MSG_WAITFORONE, nullptr);
            if (n <= 0)
                break;
            for (int i = 0; i < n; ++i) {
                bytes += msgs[i].msg_len;
                ++packets;
                if ((buf[size_t(i) * 70000 + 4] & 0x0F) == 2)
                    ++trailers;
            }
        }
    });

    auto reg = [&](uint32_t a) { return std::dynamic_pointer_cast<Kivu::UIntReg>(tree->Find(a)); };
    reg(0x0D04)->SetValue(0x40000000 | packet);
    reg(0x0D18)->SetValue(0x7F000001);
    reg(0x0D00)->SetValue(Kivu::Udp::LocalPort(rx));
    map.UInt(0xA04C)->SetValue(0);

    std::vector<uint8_t> frame(size_t(width) * height * 2, 0x5A);
    const auto t0 = std::chrono::steady_clock::now();
    clockid_t producerClock;
    pthread_getcpuclockid(pthread_self(), &producerClock);
    const double c0 = threadCpu(CLOCK_PROCESS_CPUTIME_ID);
    const double p0 = threadCpu(producerClock);
    for (uint32_t i = 0; i < blocks; ++i) {
        p.WaitReady();
        p.SendImage(frame.data(), 0, 0, 0);
    }
    // Let the queue drain: wait until every buffer is free again.
    while (p.FreeBufferCount() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpuProcess = threadCpu(CLOCK_PROCESS_CPUTIME_ID) - c0;
    const double cpuProducer = threadCpu(producerClock) - p0;
    p.Stop();
    receiver.join();
    const double gb = double(bytes.load()) / 1e9;
    std::printf("packet size %u, %u blocks of %zu bytes\n", packet, blocks, frame.size());
    std::printf("received %llu packets, %llu trailers (blocks), %.3f GB in %.3f s\n",
                (unsigned long long)packets.load(), (unsigned long long)trailers.load(), gb, secs);
    std::printf("%.1f blocks/s, %.2f Gbit/s received\n", double(trailers.load()) / secs, gb * 8 / secs);
    std::printf("producer thread CPU %.3f s (%.3f s/GB), process CPU incl. receiver %.3f s\n", cpuProducer,
                cpuProducer / gb, cpuProcess);
    return 0;
}
