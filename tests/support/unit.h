// Test helpers: a complete unit record (works with its setup, locks and
// buffers, as main builds it) and a simulated root for the duration of a test.
#pragma once

#include "config/setup.h"
#include "model/works.h"
#include "sim_root.h"
#include "unit_record.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <string>

using TestUnit = UnitRecord;

// Makes a fresh simulated root, points HELIX_ROOT and PATH at it, removes it after.
struct ScopedSimRoot {
    std::string root;
    std::string oldRoot, oldPath;
    bool hadRoot;
    ScopedSimRoot() {
        const char *r = std::getenv("HELIX_ROOT");
        hadRoot = r != nullptr;
        if (r) oldRoot = r;
        oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        root = MakeTempSimRoot();
        UseSimRoot(root);
    }
    ~ScopedSimRoot() {
        if (hadRoot)
            setenv("HELIX_ROOT", oldRoot.c_str(), 1);
        else
            unsetenv("HELIX_ROOT");
        setenv("PATH", oldPath.c_str(), 1);
        RemoveSimRoot(root);
    }
    std::string Path(const std::string &rel) const { return root + rel; }
};

// Takes every code waiting in the power-board command ring, in order.
std::vector<int> Queued(Works *w);
// A TCP port on the loopback that is free at the moment of asking.
int FreeTcpPort();
std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &text);

// How long a test waits for something that must happen. It only bounds a
// failing run (a passing one takes what the work takes), so it is far above
// any delay of a loaded machine or an emulator.
constexpr int kPatienceMs = 60000;
// The bound on what must end promptly: at once, or within its own polls of a
// few ms to a second (a thread told to stop, a failing probe). Far above any
// scheduling delay of a loaded machine or an emulator, and still catching one
// that waits out a long sleep, a blocking read or a walk over every point.
constexpr uint64_t kPromptMs = 10000;

// Polls `cond` every 10 ms until it holds or `ms` have passed.
template <typename F> bool WaitUntil(F cond, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return cond();
}

// A thread body run on its own thread for a test; joined on destruction.
struct RunningThread {
    std::thread t;
    std::atomic<bool> done{false};
    RunningThread(void *(*body)(void *), Works *w) {
        t = std::thread([this, body, w] {
            body(w);
            done = true;
        });
    }
    bool WaitDone(int ms) {
        return WaitUntil([this] { return done.load(); }, ms);
    }
    ~RunningThread() {
        if (t.joinable()) t.join();
    }
};
