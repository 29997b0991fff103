// Remote audio: capture to the peer (th_leggi, switch EnableRead) and
// playback from the peer (th_scrivi, switch EnableWrite; the frame loops play
// the received "SO" packets through PlayAudioPacket).
#pragma once
#include <cstdint>

struct Works;

void *th_leggi(void *arg);
void *th_scrivi(void *arg);

// Milliseconds th_scrivi waits before it opens the device (start-up settling).
extern int audioOutStartWaitMs;

// Largest Opus frame at 48 kHz (120 ms), per channel.
constexpr int kOpusMaxFrame = 5760;

// Keeps `audioFrame` to a size Opus can code (120, 240, 480, 960, 1920 or
// 2880 samples); another `Multiplier` is reported and replaced by 480.
// Returns 0 when the size was kept.
int CheckAudioFrame(Works *works);

// Widens `frames` mono samples at the start of `buf` in place to stereo
// frames (left = right), last first.
void WidenMono(int16_t *buf, int frames);

// Decodes one received packet into `out` (stereo, at most kOpusMaxFrame
// frames): raw PCM when audioBitrate is 0, else Opus. Frames, or -1 when the
// packet does not decode.
int AudioDecodePacket(Works *works, const uint8_t *data, int n, int16_t *out);

// Plays one received "SO" packet. `client` selects the client's rules and
// its latency counters. Returns the frames handed to the device (0 when
// nothing was played), or -1 when the client must end the connection.
int PlayAudioPacket(Works *works, bool client, const uint8_t *data, int n);

// Latency control of one side: the playback device's free space is watched;
// once more than 4800 frames have piled up since the counters were last set,
// the device is reset instead of written.
struct AudioLatency {
    long free = 0, firstFree = 0, minFree = 0;
};
// Takes the device's free space; 1: write the packet, 0: reset the device.
int LatencyStep(AudioLatency *l, long freeNow);

void ExitAUDIOread(Works *works);
void ExitAUDIOwrite(Works *works);

// Number of attached USB sound devices 0d8c:01af (the bus is looked at at
// most once a second; `now` in ms of the monotonic clock).
int VerifyAudioTAV(Works *works);
int VerifyAudioTAV(Works *works, uint64_t now);
