#include "panel_process.h"

#include "unit.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

bool PanelProcess::Start(const std::string &root) {
    port = FreeTcpPort();
    std::string exe = std::string(HELIX_BUILD_DIR) + "/helix-sim-panel";
    std::string ps = std::to_string(port);
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(exe.c_str(), exe.c_str(), "--root", root.c_str(), "--port", ps.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    httplib::Client c("127.0.0.1", port);
    return WaitUntil([&] { return static_cast<bool>(c.Get("/api/state")); }, kPatienceMs);
}

std::string PanelProcess::State() const {
    httplib::Client c("127.0.0.1", port);
    auto r = c.Get("/api/state");
    return r && r->status == 200 ? r->body : std::string();
}

bool PanelProcess::Press(int key, int ms) const {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(ms / 1000 + 10, 0);
    auto r = c.Post("/api/key?n=" + std::to_string(key) + "&a=press&ms=" + std::to_string(ms), "",
                    "text/plain");
    return r && r->status == 200;
}

bool PanelProcess::Line(const std::string &sim, const std::string &line) const {
    httplib::Client c("127.0.0.1", port);
    auto r = c.Post("/api/" + sim, line, "text/plain");
    return r && r->status == 200;
}

int PanelProcess::Stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int st = 0;
    bool ended = false;
    WaitUntil([&] { return ended = ended || waitpid(pid, &st, WNOHANG) == pid; }, int(kPromptMs));
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
    }
    pid = -1;
    return ended && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
