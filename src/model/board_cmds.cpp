#include "model/board_cmds.h"

#include "model/works.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Every field has a fixed width on the wire; a value that would not fit is
// held at the nearest value that does, so the board never sees a longer text.
int Fit(int v, int lo, int hi) {
    return std::clamp(v, lo, hi);
}

int Antenna(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "SA%d;", Fit(w->antenna.load() + 1, 0, 9));
}

int Freq(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "FA%011lu;",
                         static_cast<unsigned long>(static_cast<uint32_t>(w->freq.load())));
}

int TunerWord(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "MT1%08X;", static_cast<unsigned>(w->tunerWord.load()));
}

int FreqSense(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "FS%01d%04d;", Fit(w->fsMode.load(), 0, 9),
                         Fit(w->fsValue.load() / 10, 0, 9999));
}

int Attenuator(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "%s", AttenuatorText(w->attenuator.load()));
}

int AttenuatorTune(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "%s", AttenuatorText(w->attenuatorTune.load()));
}

int Input(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "AN%d;", Fit(w->antInput.load(), 0, 9));
}

int Four(char *out, size_t cap, const char *letters, const std::atomic<int32_t> *v) {
    return std::snprintf(out, cap, "%s%04d%04d%04d%04d;", letters, Fit(v[0].load(), 0, 9999),
                         Fit(v[1].load(), 0, 9999), Fit(v[2].load(), 0, 9999),
                         Fit(v[3].load(), 0, 9999));
}

int Thresholds(const Works *w, char *out, size_t cap) {
    return Four(out, cap, "TS", w->tsThreshold);
}

int PowerSettings(const Works *w, char *out, size_t cap) {
    return Four(out, cap, "PS", w->psValue);
}

int Fan(const Works *w, char *out, size_t cap) {
    if (w->fanTarget.load() < 50) return std::snprintf(out, cap, "FN0050;");
    return std::snprintf(out, cap, "FN1%03d;", Fit(w->fanTarget.load(), 0, 999));
}

int Filter(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "SF30000%02x;", static_cast<unsigned>(w->filterBits.load()));
}

int GenericMode(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "GM%04d%04d;", Fit(w->gmValue[0].load(), 0, 9999),
                         Fit(w->gmValue[1].load(), 0, 9999));
}

int WriteSettings(const Works *w, char *out, size_t cap) {
    return std::snprintf(out, cap, "GS%.10s;", w->genSettings);
}

// One row per line, in code order (scripts/board_commands.py reads them).
// clang-format off
constexpr BoardCmdRow kBoardCmds[] = {
    {kCmdVersion, "VSM;", "", kCmdVersion, "VSM and 7 characters: `boardVersion`", nullptr},
    {kCmdStatus, "ST;", "", kCmdStatus, "ST, status bits, powers and temperatures", nullptr},
    {kCmdAntenna, "SA%d;", "`antenna` + 1", kCmdAntenna, "SA and the antenna digit: `antenna`", Antenna},
    {kCmdFreqRead, "FM;", "", kCmdFreqRead, "FM and 11 digits: `freqMeasured` (when above 0)", nullptr},
    {kCmdFreq, "FA%011lu;", "`freq`", kCmdFreq, "FA", Freq},
    {kCmdTunerRead, "MT;", "", kCmdTunerRead, "MT", nullptr},
    {kCmdTunerWord, "MT1%08X;", "`tunerWord`", kCmdTunerWord, "MT", TunerWord},
    {kCmdFreqSense, "FS%01d%04d;", "`fsMode`, `fsValue` / 10", kCmdFreqSense, "FS", FreqSense},
    {kCmdResetTrips, "CPFFFF;", "", kCmdResetTrips, "CP: errors are recorded again (`errSuspend` bit 0 cleared)", nullptr},
    {kCmdAttenuator, "AT00;..AT11;", "`attenuator`", kCmdAttenuator, "AT", Attenuator},
    {kCmdAttenuatorTune, "AT00;..AT11;", "`attenuatorTune`", kCmdAttenuator, "AT", AttenuatorTune},
    {kCmdAttenuatorMax, "AT11;", "", kCmdAttenuator, "AT", nullptr},
    {kCmdProtectionOff, "MP0;", "", kCmdProtectionOff, "MP", nullptr},
    {kCmdProtectionOn, "MP1;", "", kCmdProtectionOff, "MP", nullptr},
    {kCmdAmpInLine, "AB0;", "", kCmdAmpInLine, "AB and a digit: `bypass`", nullptr},
    {kCmdAmpBypass, "AB1;", "", kCmdAmpInLine, "AB and a digit: `bypass`", nullptr},
    {kCmdInput, "AN%d;", "`antInput`", kCmdInput, "AN and a digit: `antInput`", Input},
    {kCmdThresholds, "TS%04d%04d%04d%04d;", "`tsThreshold[0..3]`", kCmdThresholds, "TS", Thresholds},
    {kCmdFan, "FN1%03d;", "`fanTarget`; FN0050; below 50", kCmdFan, "FN (traced)", Fan},
    {kCmdPowerSettings, "PS%04d%04d%04d%04d;", "`psValue[0..3]`", kCmdPowerSettings, "PS (traced)", PowerSettings},
    {kCmdTunerStored, "MT1%08X;", "`tunerWord` from the tuner memory", kCmdTunerWord, "MT", TunerWord},
    {kCmdFilter, "SF30000%02x;", "`filterBits`", kCmdFilter, "SF (traced)", Filter},
    {kCmdFwUpdate, "MR1;", "", kCmdFwUpdate, "none read: the link parks", nullptr},
    {kCmdMicroReady, "MR0;", "", kCmdMicroReady, "MR0: `microReady` = 1", nullptr},
    {kCmdGenericMode, "GM%04d%04d;", "`gmValue[0]`, `gmValue[1]`", kCmdGenericMode, "GM (traced)", GenericMode},
    {kCmdReadSettings, "GS;", "", kCmdReadSettings, "GS and 10 characters: `genSettings`", nullptr},
    {kCmdWriteSettings, "GS%.10s;", "`genSettings`", kCmdWriteSettings, "GS and 10 characters: `genSettings`", WriteSettings},
    {kCmdEeprom0, "ER0000;", "", kCmdEeprom0, "ER, page 0, 64 hex digits: `eePage0`", nullptr},
    {kCmdEeprom1, "ER0001;", "", kCmdEeprom1, "ER, page 1, 64 hex digits: `eePage1`", nullptr},
    {kCmdEeprom2, "ER0002;", "", kCmdEeprom2, "ER, page 2, 64 hex digits: `boardOpt`, `powerClass`", nullptr},
    {kCmdTunerThrough, "MT1%08X;", "`tunerWord` with bit 16 set, 18 and 23 clear", kCmdTunerWord, "MT", TunerWord},
    {kCmdTunerClear, "MT1%08X;", "`tunerWord` = bit 23 only", kCmdTunerWord, "MT", TunerWord},
};
// clang-format on

} // namespace

const BoardCmdRow *FindBoardCmd(int code) {
    for (const BoardCmdRow &row : kBoardCmds)
        if (row.code == code) return &row;
    return nullptr;
}

const char *AttenuatorText(int value) {
    static const char *const kText[4] = {"AT00;", "AT01;", "AT10;", "AT11;"};
    return kText[Fit(value, 0, 3)];
}
