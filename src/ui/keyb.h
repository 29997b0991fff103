// The service keyboard (switch EnableKeyb): waits for a USB keyboard, takes
// it over and acts on four keys: PrintScreen (screenshot), F10 (remote
// service shell), F11 (save the setup), F12 (stop the program).
#pragma once
#include <cstdint>

#include "platform/input.h"

struct Works;

void *keyb(void *arg);
// Starts the remote service shell and waits for it.
int RemoteConnection();

// Milliseconds between looks for a keyboard that is not there.
extern int keybSearchMs;
// Longest wait for one event, so the thread sees `running` drop.
constexpr int kKeybWaitMs = 200;

struct KeybState {
    InputDev dev;            // open while a keyboard is in use
    uint64_t nextSearch = 0; // when to look again (searching)
    int errors = 0;          // read failures in a row
};

// One pass: look for the keyboard when due, or wait for one event and act on
// it. Returns 0 to go on, 1 when F12 ended the program.
int KeybStep(Works *works, KeybState *s, uint64_t now);
// The action of one event; 1 when it was F12.
int KeybAction(Works *works, const InputEvent &ev);
