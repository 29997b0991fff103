// The tuner word: packing and unpacking of C, L and the network mode.
#include "model/tuner_word.h"
#include "model/works.h"
#include "unit.h"

#include <gtest/gtest.h>

TEST(TunerWord, StepsRoundTripAndKeepTheOtherBits) {
    TestUnit u;
    Works *w = u.w();
    // Bits 0 and 24..31 belong to nobody here and must survive every packer.
    w->tunerWord = 0xFF000001u;
    for (int v = 0; v < 512; v++) {
        SetC(w, v);
        SetI(w, 511 - v);
        uint32_t word = w->tunerWord;
        ASSERT_EQ(DecodeCapacitaFromTuneval(word), v);
        ASSERT_EQ(DecodeInduttanzaFromTuneval(word), 511 - v);
        ASSERT_EQ(word & 0xFF000001u, 0xFF000001u);
    }
    // C and L never share a bit, and together with the mode bits they fill 1..23.
    SetC(w, 511);
    SetI(w, 0);
    uint32_t c = w->tunerWord & 0x00FFFFFEu;
    SetC(w, 0);
    SetI(w, 511);
    uint32_t l = w->tunerWord & 0x00FFFFFEu;
    EXPECT_EQ(c & l, 0u);
    // Bits 17 and 22 carry the tenth value bit, which a 9-bit step never sets.
    EXPECT_EQ(c | l | kTunerModeCL | kTunerModeLC | kTunerModeThrough,
              0x00FFFFFEu & ~(1u << 17) & ~(1u << 22));
    // Values wrap modulo 512.
    SetC(w, 513);
    EXPECT_EQ(DecodeCapacitaFromTuneval(w->tunerWord), 1);
}

TEST(TunerWord, ModeBitsAndThrough) {
    TestUnit u;
    Works *w = u.w();
    SetMode(w, 1);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), 1);
    EXPECT_EQ(w->tunerThrough.load(), 0);
    SetMode(w, 2);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), 2);
    SetMode(w, 0); // treated as through
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), 3);
    EXPECT_EQ(w->tunerThrough.load(), 1);
    SetMode(w, 7); // only the field changes
    EXPECT_EQ(w->tuneMode.load(), 7);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), 3);
    EXPECT_EQ(DecodeModoFromTuneval(kTunerModeCL | kTunerModeLC), 0);
    // A word without mode bits reads as through.
    w->tunerWord = 0;
    SetC(w, 100);
    SetI(w, 200);
    ReadTnePar(w);
    EXPECT_EQ(w->tuneC.load(), 100);
    EXPECT_EQ(w->tuneL.load(), 200);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), 3);
}
