// TAV transceiver link: frame decoding, the parameter record, the spectrum
// rotation, the step driven pass by pass, and the real thread against the
// simulated transceiver.
#include "radio.h"
#include "unit.h"

#include "transceiver/serial.h"
#include "model/errors.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A unit whose error list takes entries (start-up keeps it suspended).
struct Unit : TestUnit {
    Unit() {
        InitErrTab(w());
        works.errSuspend = 0;
    }
};

// Both ends of a local stream: the link's side and the radio's side.
struct Line {
    int link = -1, radio = -1;
    Line() {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            link = sv[0];
            radio = sv[1];
            fcntl(radio, F_SETFL, O_NONBLOCK);
        }
    }
    ~Line() {
        close(link);
        close(radio);
    }
    void Send(const Bytes &b) const {
        ASSERT_EQ(write(radio, b.data(), b.size()), (ssize_t)b.size());
    }
    std::string Received() const {
        char buf[256];
        ssize_t n = read(radio, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
};

// Runs the step until it has nothing left to read at time `now`.
void Drain(Works *w, TavLink *l, uint64_t now) {
    for (int i = 0; i < 10000 && SerialStep(w, l, now) == 0; i++) {
    }
}

Bytes Payload(const SimTavState &s) {
    return SimTavParamPayload(s);
}

TEST(TavDecode, LengthDigitsAreLowDigitFirst) {
    Unit u;
    char kind = 0;
    int len = 0;
    const uint8_t four[] = {'1', '4', '0', '0', '0'};
    EXPECT_EQ(decodeCmdParameters(u.w(), four, &kind, &len), 4);
    EXPECT_EQ(kind, '1');
    const uint8_t ten[] = {'0', ':', '0', '0', '0'};
    EXPECT_EQ(decodeCmdParameters(u.w(), ten, &kind, &len), 10);
    const uint8_t mixed[] = {'1', '?', '2', '1', '0'}; // 0x012F
    EXPECT_EQ(decodeCmdParameters(u.w(), mixed, &kind, &len), 0x12F);
    // 0x07D0 = 2000 and beyond are capped; a byte below '0' never gives a negative length.
    const uint8_t big[] = {'1', '0', '=', '7', '0'};
    EXPECT_EQ(decodeCmdParameters(u.w(), big, &kind, &len), 1999);
    const uint8_t low[] = {'1', 0x01, 0x02, 0x00, 0x00};
    EXPECT_GE(decodeCmdParameters(u.w(), low, &kind, &len), 0);
}

TEST(TavDecode, FrequencyDigitsAndVfoSelection) {
    Unit u;
    // 14.074 MHz = 0x00D6C090 arrives as '0' '0' '=' '6' '<' '0' '9' '0'.
    Bytes p = Payload({});
    const char digits[] = "00=6<090";
    std::memcpy(&p[1], digits, 8);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.freqA, 14074000u);
    EXPECT_EQ(u.tavPar.freqCur, 14074000u);
    EXPECT_EQ(u.tavPar.received, 1);

    // A frame for VFO B while A is active: B changes, the current stays on A.
    SimTavState b;
    b.freq = 7100000;
    b.frameVfoB = 1;
    b.opMode = 3;
    p = Payload(b);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.freqB, 7100000u);
    EXPECT_EQ(u.tavPar.freqA, 14074000u);
    EXPECT_EQ(u.tavPar.freqCur, 14074000u);
    EXPECT_EQ(u.tavPar.freqPrev, 14074000u);
    EXPECT_EQ(u.tavPar.modeB, 3);
    EXPECT_EQ(u.tavPar.modeCur, 1);

    // B becomes active: the current frequency and mode follow it.
    b.activeVfoB = 1;
    p = Payload(b);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.freqCur, 7100000u);
    EXPECT_EQ(u.tavPar.freqPrev, 14074000u);
    EXPECT_EQ(u.tavPar.modeCur, 3);

    // Memory mode wins over either VFO.
    SimTavState m;
    m.memory = 1;
    m.freq = 3573000;
    m.activeVfoB = 1;
    p = Payload(m);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.freqMem, 3573000u);
    EXPECT_EQ(u.tavPar.freqCur, 3573000u);
    EXPECT_EQ(u.tavPar.freqB, 7100000u);
}

TEST(TavDecode, LowPassSignAndOffsets) {
    Unit u;
    SimTavState s;
    s.lp = 0; // off with no previous value: the default -1
    Bytes p = Payload(s);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.lp, -1);
    s.lp = 1;
    p = Payload(s);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.lp, 1);
    s.lp = 0; // off keeps the magnitude, negative
    p = Payload(s);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.lp, -1);
    // A byte 20 outside 0x40..0x7F leaves lp alone.
    p[20] = 0x38;
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.lp, -1);

    s.offset12 = 0xABC;
    s.offset20 = -0x12345;
    p = Payload(s);
    EXPECT_GE(p[26], '8'); // negative: the top digit is '8' or above
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.offset12, 0xABC);
    EXPECT_EQ(u.tavPar.offset20, -0x12345);
    const char eight[] = "80000";
    std::memcpy(&p[26], eight, 5);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.offset20, -8 * 65536);
    const char pos[] = "7FFFF";
    std::memcpy(&p[26], pos, 5);
    p[26] = '7', p[27] = '?', p[28] = '?', p[29] = '?', p[30] = '?';
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.offset20, 0x7FFFF);
    // Fields beyond a short payload are not read (offset stays).
    storeParameters(u.w(), 26, p.data());
    EXPECT_EQ(u.tavPar.offset20, 0x7FFFF);
}

TEST(TavDecode, TransmitFlagInputSelectorAndShortPayloads) {
    Unit u;
    SimTavState s;
    s.tx = 1;
    s.inputSel = 2;
    Bytes p = Payload(s);
    storeParameters(u.w(), (int)p.size(), p.data());
    EXPECT_EQ(u.tavPar.txFlag, 1);
    EXPECT_EQ(u.tavPar.inputSel, 2);
    // Too short to carry them: they keep their values.
    storeParameters(u.w(), 31, p.data());
    EXPECT_EQ(u.tavPar.txFlag, 1);
    EXPECT_EQ(u.tavPar.inputSel, 2);
    // A three-byte payload (a remote peer may send one) reads the rest as zeros.
    const uint8_t tiny[3] = {0x40, '1', '2'};
    storeParameters(u.w(), 3, tiny);
    EXPECT_EQ(u.tavPar.freqA, 0x12000000u);
}

TEST(TavSpectrum, RotationStartForNegativeAndPositiveOffsets) {
    TavParams par{};
    par.offset20 = -17907; // -10.5 bins
    EXPECT_EQ(SpectrumStart(par), 1013);
    par.offset20 = 131; // 85.7 bins
    EXPECT_EQ(SpectrumStart(par), 85);
    par.offset20 = 0;
    par.offset12 = 1000; // 5.333 bins, down in mode 4, up in mode 6, ignored otherwise
    par.modeCur = 4;
    EXPECT_EQ(SpectrumStart(par), 79);
    par.modeCur = 6;
    EXPECT_EQ(SpectrumStart(par), 90);
    par.modeCur = 1;
    EXPECT_EQ(SpectrumStart(par), 85);
    // Offsets beyond one turn stay inside the 1024 bins.
    par.offset20 = -0x80000;
    int s = SpectrumStart(par);
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 1024);
    par.offset20 = 0x7FFFF;
    s = SpectrumStart(par);
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 1024);

    uint8_t payload[1024], bins[1024];
    for (int i = 0; i < 1024; i++)
        payload[i] = static_cast<uint8_t>(i * 7);
    par = TavParams{};
    par.offset20 = -17907;
    RotateSpectrum(par, payload, bins);
    EXPECT_EQ(bins[0], payload[1013]);
    EXPECT_EQ(bins[10], payload[1023]);
    EXPECT_EQ(bins[11], payload[0]);
    EXPECT_EQ(bins[1023], payload[1012]);
}

TEST(TavSpectrum, StoreFftLevelsAndShortFrames) {
    Unit u;
    uint8_t bytes[939];
    for (int i = 0; i < 939; i++)
        bytes[i] = static_cast<uint8_t>(i);
    storeFFT(u.w(), 939, bytes);
    float levels[854];
    std::memcpy(levels, u.spectrum1, sizeof levels);
    EXPECT_FLOAT_EQ(levels[0], 85.0f - 192.0f);
    EXPECT_FLOAT_EQ(levels[853], static_cast<float>(938 % 256) - 192.0f);
    // A short frame sets only what it carries; the rest keeps the last values.
    uint8_t shortFrame[100];
    std::memset(shortFrame, 250, sizeof shortFrame);
    storeFFT(u.w(), 100, shortFrame);
    std::memcpy(levels, u.spectrum1, sizeof levels);
    EXPECT_FLOAT_EQ(levels[0], 58.0f);
    EXPECT_FLOAT_EQ(levels[14], 58.0f);
    EXPECT_FLOAT_EQ(levels[15], 100.0f - 192.0f);
    storeFFT(u.w(), 10, shortFrame); // nothing in range
    std::memcpy(levels, u.spectrum1, sizeof levels);
    EXPECT_FLOAT_EQ(levels[0], 58.0f);
}

TEST(TavStep, FramesInPiecesReachTheRecord) {
    Unit u;
    Line line;
    TavLink l;
    l.fd = line.link;
    SimTavState s;
    s.freq = 21074000;
    Bytes f = SimTavFrame(1, '1', Payload(s));
    Bytes junk = {0x55, 0xF0, 'x'}; // not frame starts: skipped
    line.Send(junk);
    line.Send(Bytes(f.begin(), f.begin() + 4));
    Drain(u.w(), &l, 100);
    EXPECT_EQ(l.phase, 1);
    line.Send(Bytes(f.begin() + 4, f.begin() + 20));
    Drain(u.w(), &l, 200);
    EXPECT_EQ(l.phase, 2);
    EXPECT_EQ(u.tavPar.received, 0);
    line.Send(Bytes(f.begin() + 20, f.end()));
    Drain(u.w(), &l, 300);
    EXPECT_EQ(l.phase, 0);
    EXPECT_EQ(u.tavPar.freqCur, 21074000u);
    // A spectrum frame, then a type that is not handled, then another frame.
    line.Send(SimTavFrame(0, '0', Bytes(1024, 0x80)));
    line.Send(SimTavFrame(5, '1', {}));
    line.Send(SimTavFrame(1, '0', {})); // kind that does not match: no payload
    s.freq = 28074000;
    line.Send(SimTavFrame(1, '1', Payload(s)));
    Drain(u.w(), &l, 400);
    EXPECT_EQ(u.tavPar.freqCur, 28074000u);
    EXPECT_EQ(l.phase, 0);
}

TEST(TavStep, SilenceRaisesError8OncePerHoldOffInTavModeOnly) {
    Unit u;
    Line line;
    TavLink l;
    l.fd = line.link;
    l.idleSince = 1000;
    u.works.ModeWorkIdx = 1;
    SerialStep(u.w(), &l, 2499);
    EXPECT_EQ(ExistError(u.w(), 8), 0);
    SerialStep(u.w(), &l, 2500);
    EXPECT_NE(ExistError(u.w(), 8), 0);
    EXPECT_EQ(u.works.errHoldOff.load(), 2000);
    DeleteErrore(u.w(), 8);
    // Still within the hold-off (the supervisor has not counted it down).
    SerialStep(u.w(), &l, 4000);
    EXPECT_EQ(ExistError(u.w(), 8), 0);
    u.works.errHoldOff = 0;
    SerialStep(u.w(), &l, 5500);
    EXPECT_NE(ExistError(u.w(), 8), 0);
    // The radio heard again: the warning leaves by itself.
    line.Send(SimTavFrame(1, '1', Payload(SimTavState{})));
    Drain(u.w(), &l, 5600);
    EXPECT_EQ(ExistError(u.w(), 8), 0);

    // Generic mode: the hold-off is taken but nothing goes to the error list.
    Unit g;
    TavLink l2;
    l2.fd = line.link;
    g.works.ModeWorkIdx = 0;
    SerialStep(g.w(), &l2, 1500);
    EXPECT_EQ(g.works.errHoldOff.load(), 2000);
    EXPECT_EQ(ExistError(g.w(), 8), 0);
}

TEST(TavStep, FrameCutInTheMiddleIsDroppedAfterTheSilence) {
    Unit u;
    u.works.ModeWorkIdx = 1;
    Line line;
    TavLink l;
    l.fd = line.link;
    SimTavState s;
    s.freq = 10136000;
    Bytes f = SimTavFrame(1, '1', Payload(s));
    line.Send(Bytes(f.begin(), f.begin() + 15));
    Drain(u.w(), &l, 0);
    EXPECT_EQ(l.phase, 2);
    SerialStep(u.w(), &l, 1499);
    EXPECT_EQ(l.phase, 2);
    SerialStep(u.w(), &l, 1500);
    EXPECT_EQ(l.phase, 0);
    EXPECT_NE(ExistError(u.w(), 8), 0);
    EXPECT_EQ(u.tavPar.received, 0);
    line.Send(f);
    Drain(u.w(), &l, 1600);
    EXPECT_EQ(u.tavPar.freqCur, 10136000u);
}

TEST(TavStep, TransmitControlCommands) {
    Unit u;
    Line line;
    TavLink l;
    l.fd = line.link;
    Bytes f = SimTavFrame(1, '1', Payload({}));
    // Tune hand-shake: bit 2 asks for RX (then bit 3), bit 5 for the carrier (then bit 6).
    u.works.tuneOpt = 0x05;
    line.Send(f);
    Drain(u.w(), &l, 0);
    EXPECT_EQ(line.Received(), "RX;");
    EXPECT_EQ(u.works.tuneOpt.load(), 0x09);
    u.works.tuneOpt = 0x21;
    line.Send(f);
    Drain(u.w(), &l, 0);
    EXPECT_EQ(line.Received(), "TU120;TX2;");
    EXPECT_EQ(u.works.tuneOpt.load(), 0x41);
    // Transmit test: stop sends RX and starts the settle count.
    u.works.txTest = 0x01;
    line.Send(f);
    Drain(u.w(), &l, 0);
    EXPECT_EQ(line.Received(), "RX;");
    EXPECT_EQ(u.works.txTest.load(), 0x00);
    EXPECT_EQ(u.works.rxSettle.load(), 30);
    // Start waits while the antenna input change is half done (bit 4 without 5).
    u.works.txTest = 0x13;
    line.Send(f);
    Drain(u.w(), &l, 0);
    EXPECT_EQ(line.Received(), "");
    EXPECT_EQ(u.works.txTest.load(), 0x13);
    u.works.txTest = 0x33;
    line.Send(f);
    Drain(u.w(), &l, 0);
    EXPECT_EQ(line.Received(), "TU120;TX2;");
    EXPECT_EQ(u.works.txTest.load(), 0x32);
}

// ---- the real thread on a pseudo-terminal ----

TEST(TavThread, FollowsTheSimulatedTransceiverAndSendsTransmitCommands) {
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.root = root.root;
    cfg.freq = 14074000;
    cfg.inputSel = 1;
    cfg.paramPeriodMs = 50;
    cfg.spectrumPeriodMs = 100;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    Unit u;
    u.works.running = 1;
    u.works.ModeWorkIdx = 1;
    u.setup.EnableSerial = '1';
    u.setup.EnableSpectrum = '0';
    {
        RunningThread th(Serial, u.w());
        auto par = [&] {
            TavParams p{};
            getParameters(&p, u.w());
            return p;
        };
        EXPECT_TRUE(WaitUntil([&] { return par().freqCur == 14074000u; }, kPatienceMs));
        EXPECT_EQ(par().inputSel, 1);
        EXPECT_GE(u.works.serFD.load(), 0);
        SimRadioSetFreq(radio, 7074000);
        SimRadioSetVfo(radio, 1);
        EXPECT_TRUE(
            WaitUntil([&] { return par().freqCur == 7074000u && par().activeVfoB; }, kPatienceMs));
        u.works.tuneOpt = 0x21;
        EXPECT_TRUE(WaitUntil([&] { return SimRadioTx(radio) == 1; }, kPatienceMs));
        EXPECT_TRUE(WaitUntil([&] { return par().txFlag == 1; }, kPatienceMs));
        u.works.tuneOpt = 0x05;
        EXPECT_TRUE(WaitUntil([&] { return SimRadioTx(radio) == 0; }, kPatienceMs));
        u.setup.EnableSerial = '0';
        EXPECT_TRUE(th.WaitDone(kPatienceMs));
    }
    EXPECT_EQ(ExistError(u.w(), 8), 0);
    EXPECT_EQ(u.works.running.load(), 1);
    std::vector<std::string> cmds = SimRadioCommands(radio);
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "TU120"), cmds.end());
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "RX"), cmds.end());
    SimRadioStop(radio);
}

// The radio switched off at start: the link waits for its port, then follows
// it, and a port re-created at the same path (the radio power-cycled) is
// opened again.
TEST(TavThread, MissingPortIsWaitedForAndReopened) {
    ScopedSimRoot root;
    Unit u;
    u.works.running = 1;
    u.setup.EnableSerial = '1';
    RunningThread th(Serial, u.w());
    EXPECT_FALSE(th.WaitDone(300));
    EXPECT_EQ(u.works.running.load(), 1);
    SimRadioConfig cfg;
    cfg.root = root.root;
    cfg.catPort.clear();
    for (uint32_t hz : {7074000u, 14074000u}) {
        cfg.freq = hz;
        SimRadio *radio = SimRadioStart(cfg);
        ASSERT_NE(radio, nullptr);
        EXPECT_TRUE(WaitUntil(
            [&] {
                TavParams p{};
                getParameters(&p, u.w());
                return p.freqCur == hz;
            },
            kPatienceMs))
            << hz;
        SimRadioStop(radio);
    }
    u.setup.EnableSerial = '0';
    EXPECT_TRUE(th.WaitDone(kPromptMs));
}

// A silent port raises error 8 in TAV mode (not in generic mode), and a
// frame cut in the middle neither hangs the thread nor blocks later frames.
TEST(TavThread, SilenceAndCutFramesOnARealPort) {
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.root = root.root;
    cfg.paramPeriodMs = 0; // silent: the test says what the radio sends
    cfg.catPort.clear();
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);

    Unit tav, gen;
    for (Unit *t : {&tav, &gen}) {
        t->works.running = 1;
        t->setup.EnableSerial = '1';
    }
    tav.works.ModeWorkIdx = 1;
    gen.works.ModeWorkIdx = 0;
    RunningThread a(Serial, tav.w());
    {
        RunningThread b(Serial, gen.w());
        EXPECT_TRUE(WaitUntil([&] { return ExistError(tav.w(), 8) != 0; }, kPatienceMs));
        EXPECT_TRUE(WaitUntil([&] { return gen.works.errHoldOff.load() == 2000; }, kPatienceMs));
        EXPECT_EQ(ExistError(gen.w(), 8), 0);
        gen.setup.EnableSerial = '0';
        EXPECT_TRUE(b.WaitDone(kPatienceMs));
    }

    // Half a frame, then silence: dropped after the silence, the next frame counts.
    SimTavState s;
    s.freq = 18100000;
    Bytes f = SimTavFrame(1, '1', SimTavParamPayload(s));
    DeleteErrore(tav.w(), 8);
    tav.works.errHoldOff = 0;
    SimRadioSendRaw(radio, Bytes(f.begin(), f.begin() + 12));
    EXPECT_TRUE(WaitUntil([&] { return ExistError(tav.w(), 8) != 0; }, kPatienceMs));
    TavParams seen{};
    getParameters(&seen, tav.w()); // under the lock: the reader thread runs
    EXPECT_EQ(seen.received, 0);
    SimRadioSendRaw(radio, f);
    EXPECT_TRUE(WaitUntil(
        [&] {
            TavParams p{};
            getParameters(&p, tav.w());
            return p.freqCur == 18100000u;
        },
        kPatienceMs));
    // Stopped in the middle of a frame: the thread still ends at once.
    SimRadioSendRaw(radio, Bytes(f.begin(), f.begin() + 12));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tav.setup.EnableSerial = '0';
    EXPECT_TRUE(a.WaitDone(kPatienceMs));
    SimRadioStop(radio);
}

} // namespace
