#include "remote/audio.h"

#include "model/errors.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/pcm.h"
#include "remote/frames.h"
#include "platform/usb.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <opus/opus.h>
#include <vector>

int audioOutStartWaitMs = 3000;

namespace {

constexpr int kOpenTries = 100;
constexpr int kOpenRetryMs = 100;
constexpr long kMaxQueued = 4800; // frames: 100 ms at 48 kHz

// The latency counters of the server's and the client's frame loop.
AudioLatency gLatency[2];

void ErrBoth(const char *fmt, const char *text) {
    LogErr(fmt, text);
    char line[256];
    std::snprintf(line, sizeof line, fmt, text);
    Trace("%s\n", line);
}

// Waits `ms` in short steps while `sw` stays '1' and the run goes on.
bool WaitWhile(Works *w, const std::atomic<char> *sw, unsigned ms) {
    uint64_t start = NowMs();
    while (!expired(start, NowMs(), ms)) {
        if (w->running == 0 || sw->load() != '1') return false;
        SleepMs(10);
    }
    return true;
}

// The USB sound device is still there (looked at no more than once a second).
bool AudioPresent(Works *w) {
    return VerifyAudioTAV(w) != 0;
}

void ClosePlayback(Works *w) {
    std::lock_guard<std::mutex> lock(w->audioOutLock);
    w->audioOutReady = 0;
    if (w->audioPlayback != nullptr) PcmClose(w->audioPlayback);
    w->audioPlayback = nullptr;
    std::free(w->playBuf);
    w->playBuf = nullptr;
    w->playBufLen = 0;
}

// --- capture ---

int OpenCapture(Works *w, const char *name) {
    PcmDev *d = nullptr;
    int err = 0, tries = 0;
    for (tries = 1; tries <= kOpenTries; tries++) {
        err = PcmOpen(&d, name, true);
        if (err == 0) break;
        Trace("EIK 2 audio in %s (%i)\n", name, tries);
        if (!WaitWhile(w, &w->setup->EnableRead, kOpenRetryMs)) break;
    }
    if (err != 0) {
        Trace("EIK 3 audio in %s\n", name);
        LogErr("cannot open capture audio device '%s' (%s) after %d/10\"", name, PcmError(err),
               tries);
        Trace("cannot open capture audio device '%s' (%s)\n", name, PcmError(err));
        return -1;
    }
    w->audioCapture = d;
    LogInfo("capture audio interface %s opened", name);
    int e, rate = w->audioRate;
    if ((e = PcmHwAlloc(d)) < 0) {
        ErrBoth("cannot allocate capture hardware parameter structure (%s)", PcmError(e));
    } else if ((e = PcmHwAny(d)) < 0) {
        ErrBoth("cannot initialize capture hardware parameter structure (%s)", PcmError(e));
    } else if ((e = PcmHwAccessInterleaved(d)) < 0) {
        ErrBoth("cannot set capture access type (%s)", PcmError(e));
    } else if ((e = PcmHwFormat(d, w->audioFormat)) < 0) {
        ErrBoth("cannot set capture sample format (%s)", PcmError(e));
    } else if ((e = PcmHwRateNear(d, &rate)) < 0) {
        ErrBoth("cannot set capture sample rate (%s)", PcmError(e));
    } else if ((w->audioRate = rate, LogInfo("capture hw_params rate set to %d", rate),
                (e = PcmHwChannels(d, w->captureChannels))) < 0) {
        ErrBoth("cannot set capture channel count (%s)", PcmError(e));
    } else if ((LogInfo("capture hw_params number of channels set to %d",
                        w->captureChannels.load()),
                (e = PcmHwApply(d))) < 0) {
        ErrBoth("cannot set capture parameters (%s)", PcmError(e));
    } else if ((PcmHwFree(d), (e = PcmPrepare(d))) < 0) {
        ErrBoth("cannot prepare capture audio interface for use (%s)", PcmError(e));
    } else if ((e = PcmStart(d)) < 0) {
        ErrBoth("cannot start capture pcm handler (%s)", PcmError(e));
    }
    return e < 0 ? -1 : 0;
}

// Reads, widens and sends one packet; 0 to go on, -1 when the device has gone
// or failed beyond recovery.
int CapturePacket(Works *w, int16_t *buf) {
    int frames = w->audioFrame;
    long r = PcmRead(w->audioCapture, buf, frames);
    if (r == -EPIPE || r == -ESTRPIPE) { // overrun: start over
        PcmPrepare(w->audioCapture);
        PcmStart(w->audioCapture);
        return 0;
    }
    if (r == -EAGAIN || r == -EINTR) return 0;
    if (r < 0) {
        LogErr("capture read failed (%s)", PcmError(int(r)));
        return PcmGone(int(r)) ? -1 : 0;
    }
    if (r < frames) return 0; // a partial packet is not sent
    if (w->captureChannels == 1) WidenMono(buf, frames);
    sendWebSockAudioFrame(w, buf);
    return 0;
}

} // namespace

int CheckAudioFrame(Works *w) {
    int f = w->audioFrame;
    for (int ok : {120, 240, 480, 960, 1920, 2880})
        if (f == ok) return 0;
    LogErr("audio frame of %d samples is not an Opus frame size: 480 used", f);
    Trace("audio frame of %d samples is not an Opus frame size: 480 used\n", f);
    w->audioFrame = 480;
    return -1;
}

void WidenMono(int16_t *buf, int frames) {
    for (int k = frames - 1; k >= 0; k--) {
        int16_t s = buf[k];
        buf[2 * k] = s;
        buf[2 * k + 1] = s;
    }
}

void ExitAUDIOread(Works *w) {
    Trace("th_leggi ERR\n");
    AddErrore(w, kErrAudioRead);
    if (w->audioCapture != nullptr) PcmClose(w->audioCapture);
    w->audioCapture = nullptr;
    w->remoteFault = 1;
    w->setup->EnableRead = '0';
    w->audioOutReady = 0;
}

void *th_leggi(void *arg) {
    Works *w = static_cast<Works *>(arg);
    char name[sizeof w->setup->AudioIn + 1] = {};
    std::memcpy(name, w->setup->AudioIn, sizeof w->setup->AudioIn);
    int channels = 1;
    if (std::sscanf(w->setup->InChannels, "%d", &channels) != 1 || channels < 1 || channels > 2)
        channels = 1;
    w->captureChannels = channels;
    CheckAudioFrame(w); // the packet buffer below holds the largest size it allows
    if (OpenCapture(w, name) != 0) {
        ExitAUDIOread(w);
        return nullptr;
    }
    // Room for a stereo packet of any size the frame check allows.
    std::vector<int16_t> buf(size_t(2 * 2880));
    uint64_t start = NowMs(), lastCheck = start;
    uint64_t framesRead = 0;
    while (w->setup->EnableRead.load() == '1' && w->running != 0) {
        if (CapturePacket(w, buf.data()) != 0) {
            ExitAUDIOread(w);
            return nullptr;
        }
        framesRead += uint64_t(w->audioFrame);
        uint64_t now = NowMs();
        if (expired(lastCheck, now, 1000)) {
            lastCheck = now;
            if (!AudioPresent(w)) {
                ExitAUDIOread(w);
                return nullptr;
            }
        }
        // A device that never blocks (ALSA's null plugin) is held to real
        // time; a sound card's blocking reads keep this from ever waiting.
        uint64_t due =
            start + framesRead * 1000u / uint64_t(w->audioRate > 0 ? w->audioRate.load() : 48000);
        if (due > now + 200) SleepMs(uint32_t(due - now - 200));
    }
    int e = PcmDrop(w->audioCapture);
    if (e < 0) {
        ErrBoth("cannot drop capture pcm handler (%s)", PcmError(e));
        ExitAUDIOread(w);
        return nullptr;
    }
    LogInfo("buffer freed");
    LogInfo("capture audio interface closed");
    PcmClose(w->audioCapture);
    w->audioCapture = nullptr;
    w->setup->EnableRead = '0';
    Trace("th_leggi END\n");
    return nullptr;
}

// --- playback ---

void ExitAUDIOwrite(Works *w) {
    Trace("th_scrivi ERR\n");
    AddErrore(w, kErrAudioWrite);
    ClosePlayback(w);
    w->remoteFault = 1;
    w->setup->EnableWrite = '0';
}

namespace {

int OpenPlayback(Works *w) {
    char name[sizeof w->setup->AudioOut + 1] = {};
    std::memcpy(name, w->setup->AudioOut, sizeof w->setup->AudioOut);
    PcmDev *d = nullptr;
    int err = 0;
    for (int tries = 1; tries <= kOpenTries; tries++) {
        err = PcmOpen(&d, name, false);
        if (err == 0) break;
        Trace("EIK 2 audio out %d (%i)\n", err, tries);
        if (!WaitWhile(w, &w->setup->EnableWrite, kOpenRetryMs)) break;
    }
    if (err != 0) {
        Trace("EIK 3 audio out\n");
        LogErr("cannot open output audio device %s (%s)", name, PcmError(err));
        Trace("cannot open output audio device %s (%s)\n", name, PcmError(err));
        return -1;
    }
    LogInfo("output audio interface %s opened", name);
    int e, rate = w->audioRate, periods = w->audioBuffers;
    char text[64];
    if ((e = PcmHwAlloc(d)) < 0) {
        ErrBoth("cannot allocate playback hardware parameter structure (%s)", PcmError(e));
    } else if ((e = PcmHwAny(d)) < 0) {
        ErrBoth("cannot initialize playback hardware parameter structure (%s)", PcmError(e));
    } else if ((e = PcmHwResample(d, true)) < 0) {
        ErrBoth("cannot set playback resample to yes (%s)", PcmError(e));
    } else if ((e = PcmHwAccessInterleaved(d)) < 0) {
        ErrBoth("cannot set playback access type (%s)", PcmError(e));
    } else if ((e = PcmHwFormat(d, w->audioFormat)) < 0) {
        ErrBoth("cannot set playback sample format (%s)", PcmError(e));
    } else if ((LogInfo("playback hw_params SND_PCM_FORMAT_S16_LE format set "),
                (e = PcmHwRateNear(d, &rate))) < 0) {
        ErrBoth("cannot set playback sample rate (%s)", PcmError(e));
    } else if ((w->audioRate = rate, LogInfo("playback hw_params rate set to %d", rate),
                (e = PcmHwChannels(d, 2))) < 0) {
        ErrBoth("Cannot set playback channel count (%s)", PcmError(e));
    } else if ((LogInfo("playback hw_params number of channels set to 2"),
                (e = PcmHwPeriods(d, periods))) < 0) {
        std::snprintf(text, sizeof text, "Cannot set periods %d (%%s)", periods);
        ErrBoth(text, PcmError(e));
    } else if ((e = PcmHwBufferSize(d, long(periods) * 1024)) < 0) {
        std::snprintf(text, sizeof text, "Cannot set buffersize %d (%%s)", periods * 1024);
        ErrBoth(text, PcmError(e));
    } else if ((e = PcmHwApply(d)) < 0) {
        ErrBoth("cannot set playback parameters (%s)", PcmError(e));
    }
    if (e < 0) {
        PcmClose(d);
        return -1;
    }
    LogInfo("playback hw_params set");
    PcmHwFree(d);
    LogInfo("playback hw_params freed\n");
    int bytes = w->audioFrame * 4;
    auto *buf = static_cast<uint8_t *>(std::calloc(size_t(bytes), 1));
    if (buf == nullptr) {
        LogErrTrace("playback buffer not allocated");
        PcmClose(d);
        return -1;
    }
    LogInfo("playback buffer allocated (%d)", bytes);
    std::lock_guard<std::mutex> lock(w->audioOutLock);
    w->audioPlayback = d;
    w->playBuf = buf;
    w->playBufLen = bytes;
    w->audioOutGone = 0;
    w->audioOutReady = 1;
    return 0;
}

// Watches the device every `ms` while `cond` holds; false when it has gone.
template <typename F> bool Watch(Works *w, unsigned ms, F cond) {
    while (cond()) {
        if (w->audioOutGone != 0 || !AudioPresent(w)) return false;
        SleepMs(ms);
    }
    return true;
}

} // namespace

void *th_scrivi(void *arg) {
    Works *w = static_cast<Works *>(arg);
    w->audioOutReady = 0;
    WaitWhile(w, &w->setup->EnableWrite, unsigned(audioOutStartWaitMs));
    for (;;) {
        if (w->setup->EnableWrite.load() != '1' || w->running == 0) {
            LogInfo("output audio interface closed");
            Trace("output audio interface closed\n");
            ClosePlayback(w);
            w->setup->EnableWrite = '0';
            Trace("th_scrivi END\n");
            return nullptr;
        }
        if (OpenPlayback(w) != 0) {
            ExitAUDIOwrite(w);
            return nullptr;
        }
        auto on = [w] { return w->setup->EnableWrite.load() == '1' && w->running != 0; };
        if (!Watch(w, 50, [&] { return w->wsConnected != 1 && on(); })) {
            ExitAUDIOwrite(w);
            return nullptr;
        }
        int e;
        {
            std::lock_guard<std::mutex> lock(w->audioOutLock);
            e = PcmPrepare(w->audioPlayback);
        }
        if (e < 0) {
            ErrBoth("cannot prepare output audio interface for use (%s)", PcmError(e));
            ExitAUDIOwrite(w);
            return nullptr;
        }
        LogInfo("output audio interface prepared");
        Trace("output audio interface prepared\n");
        if (!Watch(w, 10, [&] { return w->wsConnected == 1 && on(); })) {
            ExitAUDIOwrite(w);
            return nullptr;
        }
        LogInfo("output audio interface to be stopped");
        Trace("output audio interface to be stopped\n");
        {
            std::lock_guard<std::mutex> lock(w->audioOutLock);
            w->audioOutReady = 0;
            int e = PcmDrain(w->audioPlayback);
            if (e < 0) LogErr("cannot drain playback pcm handler (%s)", PcmError(e));
        }
        // Closed before it is opened again, so the card is free for the open.
        ClosePlayback(w);
        LogInfo("playback buffer freed");
    }
}

int AudioDecodePacket(Works *w, const uint8_t *data, int n, int16_t *out) {
    if (n <= 0) return -1;
    if (w->audioBitrate == 0) {
        int frames = n / 4;
        if (frames > kOpusMaxFrame) frames = kOpusMaxFrame;
        std::memcpy(out, data, size_t(frames) * 4);
        return frames;
    }
    if (w->opusDec == nullptr) return -1;
    int r = opus_decode(static_cast<OpusDecoder *>(w->opusDec), data, n, out, kOpusMaxFrame, 0);
    return r < 0 ? -1 : r;
}

int LatencyStep(AudioLatency *l, long freeNow) {
    l->free = freeNow;
    if (l->firstFree == 0 && l->free > 0) l->firstFree = l->minFree = l->free;
    if (l->free > 0 && l->free < l->minFree) l->minFree = l->free;
    if (l->firstFree - l->minFree < kMaxQueued + 1) return 1;
    l->minFree = l->firstFree;
    return 0;
}

int PlayAudioPacket(Works *w, bool client, const uint8_t *data, int n) {
    if (w->setup->EnableWrite.load() != '1') return 0;
    if (!client) LogInfo("EIK, SO 01");
    // Only this side's frame loop uses the decoder and this buffer.
    static thread_local int16_t pcm[2 * kOpusMaxFrame];
    std::lock_guard<std::mutex> lock(w->audioOutLock);
    PcmDev *d = w->audioPlayback;
    if (w->audioOutReady != 1 || d == nullptr || w->playBuf == nullptr) return 0;
    const void *src;
    int frames;
    if (w->audioBitrate == 0) {
        int bytes = n < w->playBufLen ? n : w->playBufLen.load();
        if (bytes < 0) bytes = 0;
        std::memcpy(w->playBuf, data, size_t(bytes));
        src = w->playBuf;
        frames = bytes / 4;
    } else {
        frames = AudioDecodePacket(w, data, n, pcm);
        if (frames < 0) { // undecodable: one packet of silence
            std::memset(w->playBuf, 0, size_t(w->playBufLen));
            src = w->playBuf;
            frames = w->playBufLen / 4;
        } else {
            src = pcm;
        }
    }
    if (frames <= 0) return 0;
    if (!client) LogInfo("EIK, SO 03");
    AudioLatency *l = &gLatency[client ? 1 : 0];
    long avail = PcmAvail(d);
    if (PcmGone(int(avail))) {
        w->audioOutGone = 1; // th_scrivi ends through its error exit
        return client ? -1 : 0;
    }
    if (LatencyStep(l, avail) == 0) {
        PcmReset(d);
        return 0;
    }
    long r = PcmWrite(d, src, frames);
    if (r == frames) return frames;
    LogErr("write to output audio interface failed %d (%d - %s)\n", frames, int(r),
           PcmError(int(r)));
    if (r == -EPIPE) {
        PcmPrepare(d);
        if (!client) r = PcmWrite(d, src, frames);
        return r > 0 ? int(r) : 0;
    }
    if (r < 0 && PcmGone(int(r))) w->audioOutGone = 1;
    if (client && r < 0) return -1;
    return r > 0 ? int(r) : 0;
}

int VerifyAudioTAV(Works *w) {
    return VerifyAudioTAV(w, NowMs());
}

int VerifyAudioTAV(Works *, uint64_t now) {
    // The bus's device list, looked at no more than once a second.
    return UsbCountDevices(0x0d8c, 0x01af, now);
}
