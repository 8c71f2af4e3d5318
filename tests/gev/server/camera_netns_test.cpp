// The camera on a veth pair between two network namespaces: the served address
// is added to the device side and removed again, and a client on the other
// side reaches the device on it.
#include "server/camera.h"
#include "netns.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr)
            out += buffer;
        ::pclose(p);
    }
    return out;
}

bool hasAddress(const char* ip)
{
    return nstest::Shell(std::string("ip -4 addr show dev vdev | grep -q 'inet ") + ip + "/'");
}

TEST(CameraNetns, ServedAddressComesAndGoesWithTheCamera)
{
    if (!nstest::Shell("command -v arv-tool-0.8"))
        GTEST_SKIP() << "arv-tool-0.8 missing";
    nstest::RunInFreshNetns([] {
        const std::string pidFile = "/tmp/gev_netns_client." + std::to_string(::getpid());
        ASSERT_TRUE(nstest::Shell("ip link add vdev type veth peer name vcli && "
                                  "ip addr add 10.77.0.1/24 dev vdev && ip link set vdev up && "
                                  "(unshare -n sleep 60 >/dev/null 2>&1 & echo $! >" + pidFile + ")"));
        int client = 0;
        std::ifstream(pidFile) >> client;
        std::remove(pidFile.c_str());
        ASSERT_GT(client, 0);
        // The pid is known before unshare has left this namespace: wait until it has.
        const std::string clientNs = "$(readlink /proc/" + std::to_string(client) + "/ns/net)";
        ASSERT_TRUE(nstest::Shell("for i in $(seq 1000); do [ \"" + clientNs +
                                  "\" != \"$(readlink /proc/self/ns/net)\" ] && exit 0; sleep 0.01; done; exit 1"));
        const std::string in = "nsenter -t " + std::to_string(client) + " -n ";
        ASSERT_TRUE(nstest::Shell("ip link set vcli netns " + std::to_string(client)));
        ASSERT_TRUE(nstest::Shell(in + "sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 dev vcli && "
                                       "ip link set vcli up'"));

        {
            Kivu::Camera camera;
            ASSERT_EQ(camera.SetPersistentIp("10.77.0.50", "255.255.255.0", nullptr), 0u);
            ASSERT_EQ(camera.Start("10.77.0.1"), 0u);
            EXPECT_TRUE(hasAddress("10.77.0.50"));
            const std::string answer = capture(in + "timeout 20 arv-tool-0.8 -a 10.77.0.50 control 'R[0x0024]'");
            EXPECT_NE(answer.find("0x0a4d0032"), std::string::npos) << answer;
            ASSERT_EQ(camera.Stop(), 0u);
            EXPECT_FALSE(hasAddress("10.77.0.50"));

            // An address the user set up stays after Stop.
            ASSERT_TRUE(nstest::Shell("ip addr add 10.77.0.60/24 dev vdev"));
            ASSERT_EQ(camera.SetPersistentIp("10.77.0.60", "255.255.255.0", nullptr), 0u);
            ASSERT_EQ(camera.Start("10.77.0.1"), 0u);
            ASSERT_EQ(camera.Stop(), 0u);
            EXPECT_TRUE(hasAddress("10.77.0.60"));
        }

        // Without CAP_NET_ADMIN Start fails and leaves nothing behind.
        ASSERT_TRUE(nstest::DropNetAdmin());
        Kivu::Camera camera;
        ASSERT_EQ(camera.SetPersistentIp("10.77.0.70", "255.255.255.0", nullptr), 0u);
        EXPECT_EQ(camera.Start("10.77.0.1"), GevResult::Fail);
        EXPECT_FALSE(camera.IsRunning());
        EXPECT_FALSE(hasAddress("10.77.0.70"));
        EXPECT_EQ(camera.Control().LocalPort(), 0u);
        ::kill(client, SIGKILL);
    });
}

}  // namespace
