// helix --backup and --restore from the command line: what they print, their
// exit statuses, and no restore while a controller holds the instance lock.
#include "board.h"
#include "config/network.h"
#include "helix_process.h"
#include "remote/commands.h"
#include "unit.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <csignal>
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

    // A link at the temporary file's name is not followed; endless or huge
    // archives are refused before they are read.
    WriteWholeFile(root.Path("/victim"), "kept\n");
    ASSERT_EQ(symlink(root.Path("/victim").c_str(), (archive + ".tmp").c_str()), 0);
    EXPECT_EQ(Helix("--backup " + archive, &out), 0) << out;
    EXPECT_TRUE(ReadWholeFile(root.Path("/victim")) == "kept\n") << "the link was followed";
    ASSERT_EQ(truncate(archive.c_str(), 300 << 20), 0);
    for (const std::string &huge : {std::string("/dev/zero"), archive}) {
        EXPECT_EQ(Helix("--restore " + huge, &out), 2) << out;
        EXPECT_NE(out.find("refused: larger than"), std::string::npos) << out;
    }
}

// A band row whose limits are not numbers: a restore refuses it, and the
// controller never gives the board an open reflected-power or current limit
// (full scale, 4095) for it.
TEST(BackupCommand, NanThresholdsRefusedAndNeverOpen) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/config.txt"),
                   "7000000 7300000 100 1000 10 500 5 250 0 20 10 100 600\n"
                   "14000000 14350000 100 1000 10 500 5 250 0 20 nan nan nan\n"
                   "30000000 54000000 100 1000 10 500 5 250 0 20 10 100 600\n");
    std::string out;
    ASSERT_EQ(Helix("--backup " + root.Path("/b.tar"), &out), 0) << out;
    EXPECT_EQ(Helix("--restore " + root.Path("/b.tar"), &out), 2) << out;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableLinear: 1\nEnableTime: 1\n"));
    SimBoard board; // measures 14.070 MHz: the 20 m row
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    // Every limit sent until the 20 m row is in force (its stored tune and
    // bypass state follow the limits); one frame when the start-up limits
    // and the row's are the same.
    std::vector<std::string> limits;
    ASSERT_TRUE(WaitUntil(
        [&] {
            limits.clear();
            for (const SimFrame &f : SimBoardFrames(&board))
                if (f.text.rfind("TS", 0) == 0) limits.push_back(f.text);
            return !limits.empty() && p.Err().find("ByPass Ampl") != std::string::npos;
        },
        kPatienceMs))
        << p.Err();
    for (const std::string &ts : limits) // reflected power and current
        EXPECT_TRUE(ts.substr(10, 4) != "4095" && ts.substr(14, 4) != "4095") << ts;
    EXPECT_GE(p.Stop(SIGTERM), 0);
    SimBoardStop(&board);
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
