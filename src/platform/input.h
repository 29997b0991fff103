// Input event devices (the service keyboard). The device is the first path
// matching /dev/input/by-id/*-event-kbd (resolved, so a simulated root's
// FIFO or plain file of events stands in for it). Events are the platform's
// own `struct input_event`.
#pragma once
#include <string>
#include <sys/types.h>

struct InputEvent {
    int type = 0, code = 0, value = 0;
};

struct InputDev {
    int fd = -1;
    std::string path;
    dev_t dev = 0; // what `path` named when it was opened
    ino_t ino = 0;
    bool regular = false; // a plain file: read on from where we are
};

// The first matching keyboard path (resolved), or "" when none.
std::string InputFindKeyboard();
// Opens `path` read-only; 0 or errno.
int InputOpen(InputDev *dev, const std::string &path);
// Takes the device for this process alone; 0 or errno (a FIFO or file cannot be taken).
int InputGrab(InputDev *dev);
void InputClose(InputDev *dev);

enum InputResult {
    kInputEvent = 1,
    kInputTimeout = 0,
    kInputGone = -1,  // unplugged: look for it again
    kInputError = -2, // another read failure (errno kept)
};
// Waits at most `timeoutMs` for one event.
int InputRead(InputDev *dev, InputEvent *ev, int timeoutMs);
