// The setup record: a 291-byte image of switch characters and fixed text
// slots mirroring /opt/set/setup.txt, and its reader and writer.
#pragma once

#include <atomic>
#include <cstddef>

struct Works;

// A one-character switch slot ('0'/'1'); threads watch these while others change them.
using SetupSwitch = std::atomic<char>;
static_assert(sizeof(SetupSwitch) == 1, "a switch slot is one byte");

struct SetupRecord {
    SetupSwitch EnableKeyb;
    SetupSwitch EnableSpi;
    SetupSwitch EnableTouch;
    SetupSwitch DelayedTouch;
    SetupSwitch EnableRead;
    SetupSwitch EnableWrite;
    SetupSwitch EnableCAT;
    SetupSwitch EnableSerial; // run-time: TAV serial link
    SetupSwitch EnableLinear;
    SetupSwitch EnableTime;
    SetupSwitch EnableGPIO;
    SetupSwitch WebSocket;
    char Pitch[10];
    char Quality[4];
    char AudioIn[20];
    SetupSwitch EnableFFT;
    SetupSwitch EnableSpectrum; // run-time: spectrum source
    SetupSwitch Enable1600;
    char Divide[3];
    char InChannels[2];
    char AudioCompress[10];
    char Multiplier[3];
    char AudioOut[20];
    char Server[16];
    char CatPort[13];
    char SerPort[13];
    char LinPort[13];
    SetupSwitch NumAntenna;
    SetupSwitch EnablePwrPeak;
    SetupSwitch TempMode;
    SetupSwitch FreqSensIn;
    char FreqPeriodTime[5];
    SetupSwitch Attenuator;
    SetupSwitch AttenuatorTune;
    char SWRescAutoTune[6];
    SetupSwitch ViewTimeStr;
    SetupSwitch ViewTemp;
    char MaxTemperature[6];
    char MaxTemperature2[6];
    SetupSwitch AutoTuneMaxCicli;
    SetupSwitch PowerUnits;
    SetupSwitch SaveScreenIdx;
    SetupSwitch AutoTuneMode;
    char MaxTempAllowed[6];
    char PSpar1[6];
    char PSpar2[6];
    char PSpar3[6];
    char PSpar4[6];
    SetupSwitch Isteresi1;
    SetupSwitch Isteresi2;
    char OffsetPlot[6];
    SetupSwitch EnableCatSerial; // run-time: CAT serial link
    char CatSerialPort[13];
    char TUNEenabled[4];
    char NumBanco[4];
    char GMpar1[6];
    char GMpar2[6];
    char Peak_media[6];
    char Peak_ValDec[6];
    char Peak_TimeDec[6];
    char Peak_Time[6];
    char MAXbank[4];
    char BTN_longpress_Time[6];
    SetupSwitch EnableDebug;
    SetupSwitch EnableLOGTemp;
    char AudioBuffers[6];
};
static_assert(sizeof(SetupRecord) == 291, "the setup record is 291 bytes");

// Copies `value` into a text slot of `width` bytes, cut at width - 1.
void SetSlot(char *slot, size_t width, const char *value);
#define SET_SLOT(field, value) SetSlot((field), sizeof(field), (value))

void initSetup(Works *works);
void readSetup(Works *works);
void writeSetup(Works *works);
// Builds the text writeSetup writes (after copying the live values into the slots).
void FormatSetupFile(Works *works, char *out, size_t cap, size_t *len);
// Factory defaults: deletes the bank files, then initSetup, writeSetup, readSetup.
void RestoreFactorySetup(Works *works);
