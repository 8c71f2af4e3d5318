// READREG round trips per second: this device's control protocol against Aravis's fake camera,
// both on loopback, measured by the same client in the same run.
#include "model/register_map.h"
#include "server/control_protocol.h"

#include "platform/bytes.h"
#include "platform/unique_fd.h"

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr uint32_t kOurs = 0x7F00001F;    // 127.0.0.31
constexpr uint32_t kFake = 0x7F000001;    // 127.0.0.1: the fake camera needs an interface address

class Client {
public:
    explicit Client(uint32_t device) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(3956);
        sa.sin_addr.s_addr = htonl(device);
        ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    }

    // One READREG of the version register; false when no matching acknowledge came within 200 ms.
    bool readReg()
    {
        uint8_t req[12];
        ++id_;
        if (id_ == 0)
            id_ = 1;
        platform::storeBE16(req, 0x4201);
        platform::storeBE16(req + 2, 0x0080);
        platform::storeBE16(req + 4, 4);
        platform::storeBE16(req + 6, id_);
        platform::storeBE32(req + 8, 0x0000);
        if (::send(fd_.get(), req, sizeof(req), 0) != sizeof(req))
            return false;
        uint8_t ack[64];
        for (;;) {
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0)
                return false;
            ssize_t n = ::recv(fd_.get(), ack, sizeof(ack), 0);
            if (n >= 12 && platform::loadBE16(ack + 6) == id_)
                return platform::loadBE16(ack) == 0 && platform::loadBE16(ack + 2) == 0x0081;
        }
    }

    double ratePerSecond(std::chrono::milliseconds duration)
    {
        auto start = std::chrono::steady_clock::now();
        auto end = start + duration;
        long done = 0;
        while (std::chrono::steady_clock::now() < end)
            if (readReg())
                ++done;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return done / seconds;
    }

private:
    platform::UniqueFD fd_;
    uint16_t id_ = 0;
};

struct OurDevice {
    std::shared_ptr<Kivu::RegTree> tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
    Kivu::RegisterMap map{tree};
    std::unique_ptr<Kivu::ControlProtocol> control;

    OurDevice()
    {
        map.UInt(0x0024)->SetValue(kOurs);
        map.UInt(0x0034)->SetValue(0xFF000000);
        map.UInt(0xA024)->SetValue(kOurs);
        map.UInt(0xA028)->SetValue(0xFF000000);
        control = std::make_unique<Kivu::ControlProtocol>(tree);
        Kivu::ServeOptions options;
        options.broadcastListeners = false;
        control->SetServeOptions(options);
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    OurDevice ours;
    if (ours.control->Start(0) != 0) {
        std::fprintf(stderr, "cannot serve on 127.0.0.31:3956\n");
        return 1;
    }

    pid_t fake = 0;
    const char* fakeArgs[] = {"arv-fake-gv-camera-0.8", "-i", "127.0.0.1", nullptr};
    bool haveFake = ::posix_spawnp(&fake, fakeArgs[0], nullptr, nullptr, const_cast<char**>(fakeArgs), environ) == 0;
    Client oursClient(kOurs), fakeClient(kFake);
    if (haveFake) {
        bool up = false;
        for (int i = 0; i < 50 && !up; ++i)
            up = fakeClient.readReg();
        haveFake = up;
    }

    std::vector<double> oursRates, fakeRates;
    for (int r = 0; r < rounds; ++r) {
        oursRates.push_back(oursClient.ratePerSecond(std::chrono::milliseconds(1000)));
        if (haveFake)
            fakeRates.push_back(fakeClient.ratePerSecond(std::chrono::milliseconds(1000)));
    }
    if (fake > 0) {
        ::kill(fake, SIGTERM);
        ::waitpid(fake, nullptr, 0);
    }
    ours.control->Stop();

    std::printf("gvcp READREG round trips/s, %d rounds of 1 s\n", rounds);
    std::printf("  this device:          median %.0f  best %.0f\n", median(oursRates),
                *std::max_element(oursRates.begin(), oursRates.end()));
    if (haveFake) {
        std::printf("  aravis fake camera:   median %.0f  best %.0f\n", median(fakeRates),
                    *std::max_element(fakeRates.begin(), fakeRates.end()));
        std::printf("  ratio (median):       %.2f\n", median(oursRates) / median(fakeRates));
    } else {
        std::printf("  aravis fake camera:   not available (arv-fake-gv-camera-0.8)\n");
    }
    return 0;
}
