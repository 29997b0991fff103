#include "remote/compress.h"

#include "model/works.h"
#include "platform/log.h"

#include <opus/opus.h>

void CreateAudioCodec(Works *w) {
    int err = 0;
    OpusEncoder *enc = opus_encoder_create(w->audioRate, 2, OPUS_APPLICATION_AUDIO, &err);
    if (err != OPUS_OK || enc == nullptr) {
        LogErr("failed to create an encoder: %s", opus_strerror(err));
        w->audioBitrate = 0;
        return;
    }
    err = opus_encoder_ctl(enc, OPUS_SET_BITRATE(w->audioBitrate.load()));
    if (err != OPUS_OK) {
        LogErr("failed to set bitrate: %s", opus_strerror(err));
        opus_encoder_destroy(enc);
        w->audioBitrate = 0;
        return;
    }
    OpusDecoder *dec = opus_decoder_create(w->audioRate, 2, &err);
    if (err != OPUS_OK || dec == nullptr) {
        LogErr("failed to create decoder: %s", opus_strerror(err));
        opus_encoder_destroy(enc);
        w->audioBitrate = 0;
        return;
    }
    w->opusEnc = enc;
    w->opusDec = dec;
}

void DestroyAudioCodec(Works *w) {
    if (w->opusEnc != nullptr) opus_encoder_destroy(static_cast<OpusEncoder *>(w->opusEnc));
    if (w->opusDec != nullptr) opus_decoder_destroy(static_cast<OpusDecoder *>(w->opusDec));
    w->opusEnc = nullptr;
    w->opusDec = nullptr;
}
