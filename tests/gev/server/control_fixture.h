#pragma once
// A control protocol over the default register map, serving on a loopback
// address with an ephemeral port, and two clients.
#include "model/register_map.h"
#include "server/control_protocol.h"
#include "gvcp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace test_support {

constexpr uint32_t kServed = loopback(20);

class ControlFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Tree = std::make_shared<Kivu::RegTree>(Kivu::kRegTreeBase, Kivu::kRegTreeSize);
        m_Map = std::make_unique<Kivu::RegisterMap>(m_Tree);
        m_Map->UInt(0x0024)->SetValue(kServed);
        m_Map->UInt(0x0034)->SetValue(0xFF000000);
        m_Map->UInt(0xA024)->SetValue(kServed);
        m_Map->UInt(0xA028)->SetValue(0xFF000000);
        m_Control = std::make_unique<Kivu::ControlProtocol>(m_Tree, m_Net);
        Kivu::ServeOptions options;
        options.port = 0;
        options.broadcastListeners = false;
        m_Control->SetServeOptions(options);
        m_Control->SetClientConnectionCallback(this, &ControlFixture::onConnection);
        start();
    }

    void TearDown() override
    {
        m_Control.reset();
        m_Map.reset();
    }

    void start(uint32_t gevMode = 0)
    {
        ASSERT_EQ(m_Control->Start(gevMode), 0u);
        a.setServer(kServed, m_Control->LocalPort());
        b.setServer(kServed, m_Control->LocalPort());
    }

    uint32_t value(uint32_t address)
    {
        auto r = std::dynamic_pointer_cast<Kivu::UIntReg>(m_Tree->Find(address));
        EXPECT_TRUE(r) << "no register at " << address;
        return r ? r->GetValue() : 0xDEAD;
    }

    static void onConnection(void* context, bool connected)
    {
        auto* self = static_cast<ControlFixture*>(context);
        std::lock_guard lock(self->m_EventsMutex);
        self->m_ConnectionEvents.push_back(connected);
    }
    std::vector<bool> connectionEvents()
    {
        std::lock_guard lock(m_EventsMutex);
        return m_ConnectionEvents;
    }

    std::shared_ptr<Kivu::INetPlatform> m_Net;
    std::shared_ptr<Kivu::RegTree> m_Tree;
    std::unique_ptr<Kivu::RegisterMap> m_Map;
    std::unique_ptr<Kivu::ControlProtocol> m_Control;
    GvcpClient a{loopback(21)};
    GvcpClient b{loopback(22)};
    std::mutex m_EventsMutex;
    std::vector<bool> m_ConnectionEvents;
};

}  // namespace test_support
