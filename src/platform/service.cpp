#include "platform/service.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <systemd/sd-daemon.h>

uint64_t ServiceWatchdogMs() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) return 0;
    return usec / 1000;
}

void ServiceReady() {
    sd_notify(0, "READY=1");
}

void ServiceStopping() {
    sd_notify(0, "STOPPING=1");
}

void ServicePet() {
    sd_notify(0, "WATCHDOG=1");
}

const char *ServiceStallHook(const char **path) {
    // Read once: the environment does not change while the threads run.
    static const std::string hook = [] {
        const char *v = std::getenv("HELIX_TEST_STALL");
        return std::string(v != nullptr ? v : "");
    }();
    static const std::string thread = hook.substr(0, hook.find(':'));
    static const std::string file =
        hook.find(':') == std::string::npos ? "" : hook.substr(hook.find(':') + 1);
    *path = file.c_str();
    return file.empty() ? "" : thread.c_str();
}
