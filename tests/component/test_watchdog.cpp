// The controller under systemd's watchdog: ready once its screen is up,
// petted while its threads make progress, never again once one stalls.
#include "helix_process.h"
#include "unit.h"

#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

TEST(Watchdog, ReadyThenPetsUntilTheSupervisorStalls) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff("EnableTime: 1\n"));
    sockaddr_un addr{AF_UNIX, {}};
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", root.Path("/notify").c_str());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    // A 3 s watchdog: checked every second.
    setenv("NOTIFY_SOCKET", addr.sun_path, 1);
    setenv("WATCHDOG_USEC", "3000000", 1);
    setenv("HELIX_TEST_STALL", "supervisor:/tmp/stall", 1);
    HelixProcess p;
    const bool started = p.Start(root.Path("/err.txt"));
    for (const char *v : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "HELIX_TEST_STALL"})
        unsetenv(v);
    ASSERT_TRUE(started);
    auto next = [&](int ms) {
        pollfd pfd{fd, POLLIN, 0};
        char buf[256] = {};
        if (poll(&pfd, 1, ms) != 1 || recv(fd, buf, sizeof buf - 1, 0) <= 0) return std::string();
        return std::string(buf);
    };
    EXPECT_EQ(next(kPatienceMs), "READY=1") << p.Err();
    EXPECT_EQ(next(kPatienceMs), "WATCHDOG=1");
    EXPECT_EQ(next(kPatienceMs), "WATCHDOG=1");

    WriteWholeFile(root.Path("/tmp/stall"), "");
    ASSERT_TRUE(p.WaitFor("test hook: the supervisor thread stalls")) << p.Err();
    // The check under way may still count the stalling beat; after it,
    // five seconds (five checks) without a pet.
    int pets = 0;
    for (std::string m = next(5000); !m.empty() && pets < 5; m = next(5000))
        pets += m == "WATCHDOG=1";
    EXPECT_LE(pets, 1);
    EXPECT_GE(p.Stop(SIGTERM), 0) << "did not stop";
    close(fd);
}

} // namespace
