#pragma once
// A camera over a fake host: scripted adapters and recorded address changes.
#include "server/camera.h"
#include "server/netif.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>
#include <mutex>
#include <vector>

namespace camera_test {

class FakeNet : public Kivu::INetPlatform {
public:
    std::vector<Kivu::AdapterRecord> adapters;
    Kivu::AddResult addResult = Kivu::AddResult::Added;
    std::mutex mutex;
    int adds = 0;
    int deletes = 0;

    std::vector<Kivu::AdapterRecord> ListAdapters() override { return adapters; }
    Kivu::AddResult AddAddress(uint32_t ip, uint32_t, int ifIndex, Kivu::AddedAddress* out, int*) override
    {
        std::lock_guard lock(mutex);
        ++adds;
        if (addResult == Kivu::AddResult::Added)
            *out = Kivu::AddedAddress{ifIndex, ip, 24};
        return addResult;
    }
    bool DeleteAddress(Kivu::AddedAddress& address) override
    {
        std::lock_guard lock(mutex);
        ++deletes;
        address = {};
        return true;
    }
};

inline Kivu::AdapterRecord adapter(uint32_t index, uint32_t ip, uint32_t mask, uint32_t type, uint32_t mtu,
                                   uint32_t mbps)
{
    Kivu::AdapterRecord r;
    r.ifIndex = index;
    r.ipv4Sys = ip;
    r.maskSys = mask;
    r.ifType = type;
    r.mtu = mtu;
    r.speedMbps = mbps;
    r.speedBps = mbps > 4294 ? 0xFFFFFFFFu : mbps * 1000000u;
    r.phys[0] = 0x02;
    r.phys[5] = static_cast<uint8_t>(index);
    return r;
}

// lo as Linux reports it, and one Ethernet adapter on an address the tests never bind.
inline std::shared_ptr<FakeNet> defaultNet()
{
    auto net = std::make_shared<FakeNet>();
    net->adapters = {adapter(1, 0x7F000001, 0xFF000000, 24, 65536, 0),
                     adapter(2, 0x0A4D0001, 0xFFFFFF00, 6, 1500, 10000)};
    return net;
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override { make(defaultNet()); }

    void make(std::shared_ptr<FakeNet> n)
    {
        camera.reset();
        net = std::move(n);
        camera = std::make_unique<Kivu::Camera>(net);
        Kivu::ServeOptions options;
        options.port = 0;
        options.broadcastListeners = false;
        options.retry.attempts = 1;
        camera->Control().SetServeOptions(options);
    }

    uint32_t reg(uint32_t address)
    {
        uint32_t v = 0;
        EXPECT_EQ(camera->ReadRegister(address, &v), 0u) << std::hex << address;
        return ntohl(v);
    }

    std::shared_ptr<FakeNet> net;
    std::unique_ptr<Kivu::Camera> camera;
};

}  // namespace camera_test
