// What the remote link keeps in the shared record besides its socket: the
// setup saves owed for a peer's bank steps and, on a remote station, the
// server's amplifier as its last status text told it.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

struct Works;

// The status text a server sends on every supervisor pass (44 bytes), parsed.
constexpr int kRemoteStatusLen = 44;
struct RemoteStatus {
    char band[5]; // antenna-table band name, "----" when none
    char iface;   // the working mode '0'-'4' (ui/menu.h)
    int att;      // attenuator index
    int ant;      // antenna, 0-based
    bool bypass;  // amplifier in stand-by
    char tuner;   // 'T' in line, 'B' through, 'N' none installed
    bool tuning;  // a tune is running
    float swr, fwd, in, temp, volts, amps;
    int bank;
    int err; // the last code of the error list, -1 when it is empty
};
// False when `text` is not a status text (another length, a remote command,
// a field that does not read).
bool ParseStatusText(const char *text, int length, RemoteStatus *out);
// Reflected power from forward power and SWR.
float ReflectedFromSwr(float fwd, float swr);

struct RemoteLink {
    // Bank steps a peer asked for: the setup write they owe, and the last one.
    std::atomic<uint8_t> bankSavePending{0};
    std::atomic<uint64_t> bankSavedMs{0};
    // A peer's reboot command: when the reboot is due (0 none). The frame
    // loops go on meanwhile; RemoteCommandsTick carries it out.
    std::atomic<uint64_t> rebootAt{0};
    // Remote station: the server's last status and when it came (0 never).
    std::mutex statusLock;
    RemoteStatus status{}; // guarded by statusLock
    std::atomic<uint64_t> statusMs{0};
};

// A remote station shows its server's amplifier while it is connected and the
// server's status is at most this old; then its own again.
constexpr uint64_t kRemoteFreshMs = 2000;

// Remote station: a status text arrived from the server.
void RemoteStatusStore(Works *works, const RemoteStatus &status);
// The server's amplifier while a remote station shows it (see kRemoteFreshMs);
// false when the station shows its own.
bool RemoteStatusShown(Works *works, RemoteStatus *out);
// A remote station that showed its server's amplifier and has lost it.
bool RemoteStatusLost(Works *works);
