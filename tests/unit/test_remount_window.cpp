// The /opt/set write window shared by every writer: counted, so one writer's
// read-only remount never lands inside another's save.
#include "unit.h"

#include "platform/files.h"
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct Window : ::testing::Test {
    ScopedSimRoot root;
    std::string Rw() const { return "mount -o remount defaults,rw " + root.root + "/opt/set"; }
    std::string Ro() const { return "mount -v -n -o remount -r " + root.root + "/opt/set"; }
};

TEST_F(Window, OverlappingWritersShareOneWindow) {
    ASSERT_EQ(RemountRw(), 0);
    // Another thread saves while the first writer is still inside.
    std::thread other([] { EXPECT_EQ(WriteFileSafe("/opt/set/x.txt", "x\n"), 0); });
    other.join();
    EXPECT_EQ(SimCommands(root.root), std::vector<std::string>{Rw()})
        << "no read-only remount while a writer is inside";
    EXPECT_EQ(RemountWindowUsers(), 1);
    EXPECT_EQ(RemountRo(), 0);
    EXPECT_EQ(SimCommands(root.root), (std::vector<std::string>{Rw(), Ro()}));
    EXPECT_EQ(ReadWholeFile(root.Path("/opt/set/x.txt")), "x\n");

    // A failed read-write remount opens nothing; the next writer tries again.
    SimCommandFails(root.root, "mount", true);
    EXPECT_NE(RemountRw(), 0);
    EXPECT_EQ(RemountWindowUsers(), 0);
    SimCommandFails(root.root, "mount", false);
    EXPECT_EQ(RemountRw(), 0);
    EXPECT_EQ(RemountRo(), 0);
    EXPECT_EQ(SimCommands(root.root).size(), 5u);
    EXPECT_EQ(SimCommands(root.root).back(), Ro());
}

// Appends leave whole lines only: a torn line from a power cut is cut away,
// and an append that does not fit (a full card) is rolled back.
TEST_F(Window, AppendKeepsWholeLinesOnAFullCard) {
    std::string path = root.Path("/opt/set/log.txt");
    WriteWholeFile(path, "one\ntwo\nhalf a rec");
    EXPECT_EQ(AppendFileFlushed("/opt/set/log.txt", "three\n"), 0);
    EXPECT_EQ(ReadWholeFile(path), "one\ntwo\nthree\n");
    std::thread([&] {
        // A file-size limit makes the write fail part-way, as a full card does.
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{}, lim{};
        getrlimit(RLIMIT_FSIZE, &old);
        lim = old;
        lim.rlim_cur = 20;
        setrlimit(RLIMIT_FSIZE, &lim);
        EXPECT_EQ(AppendFileFlushed("/opt/set/log.txt", "a record too long to fit\n"), -2);
        setrlimit(RLIMIT_FSIZE, &old);
    }).join();
    EXPECT_EQ(ReadWholeFile(path), "one\ntwo\nthree\n");
}

} // namespace
