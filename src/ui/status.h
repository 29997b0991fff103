// Status and information screens: the full-screen status page, the TX marker,
// the information bar, and the small readers behind their texts.
#pragma once
#include "model/readings.h"
#include <cstddef>
#include <cstdint>
#include <string>

struct Works;
struct TavParams;

// The status page (only while screenFlags is exactly kScreenStatus).
void ViewStatusInfo(Works *works, TavParams tav);
// The red "TX" marker while the amplifier transmits (not over a full-screen page).
void ViewStatusTX(Works *works);
// The information bar under the meters of the normal view.
void DrawInfoBar(Works *works);
// Short notices on the information bar's message line.
enum Notice : uint8_t {
    kNoticeNone = 0,
    kNoticeBankKept,     // a bank change refused while a tune runs
    kNoticeAntennaKept,  // an antenna change refused while a tune runs
    kNoticeTunerThrough, // TUNE on a band whose row switches the tuner through
};
// The six boxes of the information bar as it would draw them now (interface,
// coax, band, attenuator, antenna, tuner).
void InfoBarBoxes(Works *works, char boxes[6][128]);
// Shows `notice` on the message line for a few seconds.
void ShowNotice(Works *works, Notice notice);
// The band box text: "NOPA" in 26-28 MHz, else the last antenna-table row
// holding `freq` ("Band:40m"), else "Band:---".
void InfoBandText(Works *works, char *out, size_t cap);
// The supply box text: "PA Voltage: 48.2V       Current: 10.3A", or "-----"
// for a voltage above 20 V on the lower power class.
void InfoSupplyText(Works *works, char *out, size_t cap);

// Processor and graphics temperatures from "my_temp", run at most once a
// second (`now` in monotonic ms); in between, and when the command gives
// nothing, the last values stay.
void ReadCPUTemp(Works *works, uint64_t now);
void ReadCPUTemp(Works *works);
// Sets cpuTemp from the first line and gpuTemp from the second ("temp=47.2'C");
// returns the lines used.
int ParseCpuTemp(Works *works, const std::string &out);
// The clock text "%Y-%m-%d %H:%M:%S" (local time), renewed when the second changes.
void ReadDataOra(Works *works, int64_t epochSec);
void ReadDataOra(Works *works);
// USB devices of vendor 0d8c (the transceiver's sound device); the probe runs
// at most once a second and returns its last count in between.
int Get_AudioTAV(Works *works, uint64_t now);
int Get_AudioTAV(Works *works);
