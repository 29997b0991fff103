#include "helix_process.h"

#include "unit.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool HelixProcess::Start(const std::string &err, const std::string &cwd) {
    errFile = err;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setsid(); // a session leader with no terminal, as a service runs
        // A test killed on its time-out takes its controller with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) dup2(fd, 2);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
        }
        std::string dir = cwd.empty() ? std::string(HELIX_BUILD_DIR) : cwd;
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::string exe = std::string(HELIX_BUILD_DIR) + "/helix";
        execl(exe.c_str(), "helix", static_cast<char *>(nullptr));
        _exit(127);
    }
    return true;
}

std::string HelixProcess::Err() const {
    return ReadWholeFile(errFile);
}

bool HelixProcess::WaitFor(const std::string &text, int timeoutMs) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (Err().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Err().find(text) != std::string::npos;
}

bool HelixProcess::WaitExit(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid > 0) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

long HelixProcess::Stop(int sig, int timeoutMs) {
    if (pid <= 0) return 0;
    auto start = std::chrono::steady_clock::now();
    kill(pid, sig);
    if (!WaitExit(timeoutMs)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
        return -1;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

HelixProcess::~HelixProcess() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

std::string SwitchesOff(const std::string &extra) {
    return "EnableKeyb: 0\nEnableGPIO: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\n"
           "EnableLinear: 0\nEnableTime: 0\nWebSocket: 0\nEnableFFT: 0\n" +
           extra;
}

bool BoardHeard(SimBoard *board, const std::string &text, size_t from) {
    std::vector<SimFrame> f = SimBoardFrames(board);
    for (size_t i = from; i < f.size(); i++)
        if (f[i].text == text) return true;
    return false;
}

std::string AtuFileEntry(const std::string &file, int idx) {
    std::string text = ReadWholeFile(file), key = std::to_string(idx) + " ";
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, key.size(), key) == 0) return text.substr(at, end - at);
        at = end + 1;
    }
    return "";
}

bool WaitBoardIdle(SimBoard *board) {
    return WaitUntil(
        [&] {
            std::vector<SimFrame> f = SimBoardFrames(board);
            if (f.size() < 6) return false;
            for (size_t i = f.size() - 6; i < f.size(); i++)
                if (f[i].text != "ST;" && f[i].text != "FM;") return false;
            return true;
        },
        kPatienceMs);
}
