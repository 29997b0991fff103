// The fault history (/opt/set/faults.txt): one line for every code added to
// the error list and for every code the operator acknowledges, with what the
// amplifier measured at that moment. Records are queued by whichever thread
// raises the code (the power-board link among them) and written by the
// supervisor inside the remount window; at 64 KiB the file becomes
// faults.txt.1 (one generation).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Works;

constexpr const char *kFaultsPath = "/opt/set/faults.txt";
constexpr const char *kFaultsPrevPath = "/opt/set/faults.txt.1";
constexpr size_t kFaultsMaxBytes = 64 * 1024;

enum FaultEvent : char { kFaultAdded = 'A', kFaultAcked = 'K' };

// One line of the history, as written and read back.
struct FaultEntry {
    char date[11]; // "2025-03-01"
    char time[9];  // "12:34:56"
    char event[4]; // "ADD" (added to the list) or "ACK" (acknowledged)
    int code;
    char text[64];            // title and text of the code
    float fwd, refl, in, swr; // W, W, W, ratio
    float t1, t2;             // heat sinks, degrees C
    float volt, amp;          // supply
    int32_t freq;             // Hz
    int bandRow;              // antenna-table row (100: none, -1: not chosen yet)
    int ant;                  // 1..3
    int bank;
    char mode[4];  // "Gen", "Tav", "817"
    uint32_t word; // tuner word
    int tune;      // 1 while a tune ran
};

// The line of `code` and `event` with the readings in `works` now.
std::string FaultHistoryLine(Works *works, int code, FaultEvent event);
// Queues that line for the writer (bounded: past kFaultQueueLines lines a
// record is dropped and counted). Safe from any thread; never blocks on I/O.
void FaultHistoryRecord(Works *works, int code, FaultEvent event);
// Writes the queued lines (the supervisor, once a pass, and at its end):
// rotation at kFaultsMaxBytes, then one flushed append of whole lines, all
// inside the remount window. After a failed append the lines are queued
// again and the next try waits 10 s. Returns the lines written.
int FaultHistoryFlush(Works *works);
// Changes each time lines reach the file (for readers that keep a copy).
uint32_t FaultHistoryGeneration(Works *works);
// Up to `max` whole lines of the history, newest first (the previous
// generation after the current file); a torn last line is not read.
std::vector<std::string> FaultHistoryRead(size_t max);
// Reads a line back; false when it is not a history line.
bool FaultHistoryParse(const std::string &line, FaultEntry *entry);
