// ALSA PCM devices for the remote audio. Results are ALSA's: 0 (or a count)
// on success, a negative error code otherwise; PcmError gives its text.
//
// Device names: on the unit the setup's names ("hw:1") go to ALSA as they
// are. In a simulated root (HELIX_ROOT set) holding <root>/etc/asound.conf,
// the names are looked up in that configuration alone, which maps them to
// ALSA's own plugins (null, file), so the same code runs without a sound card.
#pragma once
#include <cstdint>

struct PcmDev;

// Opens `name` for capture or playback in blocking mode.
int PcmOpen(PcmDev **out, const char *name, bool capture);
void PcmClose(PcmDev *dev);
const char *PcmError(int err);

// Hardware parameters, one step each (in the order the caller needs).
int PcmHwAlloc(PcmDev *dev); // allocates the structure
int PcmHwAny(PcmDev *dev);   // fills it with the full configuration space
int PcmHwResample(PcmDev *dev, bool on);
int PcmHwAccessInterleaved(PcmDev *dev);
int PcmHwFormat(PcmDev *dev, int format);
int PcmHwRateNear(PcmDev *dev, int *rate);
int PcmHwChannels(PcmDev *dev, int channels);
int PcmHwPeriods(PcmDev *dev, int periods);
int PcmHwBufferSize(PcmDev *dev, long frames);
int PcmHwApply(PcmDev *dev);
void PcmHwFree(PcmDev *dev);

int PcmPrepare(PcmDev *dev);
int PcmStart(PcmDev *dev);
int PcmDrop(PcmDev *dev);
int PcmDrain(PcmDev *dev);
// Reads `frames` frames (blocking); frames read or an error.
long PcmRead(PcmDev *dev, void *buf, long frames);
// Writes `frames` frames; frames written or an error.
long PcmWrite(PcmDev *dev, const void *buf, long frames);
// Free space (playback) or waiting frames (capture), or an error.
long PcmAvail(PcmDev *dev);
// Drops what the device holds and makes it ready again.
int PcmReset(PcmDev *dev);
// True when `err` means the device has gone (unplugged).
bool PcmGone(int err);
