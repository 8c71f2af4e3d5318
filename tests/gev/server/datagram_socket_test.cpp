#include "server/datagram_socket.h"
#include "socket_helpers.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <future>
#include <thread>

using Kivu::BindRetry;
using Kivu::Datagram;
using Kivu::DatagramSocket;
using Kivu::ReceiveInfo;
using namespace std::chrono_literals;
using test_support::bytesOf;
using test_support::loopback;
using test_support::makeDatagram;

TEST(DatagramSocket, OpenBindsOnceAndReportsItsPort)
{
    DatagramSocket s;
    EXPECT_EQ(s.GetLocalPort(), 0);
    ASSERT_TRUE(s.Open(loopback(31), 0));
    EXPECT_NE(s.GetLocalPort(), 0);
    EXPECT_FALSE(s.Open(loopback(31), 0)) << "a second Open on an open socket";
    s.Close();
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.GetLocalPort(), 0);
    EXPECT_TRUE(s.Open(loopback(31), 0)) << "re-open after Close";
}

TEST(DatagramSocket, BindToAnUnavailableAddressFailsAfterEveryAttempt)
{
    DatagramSocket s;
    s.SetBindRetry(BindRetry{3, 20ms});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.Open(0xC0000201, 0));  // 192.0.2.1 is on no interface; bind only, nothing is sent
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms) << "two delays between three attempts";
    EXPECT_FALSE(s.IsOpen());
}

TEST(DatagramSocket, BindSucceedsOnceTheAddressBecomesFree)
{
    DatagramSocket holder;
    ASSERT_TRUE(holder.Open(loopback(32), 0));
    const uint16_t port = holder.GetLocalPort();

    DatagramSocket s;
    s.SetBindRetry(BindRetry{50, 10ms});
    auto opened = std::async(std::launch::async, [&] { return s.Open(loopback(32), port); });
    std::this_thread::sleep_for(50ms);
    holder.Close();
    EXPECT_TRUE(opened.get());
    EXPECT_EQ(s.GetLocalPort(), port);
}

TEST(DatagramSocket, SendToAndRecvFromCarryPeerAndBytes)
{
    DatagramSocket a, b;
    ASSERT_TRUE(a.Open(loopback(33), 0));
    ASSERT_TRUE(b.Open(loopback(34), 0));

    auto empty = makeDatagram(loopback(34), b.GetLocalPort(), {});
    EXPECT_FALSE(a.SendTo(*empty)) << "a zero-length datagram is not sent";

    std::vector<uint8_t> big(65507);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    auto out = makeDatagram(loopback(34), b.GetLocalPort(), big);
    ASSERT_TRUE(a.SendTo(*out));
    auto in = std::make_unique<Datagram>();
    ReceiveInfo info;
    ASSERT_TRUE(b.RecvFrom(*in, &info));
    EXPECT_EQ(in->address, loopback(33)) << "source is the bound address";
    EXPECT_EQ(in->port, a.GetLocalPort());
    EXPECT_FALSE(info.truncated);
    EXPECT_EQ(bytesOf(*in), big);

    DatagramSocket closed;
    EXPECT_FALSE(closed.SendTo(*out));
    EXPECT_FALSE(closed.RecvFrom(*in));
}

TEST(DatagramSocket, ShutdownWakesABlockedReceiver)
{
    DatagramSocket s;
    ASSERT_TRUE(s.Open(loopback(35), 0));
    auto in = std::make_unique<Datagram>();
    auto received = std::async(std::launch::async, [&] { return s.RecvFrom(*in); });
    EXPECT_EQ(received.wait_for(100ms), std::future_status::timeout) << "nothing was sent";
    s.Shutdown();
    ASSERT_EQ(received.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(received.get());
    EXPECT_FALSE(s.TryRecvFrom(*in)) << "stays shut down until closed";
    s.Close();

    // Opened again, it receives: the shutdown's wake-up is gone.
    ASSERT_TRUE(s.Open(loopback(35), 0));
    DatagramSocket sender;
    ASSERT_TRUE(sender.Open(loopback(34), 0));
    ASSERT_TRUE(sender.SendTo(*makeDatagram(loopback(35), s.GetLocalPort(), {0x42, 0x02})));
    EXPECT_TRUE(s.RecvFrom(*in));
    EXPECT_EQ(bytesOf(*in), (std::vector<uint8_t>{0x42, 0x02}));
}

TEST(DatagramSocket, ListenersShareAnAddressAndReportTheArrivalInterface)
{
    DatagramSocket first, second, sender;
    ASSERT_TRUE(first.OpenListener(loopback(36), 0));
    const uint16_t port = first.GetLocalPort();
    ASSERT_TRUE(second.OpenListener(loopback(36), port)) << "SO_REUSEADDR lets listeners share";
    ASSERT_TRUE(sender.Open(loopback(37), 0));

    ASSERT_TRUE(sender.SendTo(*makeDatagram(loopback(36), port, {0x42, 0x01})));
    auto in = std::make_unique<Datagram>();
    ReceiveInfo info;
    bool got = false;
    for (int i = 0; i < 50 && !got; ++i) {
        got = first.TryRecvFrom(*in, &info) || second.TryRecvFrom(*in, &info);
        if (!got)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(info.interfaceIndex, static_cast<int>(if_nametoindex("lo")));
    EXPECT_EQ(info.destination, loopback(36));
    EXPECT_EQ(in->address, loopback(37));
}
