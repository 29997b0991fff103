// Remote audio: the codec path, capture through the simulated sound device,
// playback of received packets and the playback watcher.
#include "model/errors.h"
#include "remote/audio.h"
#include "remote/compress.h"
#include "remote/frames.h"
#include "remote/ws_proto.h"
#include "unit.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <opus/opus.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A connected peer on a socket pair: the unit writes on one end.
struct Peer {
    int sv[2] = {-1, -1};
    explicit Peer(Works *w) {
        socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
        w->wsSocket = sv[0];
        w->wsConnected = 1;
    }
    ~Peer() {
        close(sv[0]);
        close(sv[1]);
    }
    // The packet of the next "SO" frame (empty on time-out).
    std::vector<uint8_t> Packet() {
        uint8_t head[10];
        if (!ReadAll(head, 10) || head[4] != 'S' || head[5] != 'O') return {};
        std::vector<uint8_t> p(WsGet32(head + 6));
        if (!ReadAll(p.data(), int(p.size()))) return {};
        return p;
    }
    bool ReadAll(uint8_t *b, int n) {
        timeval tv{5, 0};
        setsockopt(sv[1], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        for (int got = 0; got < n;) {
            ssize_t r = recv(sv[1], b + got, size_t(n - got), 0);
            if (r <= 0) return false;
            got += int(r);
        }
        return true;
    }
};

int Crossings(const std::vector<int16_t> &left) {
    int n = 0;
    for (size_t i = 1; i < left.size(); i++)
        n += (left[i - 1] < 0) != (left[i] < 0);
    return n;
}

TEST(Audio, OpusCarriesAToneAndMonoIsWidened) {
    TestUnit u;
    Works *w = u.w();
    w->audioBitrate = 64000;
    w->audioFrame = 480;
    CreateAudioCodec(w);
    ASSERT_NE(w->opusEnc, nullptr);
    Peer peer(w);
    std::vector<int16_t> out;
    std::vector<int16_t> pkt(960), dec(2 * kOpusMaxFrame);
    for (int p = 0; p < 30; p++) {
        for (int i = 0; i < 480; i++) {
            double t = (p * 480 + i) / 48000.0;
            pkt[size_t(2 * i)] = pkt[size_t(2 * i + 1)] =
                int16_t(8000 * std::sin(2 * M_PI * 1000 * t));
        }
        ASSERT_EQ(sendWebSockAudioFrame(w, pkt.data()), 0);
        std::vector<uint8_t> data = peer.Packet();
        ASSERT_FALSE(data.empty());
        ASSERT_LT(data.size(), 1920u); // compressed
        int frames = AudioDecodePacket(w, data.data(), int(data.size()), dec.data());
        ASSERT_EQ(frames, 480);
        if (p >= 10) // past the codec's start-up
            for (int i = 0; i < frames; i++)
                out.push_back(dec[size_t(2 * i)]);
    }
    // 1 kHz over 200 ms: 400 zero crossings.
    EXPECT_NEAR(Crossings(out), 400, 8);
    // A packet that is not Opus does not decode.
    const uint8_t junk[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(AudioDecodePacket(w, junk, 3, dec.data()), -1);
    DestroyAudioCodec(w);

    int16_t mono[8] = {-5, 7, 9, 11};
    WidenMono(mono, 4);
    const int16_t want[8] = {-5, -5, 7, 7, 9, 9, 11, 11};
    EXPECT_EQ(std::memcmp(mono, want, sizeof want), 0);
}

TEST(Audio, FrameSizesOpusCannotCodeAreReplaced) {
    TestUnit u;
    for (int m : {1, 2, 4, 8, 12}) {
        u.w()->audioFrame = m * 240;
        EXPECT_EQ(CheckAudioFrame(u.w()), 0);
        EXPECT_EQ(u.w()->audioFrame.load(), m * 240);
    }
    u.w()->audioFrame = 3 * 240;
    EXPECT_EQ(CheckAudioFrame(u.w()), -1);
    EXPECT_EQ(u.w()->audioFrame.load(), 480);
}

TEST(Audio, CaptureSendsRawPacketsFromTheSimulatedDevice) {
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 004: ID 0d8c:01af C-Media\n");
    w->audioBitrate = 0;
    w->audioFrame = 480;
    u.setup.EnableRead = '1';
    Peer peer(w);
    RunningThread t(th_leggi, w);
    for (int i = 0; i < 3; i++) {
        std::vector<uint8_t> p = peer.Packet();
        ASSERT_EQ(p.size(), 1920u); // 480 stereo frames
    }
    u.setup.EnableRead = '0';
    ASSERT_TRUE(t.WaitDone(kPatienceMs));
    EXPECT_EQ(ExistError(w, 9), 0);
    EXPECT_NE(ReadWholeFile(root.Path("/var/log/helix.log")).find("capture audio interface closed"),
              std::string::npos);
}

TEST(Audio, LatencyResetsOnceTheQueueGrowsPast4800Frames) {
    AudioLatency l;
    EXPECT_EQ(LatencyStep(&l, 20480), 1);
    EXPECT_EQ(LatencyStep(&l, 18000), 1);
    EXPECT_EQ(LatencyStep(&l, 15680), 1); // exactly 4800 queued
    EXPECT_EQ(LatencyStep(&l, 15679), 0); // 4801: reset
    EXPECT_EQ(l.minFree, 20480);
    EXPECT_EQ(LatencyStep(&l, 20000), 1); // counting starts anew
    EXPECT_EQ(LatencyStep(&l, 0), 1);     // no reading: ignored
}

TEST(Audio, PlaybackPlaysPacketsAndNoticesTheDeviceGoing) {
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 004: ID 0d8c:01af C-Media\n");
    audioOutStartWaitMs = 0;
    w->errSuspend = 0;
    w->audioBitrate = 0;
    w->audioFrame = 480;
    u.setup.EnableWrite = '1';
    RunningThread t(th_scrivi, w);
    ASSERT_TRUE(WaitUntil([&] { return w->audioOutReady == 1; }, kPatienceMs));

    std::vector<uint8_t> raw(1920, 0x11);
    EXPECT_EQ(PlayAudioPacket(w, false, raw.data(), 1920), 480);
    // A peer's length larger than the buffer plays the buffer only.
    std::vector<uint8_t> big(4000, 0x22);
    EXPECT_EQ(PlayAudioPacket(w, true, big.data(), 4000), 480);

    // Opus: an undecodable packet is one packet of silence; a peer's 20 ms
    // packets (960 frames) play whole.
    w->audioBitrate = 64000;
    CreateAudioCodec(w);
    const uint8_t junk[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(PlayAudioPacket(w, false, junk, 3), 480);
    for (int i = 0; i < 1920; i++)
        ASSERT_EQ(w->playBuf[i], 0);
    int err = 0;
    OpusEncoder *enc = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
    std::vector<int16_t> tone(2 * 960, 1000);
    uint8_t pkt[4000];
    int n = opus_encode(enc, tone.data(), 960, pkt, sizeof pkt);
    opus_encoder_destroy(enc);
    ASSERT_GT(n, 0);
    EXPECT_EQ(PlayAudioPacket(w, false, pkt, n), 960);

    // The sound device goes: the thread sees it (error 10) and ends, without
    // running lsusb.
    unlink(root.Path("/lsusb.txt").c_str());
    ASSERT_TRUE(t.WaitDone(kPatienceMs));
    EXPECT_EQ(ExistError(w, 10), 1);
    EXPECT_EQ(u.setup.EnableWrite.load(), '0');
    EXPECT_EQ(w->audioPlayback, nullptr);
    EXPECT_EQ(PlayAudioPacket(w, false, raw.data(), 1920), 0);
    for (const std::string &line : SimCommands(root.root))
        EXPECT_EQ(line.find("lsusb"), std::string::npos) << line;
    DestroyAudioCodec(w);
    audioOutStartWaitMs = 3000;
}

} // namespace
