#pragma once
// A register map with stream channels, a loopback receiver and a recording socket.
#include "model/register_map.h"
#include "server/stream/stream_channels.h"
#include "udp/udp_socket.h"
#include "gvsp_reassembler.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace stream_test {

constexpr uint32_t kLoopback = 0x7F000001;

// A UDP socket on 127.0.0.1 that collects datagrams.
class Receiver {
public:
    Receiver() : m_Fd(Kivu::Udp::OpenBound(kLoopback, 8 << 20)), m_Port(Kivu::Udp::LocalPort(m_Fd.get()))
    {
        timeval tv{0, 200000};
        ::setsockopt(m_Fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }

    uint16_t Port() const { return m_Port; }

    // Datagrams until `count` arrived or a 200 ms silence.
    std::vector<std::vector<uint8_t>> Receive(size_t count)
    {
        std::vector<std::vector<uint8_t>> out;
        std::vector<uint8_t> buf(70000);
        while (out.size() < count) {
            const ssize_t n = ::recv(m_Fd.get(), buf.data(), buf.size(), 0);
            if (n < 0)
                break;
            out.emplace_back(buf.begin(), buf.begin() + n);
        }
        return out;
    }

private:
    platform::UniqueFD m_Fd;
    uint16_t m_Port = 0;
};

// Records every packet handed to the socket, and can hold the sender in Send.
class RecordingSocket : public Kivu::StreamSocket {
public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::vector<uint8_t>> packets;
        std::vector<std::chrono::steady_clock::time_point> times;
        bool hold = false;
        bool held = false;  // a Send waits at the gate
        bool forward = false;
    };

    explicit RecordingSocket(std::shared_ptr<Shared> s) : m_S(std::move(s)) {}

    size_t Send(mmsghdr* messages, size_t count) override
    {
        const auto entered = std::chrono::steady_clock::now();
        std::unique_lock lk(m_S->mutex);
        m_S->held = m_S->hold;
        m_S->cv.notify_all();
        m_S->cv.wait(lk, [&] { return !m_S->hold; });
        m_S->held = false;
        for (size_t i = 0; i < count; ++i) {
            std::vector<uint8_t> p;
            const msghdr& h = messages[i].msg_hdr;
            for (size_t k = 0; k < h.msg_iovlen; ++k) {
                const auto* b = static_cast<const uint8_t*>(h.msg_iov[k].iov_base);
                p.insert(p.end(), b, b + h.msg_iov[k].iov_len);
            }
            m_S->packets.push_back(std::move(p));
            m_S->times.push_back(entered);
        }
        m_S->cv.notify_all();
        lk.unlock();
        return m_S->forward ? StreamSocket::Send(messages, count) : count;
    }

private:
    std::shared_ptr<Shared> m_S;
};

// A camera-less channel: register map, one StreamProtocol, current IP 127.0.0.1.
struct Channel {
    explicit Channel(std::unique_ptr<Kivu::StreamSocket> socket = std::make_unique<Kivu::StreamSocket>())
        : tree(std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize)), map(tree)
    {
        map.UInt(0x0024)->SetValue(kLoopback);
        map.UInt(0xA030)->SetValue(9000);
        protocol = std::make_unique<Kivu::StreamProtocol>(tree, 0, std::move(socket));
    }

    std::shared_ptr<Kivu::UIntReg> Reg(uint32_t address)
    {
        return std::dynamic_pointer_cast<Kivu::UIntReg>(tree->Find(address));
    }

    // Remote write of a value (the tree takes network order).
    uint32_t RemoteWrite(uint32_t address, uint32_t value)
    {
        return tree->WriteRegister(address, htonl(value), Kivu::Origin::Remote);
    }

    // Destination, packet size, start of acquisition.
    void Open(uint16_t port, uint32_t scps = 1500)
    {
        Reg(0x0D04)->SetValue(0x40000000 | scps);
        Reg(0x0D18)->SetValue(kLoopback);
        Reg(0x0D00)->SetValue(port);
        Reg(0xA04C)->SetValue(0);
    }

    std::shared_ptr<Kivu::RegTree> tree;
    Kivu::RegisterMap map;
    std::unique_ptr<Kivu::StreamProtocol> protocol;
};

}  // namespace stream_test
