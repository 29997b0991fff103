// Automatic antenna: the codes a band row of the antenna table queues, values
// of a row that index nothing, a refused code, and the status text for a peer.
#include "unit.h"

#include "model/cmd_queue.h"
#include "config/antenna_banks.h"
#include "config/tuner_memory.h"
#include "supervisor/antenna.h"
#include "ui/menu.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct AutoAnt : ::testing::Test {
    TestUnit unit;
    Works *w = unit.w();
    AntennaRow *row20 = nullptr;
    void SetUp() override {
        InitTabAntenna(w, 0); // 20m is row 5
        row20 = &w->antTab[5];
        *row20 = AntennaRow{"20m", 14000000, 14350000, 1, 2, 0, 2, 0.0f};
        w->freq = 14074000;
        w->antenna = 0;
        w->bypass = 1;
        w->attenuator = 0;
        w->tuneState = 0;
        w->menuIdx = 0;
        Queued(w);
    }
};

TEST_F(AutoAnt, BandRowQueuesAntennaTuneBypassAndAttenuator) {
    // A solution a few grid points away in the same segment: sent from memory.
    SaveTuneValsuTabRam(TuneEntry{1, 1, 42, 118}, 3115, 1, w);
    testing::internal::CaptureStderr();
    GestioneAntennaAutomatica(w);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Queued(w), (std::vector<int>{7, 27, 19, 14}));
    EXPECT_EQ(w->bandRow.load(), 5);
    EXPECT_EQ(w->antenna.load(), 1);
    EXPECT_EQ(w->attenuator.load(), 2);
    EXPECT_EQ(w->attenuatorShown.load(), 2);
    EXPECT_STREQ(KeyLabel(0, 3, 2), "Auto 2");

    // Same state again: nothing changes but the stored tune is sent again.
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(Queued(w), (std::vector<int>{27, 19}));

    // Nothing stored in the segment (its neighbours do not count): cleared.
    SaveTuneValsuTabRam(TuneEntry{}, 3115, 1, w);
    SaveTuneValsuTabRam(TuneEntry{1, 1, 42, 118}, 3109, 1, w);
    w->bypass = 0;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(Queued(w), (std::vector<int>{40}));

    // Tuner bypassed on this band: through.
    row20->atuOff = 1;
    testing::internal::CaptureStderr();
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TABLE CONFIG : BYPASS 1 (5)\n");
    EXPECT_EQ(Queued(w), (std::vector<int>{39}));

    // A running tune keeps the tuner; amplifier off on this band: stand-by.
    row20->atuOff = 0;
    row20->ampEnable = 0;
    w->tuneState = 1;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(Queued(w), (std::vector<int>{20}));
    w->bypass = 1; // already in stand-by: nothing
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(Queued(w), (std::vector<int>{}));

    // Outside every band nothing is touched.
    w->freq = 15000000;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->bandRow.load(), 100);
    EXPECT_EQ(Queued(w), (std::vector<int>{}));
    EXPECT_EQ(w->antenna.load(), 1);
}

TEST_F(AutoAnt, RowValuesThatIndexNothingKeepTheState) {
    w->antenna = 2;
    w->attenuator = 1;
    w->bypass = 0;
    row20->ant = 0; // keep the antenna
    row20->atuOff = 1;
    testing::internal::CaptureStderr();
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(Queued(w), (std::vector<int>{39, 14}));
    EXPECT_EQ(w->antenna.load(), 2);

    row20->ant = 9;
    row20->att = 200;
    GestioneAntennaAutomatica(w);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Queued(w), (std::vector<int>{39}));
    EXPECT_EQ(w->antenna.load(), 2);
    EXPECT_EQ(w->attenuator.load(), 2);
    EXPECT_EQ(w->attenuatorShown.load(), 2);
}

// The simulated root's bank 1 sends stored tunes where the radios start.
TEST(SimRootBank1, StoredTunesOnTwentyAndFortyMetres) {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    LoadAllBankTable(w, 1);
    Queued(w);
    for (int32_t f : {14074000, 14070000, 7074000}) {
        w->freq = f;
        testing::internal::CaptureStderr();
        GestioneAntennaAutomatica(w);
        std::vector<int> q = Queued(w);
        EXPECT_NE(std::find(q.begin(), q.end(), 27), q.end()) << f;
        EXPECT_GE(LoadTuneFromMEM(w, w->antenna.load()), 0) << f;
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(w->antenna.load(), 1);
    EXPECT_EQ(w->tuneC.load(), 210); // 7.075 MHz on antenna 2
}

TEST_F(AutoAnt, StatusText) {
    w->ModeWorkIdx = 1;
    w->attenuator = 0;
    w->antenna = 1;
    w->bypass = 0;
    w->tunerThrough = 0;
    w->tuneEnabled = 0;
    w->swr = 1.2f;
    w->pwrFwd = 500.0f;
    w->pwrIn = 25.5f;
    w->temp1 = 41.3f;
    w->temp2 = 39.9f;
    w->numBanco = 3;
    char text[kStatusTextLen + 1];
    CreaBufferDiStato(w, text);
    EXPECT_EQ(std::string(text, 32), "20m 1010T0001.20500.00025.5041.3");
    EXPECT_EQ(std::string(text + 40, 2), "03");
    EXPECT_EQ(text[42], '0');
    EXPECT_EQ(std::strlen(text), 44u);

    // Values wider than their fields lose their last characters to the next
    // field and never reach past the 44 bytes.
    char canary[80];
    std::memset(canary, 'X', sizeof canary);
    w->pwrFwd = 1500.0f;
    w->pwrIn = 1e30f;
    w->rawAux = 1e30f;
    w->numBanco = 12345;
    w->tuneEnabled = -128; // no tuner
    w->freq = 1;           // no band
    w->errList[0] = 3;
    w->errCount = 1;
    CreaBufferDiStato(w, canary);
    EXPECT_EQ(std::string(canary, 4), "----");
    EXPECT_EQ(canary[8], 'N');
    EXPECT_EQ(std::string(canary + 16, 6), "1500.0");
    EXPECT_EQ(std::string(canary + 40, 2), "12");
    EXPECT_EQ(canary[42], 4);
    EXPECT_EQ(canary[43], '0');
    EXPECT_EQ(canary[44], '\0');
    for (size_t i = 45; i < sizeof canary; i++)
        ASSERT_EQ(canary[i], 'X') << i;
}

} // namespace
