// The thread set: one handle per thread, the start operations that consult the
// setup switches, remote start and stop, the splash countdown and the joins.
#pragma once
#include <atomic>
#include <pthread.h>

struct Works;

// A thread handle that remembers whether it holds a live, unjoined thread.
struct ThreadHandle {
    pthread_t id{};
    std::atomic<bool> started{false};
};

extern ThreadHandle thrGPIO, thrLin, thrKey, thrWsock, thrSer, thrCat, thrCatSer, thrTime, thrLeggi,
    thrScrivi, thrFFT, thInit, thAggFw;

extern std::atomic<int> startInitThread; // 1 while the splash countdown runs
extern int waitTAV;                      // splash length in seconds
// Set once start-up has reached the point where it starts the frequency links
// from their switches; before that a mode change only sets the switches.
extern std::atomic<bool> linksStarting;
extern const char *const kSwVersion; // "0.053"

// Starts `body(works)` into `handle` (joining a finished earlier thread first).
int StartThread(ThreadHandle *handle, void *(*body)(void *), Works *works);
// Joins the thread in `handle` if one was started; returns true if it joined one.
bool JoinThread(ThreadHandle *handle);

void StartThreadLinear(Works *works);
void StartThreadTAV(Works *works);
void StartThreadCAT(Works *works);
void StartThreadCATserial(Works *works);
void StartThreadAudioRead(Works *works);
void StartThreadAudioWrite(Works *works);
void StartTavReadFFT(Works *works);
void StartThreadSoket(Works *works);

void StartThreadCommRemote(Works *works);
void ExitThreadRemote(Works *works);

void *LoadThread(void *arg);
void *AggFWThread(void *arg);
// The clean-up step of AggFWThread: remounts, removes /opt/good, remounts read-only.
int AggFWRemoveMarker();

// Sleeps `ms` in short steps; returns early (false) when `running` drops.
bool SleepWhileRunning(Works *works, unsigned ms);

// The start-up sequence after the tables (fonts to supervisor), and shutdown.
void StartUp(Works *works);
int ShutDown(Works *works);
