// Replies of the power board and the status algorithm, with temperature and fan.
#include "model/cmd_queue.h"
#include "amplifier/decode.h"
#include "amplifier/linear.h"
#include "amplifier/temperature.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "platform/clock.h"
#include "model/errors.h"
#include "unit.h"

#include <cstring>
#include <thread>

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

int SimpleReadingFor60C();

struct Status {
    int s0 = 0, s1 = 0, s2 = 0;
    int in = 0, fwd = 0, refl = 0, aux = 0, t1 = 2048, t2 = 2048, auxFwd = 0;
    std::string Text() const {
        char b[64];
        std::snprintf(b, sizeof b, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d;", s0, s1, in, fwd,
                      refl, aux, t1, t2, s2 & 15, s2 >> 4, auxFwd);
        return b;
    }
};

int Decode(Works *w, const std::string &reply) {
    return DecodeCatCmd(w, reply.c_str(), static_cast<int>(reply.size()));
}

std::vector<int> Queued(Works *w) {
    std::vector<int> out;
    int c;
    while (CmdQueueTake(w, &c))
        out.push_back(c);
    return out;
}

// A unit with a one-band table whose coefficients make readings easy watts.
struct Unit : TestUnit {
    BandConfig rows[2]{};
    Unit() {
        works.errSuspend = 0;
        rows[0].fStart = 1000000;
        rows[0].K0 = 1e-4f; // 1000 -> 100 W
        rows[0].K1 = 1e-4f;
        rows[0].K2 = 1e-4f;
        rows[0].K3 = 0.0f;
        rows[1].fStart = 30000000;
        works.bandTab = rows;
        works.bandTabCount = 2;
        works.freq = 14070000;
        works.fanPercent = 100; // no fan table: full speed, already sent
        works.linearProcessStatus = kLinDecode;
    }
    ~Unit() { works.bandTab = nullptr; }
};

TEST(LinearDecode, SwrEdges) {
    EXPECT_EQ(CalcSwr(0.2f, 0.6f), 100.0f);
    EXPECT_EQ(CalcSwr(0.2f, 0.4f), 0.0f);
    EXPECT_EQ(CalcSwr(10.0f, 11.0f), 100.0f);
    EXPECT_EQ(CalcSwr(10.0f, 0.0f), 1.0f);
    EXPECT_EQ(CalcSwr(10.0f, 10.0f), 100.0f);
    EXPECT_NEAR(CalcSwr(100.0f, 100.0f / 9.0f), 2.0f, 1e-4);
    EXPECT_EQ(CalcSwr(100.0f, 99.99f), 100.0f) << "capped at 100";
}

TEST(LinearDecode, StatusPowersAndMeasurements) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    s.in = 100;   // 1 W
    s.fwd = 2000; // 400 W
    s.refl = 500; // 25 W
    s.aux = 1234;
    EXPECT_EQ(Decode(w, s.Text()), 10);
    EXPECT_FLOAT_EQ(w->pwrIn.load(), 1.0f);
    EXPECT_FLOAT_EQ(w->pwrFwd.load(), 400.0f);
    EXPECT_FLOAT_EQ(w->pwrRefl.load(), 25.0f);
    EXPECT_NEAR(w->swr.load(), 5.0f / 3.0f, 1e-4);
    EXPECT_EQ(w->rawAux.load(), 1234.0f);
    EXPECT_EQ(w->rawPwr[1].load(), 2000);
    EXPECT_NEAR(w->temp1.load(), 24.99f, 0.01f);
    // Temperatures are smoothed 9:1 after the first reading.
    s.t1 = SimpleReadingFor60C();
    Decode(w, s.Text());
    EXPECT_NEAR(w->temp1.load(), (9 * 24.99f + CalcolaTemp(s.t1)) / 10, 0.01f);
    // A K3 correction that makes the reflected power negative gives 0 and SWR 1.
    u.rows[0].K3 = -0.5f;
    Decode(w, s.Text());
    EXPECT_EQ(w->pwrRefl.load(), 0.0f);
    EXPECT_EQ(w->swr.load(), 1.0f);
    // Outside every band the coefficients are 1.
    w->freq = 50000000;
    s.fwd = 3;
    Decode(w, s.Text());
    EXPECT_FLOAT_EQ(w->pwrFwd.load(), 9.0f);
    // Empty band table: the built-in coefficients.
    w->bandTabCount = 0;
    EXPECT_FLOAT_EQ(SearchK(w, 0), 5.156579e-6f);
    EXPECT_FLOAT_EQ(SearchK(w, 3), -0.007f);
    // Auxiliary forward reading, capped by the power class.
    w->bandTabCount = 2;
    w->freq = 14070000;
    w->auxFwdEnable = 1;
    s.auxFwd = 1000;
    Decode(w, s.Text());
    EXPECT_FLOAT_EQ(w->pwrFwdAux.load(), 70.0f);
    w->powerClass = '1';
    s.auxFwd = 1100;
    Decode(w, s.Text());
    EXPECT_NEAR(w->pwrFwdAux.load(), 121.0f, 1e-3);
    testing::internal::GetCapturedStderr();
}

TEST(LinearDecode, StatusBitsTripsAndErrors) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    s.s2 = 0x03;
    Decode(w, s.Text());
    EXPECT_STREQ(w->tripLabel, "REFL");
    EXPECT_EQ(ExistError(w, 15), 1);
    s.s2 = 0x18;
    Decode(w, s.Text());
    EXPECT_STREQ(w->tripLabel, "FILTER TX");
    s.s2 = 0x00;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 15), 0);
    std::snprintf(w->tripLabel, sizeof w->tripLabel, "keep");
    s.s2 = 0x41;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 19), 1);
    EXPECT_EQ(ExistError(w, 15), 0);
    EXPECT_STREQ(w->tripLabel, "keep");
    // Low nibble first on the wire: "1" then "8" is 0x81.
    std::string t = Status{}.Text();
    t[28] = '1';
    t[29] = '8';
    Decode(w, t);
    EXPECT_EQ(w->boardStatus[2].load(), 0x81);
    EXPECT_EQ(ExistError(w, 16), 0) << "micro not yet acknowledged";
    w->microReady = 1;
    Decode(w, t);
    EXPECT_EQ(ExistError(w, 16), 1);
    // High-SWR trip in S1.
    s = Status{};
    s.s1 = 2;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 1), 1);
    w->errFlags = 1;
    s.s1 = 4;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 1), 0);
    EXPECT_EQ(w->errFlags.load() & 3, 1) << "bit 1 was clear: flags kept";
    w->errFlags = 2;
    s.s1 = 0;
    Decode(w, s.Text());
    EXPECT_EQ(w->errFlags.load() & 3, 0);
    // Input-power condition only on input 1, no tune.
    s.s2 = 0x20;
    w->antInput = 0;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 3), 0);
    w->antInput = 1;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 3), 1);
    testing::internal::GetCapturedStderr();
}

TEST(LinearDecode, BypassFollowUpAndBoardAsTruth) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    w->bypass = 1;
    w->bypassReq = 1;
    Decode(w, s.Text()); // board not bypassed, but stand-by was asked: kept
    EXPECT_EQ(w->bypass.load(), 1);
    w->bypassReq = 0;
    Decode(w, s.Text());
    EXPECT_EQ(w->bypass.load(), 0);
    // While error 4 stands the board's pads and bypass are the truth.
    AddErrore(w, 4);
    w->attenuator = 0;
    s.s0 = 0x08; // 3 dB pad only
    s.s1 = 0x08;
    Decode(w, s.Text());
    EXPECT_EQ(w->attenuator.load(), 2);
    EXPECT_EQ(w->attenuatorShown.load(), 2);
    EXPECT_EQ(w->bypass.load(), 1);
    s.s0 = 0x0C;
    Decode(w, s.Text());
    EXPECT_EQ(w->attenuator.load(), 3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("STATE DA ERRORE : attenuatore 3dB=on 2dB=off\n"), std::string::npos);
    EXPECT_NE(err.find("STATE DA ERRORE : attenuatore 3dB=on 2dB=on\n"), std::string::npos);
}

TEST(LinearDecode, NextStateAfterStatus) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    std::string st = Status{}.Text();
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 8) << "nothing queued: frequency request";
    IncPNTIn_CMDLinear(22, w);
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 22) << "queued code taken without the drain flag";
    EXPECT_TRUE(CmdQueueEmpty(w));
    w->tuneState = 2;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 13);
    EXPECT_EQ(w->tuneState.load(), 1);
    w->tuneState = 3;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    w->tuneState = 1;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 11);
    // Error follow-up requested by the error handler runs on the next status.
    w->tuneState = 0;
    w->errResend = 2;
    Decode(w, st);
    EXPECT_EQ(w->errResend.load(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">>> ERRORI: End Gest Errori!!\n"), std::string::npos);
}

TEST(LinearDecode, OtherReplies) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Decode(w, "VSM2.05.03;"), 20);
    EXPECT_STREQ(w->boardVersion, "2.05.03");
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    Decode(w, "SA3;");
    EXPECT_EQ(w->antenna.load(), 2);
    Decode(w, "SAx;");
    EXPECT_EQ(w->antenna.load(), 2) << "not an antenna digit: ignored";
    w->freqMeasured = 7000000;
    Decode(w, "FM000000000000;");
    EXPECT_EQ(w->freqMeasured.load(), 7000000);
    Decode(w, "FM000014074000;");
    EXPECT_EQ(w->freqMeasured.load(), 14074000);
    w->errSuspend = 3;
    Decode(w, "CPFFFF;");
    EXPECT_EQ(w->errSuspend.load(), 2);
    Decode(w, "AB0;");
    EXPECT_EQ(w->bypass.load(), 0);
    Decode(w, "AB1;");
    EXPECT_EQ(w->bypass.load(), 1);
    w->txTest = 0x10;
    Decode(w, "AN1;");
    EXPECT_EQ(w->antInput.load(), 1);
    EXPECT_EQ(w->txTest.load(), 0x30);
    Decode(w, "MR1;");
    EXPECT_EQ(w->microReady.load(), 0);
    Decode(w, "MR0;");
    EXPECT_EQ(w->microReady.load(), 1);
    Decode(w, "GS0123456789;");
    EXPECT_STREQ(w->genSettings, "0123456789");
    Decode(w, "GS012;");
    EXPECT_STREQ(w->genSettings, "012");
    std::string page2 = "ER0002" + std::string("0231") + std::string(60, '0') + ";";
    Decode(w, page2);
    EXPECT_EQ(w->boardOpt.load(), 2);
    EXPECT_EQ(w->powerClass.load(), '1');
    EXPECT_EQ(number_ofStep_meter_FWD, 120);
    std::string page0 = "ER0000" + std::string("4142") + std::string(60, '0') + ";";
    Decode(w, page0);
    EXPECT_EQ(w->eePage0[0], 'A');
    EXPECT_EQ(w->eePage0[1], 'B');
    number_ofStep_meter_FWD = 60;
    for (const char *ack :
         {"FA00014074000;", "MT100000000;", "FS00001;", "AT11;", "MP1;", "TS4095409515003700;",
          "FN1050;", "PS0001100000000000;", "SF3000001;", "GM00020100;", "SE1;"}) {
        w->retryCount = 2;
        EXPECT_EQ(Decode(w, ack), 20) << ack;
        EXPECT_EQ(w->retryCount.load(), 0) << ack;
        EXPECT_EQ(w->linearProcessStatus.load(), 1) << ack;
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERRORE!! Impostazioni Generali\n"), std::string::npos);
    EXPECT_NE(err.find("Impostazioni Generali : 012 (GS012;)\n"), std::string::npos);
    EXPECT_NE(err.find("RESET MICRO ----------------------------------  1\n"), std::string::npos);
    EXPECT_NE(err.find("EE2: 2 31\n"), std::string::npos);
}

TEST(LinearDecode, RefusedUnknownAndMalformedReplies) {
    Unit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    LastCmdSent(w, 'S', 'T', 1);
    for (const char *bad :
         {"ST?;", "AB!;", "XY&;", "ZZ12;", "ST0;", "STZZ00000000000000000000000000;"}) {
        int before = w->retryTotal.load();
        EXPECT_EQ(Decode(w, bad), 20) << bad;
        EXPECT_EQ(w->retryTotal.load(), before + 1) << bad;
        w->retryCount = 0;
    }
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    EXPECT_EQ(Decode(w, "S;"), -1) << "too short to be a reply";
    EXPECT_EQ(w->boardStatus[2].load(), 0) << "malformed status raised no trip";
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("---------------------------------------CMD Errato:ST?;\n"),
              std::string::npos);
    EXPECT_NE(err.find("---------------------------------------cmd non riconosciuto:ZZ12;\n"),
              std::string::npos);
}

int SimpleReadingFor60C() {
    // 2.521 kOhm on the 10 kOhm divider.
    return static_cast<int>(std::lround(4095.0 * 2.521 / 12.521));
}

TEST(Temperature, ThermistorConversion) {
    EXPECT_NEAR(CalcolaTemp(2048), 24.99f, 0.01f);
    EXPECT_EQ(CalcolaTemp(4095), -10.0f) << "open divider";
    EXPECT_EQ(CalcolaTemp(4000), -10.0f) << "colder than the table";
    EXPECT_EQ(CalcolaTemp(0), 80.0f);
    EXPECT_EQ(CalcolaTemp(300), 80.0f) << "clamped at 80";
    EXPECT_NEAR(CalcolaTemp(SimpleReadingFor60C()), 60.0f, 0.1f);
}

TEST(Temperature, FanHysteresisAndEmptyTable) {
    TestUnit u;
    Works *w = u.w();
    FanRow rows[3] = {{30.0f, 0}, {40.0f, 50}, {50.0f, 100}};
    w->fanTab = rows;
    w->fanTabCount = 3;
    w->fanHyst = 1;
    testing::internal::CaptureStderr();
    // Very first step always sends: the speed starts unknown.
    w->temp1 = 20.0f;
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 0);
    w->temp1 = 45.0f;
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 50);
    searchPercentVentola(w);
    EXPECT_TRUE(Queued(w).empty()) << "no change, no command";
    w->temp1 = 39.5f;
    searchPercentVentola(w);
    EXPECT_TRUE(Queued(w).empty());
    EXPECT_EQ(w->fanPercent.load(), 50);
    w->temp1 = 30.0f;
    w->temp2 = 38.9f; // the hotter sensor counts
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 0);
    w->temp2 = 60.0f;
    searchPercentVentola(w);
    EXPECT_EQ(w->fanTarget.load(), 100);
    EXPECT_FLOAT_EQ(SearchTemperatureFromVentola(w, 50), 40.0f);
    EXPECT_FLOAT_EQ(SearchTemperatureFromVentola(w, 33), 0.0f);
    // No fan table: full speed, once.
    w->fanTab = nullptr;
    w->fanTabCount = 0;
    w->fanPercent = -1;
    Queued(w);
    searchPercentVentola(w);
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 100);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("--->1 VENTOLA: 50 (45.00°C)\n"), std::string::npos);
}

TEST(Temperature, AlarmWarningAndEnd) {
    TestUnit u;
    Works *w = u.w();
    w->errSuspend = 0;
    w->tempHyst = 1;
    testing::internal::CaptureStderr();
    GestTemperatureFunction(w, 2, 0, 23, 59.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 23), 1);
    EXPECT_TRUE(Queued(w).empty());
    GestTemperatureFunction(w, 2, 0, 23, 60.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 1);
    EXPECT_EQ(ExistError(w, 23), 0);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16, 19}));
    GestTemperatureFunction(w, 2, 0, 23, 60.5f, 60.0f);
    EXPECT_TRUE(Queued(w).empty()) << "an alarm is raised once";
    GestTemperatureFunction(w, 2, 0, 23, 59.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 1);
    EXPECT_EQ(ExistError(w, 23), 0);
    EXPECT_TRUE(Queued(w).empty());
    GestTemperatureFunction(w, 2, 0, 23, 58.9f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 0);
    EXPECT_EQ(ExistError(w, 0), 1);
    EXPECT_EQ(Queued(w), std::vector<int>{20});
    // Errors suspended (power-on, before the board's first "CP"): the alarm's
    // actions are taken once, not on every status reply; "AB0;" waits.
    w->errSuspend = 1;
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16}));
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    GestTemperatureFunction(w, 22, 21, 24, 79.5f, 80.0f);
    EXPECT_TRUE(Queued(w).empty());
    EXPECT_EQ(ExistError(w, 24), 0) << "an alarm does not become a warning";
    // Errors recorded again: the alarm is listed and "AB0;" goes out, once.
    w->errSuspend = 0;
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(ExistError(w, 22), 1);
    EXPECT_EQ(Queued(w), std::vector<int>{19});
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_TRUE(Queued(w).empty());
    // The operator's reset empties the list while it is still hot: a new alarm.
    VerifyWarningTemporaneiDopoResetBias(w);
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(ExistError(w, 22), 1);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16, 19}));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("!!!!  TEMP ALLARM: 60.50 (2)\n"), std::string::npos);
    EXPECT_NE(err.find("!!!! END TEMPERATURE ERROR (2)\n"), std::string::npos);
    EXPECT_NE(err.find("!!!! WARNING: Quasi in Temperatura!! (23)\n"), std::string::npos);
}

} // namespace
