#pragma once
// Runs a test body in a child process inside a network namespace of its own.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace nstest {

constexpr int kSkipped = 77;

// Runs a shell command in the current namespace; true when it succeeded.
inline bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Removes CAP_NET_ADMIN from the calling process's effective set.
inline bool DropNetAdmin()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// The child unshares its network namespace, brings lo up and runs body; its
// failures become the caller's. Skipped without the privilege for namespaces.
inline void RunInFreshNetns(const std::function<void()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::unshare(CLONE_NEWNET) != 0 || !Shell("ip link set lo up"))
            ::_exit(kSkipped);
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipped)
        GTEST_SKIP() << "network namespaces need root";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in the namespace child above";
}

}  // namespace nstest
