// The README's tour as a newcomer follows it: ./scripts/run-sim.sh --fresh on
// a scratch root, the tour in headless Chromium (tests/support/readme_tour.js),
// Ctrl-C, and a second --fresh start without the tour's changes.
#include "unit.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ./scripts/run-sim.sh --fresh on the test's build in a process group of its
// own; the port of the page it prints, once that page answers (0: never).
int StartRunSim(const std::string &root, pid_t *pid) {
    const std::string out = root + ".out";
    if ((*pid = fork()) == 0) {
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL); // Ctrl-C as in a terminal, even from a background job
        setenv("HELIX_SIM_BUILT", "1", 1);
        setenv("HELIX_SIM_ROOT", root.c_str(), 1);
        setenv("HELIX_PANEL_PORT", std::to_string(FreeTcpPort()).c_str(), 1);
        setenv("BUILD_DIR", HELIX_BUILD_DIR, 1);
        std::string cmd =
            "exec sh " HELIX_SOURCE_DIR "/scripts/run-sim.sh --fresh >" + out + " 2>&1";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    setpgid(*pid, *pid); // the group exists before any signal is sent to it
    int port = 0;
    auto ours = [&] {
        std::string text = ReadWholeFile(out);
        size_t at = text.find("open http://127.0.0.1:");
        port = at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 22);
        auto r = httplib::Client("127.0.0.1", port ? port : 1).Get("/api/state");
        return r && r->body.find("\"root\":\"" + root + "\"") != std::string::npos;
    };
    return WaitUntil(ours, kPatienceMs) ? port : 0;
}

// Ctrl-C to the whole group, as a terminal sends it: run-sim.sh's status.
int StopRunSim(pid_t pid) {
    kill(-pid, SIGINT);
    int st = 0;
    bool ended = false;
    if (!WaitUntil([&] { return ended = ended || waitpid(pid, &st, WNOHANG) == pid; }, kPatienceMs))
        kill(-pid, SIGKILL);
    return ended && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace

TEST(ReadmeTour, StepByStepInChromium) {
    const std::string tests = HELIX_SOURCE_DIR "/tests";
    if (std::system("command -v node >/dev/null 2>&1") != 0 ||
        ReadWholeFile(tests + "/node_modules/playwright-core/package.json").empty() ||
        access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "node, playwright-core or chromium missing (scripts/deps.sh installs them)";
    ScopedSimRoot scratch; // a folder that goes with the test
    const std::string root = scratch.Path("/unit"), out = scratch.Path("/tour.out");
    // The stored tune of 7.075 MHz that the tour's tune replaces.
    auto stored = [&] {
        return ReadWholeFile(root + "/opt/set/atu_ant2_b1.txt")
                   .find("\n2115 7075000 1 1 96 210\n") != std::string::npos;
    };
    pid_t pid;
    int port = StartRunSim(root, &pid);
    ASSERT_NE(port, 0) << ReadWholeFile(root + ".out");
    EXPECT_TRUE(stored());
    std::string cmd = "node " + tests +
                      "/support/readme_tour.js http://127.0.0.1:" + std::to_string(port) + "/ " +
                      root + " >" + out + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadWholeFile(out);
    EXPECT_FALSE(stored());
    EXPECT_EQ(StopRunSim(pid), 0) << ReadWholeFile(root + ".out");
    ASSERT_NE(StartRunSim(root, &pid), 0);
    EXPECT_TRUE(stored()) << "a fresh root";
    EXPECT_EQ(StopRunSim(pid), 0) << ReadWholeFile(root + ".out");
}
