#include "platform/log.h"

#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace {
std::mutex gLogMutex;

void Mirror(int prio, const char *msg) {
    std::string root = RootPrefix();
    if (root.empty()) return;
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::string path = root + "/var/log/helix.log";
    FILE *f = std::fopen(path.c_str(), "a");
    if (f == nullptr) return;
    std::fprintf(f, "<%d>%s\n", prio, msg);
    std::fclose(f);
}

void VLog(int prio, const char *fmt, va_list ap) {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    syslog(prio, "%s", buf);
    Mirror(prio, buf);
}
} // namespace

void Trace(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fflush(stderr);
}

void TraceRaw(const char *text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void LogInfo(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    VLog(LOG_INFO, fmt, ap);
    va_end(ap);
}

void LogDebug(const char *fmt, ...) {
    static const bool on = [] {
        const char *v = std::getenv("HELIX_LOG_DEBUG");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    if (!on) return;
    va_list ap;
    va_start(ap, fmt);
    VLog(LOG_DEBUG, fmt, ap);
    va_end(ap);
}

void LogErr(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    VLog(LOG_ERR, fmt, ap);
    va_end(ap);
}

void LogErrTrace(const char *fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    syslog(LOG_ERR, "%s", buf);
    Mirror(LOG_ERR, buf);
    std::fprintf(stderr, "%s\n", buf);
    std::fflush(stderr);
}
