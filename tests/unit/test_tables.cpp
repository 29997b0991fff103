// Band, fan and filter tables, the temperature log and the threshold selection.
#include "model/cmd_queue.h"
#include "config/band_table.h"
#include "amplifier/temp_log.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "supervisor/thresholds.h"
#include "unit.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

bool FileExistsForTest(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

const char *kBands =
    "; start stop fwdW fwdRaw reflW reflRaw inW inRaw K3 PWIN I REFL FWD L0 C0 ... step\n"
    "1800000 2000000 100 1000 10 500 5 250 -0.01 20 10 100 600 1 2 3 4 5 6 7 8 9 10 11\n"
    "0x3567E0 3800000 400 2000 25 500 1 100 0 10 12 50 1000\n"
    "; comment in the middle\n"
    "032547700 7300000 100 1000 100 1000 100 1000 0 1 1 1 1\n";

TEST(BandTable, ParsesRowsCommentsPrefixesAndCrlf) {
    BandConfig *rows = nullptr;
    testing::internal::CaptureStderr();
    ASSERT_EQ(ParseBandTable(kBands, &rows, true), 3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("N row Config File 3 \n"), std::string::npos);
    EXPECT_NE(err.find("\ttunepar: 1 2, 3 4, 5 6, 7 8, 9 10, step:11\n"), std::string::npos);
    EXPECT_EQ(rows[0].fStart, 1800000u);
    EXPECT_EQ(rows[0].fStop, 2000000u);
    EXPECT_FLOAT_EQ(rows[0].K0, 0.0001f);
    EXPECT_FLOAT_EQ(rows[0].K1, 10.0f / 250000.0f);
    EXPECT_FLOAT_EQ(rows[0].K2, 5.0f / 62500.0f);
    EXPECT_FLOAT_EQ(rows[0].K3, -0.01f);
    EXPECT_FLOAT_EQ(rows[0].sogliaPwIn, 20.0f);
    EXPECT_FLOAT_EQ(rows[0].sogliaCorrente, 10.0f);
    EXPECT_FLOAT_EQ(rows[0].sogliaRefl, 100.0f);
    EXPECT_FLOAT_EQ(rows[0].sogliaFwd, 600.0f);
    EXPECT_EQ(rows[0].startL[0], 1);
    EXPECT_EQ(rows[0].startC[0], 2);
    EXPECT_EQ(rows[0].startL[4], 9);
    EXPECT_EQ(rows[0].startC[4], 10);
    EXPECT_EQ(rows[0].fineStep, 11);
    EXPECT_EQ(rows[1].fStart, 3500000u) << "hexadecimal";
    EXPECT_EQ(rows[1].startL[0], 0) << "missing numbers read as 0";
    EXPECT_EQ(rows[2].fStart, 7000000u) << "leading 0 is octal";
    // CRLF reads the same as LF.
    std::string crlf;
    for (char c : std::string(kBands)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    BandConfig *rows2 = nullptr;
    ASSERT_EQ(ParseBandTable(crlf, &rows2, false), 3);
    EXPECT_EQ(std::memcmp(rows, rows2, 3 * sizeof(BandConfig)), 0);
    delete[] rows;
    delete[] rows2;
    // Empty file; a blank line is a row; a blank before ';' is a row.
    BandConfig *none = nullptr;
    EXPECT_EQ(ParseBandTable("", &none, false), 0);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ParseBandTable(";a\n\n ;b\n", &none, false), 2);
    delete[] none;
}

TEST(BandTable, LookupAndFileLoad) {
    BandConfig rows[3]{};
    rows[0].fStart = 1800000;
    rows[1].fStart = 3500000;
    rows[2].fStart = 7000000;
    EXPECT_EQ(BandRowForFreq(rows, 3, 3600000), 1);
    EXPECT_EQ(BandRowForFreq(rows, 3, 1800000), 0);
    EXPECT_EQ(BandRowForFreq(rows, 3, 7000000), -1);
    EXPECT_EQ(BandRowForFreq(rows, 3, 28000000), -1);
    EXPECT_EQ(BandRowForFreq(rows, 3, 1799999), -1);
    EXPECT_EQ(BandRowForFreq(rows, 0, 3600000), -1);

    ScopedSimRoot root;
    TestUnit u;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadConfigFile(u.w()), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Config File not FOUND!!"),
              std::string::npos);
    WriteWholeFile(root.Path("/opt/set/config.txt"), kBands);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadConfigFile(u.w()), 3);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(u.w()->bandTabCount, 3);
    EXPECT_EQ(u.w()->bandTab[2].fStart, 7000000u);
    delete[] u.w()->bandTab; // the table lives for the whole run of the program
}

TEST(Thresholds, SelectionPerBand) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    // No table: the defaults once.
    w->bandTabCount = 0;
    SearchCambioSoglie_TS(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(Queued(w), std::vector<int>{22});
    EXPECT_EQ(w->tsThreshold[2].load(), 1500);
    EXPECT_EQ(w->tsThreshold[3].load(), 3700);

    BandConfig *rows = nullptr;
    ParseBandTable(kBands, &rows, false);
    w->bandTab = rows;
    w->bandTabCount = 3;
    w->tuneBand = -1;
    // No frequency yet: the defaults once; the first frequency, even in row 0,
    // then sends its row's thresholds.
    w->freq = 0;
    SearchCambioSoglie_TS(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(Queued(w), std::vector<int>{22});
    EXPECT_EQ(w->tsThreshold[0].load(), 4095);
    w->freq = 1900000;
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(Queued(w), std::vector<int>{22});
    EXPECT_EQ(w->tuneBand.load(), 0);
    EXPECT_EQ(w->tsThreshold[0].load(), 500);  // sqrt(20 / (5 / 250^2))
    EXPECT_EQ(w->tsThreshold[1].load(), 2449); // sqrt(600 / 1e-4)
    EXPECT_EQ(w->tsThreshold[2].load(), 1581); // sqrt(100 / 4e-5)
    EXPECT_EQ(w->tsThreshold[3].load(), 2915); // 10 A
    w->freq = 1950000;
    SearchCambioSoglie_TS(w);
    EXPECT_TRUE(Queued(w).empty()) << "same band: nothing new";
    w->freq = 3600000;
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(Queued(w), std::vector<int>{22});
    EXPECT_EQ(w->tsThreshold[1].load(), 3162) << "sqrt(1000 / (400 / 2000^2))";
    EXPECT_EQ(w->tsThreshold[0].load(), 316) << "sqrt(10 / (1 / 100^2))";
    // The last row is a band up to its stop; above it no band keeps its
    // limits: the defaults go out.
    w->freq = 7100000;
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(w->tuneBand.load(), 2);
    Queued(w);
    w->freq = 8000000;
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(Queued(w), std::vector<int>{22});
    EXPECT_EQ(w->tsThreshold[2].load(), 1500);
    EXPECT_EQ(w->tsThreshold[3].load(), 3700);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Soglia TS (freq 1900000):\n"), std::string::npos);
    w->bandTab = nullptr;
    delete[] rows;

    // nan, inf or a negative limit: the row is refused (and a restore refuses
    // the file); its limits fail closed to the defaults, never full scale.
    std::string why;
    for (const char *bad : {"0 20 nan nan nan", "0 20 inf 5 5", "0 -3 5 5 5", "0 20 5 5 1e9"}) {
        std::string row = std::string("14000000 14350000 100 1000 10 500 5 250 ") + bad + "\n";
        EXPECT_EQ(CheckBandTable(row, &why), -1) << row;
        EXPECT_EQ(why, "line 1: a number not finite or out of range");
        testing::internal::CaptureStderr();
        ParseBandTable(row + "14350001 0 1 1 1 1 1 1 0 1 1 1 1\n", &rows, false);
        testing::internal::GetCapturedStderr();
        w->bandTab = rows;
        w->bandTabCount = 2;
        w->tuneBand = -1;
        w->freq = 14100000;
        SearchCambioSoglie_TS(w);
        EXPECT_EQ(w->tsThreshold[2].load(), 1500) << row;
        EXPECT_EQ(w->tsThreshold[3].load(), 3700) << row;
        w->bandTab = nullptr;
        delete[] rows;
    }
}

TEST(FanTable, ParseAndLoad) {
    FanRow *rows = nullptr;
    testing::internal::CaptureStderr();
    ASSERT_EQ(ParseFanTable(";temp percent\n30 0\r\n;x\n45.5 70.9\n60 100\n", &rows, true), 3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("N row Ventola File 3 \nSetup3 \n"), std::string::npos);
    EXPECT_NE(err.find("->t:45.50: 70 \n"), std::string::npos);
    EXPECT_FLOAT_EQ(rows[1].temperature, 45.5f);
    EXPECT_EQ(rows[1].percent, 70);
    EXPECT_EQ(rows[2].percent, 100);
    delete[] rows;
    ScopedSimRoot root;
    TestUnit u;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadVentolaFile(u.w()), 0);
    EXPECT_EQ(u.w()->fanTabCount, 0);
    WriteWholeFile(root.Path("/opt/set/ventola.txt"), "30 0\n40 50\n");
    EXPECT_EQ(ReadVentolaFile(u.w()), 2);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(u.w()->fanTab[1].percent, 50);
    delete[] u.w()->fanTab;
}

TEST(FanTable, SpeedsOutsideThePercentRangeAreCut) {
    FanRow *rows = nullptr;
    ASSERT_EQ(ParseFanTable("30 1e30\n40 -7\n50 nan\n60 250.5\n70 -1e40\n", &rows, false), 5);
    // Not a number or beyond any reading (1e30, -1e40): refused, the fan at full.
    const int want[5] = {100, 0, 100, 100, 100};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(rows[i].percent, want[i]) << "row " << i;
    delete[] rows;
}

TEST(TempLog, RestartAppendAndAlarmRecord) {
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    w->temp1 = 41.3f;
    w->temp2 = 39.9f;
    w->pwrFwd = 520.0f;
    w->swr = 1.3f;
    w->rawAux = 2048.0f;
    w->powerClass = '1';
    w->tinyData[3] = 68; // 68 * 3.3 * 348 / 255 / 18 = 17.0 V
    w->boardStatus[1] = 1;
    std::string rec = FormatTempRecord(w, 0);
    EXPECT_NE(rec.find(" , 1,41.3,39.9,520.0W,1.30,17.0V,07.0A\n"), std::string::npos) << rec;
    EXPECT_EQ(rec.size(), 19 + std::string(" , 1,41.3,39.9,520.0W,1.30,17.0V,07.0A\n").size());
    w->tinyData[3] = 193; // 48.29 V
    EXPECT_NE(FormatTempRecord(w, 0).find(",48.3V,"), std::string::npos);

    const std::string path = root.Path("/opt/set/LOGtemp.txt");
    LogTempFunction(w, 0);
    LogTempFunction(w, 1);
    std::string log = ReadWholeFile(path);
    EXPECT_EQ(log.rfind(";TX,Temp1,Temp2,FDD,SWR\n", 0), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
    EXPECT_NE(log.find(" -> protezione attiva\n"), std::string::npos);
    EXPECT_EQ(log.find(";TX", 1), std::string::npos) << "one header";
    // A restart keeps the log it ends (with its alarm record) as one generation.
    LogTempFunction(w, -1);
    EXPECT_FALSE(FileExistsForTest(path));
    EXPECT_EQ(ReadWholeFile(path + ".1"), log);
    // Each change is bracketed by the write window.
    auto cmds = SimCommands(root.root);
    ASSERT_GE(cmds.size(), 6u);
    EXPECT_EQ(cmds[0].rfind("mount -o remount defaults,rw ", 0), 0u);
    EXPECT_EQ(cmds[1].rfind("mount -v -n -o remount -r ", 0), 0u);
    // No write window: the record is lost, nothing is written.
    SimCommandFails(root.root, "mount", true);
    testing::internal::CaptureStderr();
    LogTempFunction(w, 0);
    LogTempFunction(w, -1);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(FileExistsForTest(path));
    EXPECT_EQ(ReadWholeFile(path + ".1"), log) << "nothing moves outside the window";
    // One generation only: the next restart replaces it.
    SimCommandFails(root.root, "mount", false);
    LogTempFunction(w, 0);
    LogTempFunction(w, -1);
    std::string second = ReadWholeFile(path + ".1");
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 2) << second;
    EXPECT_FALSE(FileExistsForTest(path));
}

TEST(FilterTable, LoadSaveAndCapacity) {
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabFiltri(w), 0);
    std::string text = ";comment\r\n";
    for (int i = 0; i < 10; i++)
        text += std::to_string(1000000 * (i + 1)) + "\t" +
                std::to_string(1000000 * (i + 1) + 999999) + " " + (i == 3 ? "2" : "1") + "\r\n";
    text = text + "0x10 020 1\n"; // beyond the eighth: ignored
    WriteWholeFile(root.Path("/opt/set/filter.txt"), text);
    EXPECT_EQ(LoadTabFiltri(w), 8);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Filter File not FOUND!!\n"), std::string::npos);
    EXPECT_NE(err.find("Filter 3 4000000,4999999,2\n"), std::string::npos);
    EXPECT_EQ(w->filterTab[7].fStart, 8000000);
    EXPECT_EQ(w->filterTab[3].enabled, 2);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveTabFiltri(w), 0);
    testing::internal::GetCapturedStderr();
    std::string saved = ReadWholeFile(root.Path("/opt/set/filter.txt"));
    std::string header = saved.substr(0, saved.find('\n') + 1);
    EXPECT_EQ(header.size(), 160u);
    EXPECT_EQ(header.rfind(";Fstart(hz)\tFstop         enabled   : 1= abilitata", 0), 0u);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 9);
    EXPECT_NE(saved.find("\n4000000\t\t4999999\t\t2 \n"), std::string::npos);
    // Reloading what was saved gives the same table.
    FilterRow before[kFilterRows];
    std::memcpy(before, w->filterTab, sizeof before);
    testing::internal::CaptureStderr();
    LoadTabFiltri(w);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::memcmp(before, w->filterTab, sizeof before), 0);
    // Hex and octal prefixes.
    testing::internal::CaptureStderr();
    ParseTabFiltri(w, "0x1B7740 03410000 1\n");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(w->filterTab[0].fStart, 1800000);
    EXPECT_EQ(w->filterTab[0].fStop, 03410000);
}

TEST(FilterTable, SelectionRules) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    w->filterTab[0] = {1000000, 2000000, 0}; // disabled
    w->filterTab[1] = {1500000, 4000000, 1};
    w->filterTab[2] = {1500000, 8000000, 1};
    w->filterTab[3] = {9000000, 10000000, 2}; // flag 2 never selects
    w->freq = 1600000;
    SetFilterFromfreq(w);
    EXPECT_EQ(w->filterBits.load(), 0x02) << "the first enabled row wins";
    EXPECT_EQ(Queued(w), std::vector<int>{28});
    w->freq = 4000000; // the stop frequency is inside
    SetFilterFromfreq(w);
    EXPECT_TRUE(Queued(w).empty()) << "same filter: nothing sent";
    w->freq = 5000000;
    SetFilterFromfreq(w);
    EXPECT_EQ(w->filterBits.load(), 0x04);
    EXPECT_EQ(Queued(w), std::vector<int>{28});
    w->freq = 9500000;
    SetFilterFromfreq(w);
    EXPECT_EQ(w->filterBits.load(), 0x04) << "no enabled row: the filter stays";
    EXPECT_TRUE(Queued(w).empty());
    // Enabling a row from the filter page reselects and saves.
    ScopedSimRoot root;
    w->filterRow = 3;
    EnDisFilter(w, 1);
    EXPECT_EQ(w->filterBits.load(), 0x08);
    EXPECT_EQ(Queued(w), std::vector<int>{28});
    EXPECT_NE(ReadWholeFile(root.Path("/opt/set/filter.txt")).find("9000000\t\t10000000\t\t1 \n"),
              std::string::npos);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">>>>>>>>>>>>>>> SET FILTER: 2!!\n"), std::string::npos);
    EXPECT_NE(err.find("SaveTabFiltri \n"), std::string::npos);
}

} // namespace
