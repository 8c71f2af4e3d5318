#include "server/datagram_socket.h"
#include "server/transmit_socket.h"
#include "socket_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using Kivu::Datagram;
using Kivu::DatagramSocket;
using Kivu::TransmitElement;
using Kivu::TransmitSocket;
using namespace std::chrono_literals;
using test_support::bytesOf;
using test_support::loopback;

TEST(TransmitSocket, OpenTwiceKeepsTheSocket)
{
    TransmitSocket t;
    EXPECT_FALSE(t.WaitOverlapped());
    ASSERT_TRUE(t.Open(loopback(41)));
    const uint16_t port = t.GetLocalPort();
    EXPECT_NE(port, 0);
    EXPECT_TRUE(t.Open(loopback(41)));
    EXPECT_EQ(t.GetLocalPort(), port);
    EXPECT_TRUE(t.WaitOverlapped());
    t.Close();
    EXPECT_FALSE(t.TransmitPackets(nullptr, 0));
}

TEST(TransmitSocket, ElementsFormPacketsInOrderAcrossBatches)
{
    DatagramSocket rx;
    ASSERT_TRUE(rx.Open(loopback(42), 0));
    TransmitSocket t;
    ASSERT_TRUE(t.Open(loopback(43)));
    ASSERT_TRUE(t.Connect(loopback(42), rx.GetLocalPort()));

    // 1500 packets (more than one sendmmsg call), each a 4-byte header plus a payload element.
    constexpr size_t kPackets = 1500;
    std::vector<std::vector<uint8_t>> headers(kPackets), payloads(kPackets);
    std::vector<TransmitElement> elements;
    for (size_t i = 0; i < kPackets; ++i) {
        headers[i] = {uint8_t(i >> 8), uint8_t(i), 0xAB, 0xCD};
        payloads[i].assign(1 + i % 5, uint8_t(i));
        elements.push_back({headers[i].data(), 4, false});
        elements.push_back({payloads[i].data(), uint32_t(payloads[i].size()), true});
    }
    ASSERT_TRUE(t.TransmitPackets(elements.data(), elements.size()));

    auto in = std::make_unique<Datagram>();
    for (size_t i = 0; i < kPackets; ++i) {
        ASSERT_TRUE(rx.RecvFrom(*in)) << i;
        std::vector<uint8_t> expected = headers[i];
        expected.insert(expected.end(), payloads[i].begin(), payloads[i].end());
        ASSERT_EQ(bytesOf(*in), expected) << "packet " << i;
        EXPECT_EQ(in->port, t.GetLocalPort());
    }

    const TransmitElement bad{nullptr, 10, true};
    EXPECT_FALSE(t.TransmitPackets(&bad, 1));
}

TEST(TransmitSocket, RefusedPeerFailsTheSendButNotTheSocket)
{
    DatagramSocket gone;
    ASSERT_TRUE(gone.Open(loopback(44), 0));
    const uint16_t deadPort = gone.GetLocalPort();
    gone.Close();

    TransmitSocket t;
    ASSERT_TRUE(t.Open(loopback(45)));
    ASSERT_TRUE(t.Connect(loopback(44), deadPort));
    const uint8_t byte = 1;
    const TransmitElement one{&byte, 1, true};
    bool refused = false;
    for (int i = 0; i < 20 && !refused; ++i) {
        refused = !t.TransmitPackets(&one, 1);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(refused) << "the port-unreachable answer is reported";

    DatagramSocket rx;
    ASSERT_TRUE(rx.Open(loopback(44), 0));
    ASSERT_TRUE(t.Connect(loopback(44), rx.GetLocalPort()));
    EXPECT_TRUE(t.TransmitPackets(&one, 1));
    auto in = std::make_unique<Datagram>();
    ASSERT_TRUE(rx.RecvFrom(*in));
    EXPECT_EQ(in->length, 1);
}

TEST(TransmitSocket, DontFragmentCanBeSwitched)
{
    TransmitSocket t;
    EXPECT_FALSE(t.SetDontFragment(true));
    ASSERT_TRUE(t.Open(loopback(46)));
    EXPECT_TRUE(t.SetDontFragment(true));
    EXPECT_TRUE(t.SetDontFragment(false));
}
