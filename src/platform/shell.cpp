#include "platform/shell.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/wait.h>

int RunShell(const std::string &cmd) {
    return std::system(cmd.c_str());
}

int RunShellRead(const std::string &cmd, std::string *out, size_t max) {
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
    int r = RunShell("mount -o remount defaults,rw " + ResolvePath("/opt/set"));
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
    int r = RunShell("mount -v -n -o remount -r " + ResolvePath("/opt/set"));
    if (r != 0) LogErr("can't mount ro /opt/set/ error %d", errno);
    return r;
}

int RemountWindowUsers() {
    std::lock_guard<std::mutex> lock(gWindowLock);
    return gWindowUsers;
}
