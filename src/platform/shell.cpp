#include "platform/shell.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The program word of each simple command in `cmd`: the first word at the
// start and after every '|', '&' or ';' (quotes kept whole, "2>&1" is a
// redirection, not a separator).
std::vector<std::string> ShellPrograms(const std::string &cmd) {
    std::vector<std::string> programs;
    std::string word;
    bool atStart = true, inWord = false, taking = false;
    char quote = 0;
    for (size_t i = 0; i <= cmd.size(); i++) {
        char c = i < cmd.size() ? cmd[i] : ' ';
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else if (taking)
                word += c;
            continue;
        }
        bool redirect = c == '&' && i > 0 && (cmd[i - 1] == '>' || cmd[i - 1] == '<');
        bool separator = !redirect && (c == '|' || c == '&' || c == ';');
        if (separator || c == ' ' || c == '\t' || c == '\n') {
            if (taking) programs.push_back(word);
            word.clear();
            inWord = taking = false;
            atStart = atStart || separator;
            continue;
        }
        if (!inWord) {
            inWord = true;
            taking = atStart;
            atStart = false;
        }
        if (c == '\'' || c == '"')
            quote = c;
        else if (taking)
            word += c;
    }
    return programs;
}

// With a simulated root, every program must be an executable inside it: a
// missing stand-in is logged and nothing runs (never the host's command).
bool ProgramsInRoot(const std::string &cmd) {
    std::string root = RootPrefix();
    if (root.empty()) return true;
    for (const std::string &program : ShellPrograms(cmd)) {
        bool inside = program.compare(0, root.size() + 1, root + "/") == 0;
        if (!inside || access(program.c_str(), X_OK) != 0) {
            LogErr("shell command not run: no %s in the simulated root %s (%s)", program.c_str(),
                   root.c_str(), inside ? "missing stand-in" : "not a root path");
            return false;
        }
    }
    return true;
}

} // namespace

int RunShell(const std::string &cmd) {
    if (!ProgramsInRoot(cmd)) return kShellNotRun;
    return std::system(cmd.c_str());
}

int RunShellRead(const std::string &cmd, std::string *out, size_t max) {
    if (!ProgramsInRoot(cmd)) return kShellNotRun;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        if (out != nullptr && out->size() < max) out->append(buf, std::min(n, max - out->size()));
    }
    int st = pclose(p);
    if (st == -1) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// The write window is shared by every writer under /opt/set (setup, tables,
// temperature log, the update marker). It is counted: the first writer in
// remounts read-write, the last one out remounts read-only, so one writer's
// read-only remount never lands in the middle of another's save. The lock is
// held across the mount itself, so a writer that enters while the partition is
// being remounted waits until the mount is done.
namespace {
std::mutex gWindowLock;
int gWindowUsers = 0;
} // namespace

int RemountRw() {
    std::lock_guard<std::mutex> lock(gWindowLock);
    if (gWindowUsers > 0) {
        gWindowUsers++;
        return 0;
    }
    int r =
        RunShell(ResolveCommand("mount") + " -o remount defaults,rw " + ResolvePath("/opt/set"));
    if (r != 0) {
        LogErr("can't mount rw /opt/set/ error %d", errno);
        return r;
    }
    gWindowUsers = 1;
    return 0;
}

int RemountRo() {
    std::lock_guard<std::mutex> lock(gWindowLock);
    if (gWindowUsers > 1) {
        gWindowUsers--;
        return 0;
    }
    // The last writer (or an unpaired call): the partition goes read-only.
    gWindowUsers = 0;
    int r = RunShell(ResolveCommand("mount") + " -v -n -o remount -r " + ResolvePath("/opt/set"));
    if (r != 0) LogErr("can't mount ro /opt/set/ error %d", errno);
    return r;
}

int RemountWindowUsers() {
    std::lock_guard<std::mutex> lock(gWindowLock);
    return gWindowUsers;
}
