// helix --backup and --restore from the command line: what they print, their
// exit statuses, and no restore while a controller holds the instance lock.
#include "config/network.h"
#include "remote/commands.h"
#include "unit.h"

#include <fcntl.h>
#include <filesystem>
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

// Restore, network save and remote reboot never call the recording mount, reboot
// and sudo first on PATH; a missing stand-in is a logged error, not a host command.
TEST(SimulatedRoot, CommandsRunOnlyTheRootsStandIns) {
    ScopedSimRoot root;
    char tmpl[] = "/tmp/helix-host-XXXXXX";
    const std::string host = mkdtemp(tmpl);
    for (const char *name : {"mount", "reboot", "sudo"}) {
        WriteWholeFile(host + "/" + name, "#!/bin/sh\necho \"$0 $*\" >>" + host + "/called\n");
        chmod((host + "/" + name).c_str(), 0755);
    }
    setenv("PATH", (host + ":" + std::getenv("PATH")).c_str(), 1);
    std::string out;
    ASSERT_EQ(Helix("--backup " + root.Path("/b.tar"), &out), 0) << out;
    ASSERT_EQ(Helix("--restore " + root.Path("/b.tar"), &out), 0) << out;
    EXPECT_EQ(SaveLanParam(), 0);
    remoteRebootWaitMs = 0;
    TestUnit u;
    u.works.running = 1;
    u.setup.EnableGPIO = '0';
    std::snprintf(u.works.remoteCmd, sizeof u.works.remoteCmd, "VORNRB");
    EXPECT_EQ(dispStat(u.w()), kCmdReboot);
    RemoteCommandsTick(u.w()); // the reboot is carried out by the frame loop's tick
    const std::string log = ReadWholeFile(root.Path("/commands.log"));
    for (const char *command : {"mount -o remount", "sudo ifdown", "reboot"})
        EXPECT_NE(log.find(command), std::string::npos) << log;
    unlink(root.Path("/bin/reboot").c_str());
    EXPECT_EQ(dispStat(u.w()), kCmdReboot);
    RemoteCommandsTick(u.w());
    EXPECT_NE(ReadWholeFile(root.Path("/var/log/helix.log")).find("no " + root.Path("/bin/reboot")),
              std::string::npos);
    EXPECT_EQ(access((host + "/called").c_str(), F_OK), -1) << ReadWholeFile(host + "/called");
    std::filesystem::remove_all(host);
}

} // namespace
