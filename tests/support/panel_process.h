// helix-sim-panel of the build directory as a child process for tests.
#pragma once
#include <string>
#include <sys/types.h>

struct PanelProcess {
    pid_t pid = -1;
    int port = 0;
    // Starts the panel on `root` and waits until it answers.
    bool Start(const std::string &root);
    // Its /api/state, or "" when it does not answer.
    std::string State() const;
    // Presses key `key` (1-6) for `ms` milliseconds through the page's
    // interface; true when the panel took it.
    bool Press(int key, int ms = 200) const;
    // A control line for "board" or "radio"; true when the panel took it.
    bool Line(const std::string &sim, const std::string &line) const;
    int Stop(); // exit status, or -1 if it had to be killed
    ~PanelProcess() { Stop(); }
};
