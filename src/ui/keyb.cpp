#include "ui/keyb.h"

#include "config/setup.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int keybSearchMs = 20000;

namespace {

constexpr int kKeyPrint = 99, kKeyF10 = 68, kKeyF11 = 87, kKeyF12 = 88;

void Both(const char *text) {
    LogInfo("%s", text);
    Trace("%s\n", text);
}

void CloseKeyboard(KeybState *s) {
    InputClose(&s->dev);
    s->errors = 0;
}

} // namespace

int RemoteConnection() {
    Trace("launching ssh\n");
    LogInfo("launching ssh");
    int r = RunShell(ResolveCommand("/opt/sshshell"));
    LogInfo("launched ssh");
    Trace("launched screenshot\n");
    return r;
}

int KeybAction(Works *w, const InputEvent &ev) {
    if (ev.type != 1 || ev.value != 1) return 0; // presses only
    WakeSupervisor(w);
    switch (ev.code) {
    case kKeyPrint:
        Trace("launching screenshot\n");
        LogInfo("launching screenshot");
        RunShell(ResolveCommand("/usr/bin/fbgrab") + " " + ResolvePath("/tmp/screen.png") +
                 " >/dev/null 2>&1 </dev/null");
        LogInfo("launched screenshot");
        Trace("launched screenshot\n");
        return 0;
    case kKeyF12:
        LogInfo("Exited by KEY_F12");
        w->running = 0;
        return 1;
    case kKeyF11:
        LogInfo("Save setup");
        writeSetup(w);
        return 0;
    case kKeyF10:
        RemoteConnection();
        w->linkFlags |= 2;
        return 0;
    default:
        return 0;
    }
}

int KeybStep(Works *w, KeybState *s, uint64_t now) {
    if (s->dev.fd < 0) {
        if (!expired(s->nextSearch, now, 0)) {
            SleepMs(kKeybWaitMs);
            return 0;
        }
        s->nextSearch = now + uint64_t(keybSearchMs);
        std::string path = InputFindKeyboard();
        if (path.empty()) return 0;
        int e = InputOpen(&s->dev, path);
        if (e != 0) {
            std::string unit = UnresolvePath(path);
            LogErr("Cannot open %s, error %d -%s", unit.c_str(), e, std::strerror(e));
            Trace("Cannot open %s, error %d -%s\n", unit.c_str(), e, std::strerror(e));
            return 0;
        }
        Both("Keyboard opened");
        // A device that cannot be taken exclusively is used all the same.
        int g = InputGrab(&s->dev);
        if (g != 0) LogInfo("keyboard not grabbed (%s): used shared", std::strerror(g));
        RunShell(ResolveCommand("stty") + " -echo");
        Both("Continuous keyboard loop started, please end using Control C\n");
        return 0;
    }
    InputEvent ev;
    int r = InputRead(&s->dev, &ev, kKeybWaitMs);
    if (r == kInputTimeout) return 0;
    if (r == kInputGone) {
        LogInfo("keyboard removed: looking for it again");
        CloseKeyboard(s);
        s->nextSearch = now; // plugged again: found at the next look
        return 0;
    }
    if (r == kInputError) {
        int e = errno;
        std::string unit = UnresolvePath(s->dev.path);
        // Logged once a run of failures, not in a loop.
        if (s->errors++ == 0)
            LogInfo("error reading %s, error %d -%s", unit.c_str(), e, std::strerror(e));
        if (s->errors >= 10) CloseKeyboard(s);
        return 0;
    }
    s->errors = 0;
    if (KeybAction(w, ev) == 1) {
        CloseKeyboard(s);
        RunShell(ResolveCommand("/bin/stty") + " sane");
        RunShell(ResolveCommand("/usr/bin/tput") + " clear");
        return 1;
    }
    return 0;
}

void *keyb(void *arg) {
    Works *w = static_cast<Works *>(arg);
    Trace("keyb open..\n");
    Trace("%s\n", std::string(113, '*').c_str());
    LogInfo("Keyboard function entered");
    KeybState s;
    s.nextSearch = NowMs();
    while (w->running != 0) {
        if (KeybStep(w, &s, NowMs()) == 1) return nullptr;
    }
    CloseKeyboard(&s);
    RunShell(ResolveCommand("stty") + " sane");
    return nullptr;
}
