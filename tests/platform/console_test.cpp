#include "platform/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe()
    {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    void closeWriter()
    {
        ::close(fds[1]);
        fds[1] = -1;
    }
    int fds[2] = {-1, -1};
};

TEST(Console, PollsWithoutWaitingAndReadsBytesUntilEndOfFile)
{
    Pipe p;
    EXPECT_FALSE(platform::inputWaiting(p.fds[0]));
    ASSERT_EQ(::write(p.fds[1], "a\xff", 2), 2);
    EXPECT_TRUE(platform::inputWaiting(p.fds[0]));
    EXPECT_EQ(platform::readByte(p.fds[0]), 'a');
    EXPECT_EQ(platform::readByte(p.fds[0]), 0xff);
    EXPECT_FALSE(platform::inputWaiting(p.fds[0]));
    p.closeWriter();
    // End of file stays readable and is not a byte.
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(platform::inputWaiting(p.fds[0]));
        EXPECT_EQ(platform::readByte(p.fds[0]), -1);
    }
}

}  // namespace
