// Two log channels: development traces on standard error, and the system log
// at informational (6) and error (3) priority. Under HELIX_ROOT the system-log
// lines are also appended to <root>/var/log/helix.log so tests can read them.
#pragma once
#include <cstdarg>

void Trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void LogErr(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Debug priority (7): details such as each handshake line. Written only when
// the environment has HELIX_LOG_DEBUG=1, so that a flood of connections does
// not fill the log.
void LogDebug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Error priority to the system log and the same text to standard error.
void LogErrTrace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Raw bytes to standard error (for texts without a newline).
void TraceRaw(const char *text);
