// The thread set: one handle per thread, the start operations that consult the
// setup switches, remote start and stop, the splash countdown and the joins.
#pragma once
#include <atomic>
#include <initializer_list>
#include <mutex>
#include <pthread.h>

struct Works;

// A thread handle. `started`: it holds an unjoined thread. `alive`: that
// thread is still in its body (the thread clears it on its way out). A start
// while the previous body is still ending is remembered in `restart` and run
// by the same thread once the body has returned, so a start never waits for
// the old thread and never makes a second copy.
struct ThreadHandle {
    explicit ThreadHandle(const char *threadName) : name(threadName) {}
    const char *name;
    pthread_t id{};
    std::atomic<bool> started{false};
    std::atomic<bool> alive{false};
    std::mutex lock;                                  // guards the fields below and `id`
    void *(*body)(void *) = nullptr;                  // the body the thread runs
    Works *works = nullptr;                           // its argument
    bool restart = false;                             // run the body again when it returns
    const std::atomic<char> *restartSwitch = nullptr; // ... only if this is still '1'
};

extern ThreadHandle thrGPIO, thrLin, thrKey, thrWsock, thrSer, thrCat, thrCatSer, thrTime, thrLeggi,
    thrScrivi, thrFFT, thInit, thAggFw, thrRigctl, thrAmpctld, thrLogger;

extern std::atomic<int> startInitThread; // 1 while the splash countdown runs
extern int waitTAV;                      // splash length in seconds
// Set once start-up has reached the point where it starts the frequency links
// from their switches; before that a mode change only sets the switches.

// Starts `body(works)` into `handle` without waiting for an earlier thread:
// a finished one is collected first; one still in its body is asked to run
// the body again once it returns (when `sw`, if given, is still '1' and the run
// goes on). Returns 0 when the body runs or will run, else the create error.
int StartThread(ThreadHandle *handle, void *(*body)(void *), Works *works,
                const std::atomic<char> *sw = nullptr);
// Joins the thread in `handle` if one was started; returns true if it joined one.
bool JoinThread(ThreadHandle *handle);
// Waits until none of `handles` is in its body, at most `ms`; false on time-out.
bool ThreadsEnded(std::initializer_list<const ThreadHandle *> handles, unsigned ms);

void StartThreadLinear(Works *works);
void StartThreadTAV(Works *works);
void StartThreadCAT(Works *works);
void StartThreadCATserial(Works *works);
void StartThreadAudioRead(Works *works);
void StartThreadAudioWrite(Works *works);
void StartTavReadFFT(Works *works);
void StartThreadSoket(Works *works);
// The rig daemon's client, when the working mode asks for it (works->rigctlOn).
void StartThreadRigctl(Works *works);
// The logging program's listener, when the working mode asks for it (works->loggerOn).
void StartThreadLogger(Works *works);
// The amplifier protocol server, when the option AmpctldServer is 1.
void StartThreadAmpctld(Works *works);

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
