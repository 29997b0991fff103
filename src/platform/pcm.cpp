#include "platform/pcm.h"

#include "platform/paths.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <string>
#include <unistd.h>

struct PcmDev {
    snd_pcm_t *pcm = nullptr;
    snd_pcm_hw_params_t *hw = nullptr;
    snd_config_t *conf = nullptr; // the simulated root's configuration
};

namespace {

// The root's own ALSA configuration, when there is one.
snd_config_t *RootConfig() {
    if (RootPrefix().empty()) return nullptr;
    std::string path = ResolvePath("/etc/asound.conf");
    if (access(path.c_str(), R_OK) != 0) return nullptr;
    snd_config_t *top = nullptr;
    if (snd_config_top(&top) < 0) return nullptr;
    snd_input_t *in = nullptr;
    if (snd_input_stdio_open(&in, path.c_str(), "r") < 0) {
        snd_config_delete(top);
        return nullptr;
    }
    int r = snd_config_load(top, in);
    snd_input_close(in);
    if (r < 0) {
        snd_config_delete(top);
        return nullptr;
    }
    return top;
}

} // namespace

int PcmOpen(PcmDev **out, const char *name, bool capture) {
    *out = nullptr;
    auto *d = new PcmDev;
    snd_pcm_stream_t stream = capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
    d->conf = RootConfig();
    int r = d->conf != nullptr ? snd_pcm_open_lconf(&d->pcm, name, stream, 0, d->conf)
                               : snd_pcm_open(&d->pcm, name, stream, 0);
    if (r < 0) {
        PcmClose(d);
        return r;
    }
    *out = d;
    return 0;
}

void PcmClose(PcmDev *d) {
    if (d == nullptr) return;
    PcmHwFree(d);
    if (d->pcm != nullptr) snd_pcm_close(d->pcm);
    if (d->conf != nullptr) snd_config_delete(d->conf);
    delete d;
}

const char *PcmError(int err) {
    return snd_strerror(err);
}

int PcmHwAlloc(PcmDev *d) {
    PcmHwFree(d);
    return snd_pcm_hw_params_malloc(&d->hw);
}

int PcmHwAny(PcmDev *d) {
    return snd_pcm_hw_params_any(d->pcm, d->hw);
}

int PcmHwResample(PcmDev *d, bool on) {
    return snd_pcm_hw_params_set_rate_resample(d->pcm, d->hw, on ? 1 : 0);
}

int PcmHwAccessInterleaved(PcmDev *d) {
    return snd_pcm_hw_params_set_access(d->pcm, d->hw, SND_PCM_ACCESS_RW_INTERLEAVED);
}

int PcmHwFormat(PcmDev *d, int format) {
    return snd_pcm_hw_params_set_format(d->pcm, d->hw, snd_pcm_format_t(format));
}

int PcmHwRateNear(PcmDev *d, int *rate) {
    unsigned r = unsigned(*rate);
    int e = snd_pcm_hw_params_set_rate_near(d->pcm, d->hw, &r, nullptr);
    if (e == 0) *rate = int(r);
    return e;
}

int PcmHwChannels(PcmDev *d, int channels) {
    return snd_pcm_hw_params_set_channels(d->pcm, d->hw, unsigned(channels));
}

int PcmHwPeriods(PcmDev *d, int periods) {
    return snd_pcm_hw_params_set_periods(d->pcm, d->hw, unsigned(periods), 0);
}

int PcmHwBufferSize(PcmDev *d, long frames) {
    return snd_pcm_hw_params_set_buffer_size(d->pcm, d->hw, snd_pcm_uframes_t(frames));
}

int PcmHwApply(PcmDev *d) {
    return snd_pcm_hw_params(d->pcm, d->hw);
}

void PcmHwFree(PcmDev *d) {
    if (d->hw != nullptr) snd_pcm_hw_params_free(d->hw);
    d->hw = nullptr;
}

int PcmPrepare(PcmDev *d) {
    return snd_pcm_prepare(d->pcm);
}

int PcmStart(PcmDev *d) {
    return snd_pcm_start(d->pcm);
}

int PcmDrop(PcmDev *d) {
    return snd_pcm_drop(d->pcm);
}

int PcmDrain(PcmDev *d) {
    return snd_pcm_drain(d->pcm);
}

long PcmRead(PcmDev *d, void *buf, long frames) {
    return snd_pcm_readi(d->pcm, buf, snd_pcm_uframes_t(frames));
}

long PcmWrite(PcmDev *d, const void *buf, long frames) {
    return snd_pcm_writei(d->pcm, buf, snd_pcm_uframes_t(frames));
}

long PcmAvail(PcmDev *d) {
    return snd_pcm_avail(d->pcm);
}

int PcmReset(PcmDev *d) {
    int e = snd_pcm_drop(d->pcm);
    if (e < 0) return e;
    return snd_pcm_prepare(d->pcm);
}

bool PcmGone(int err) {
    return err == -ENODEV || err == -ENXIO || err == -ESHUTDOWN;
}
