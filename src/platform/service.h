// The service manager's notifications (systemd, through libsystemd's
// sd_notify): readiness, stopping and the watchdog. Outside systemd
// (NOTIFY_SOCKET unset) every call does nothing.
#pragma once
#include <cstdint>

// The watchdog interval systemd asks for (WatchdogSec=), in ms; 0 when the
// service runs without a watchdog.
uint64_t ServiceWatchdogMs();
void ServiceReady();    // "READY=1": the controller is up
void ServiceStopping(); // "STOPPING=1"
void ServicePet();      // "WATCHDOG=1"

// Test hook: HELIX_TEST_STALL="<thread>:<unit path>" makes the named
// thread's heartbeat block once that file exists. The thread name, or ""
// when the hook is not armed; `path` gets the file.
const char *ServiceStallHook(const char **path);
