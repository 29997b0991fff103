// helix --backup and --restore from the command line: what they print, their
// exit statuses, and no restore while a controller holds the instance lock.
#include "unit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the controller program with `args` in the simulated root: its exit
// status, and both of its streams in *out.
int Helix(const std::string &args, std::string *out) {
    std::string cmd = std::string(HELIX_BUILD_DIR) + "/helix " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    out->clear();
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(BackupCommand, BackupThenRestoreRefusedWhileRunningOrDamagedThenDone) {
    ScopedSimRoot root;
    const std::string archive = root.Path("/b.tar"), memory = root.Path("/opt/set/atu_ant1_b1.txt");
    std::string out;
    ASSERT_EQ(Helix("--backup " + archive, &out), 0) << out;
    EXPECT_NE(out.find("saved /opt/set/atu_ant1_b1.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("backup written to " + archive), std::string::npos) << out;
    const std::string saved = ReadWholeFile(memory);
    WriteWholeFile(memory, "3117 14070000 1 2 40 50\n");

    // A controller holds the lock: nothing is restored.
    mkdir(root.Path("/run").c_str(), 0755);
    int fd = open(root.Path("/run/helix.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(Helix("--restore " + archive, &out), 2) << out;
    EXPECT_NE(out.find("stop the controller before a restore"), std::string::npos) << out;
    close(fd);

    WriteWholeFile(root.Path("/cut.tar"), ReadWholeFile(archive).substr(0, 2000));
    EXPECT_EQ(Helix("--restore " + root.Path("/cut.tar"), &out), 2) << out;
    EXPECT_NE(out.find("nothing changed"), std::string::npos) << out;
    EXPECT_EQ(ReadWholeFile(memory), "3117 14070000 1 2 40 50\n");

    EXPECT_EQ(Helix("--restore " + archive, &out), 0) << out;
    EXPECT_NE(out.find("restored /opt/set/atu_ant1_b1.txt"), std::string::npos) << out;
    EXPECT_EQ(ReadWholeFile(memory), saved);
}

} // namespace
