// Calls that go up the layers. A lower layer that must reach an upper one
// (restart a thread, change the bank, reload a key label) calls through this
// table; the application fills it at start-up (InstallHooks) before any
// thread runs. An entry left empty does nothing, so a lower layer used alone
// (a tool, a fuzz target) never calls into code it was not linked with.
#pragma once

struct Works;

struct Hooks {
    // The thread set (application).
    void (*StartThreadLinear)(Works *) = nullptr;
    void (*StartThreadTAV)(Works *) = nullptr;
    void (*StartThreadCAT)(Works *) = nullptr;
    void (*StartThreadCATserial)(Works *) = nullptr;
    void (*StartThreadAudioRead)(Works *) = nullptr;
    void (*StartThreadAudioWrite)(Works *) = nullptr;
    void (*StartTavReadFFT)(Works *) = nullptr;
    void (*StartThreadSoket)(Works *) = nullptr;
    void (*StartThreadRigctl)(Works *) = nullptr;
    void (*StartThreadLogger)(Works *) = nullptr;
    void (*StartThreadCommRemote)(Works *) = nullptr;
    void (*ExitThreadRemote)(Works *) = nullptr;
    // The CAT pass-through port failed under the remote link (transceiver).
    void (*ExitCAT)(Works *) = nullptr;
    // Board settings that follow the frequency, asked for by the command ring
    // (configuration and supervisor).
    void (*SetFilterFromfreq)(Works *) = nullptr;
    void (*SearchCambioSoglie_TS)(Works *) = nullptr;
    // Operator interface: the bank and working mode, stored tunes, the
    // network-arrangement label of the tune menu.
    void (*ChangeBanco)(Works *) = nullptr;
    void (*ChangeBancoUnsaved)(Works *) = nullptr; // the same step, the setup not written
    void (*SetModeWorkIDX)(Works *) = nullptr;
    void (*GestioneLoadTuneVal)(Works *, int clearIfNone) = nullptr;
    void (*TuneModeLabel)(Works *, int mode) = nullptr;
    // Stand-by (1) or operate (0) asked from outside the panel, with the
    // IN-ATT key's rules: 0 done (or already so), -1 refused. Left empty, a
    // request is refused.
    int (*AmplifierStandby)(Works *, int standby) = nullptr;
};

extern Hooks hooks;

// Calls an entry when it is set.
template <typename... Args>
inline void CallHook(void (*fn)(Works *, Args...), Works *w, Args... a) {
    if (fn != nullptr) fn(w, a...);
}
