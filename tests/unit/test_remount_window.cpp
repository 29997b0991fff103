// The /opt/set write window shared by every writer: counted, so one writer's
// read-only remount never lands inside another's save.
#include "unit.h"

#include "platform/files.h"
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <string>
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

} // namespace
