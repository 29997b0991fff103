// The temperature log (/opt/set/LOGtemp.txt): one line of temperatures, power,
// SWR and supply per record, written by the link (restart at the first
// transmission, alarm records) and the supervisor (a record every 5 s).
#pragma once
#include <cstdint>
#include <string>

struct Works;

constexpr const char *kTempLogPath = "/opt/set/LOGtemp.txt";
// The previous log, kept over one restart (it may end with an alarm record).
constexpr const char *kTempLogPrevPath = "/opt/set/LOGtemp.txt.1";

// -1 restarts the log: the current file becomes the previous generation
// (replacing the older one) and the next record starts a new file;
// 0 appends a record; 1 appends an alarm record.
void LogTempFunction(Works *works, int mode);
// One log record (with its line feed) for the current values.
std::string FormatTempRecord(Works *works, int mode);
