// The scanner client's whole road on loopback: a sender of 2048-column profile containers
// (paced from the first profile after connecting, or as fast as TCP takes them) -> TCP ->
// the library's receive thread (parser, frame ring) -> Quillan_GetXZIExtended on a reader
// thread. Prints per run: profiles sent and delivered, lost, delivered per second (first
// second and whole run) and the receive thread's CPU.
//
// The road has three busy threads (sender, receive thread, reader); when the process is pinned
// to fewer than three CPUs (scripts/bench pins to one) it spreads itself over all online CPUs.
//
// Two readers: "decode" asks for x, z, intensity and width (the frame decoded and converted to
// millimetres), "raw" for the frame's bytes only, which shows what the receive side alone carries.
//
// Options: --seconds=S (2), --runs=N (3), --rates=6000,20000,50000,0 (0 = unpaced),
// --readers=decode,raw.
#include "quillan.h"
#include "scanner_sim/lin1dd.h"
#include "scanner_sim/profile_container.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kColumns = 2048;
// Distinct picture counters 0 .. kDistinct - 1, cycled; the reader counts gaps modulo this.
constexpr int kDistinct = 4096;

// Closes the descriptor when it leaves scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::set<int> threadIds()
{
    std::set<int> ids;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ids.insert(std::atoi(e->d_name));
        ::closedir(d);
    }
    return ids;
}

// Nanoseconds the thread has run on a CPU.
double threadCpuSeconds(int tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long ns = 0;
    in >> ns;
    return static_cast<double>(ns) / 1e9;
}

void spreadOverCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0 || CPU_COUNT(&set) >= 3)
        return;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    CPU_ZERO(&set);
    for (long c = 0; c < online && c < CPU_SETSIZE; ++c)
        CPU_SET(static_cast<int>(c), &set);
    if (sched_setaffinity(0, sizeof(set), &set) == 0)
        std::printf("pinned to fewer than 3 CPUs: spread over all %ld online CPUs\n", online);
}

struct Frames {
    std::string lin;
    std::vector<std::string> profiles;
};

Frames buildFrames()
{
    Frames f;
    scanner_sim::ProfileSettings settings;
    settings.status.roiWidthX = kColumns;
    settings.status.roiHeightZ = 1088;
    f.lin = scanner_sim::lin1ddFrame(settings.geometry);
    f.profiles.reserve(kDistinct);
    for (int i = 0; i < kDistinct; ++i) {
        scanner_sim::ProfileCounters counters;
        counters.index = static_cast<uint64_t>(i);
        counters.pictureCounter = static_cast<uint16_t>(i);
        counters.timeStamp = static_cast<uint32_t>(i * 20);
        f.profiles.push_back(scanner_sim::profileContainer(settings, counters));
    }
    return f;
}

bool sendAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Sends profiles first .. first + count - 1 in one writev (as many calls as it takes).
bool sendProfiles(int fd, const Frames& f, uint64_t first, size_t count)
{
    std::vector<iovec> iov(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string& p = f.profiles[(first + i) % kDistinct];
        iov[i] = {const_cast<char*>(p.data()), p.size()};
    }
    size_t at = 0;
    while (at < iov.size()) {
        ssize_t n = ::writev(fd, iov.data() + at, static_cast<int>(std::min<size_t>(iov.size() - at, IOV_MAX)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        size_t left = static_cast<size_t>(n);
        while (at < iov.size() && left >= iov[at].iov_len)
            left -= iov[at++].iov_len;
        if (left > 0) {
            iov[at].iov_base = static_cast<char*>(iov[at].iov_base) + left;
            iov[at].iov_len -= left;
        }
    }
    return true;
}

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The picture counter of a container's profile header block (0x021A0101), or -1.
int pictureCounter(const std::vector<unsigned char>& c)
{
    for (size_t at = 8; at + 10 <= c.size();) {
        const uint32_t tag = le32(&c[at]);
        const uint32_t length = le32(&c[at + 4]);
        if (tag == 0x021A0101u)
            return c[at + 8] | c[at + 9] << 8;
        if (length < 8)
            break;
        at += length;
    }
    return -1;
}

struct RunResult {
    uint64_t sent = 0;
    uint64_t sentFirstSecond = 0;
    uint64_t delivered = 0;
    uint64_t deliveredFirstSecond = 0;  // of the profiles sent in the first second
    double seconds = 0;                 // first profile sent to last one delivered
    double receiveCpu = 0;
    int badProfiles = 0;
    bool ok = true;
    std::string error;
};

RunResult runOnce(const Frames& frames, int rate, double seconds, bool decode)
{
    RunResult r;
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t addrLength = sizeof(addr);
    int one = 1;
    ::setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listener.fd, 1) != 0 ||
        ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&addr), &addrLength) != 0) {
        r.ok = false;
        r.error = "listen failed";
        return r;
    }
    std::string port = std::to_string(ntohs(addr.sin_port));

    const std::set<int> before = threadIds();
    QuillanHandle h = Quillan_Connect(const_cast<char*>("127.0.0.1"), port.data(), 0);
    if (!h) {
        r.ok = false;
        r.error = "connect failed";
        return r;
    }
    int receiveThread = 0;
    for (int tid : threadIds())
        if (!before.count(tid))
            receiveThread = tid;

    Fd peer(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    int buffer = 41984000;
    ::setsockopt(peer.fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
    ::setsockopt(peer.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    // The client's hello text and start packet.
    char hello[64];
    size_t got = 0;
    while (got < 43) {
        ssize_t n = ::recv(peer.fd, hello, sizeof(hello), 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    const double cpu0 = threadCpuSeconds(receiveThread);

    std::atomic<bool> sending{true};
    std::atomic<int64_t> firstSentNs{0};
    std::atomic<uint64_t> sentFirstSecond{0};
    uint64_t sent = 0;
    std::thread sender([&] {
        if (!sendAll(peer.fd, frames.lin.data(), frames.lin.size()))
            return;
        const auto start = Clock::now();
        firstSentNs = start.time_since_epoch().count();
        const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        bool firstSecondNoted = false;
        while (true) {
            auto now = Clock::now();
            if (now >= end)
                break;
            if (!firstSecondNoted && now - start >= std::chrono::seconds(1)) {
                sentFirstSecond = sent;
                firstSecondNoted = true;
            }
            size_t count = 16;
            if (rate > 0) {
                const double elapsed = std::chrono::duration<double>(now - start).count();
                const uint64_t due = static_cast<uint64_t>(elapsed * rate) + 1;
                if (due <= sent) {
                    const auto next = start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(static_cast<double>(sent) / rate));
                    std::this_thread::sleep_until(next);
                    continue;
                }
                count = static_cast<size_t>(due - sent);
            }
            if (!sendProfiles(peer.fd, frames, sent, count))
                break;
            sent += count;
        }
        if (!firstSecondNoted)
            sentFirstSecond = sent;
        sending = false;
    });

    // Reader: every profile it can get; a profile is numbered by its counter's gap to the last.
    std::vector<double> x(kColumns), z(kColumns);
    std::vector<int> intensity(kColumns), width(kColumns);
    std::vector<unsigned char> raw(frames.profiles.front().size());
    uint64_t sequence = 0;
    int lastCounter = -1;
    std::vector<uint64_t> sequences;
    sequences.reserve(1 << 20);
    auto lastDelivery = Clock::now();
    auto idleSince = Clock::now();
    while (true) {
        unsigned encoder = 0;
        unsigned char io = 0;
        int counter = -1;
        int n = decode ? Quillan_GetXZIExtended(h, x.data(), z.data(), intensity.data(), width.data(), kColumns,
                                                &encoder, &io, 50, nullptr, 0, &counter)
                       : Quillan_GetXZIExtended(h, nullptr, nullptr, nullptr, nullptr, 0, &encoder, &io, 50,
                                                raw.data(), static_cast<int>(raw.size()), nullptr);
        if (n == -2) {  // linearization data not yet parsed
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        if (n < 0) {
            if (!sending && Clock::now() - idleSince > std::chrono::milliseconds(300))
                break;
            continue;
        }
        idleSince = Clock::now();
        if (!decode)
            counter = pictureCounter(raw);
        if (n != (decode ? kColumns : static_cast<int>(raw.size())))
            ++r.badProfiles;
        sequence += lastCounter < 0 ? static_cast<uint64_t>(counter)
                                    : static_cast<uint64_t>((counter - lastCounter + kDistinct) % kDistinct);
        lastCounter = counter;
        ++r.delivered;
        sequences.push_back(sequence);
        lastDelivery = Clock::now();
    }
    sender.join();
    r.receiveCpu = threadCpuSeconds(receiveThread) - cpu0;
    r.sent = sent;
    r.sentFirstSecond = sentFirstSecond;
    for (uint64_t q : sequences)
        r.deliveredFirstSecond += q < r.sentFirstSecond;
    // From the first profile sent to the last one delivered.
    r.seconds = std::chrono::duration<double>(lastDelivery.time_since_epoch() -
                                              Clock::duration(firstSentNs.load())).count();
    Quillan_Disconnect(h);
    return r;
}

std::vector<int> parseRates(const std::string& text)
{
    std::vector<int> rates;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        rates.push_back(std::atoi(item.c_str()));
    return rates;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 2;
    int runs = 3;
    std::vector<int> rates = {6000, 20000, 50000, 0};
    std::vector<std::string> readers = {"decode", "raw"};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--seconds=", 0) == 0)
            seconds = std::atof(a.c_str() + 10);
        else if (a.rfind("--runs=", 0) == 0)
            runs = std::atoi(a.c_str() + 7);
        else if (a.rfind("--rates=", 0) == 0)
            rates = parseRates(a.substr(8));
        else if (a.rfind("--readers=", 0) == 0) {
            readers.clear();
            std::stringstream in(a.substr(10));
            for (std::string item; std::getline(in, item, ',');)
                readers.push_back(item);
        }
    }
    if (seconds < 1)
        seconds = 1;
    spreadOverCpus();
    const Frames frames = buildFrames();
    std::printf("client path: %d-column containers of %zu bytes, %.1f s per run, a new connection per run\n",
                kColumns, frames.profiles.front().size(), seconds);
    std::printf("%-7s %-9s %4s %9s %9s %8s %7s %11s %11s %9s\n", "reader", "rate/s", "run", "sent", "delivered", "lost",
                "lost 1s", "deliv/s 1s", "deliv/s", "rx CPU %");
    int failures = 0;
    for (const std::string& reader : readers)
    for (int rate : rates) {
        for (int run = 1; run <= runs; ++run) {
            RunResult r = runOnce(frames, rate, seconds, reader != "raw");
            if (!r.ok) {
                std::printf("%-7s %-9d %4d error: %s\n", reader.c_str(), rate, run, r.error.c_str());
                ++failures;
                continue;
            }
            const uint64_t lostFirst = r.sentFirstSecond - std::min(r.sentFirstSecond, r.deliveredFirstSecond);
            std::printf("%-7s %-9s %4d %9llu %9llu %8llu %7llu %11llu %11.0f %9.1f%s\n",
                        reader.c_str(), rate > 0 ? std::to_string(rate).c_str() : "unpaced", run,
                        static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.delivered),
                        static_cast<unsigned long long>(r.sent - std::min(r.sent, r.delivered)),
                        static_cast<unsigned long long>(lostFirst),
                        static_cast<unsigned long long>(r.deliveredFirstSecond),
                        static_cast<double>(r.delivered) / r.seconds, 100.0 * r.receiveCpu / r.seconds,
                        r.badProfiles ? " (profiles with a wrong point count)" : "");
        }
    }
    return failures == 0 ? 0 : 1;
}
