#include "platform/shell.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

int RemountRw() {
    int r = RunShell("mount -o remount defaults,rw " + ResolvePath("/opt/set"));
    if (r != 0) LogErr("can't mount rw /opt/set/ error %d", errno);
    return r;
}

int RemountRo() {
    int r = RunShell("mount -v -n -o remount -r " + ResolvePath("/opt/set"));
    if (r != 0) LogErr("can't mount ro /opt/set/ error %d", errno);
    return r;
}
