// The Opus codec of the remote audio link.
#pragma once
struct Works;
// Creates encoder and decoder; on failure logs and sets audioBitrate to 0.
void CreateAudioCodec(Works *works);
void DestroyAudioCodec(Works *works);
