// The setup file: defaults, reading, writing back, slots, the safe save.
#include "unit.h"

#include "config/options.h"
#include "config/setup.h"
#include "platform/files.h"

#include <gtest/gtest.h>

namespace {

const char *const kDefaultFile =
    "EnableKeyb: 1\nEnableSpi: 0\nEnableTouch: 0\nDelayedTouch: 0\nEnableGPIO: 1\n"
    "EnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableLinear: 1\nEnableTime: 1\n"
    "WebSocket: 1\nPitch: 2500\nQuality: 100\nAudioIn: hw:1\nInChannels: 1\n"
    "AudioCompress: 0\nMultiplier: 2\nAudioOut: hw:1\nServer: 127.0.0.1\nTcpPort: 6666\n"
    "CatPort: /dev/ttyUSB0\nSerPort: /dev/ttyUSB1\nLinPort: /dev/ttyAMA0\nNumAntenna: 1\n"
    "EnablePwrPeak: 0\nTempMode: 0\nFreqSensIn: 0\nFreqPeriodTime: 10\nAttenuator: 0\n"
    "AttenuatorTune: 0\nSWRescAutoTune: 0\nViewTimeStr: 0\nViewTemp: 0\n"
    "MaxTemperature: 600\nMaxTemperature2: 800\nAutoTuneMaxCicli: 0\nPowerUnits: 0\n"
    "SaveScreenIdx: 0\nAutoTuneMode: 0\nEnableFFT: 0\nDivide: 0\nMaxTempAllowed: 60\n"
    "PSpar1: 1\nPSpar2: 1000\nIsteresi1: 1\nIsteresi2: 1\nPSpar3: 0\nPSpar4: 0\n"
    "OffsetPlot: 0\nCatSerialPort: /dev/ttyUSB1\nTUNEenabled: 0\nNumBanco: 1\nGMpar1: 2\n"
    "GMpar2: 100\nPeak_media: 2\nPeak_ValDec: 10\nPeak_TimeDec: 1\nPeak_Time: 3000\n"
    "MAXbank: 20\nBTN_longpress_Time: 5\nEnableDebug: 0\nEnable1600: 1\nEnableLOGTemp: 0\n"
    "AudioBuffers: 20\n";

class SetupFile : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    std::string File() const { return root.Path("/opt/set/setup.txt"); }
    std::string Log() const { return ReadWholeFile(root.Path("/var/log/helix.log")); }
    void Read(const std::string &text) {
        WriteWholeFile(File(), text);
        readSetup(w);
    }
};

TEST_F(SetupFile, AbsentFileWritesTheDefaultsExactly) {
    testing::internal::CaptureStderr();
    readSetup(w);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Init Setup! ");
    EXPECT_EQ(ReadWholeFile(File()), kDefaultFile);
    std::string log = Log();
    EXPECT_NE(log.find("<3>can't open /opt/set/setup.txt"), std::string::npos);
    EXPECT_EQ(log.find("EnableKeyb: -"), std::string::npos) << "no echo for a missing file";
    // The save is bracketed by the write window.
    auto cmds = SimCommands(root.root);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "mount -o remount defaults,rw " + root.root + "/opt/set");
    EXPECT_EQ(cmds[1], "mount -v -n -o remount -r " + root.root + "/opt/set");
    EXPECT_EQ(w->audioFrame.load(), 240) << "Multiplier applies from the next start";
}

TEST_F(SetupFile, MissingDirectoryIsCreated) {
    ASSERT_EQ(std::system(("rm -rf '" + root.Path("/opt") + "'").c_str()), 0);
    testing::internal::CaptureStderr();
    readSetup(w);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadWholeFile(File()), kDefaultFile);
}

TEST_F(SetupFile, DefaultFileReadsBackAndEchoes) {
    Read(kDefaultFile);
    EXPECT_EQ(w->audioFrame.load(), 480);
    EXPECT_EQ(w->setup->EnableLinear.load(), '1');
    EXPECT_STREQ(w->setup->LinPort, "/dev/ttyAMA0");
    std::string log = Log();
    for (const char *line : {"<6>EnableKeyb: -1-", "<6>Pitch: -2500-", "<6>TcpPort: -6666-",
                             "<6>Divide: -0- -0-", "<6>TUNEenabled: -0-", "<6>NumBanco: -1-",
                             "<6>AudioBuffers: -20-", "<6>Server: -127.0.0.1-"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()), kDefaultFile);
}

TEST_F(SetupFile, ScaledValuesAreTakenAndWrittenBackUnchanged) {
    std::string text = kDefaultFile;
    auto set = [&](const std::string &key, const std::string &value) {
        size_t at = text.find(key + ": ");
        size_t end = text.find('\n', at);
        text.replace(at, end - at, key + ": " + value);
    };
    set("NumAntenna", "3");
    set("SWRescAutoTune", "150");
    set("OffsetPlot", "25");
    set("MaxTemperature", "655");
    set("TUNEenabled", "128");
    set("MaxTemperature2", "501");
    set("BTN_longpress_Time", "7");
    set("Peak_ValDec", "13");
    Read(text);
    EXPECT_EQ(w->antenna.load(), 2);
    EXPECT_FLOAT_EQ(w->swrTarget.load(), 1.5f);
    EXPECT_DOUBLE_EQ(w->offsetPlot, 2.5);
    EXPECT_FLOAT_EQ(w->tempMax1.load(), 65.5f);
    EXPECT_TRUE(w->tuneEnabled.load() & 0x80);
    EXPECT_DOUBLE_EQ(TIME_LONG_PRESS, 0.7);
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()), text);
    // A second cycle must not drift (50.1 is not exact in binary).
    readSetup(w);
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()), text);
}

TEST_F(SetupFile, CrlfReadsLikeLf) {
    std::string crlf;
    for (char c : std::string(kDefaultFile)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    size_t at = crlf.find("SerPort: /dev/ttyUSB1");
    crlf.replace(at, 21, "SerPort: /dev/ttyS3");
    Read(crlf);
    EXPECT_STREQ(w->setup->SerPort, "/dev/ttyS3");
    EXPECT_EQ(w->audioFrame.load(), 480);
    EXPECT_EQ(w->setup->WebSocket.load(), '1');
}

TEST_F(SetupFile, OddLinesAreIgnoredOrCut) {
    Read("EnableKeyb:0\n"                              // no blank: ignored
         "; comment\n\n"                               // not a key
         "LinPort: /dev/serial/by-id/very-long-name\n" // longer than its slot
         "NumAntenna: 2\n"
         "Server: 10.11.12.13.14.15.16.17\n" // longer than its slot
         "FreqPeriodTime: abc\n"             // not a number: keeps 10
         "EnableFFT: 1\n");
    EXPECT_EQ(w->setup->EnableKeyb.load(), '1');
    EXPECT_STREQ(w->setup->LinPort, "/dev/serial/");
    EXPECT_EQ(w->setup->NumAntenna.load(), '2') << "the cut value must not reach the next slot";
    EXPECT_STREQ(w->setup->Server, "10.11.12.13.14.");
    EXPECT_STREQ(w->serverAddr, "10.11.12.13.14.");
    EXPECT_EQ(w->fsValue.load(), 10);
    EXPECT_EQ(w->setup->EnableSpectrum.load(), '1');
    // A text value ends at a control byte, so what is saved reads back the same.
    Read("AudioIn: hw:2\r\x02AudioOut: hw:1\nCatPort: /dev/tty\tUSB0\n");
    EXPECT_STREQ(w->setup->AudioIn, "hw:2");
    EXPECT_STREQ(w->setup->CatPort, "/dev/tty");
}

// An empty one-character value used to store the NUL, and the save then wrote
// the key without value or line feed, joining the next key onto its line.
TEST_F(SetupFile, EmptyOneCharacterValuesKeepTheirDefaults) {
    const char *const charKeys[] = {
        "EnableKeyb", "EnableSpi",      "EnableTouch",   "DelayedTouch", "EnableGPIO",
        "EnableRead", "EnableWrite",    "EnableCAT",     "EnableLinear", "EnableTime",
        "WebSocket",  "NumAntenna",     "EnablePwrPeak", "TempMode",     "FreqSensIn",
        "Attenuator", "AttenuatorTune", "ViewTimeStr",   "ViewTemp",     "AutoTuneMaxCicli",
        "PowerUnits", "SaveScreenIdx",  "AutoTuneMode",  "EnableFFT",    "Isteresi1",
        "Isteresi2",  "EnableDebug",    "Enable1600",    "EnableLOGTemp"};
    std::string expected = kDefaultFile;
    auto set = [](std::string &text, const std::string &key, const std::string &value) {
        size_t at = text.find("\n" + key + ": ") + 1;
        size_t end = text.find('\n', at);
        text.replace(at, end - at, key + ": " + value);
    };
    // Other keys carry values of their own, which must survive untouched.
    set(expected, "Pitch", "900");
    set(expected, "FreqPeriodTime", "25");
    set(expected, "LinPort", "/dev/ttyS1");
    set(expected, "NumBanco", "3");
    set(expected, "AudioBuffers", "7");
    std::string text = "\n" + expected;
    int n = 0;
    for (const char *key : charKeys) {
        // Empty, blank, control and non-ASCII values in turn.
        const char *bad[] = {"", " ", "\x01", "\xC3\xA9"};
        set(text, key, bad[n++ % 4]);
    }
    Read(text.substr(1));
    for (int round = 0; round < 2; round++) {
        writeSetup(w);
        ASSERT_EQ(ReadWholeFile(File()), expected) << "round " << round;
        readSetup(w);
    }
    EXPECT_EQ(w->tempUnits.load(), 0);
    EXPECT_EQ(w->fsMode.load(), 0);
    EXPECT_EQ(w->antenna.load(), 0);
    EXPECT_EQ(w->numBanco.load(), 3);
    EXPECT_NE(Log().find("<3>setup: no valid value for TempMode, keeping '0'"), std::string::npos);
    // A live value that is no visible character still saves as a whole line.
    w->tempUnits = 0xD0;
    writeSetup(w);
    EXPECT_NE(ReadWholeFile(File()).find("\nTempMode: 0\nFreqSensIn: 0\n"), std::string::npos);
}

TEST_F(SetupFile, SpectrumSwitchFollowsEnableFftAndEnable1600) {
    Read("EnableFFT: 0\n");
    EXPECT_EQ(w->setup->EnableSpectrum.load(), '0');
    Read("EnableFFT: 1\nEnable1600: 0\n");
    EXPECT_EQ(w->setup->EnableFFT.load(), '1');
    EXPECT_EQ(w->setup->Enable1600.load(), '0');
    EXPECT_EQ(w->setup->EnableSpectrum.load(), '1');
}

TEST_F(SetupFile, FactorySequenceRoundTrips) {
    Read("EnableKeyb: 0\nNumAntenna: 3\nPitch: 900\nTempMode: 1\nPeak_Time: 1200\n");
    RestoreFactorySetup(w);
    std::string written = ReadWholeFile(File());
    // Values held only in works without a start-up default (TempMode, the
    // antenna) survive; everything else returns to its default.
    std::string expected = kDefaultFile;
    expected.replace(expected.find("TempMode: 0"), 11, "TempMode: 1");
    expected.replace(expected.find("NumAntenna: 1"), 13, "NumAntenna: 3");
    EXPECT_EQ(written, expected);
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()), written);
    EXPECT_EQ(w->setup->EnableKeyb.load(), '1');
    EXPECT_STREQ(w->setup->Pitch, "2500");
    EXPECT_EQ(TimerPeakSec, 3000);
}

TEST_F(SetupFile, InterruptedSaveLeavesTheOldFileWhole) {
    Read(kDefaultFile);
    w->setup->EnableKeyb = '0';
    gSafeWriteStopBeforeRename = true;
    writeSetup(w);
    gSafeWriteStopBeforeRename = false;
    EXPECT_EQ(ReadWholeFile(File()), kDefaultFile);
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()).substr(0, 14), "EnableKeyb: 0\n");
}

TEST_F(SetupFile, FailedRemountWritesNothing) {
    Read(kDefaultFile);
    SimCommandFails(root.root, "mount", true);
    w->setup->EnableKeyb = '0';
    writeSetup(w);
    EXPECT_EQ(ReadWholeFile(File()), kDefaultFile);
    EXPECT_NE(Log().find("<3>can't mount rw /opt/set/ error"), std::string::npos);
    // No read-only remount follows a failed read-write one.
    auto cmds = SimCommands(root.root);
    EXPECT_EQ(cmds.back(), "mount -o remount defaults,rw " + root.root + "/opt/set");
}

TEST_F(SetupFile, OptionsFileKeepsUnknownLinesAndRefusesBadValues) {
    std::string opts = root.Path("/opt/set/options.txt");
    EXPECT_EQ(ReadOptions(w), 1); // no file: the defaults
    EXPECT_STREQ(w->options.accessPhrase, "tarabantulio");
    EXPECT_EQ(w->options.rigctldPort.load(), 4532);
    WriteWholeFile(opts, "Future: x\r\nTuneSearch: 1\nRigctldPort: 70000\nAmpctldPort: 12x\n"
                         "RemoteAllow: \nAccessPhrase: " +
                             std::string(200, 'p') + "\n");
    EXPECT_EQ(ReadOptions(w), 0);
    EXPECT_EQ(w->options.tuneSearch.load(), 1);
    EXPECT_EQ(w->options.rigctldPort.load(), 4532);        // out of range
    EXPECT_EQ(w->options.ampctldPort.load(), 4531);        // not a whole number
    EXPECT_STREQ(w->options.accessPhrase, "tarabantulio"); // too long: refused, never cut
    EXPECT_NE(Log().find("options: bad value for RigctldPort"), std::string::npos);
    w->options.ampctldServer = 1;
    EXPECT_EQ(WriteOptions(w), 0);
    std::string text = ReadWholeFile(opts);
    EXPECT_NE(text.find("TuneSearch: 1\nAccessPhrase: tarabantulio\n"), std::string::npos);
    EXPECT_NE(text.find("AmpctldServer: 1\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 10), "Future: x\n"); // kept after the known keys
}

} // namespace
