// One controller per unit: an exclusive lock on a lock file, held for the
// whole run and released by the kernel when the process ends, however it ends.
#pragma once
#include <sys/types.h>

constexpr const char *kInstanceLockPath = "/run/helix.lock";

// Takes the lock on `path` (resolved) and writes this process's id into the
// file. 0 taken; 1 held by another process, whose id goes to *holder (0 when
// unknown); -1 the file could not be opened (errno kept).
int InstanceLock(const char *path, pid_t *holder);
