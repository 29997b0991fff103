// Antenna tables and banks: file names, loading rules, writing back, and the
// working mode each bank selects.
#include "unit.h"

#include "model/cmd_queue.h"
#include "config/antenna_banks.h"
#include "app/threads.h"
#include "model/errors.h"
#include "ui/mode.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <string>

namespace {

struct Bank : ::testing::Test {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    void SetUp() override {
        InitErrTab(w);
        w->errSuspend = 0;
    }
    void Write(const std::string &file, const std::string &text) {
        WriteWholeFile(root.Path("/opt/set/" + file), text);
    }
    std::string Read(const std::string &file) {
        return ReadWholeFile(root.Path("/opt/set/" + file));
    }
};

TEST(BankFiles, NumberedAndUnnumberedNames) {
    EXPECT_EQ(BankAntennaFile(1), "/opt/set/antenna_b1.txt");
    EXPECT_EQ(BankAntennaFile(19), "/opt/set/antenna_b19.txt");
    EXPECT_EQ(BankAntennaFile(0), "/opt/set/antenna.txt");
    EXPECT_EQ(BankAntennaFile(20), "/opt/set/antenna.txt");
    EXPECT_EQ(BankAntennaFile(-3), "/opt/set/antenna.txt");
    EXPECT_EQ(BankAtuFile(3, 2), "/opt/set/atu_ant2_b3.txt");
    EXPECT_EQ(BankAtuFile(0, 1), "/opt/set/atu_ant1.txt");
    EXPECT_EQ(BankAtuFile(20, 3), "/opt/set/atu_ant3.txt");
}

TEST_F(Bank, MarkerOnlyFileGivesNoRows) {
    Write("antenna_b4.txt", "!817\n");
    EXPECT_EQ(LoadTabConfig(w, 4), 2);
    EXPECT_EQ(w->memRows.load(), 0);
    EXPECT_EQ(w->bandRow.load(), -1);
}

TEST_F(Bank, RowLoadsAndIsWrittenBackInTheSameForm) {
    Write("antenna_b2.txt",
          "; comment\r\n!Gen\r\n!Tav\r\n!xyz\r\n40m 7000000 7300000 1 2 0 1 500.0\r\n"
          "20m 0xD59F80 066573260 0 3 1 2 12.5\n");
    EXPECT_EQ(LoadTabConfig(w, 2), 1); // the later marker wins, unknown ones are ignored
    ASSERT_EQ(w->memRows.load(), 2);
    const AntennaRow &r = w->antTab[0];
    EXPECT_STREQ(r.name, "40m");
    EXPECT_EQ(r.fStart, 7000000);
    EXPECT_EQ(r.fStop, 7300000);
    EXPECT_EQ(r.ampEnable, 1);
    EXPECT_EQ(r.ant, 2);
    EXPECT_EQ(r.atuOff, 0);
    EXPECT_EQ(r.att, 1);
    EXPECT_FLOAT_EQ(r.pwr, 500.0f);
    EXPECT_EQ(w->antTab[1].fStart, 14000000); // hexadecimal
    EXPECT_EQ(w->antTab[1].fStop, 14350000);  // octal

    w->ModeWorkIdx = 1;
    SaveTabConfig(w, 2);
    EXPECT_EQ(Read("antenna_b2.txt"), "!Tav\n40m 7000000 7300000 1 2 0 1 500.0\n"
                                      "20m 14000000 14350000 0 3 1 2 12.5\n");
    // Written inside the remount window.
    std::vector<std::string> cmds = SimCommands(root.root);
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_NE(cmds[cmds.size() - 2].find("mount -o remount defaults,rw"), std::string::npos);
    EXPECT_NE(cmds.back().find("mount -v -n -o remount -r"), std::string::npos);
}

TEST_F(Bank, LongNamesRowLimitAndInvalidRows) {
    // An 8-character name keeps 7; the eighth is skipped.
    Write("antenna_b3.txt", "abcdefgh 7000000 7300000 1 2 0 1 500.0\n");
    LoadTabConfig(w, 3);
    EXPECT_STREQ(w->antTab[0].name, "abcdefg");
    EXPECT_EQ(w->antTab[0].fStart, 7000000);
    EXPECT_FLOAT_EQ(w->antTab[0].pwr, 500.0f);

    // Rows beyond the eleventh are ignored.
    std::string many;
    for (int i = 0; i < 14; i++)
        many += "b" + std::to_string(i) + " " + std::to_string(1000000 * (i + 1)) + " " +
                std::to_string(1000000 * (i + 1) + 5000) + " 1 1 0 0 1.0\n";
    Write("antenna_b3.txt", many);
    LoadTabConfig(w, 3);
    EXPECT_EQ(w->memRows.load(), 11);
    EXPECT_STREQ(w->antTab[10].name, "b10");

    // A zero start frequency restores the default names and ranges, settings kept.
    Write("antenna_b3.txt", "!817\nfoo 7000000 7300000 1 3 0 2 100.0\nbar 0 7300000 1 2 0 1 5.0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabConfig(w, 3), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Reinit antenna\n");
    EXPECT_EQ(w->memRows.load(), 11);
    EXPECT_STREQ(w->antTab[0].name, "160m");
    EXPECT_EQ(w->antTab[0].fStart, 1800000);
    EXPECT_EQ(w->antTab[0].ant, 3); // the row's own settings stay
    EXPECT_STREQ(w->antTab[10].name, "6m");
    EXPECT_EQ(w->antTab[10].fStop, 54000000);

    // A missing file: the whole default table, generic interface.
    EXPECT_EQ(LoadTabConfig(w, 9), 0);
    EXPECT_EQ(w->memRows.load(), 11);
    EXPECT_EQ(w->antTab[0].ant, 1);
    EXPECT_EQ(w->antTab[0].atuOff, 1);
    EXPECT_EQ(w->antTab[5].fStart, 14000000);
}

// A tab used to end up in the band name and shift the numbers; an empty line
// was a row of zeros that sent the whole table back to the default ranges.
TEST_F(Bank, HandEditedFileLoadsLikeTheWrittenOne) {
    Write("antenna_b6.txt", "!Tav\n160m 1810000 1990000 1 2 0 1 300.0\n"
                            "40m 7000000 7200000 0 3 1 2 12.5\n"
                            "verylongname 14000000 14350000 1 1 1 0 0.0\n");
    ASSERT_EQ(LoadTabConfig(w, 6), 1);
    ASSERT_EQ(w->memRows.load(), 3);
    AntennaRow written[3];
    std::copy(w->antTab, w->antTab + 3, written);
    EXPECT_STREQ(written[2].name, "verylon");

    std::string edited = "; edited by hand\r\n\r\n!Tav\r\n"
                         "160m\t1810000\t1990000\t1\t2\t0\t1\t300.0\r\n"
                         "   \t\r\n"
                         "\t40m \t 7000000\t\t7200000 0\t3 1 2 12.5 \t\r\n"
                         "  ; indented comment\r\n"
                         "verylongname\t14000000 14350000 1 1 1 0 0.0\r\n"
                         "\r\n\n";
    Write("antenna_b6.txt", edited);
    InitTabAntenna(w, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabConfig(w, 6), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no row may read as invalid";
    ASSERT_EQ(w->memRows.load(), 3);
    for (int i = 0; i < 3; i++) {
        const AntennaRow &a = w->antTab[i], &b = written[i];
        EXPECT_STREQ(a.name, b.name) << i;
        EXPECT_EQ(a.fStart, b.fStart) << i;
        EXPECT_EQ(a.fStop, b.fStop) << i;
        EXPECT_EQ(a.ampEnable, b.ampEnable) << i;
        EXPECT_EQ(a.ant, b.ant) << i;
        EXPECT_EQ(a.atuOff, b.atuOff) << i;
        EXPECT_EQ(a.att, b.att) << i;
        EXPECT_FLOAT_EQ(a.pwr, b.pwr) << i;
    }
    // A real row with a zero stop still restores the default ranges.
    Write("antenna_b6.txt", "40m\t7000000\t0\t1\t2\t0\t1\t5.0\r\n\r\n");
    testing::internal::CaptureStderr();
    LoadTabConfig(w, 6);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Reinit antenna\n");
    EXPECT_STREQ(w->antTab[3].name, "40m");
    EXPECT_EQ(w->antTab[0].ant, 2);
}

TEST_F(Bank, BanksZeroAndTwentyShareTheUnnumberedFiles) {
    InitTabAntenna(w, 0);
    w->antTab[3].pwr = 42.5f;
    w->ModeWorkIdx = 2;
    SaveTabConfig(w, 20);
    std::string text = Read("antenna.txt");
    EXPECT_EQ(text.rfind("!817\n160m 1800000 2000000 0 1 1 0 0.0\n", 0), 0u) << text;
    InitTabAntenna(w, 0);
    EXPECT_EQ(LoadTabConfig(w, 0), 2);
    EXPECT_FLOAT_EQ(w->antTab[3].pwr, 42.5f);

    // Deleting bank 0's table removes that same file.
    DeleteFileConf(w, 0, 3);
    EXPECT_EQ(Read("antenna.txt"), "");
    EXPECT_EQ(LoadTabConfig(w, 20), 0);
    Write("atu_ant2_b3.txt", "x\n");
    DeleteFileConf(w, 3, 1);
    EXPECT_EQ(Read("atu_ant2_b3.txt"), "");
}

TEST_F(Bank, SaveToBankChangesTheFirstMatchingRow) {
    Write("antenna_b5.txt", "!Gen\na 7000000 7300000 0 1 1 0 0.0\nb 7000000 7200000 0 1 1 0 0.0\n");
    LoadTabConfig(w, 5);
    w->freq = 7100000;
    w->tunerThrough = 0;
    w->attenuator = 2;
    w->attenuatorShown = 2;
    SaveToBank(w, 5, 2);
    EXPECT_EQ(Read("antenna_b5.txt"),
              "!Gen\na 7000000 7300000 1 3 0 2 0.0\nb 7000000 7200000 0 1 1 0 0.0\n");
    // Stand-by shown: the amplifier is off for the band.
    w->attenuatorShown = 4;
    SaveToBank(w, 5, 0);
    EXPECT_EQ(w->antTab[0].ampEnable, 0);
    // Outside every band the file is written unchanged.
    std::string before = Read("antenna_b5.txt");
    w->freq = 50;
    SaveToBank(w, 5, 1);
    EXPECT_EQ(Read("antenna_b5.txt"), before);
}

TEST_F(Bank, WorkingModeSwitchesTheLinks) {
    SetupRecord &s = unit.setup;
    s.EnableSerial = '1';
    s.EnableCatSerial = '1';
    AddErrore(w, 8);
    w->ModeWorkIdx = 0; // generic: both links off, error 8 goes
    ApplyModeWork(w, false);
    EXPECT_EQ(s.EnableSerial.load(), '0');
    EXPECT_EQ(s.EnableCatSerial.load(), '0');
    EXPECT_EQ(ExistError(w, 8), 0);
    EXPECT_EQ(Queued(w), std::vector<int>{35});

    w->ModeWorkIdx = 1;
    ApplyModeWork(w, false);
    EXPECT_EQ(s.EnableSerial.load(), '1');
    EXPECT_EQ(s.EnableCatSerial.load(), '0');
    AddErrore(w, 8);
    w->ModeWorkIdx = 2;
    ApplyModeWork(w, false);
    EXPECT_EQ(s.EnableSerial.load(), '0');
    EXPECT_EQ(s.EnableCatSerial.load(), '1');
    EXPECT_EQ(ExistError(w, 8), 0);
    // One "GS" waits for both changes: it is formatted for the mode in force when sent.
    EXPECT_EQ(Queued(w), std::vector<int>{35});

    // The bank file decides at load; before start-up has started the links
    // nothing is started here.
    Write("antenna_b1.txt", "!Tav\n");
    EXPECT_EQ(LoadAllBankTable(w, 1), 1);
    EXPECT_EQ(w->ModeWorkIdx.load(), 1);
    EXPECT_EQ(s.EnableSerial.load(), '1');
    EXPECT_EQ(s.EnableCatSerial.load(), '0');
    EXPECT_FALSE(thrSer.started.load());
}

TEST_F(Bank, FtModeStartsTheCatSerialThread) {
    SetupRecord &s = unit.setup;
    s.EnableSerial = '1';
    s.EnableCatSerial = '0';
    w->running = 1;
    w->ModeWorkIdx = 2;
    ApplyModeWork(w, true);
    EXPECT_TRUE(thrCatSer.started.load());
    // No FT-817 in this root: the thread waits for its port (no failure
    // screen) until the switch drops.
    s.EnableCatSerial = '0';
    EXPECT_TRUE(JoinThread(&thrCatSer));
    EXPECT_EQ(w->portError.load(), 0);
    // The TAV link's switch went off; a later start-up start does not start it.
    EXPECT_EQ(s.EnableSerial.load(), '0');
    StartThreadTAV(w);
    EXPECT_FALSE(thrSer.started.load());
}

} // namespace
