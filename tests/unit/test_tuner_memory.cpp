// Tuner memory: the frequency grid, the nearest stored solution, the files per
// bank and antenna, and loading a stored solution into the tuner word.
#include "unit.h"

#include "model/tuner_word.h"
#include "config/tuner_memory.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// The header a tuner-memory file written from nothing starts with.
const std::string kHeader = "; index frequency valid mode L C\n";

struct TuneMem : ::testing::Test {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    void Write(const std::string &file, const std::string &text) {
        WriteWholeFile(root.Path("/opt/set/" + file), text);
    }
    std::string Read(const std::string &file) {
        return ReadWholeFile(root.Path("/opt/set/" + file));
    }
    void Store(int idx, int ant, int mode, int l, int c) {
        SaveTuneValsuTabRam(TuneEntry{1, static_cast<uint8_t>(mode), static_cast<int16_t>(l),
                                      static_cast<int16_t>(c)},
                            idx, ant, w);
    }
};

TEST(TuneGrid, IndicesAndSegments) {
    int32_t from, to;
    int first, end;
    EXPECT_EQ(AtuIdxSearch(1801000, &from, &to, &first, &end), 901);
    EXPECT_EQ(AtuIdxSearch(1999999, &from, &to, &first, &end), 1000);
    EXPECT_EQ(AtuIdxSearch(14074000, &from, &to, &first, &end), 3117);
    EXPECT_EQ(from, 14000000);
    EXPECT_EQ(to, 14350000);
    EXPECT_EQ(first, 3110);
    EXPECT_EQ(end, 3145);
    EXPECT_EQ(AtuIdxSearch(60000000, &from, &to, &first, &end), 4770);
    EXPECT_EQ(first, 4569);
    EXPECT_EQ(end, 4649);
    EXPECT_GE(AtuIdxSearch(80000000, &from, &to, &first, &end), kTuneMemEntries);
    EXPECT_EQ(AtuFreqfromIdx(3117), 14070000);
    EXPECT_EQ(AtuFreqfromIdx(1000), 2000000); // a segment's end is the next one's start
    EXPECT_EQ(AtuFreqfromIdx(4770), 60000000);

    // Every segment: its start frequency is its first index and back.
    const int32_t starts[22][2] = {
        {0, 0},           {1800000, 900},   {2000000, 1000},  {3500000, 1375},  {4000000, 1500},
        {5330000, 1766},  {5400000, 1780},  {7000000, 2100},  {7300000, 2160},  {10100000, 2720},
        {10150000, 2725}, {14000000, 3110}, {14350000, 3145}, {18000000, 3510}, {18170000, 3527},
        {21000000, 3810}, {21500000, 3835}, {24850000, 3969}, {25000000, 3975}, {28000000, 4095},
        {29700000, 4163}, {50000000, 4569}};
    for (const auto &s : starts) {
        EXPECT_EQ(AtuIdxSearch(s[0], &from, &to, &first, &end), s[1]) << s[0];
        EXPECT_EQ(first, s[1]) << s[0];
        EXPECT_EQ(AtuFreqfromIdx(s[1]), s[0]) << s[1];
    }
    // Halves round up: 1 kHz above a 2 kHz grid point goes to the next one.
    EXPECT_EQ(AtuIdxSearch(1000, &from, &to, &first, &end), 1);
    EXPECT_EQ(AtuIdxSearch(999, &from, &to, &first, &end), 0);
}

TEST_F(TuneMem, NearestEntryOfTheSegment) {
    int32_t from, to;
    int first, end;
    int idx = AtuIdxSearch(14074000, &from, &to, &first, &end);
    // Neighbours outside the segment do not count.
    Store(3109, 0, 1, 5, 5);
    Store(3145, 0, 1, 5, 5);
    EXPECT_EQ(SearchBestTune(w, idx, first, end, 0), -1);
    EXPECT_EQ(EsisteTuneValInTabRam(w, idx, first, end, 0), 1);
    Store(3115, 0, 1, 5, 5);
    EXPECT_EQ(SearchBestTune(w, idx, first, end, 0), 3115);
    EXPECT_EQ(EsisteTuneValInTabRam(w, idx, first, end, 0), 0);
    Store(3119, 0, 1, 5, 5); // as near as 3115: the lower index stays
    EXPECT_EQ(SearchBestTune(w, idx, first, end, 0), 3115);
    Store(3118, 0, 1, 5, 5);
    EXPECT_EQ(SearchBestTune(w, idx, first, end, 0), 3118);
    // Another antenna's table is its own; an antenna outside the tables has none.
    EXPECT_EQ(SearchBestTune(w, idx, first, end, 1), -1);
    EXPECT_EQ(EsisteTuneValInTabRam(w, idx, first, end, 3), 1);

    // Above the grid: no entry, and the segment's entries are too far away.
    Store(4600, 0, 1, 5, 5);
    idx = AtuIdxSearch(80000000, &from, &to, &first, &end);
    EXPECT_EQ(EsisteTuneValInTabRam(w, idx, first, end, 0), 1);
    SaveTuneValsuTabRam(TuneEntry{1, 1, 1, 1}, kTuneMemEntries, 0, w); // ignored, no overrun
}

TEST_F(TuneMem, LoadsTheStoredSolutionIntoTheTunerWord) {
    w->freq = 14074000;
    SetC(w, 3);
    SetI(w, 4);
    SetMode(w, 2);
    uint32_t before = w->tunerWord.load();
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTuneFromMEM(w, 0), -1);
    EXPECT_EQ(w->tunerWord.load(), before) << "nothing stored: the word stays";

    Store(3115, 0, 3, 42, 118); // stored as bypass mode: loads as CL
    EXPECT_EQ(LoadTuneFromMEM(w, 0), 3115);
    std::string err = testing::internal::GetCapturedStderr();
    uint32_t word = w->tunerWord.load();
    EXPECT_EQ(DecodeCapacitaFromTuneval(word), 118);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(word), 42);
    EXPECT_EQ(DecodeModoFromTuneval(word), 1);
    EXPECT_EQ(w->tuneC.load(), 118);
    EXPECT_EQ(w->tuneL.load(), 42);
    EXPECT_NE(
        err.find(">>>>>>>>>>>>>>> MEMTUNE: load a Tune for 14074000 idx:3115 -> C 118 I 42!!\n"),
        std::string::npos)
        << err;
}

TEST_F(TuneMem, FileRoundTripOfTwoHundredEntries) {
    std::string text;
    for (int i = 0; i < 200; i++) {
        int idx = i * 23 + 7;
        text += std::to_string(idx) + " " + std::to_string(AtuFreqfromIdx(idx)) + " 1 " +
                std::to_string(1 + i % 2) + " " + std::to_string(i * 2) + " " +
                std::to_string(511 - i) + "\n";
    }
    Write("atu_ant3_b7.txt", "; stored tunes\r\n" + text);
    EXPECT_EQ(LoadTabAtu(w, 7, 2), 200);
    EXPECT_EQ(w->tuneMem[2][7 + 23 * 5].C, 506);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveTabAtu(w, 7, 2), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SaveTabAtu Bank7 , antenna 2\n");
    EXPECT_EQ(Read("atu_ant3_b7.txt"), "; stored tunes\n" + text);
    auto cmds = SimCommands(root.root);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "mount -o remount defaults,rw " + root.root + "/opt/set");
    EXPECT_EQ(cmds[1], "mount -v -n -o remount -r " + root.root + "/opt/set");

    // A missing file empties the table.
    EXPECT_EQ(LoadTabAtu(w, 5, 2), 0);
    EXPECT_EQ(w->tuneMem[2][7].valid, 0);
}

TEST_F(TuneMem, BadLinesAreSkippedAndTheRestLoads) {
    Write("atu_ant1_b2.txt", "; comment\n"
                             "6000 70000000 1 1 1 1\n"
                             "3117 14070000 1 1 5 6\r\n"
                             "abc\n"
                             "-1 0 1 1 1 1\n"
                             "3118 x 1 1 1 1\n"
                             "3119 14090000 1 1 600 1\n"
                             "3121 14110000 1 1 7\n"
                             "3122 14120000 1 1 7 8 junk\n"
                             "\n" +
                                 std::string(700, '9') +
                                 "\n"
                                 "3120 14100000 1 3 7 8\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabAtu(w, 2, 0), 2);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "LoadTabAtu Errore idxLoadTabAtu Errore idx");
    EXPECT_EQ(err, "LoadTabAtu Errore idx\nLoadTabAtu Errore idx\n");
    EXPECT_EQ(w->tuneMem[0][3117].C, 6);
    for (int i : {3118, 3119, 3121, 3122})
        EXPECT_EQ(w->tuneMem[0][i].valid, 0) << i;
    TuneEntry e;
    LoadTuneValFromTabRam(&e, 3120, 0, w);
    EXPECT_EQ(e.mode, 1) << "mode 3 loads as 1";
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("atu_ant1_b2.txt line 2: index outside the table, skipped"),
              std::string::npos)
        << log;

    // More entry lines than the table holds: the rest is not read.
    std::string many;
    for (int i = 0; i < kTuneMemEntries; i++)
        many += "0 0 0 1 1 1\n";
    Write("atu_ant1_b2.txt", many + "7 14000 1 1 1 1\n");
    EXPECT_EQ(LoadTabAtu(w, 2, 0), kTuneMemEntries);
    EXPECT_EQ(w->tuneMem[0][7].valid, 0);
}

TEST_F(TuneMem, StoringWritesTheGridPointOfTheFrequency) {
    w->freq = 14074000;
    SetC(w, 118);
    SetI(w, 42);
    SetMode(w, 2);
    testing::internal::CaptureStderr();
    InsertTuneToMem(w, 3, 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Read("atu_ant2_b3.txt"), kHeader + "3117 14070000 1 2 42 118\n");
    // Storing again replaces the entry: one line per index.
    SetC(w, 100);
    InsertTuneToMem(w, 3, 1);
    w->freq = 7074000;
    InsertTuneToMem(w, 3, 1);
    EXPECT_EQ(Read("atu_ant2_b3.txt"),
              kHeader + "2115 7075000 1 2 42 100\n3117 14070000 1 2 42 100\n");
    // Above the grid nothing is stored, and the file is still rewritten whole.
    w->freq = 80000000;
    InsertTuneToMem(w, 3, 1);
    EXPECT_EQ(Read("atu_ant2_b3.txt"),
              kHeader + "2115 7075000 1 2 42 100\n3117 14070000 1 2 42 100\n");
    EXPECT_EQ(SimCommands(root.root).size(), 8u) << "four saves, each in its window";
}

} // namespace
