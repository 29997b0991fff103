// Command bytes of the panel micro, the small controller on the front panel:
// one byte out, one byte back per exchange; the reply lands in
// tinyData[command & 3].
#pragma once
#include <cstdint>

enum PanelMicroCmd : uint8_t {
    kTinyPowerOff = 0x85,    // switch the unit off
    kTinyRemoteStart = 0x95, // remote operation started
    kTinyRemoteStop = 0xA5,  // remote operation stopped
    kTinyVersion = 0xB0,     // firmware version (the first exchange)
    kTinyCountdown = 0xB5,   // the start-up countdown is near its end
    kTinyFontsLoaded = 0xC5, // the fonts are loaded (also: reboot ahead)
    kTinyRail12V = 0xD1,     // ADC reading of the 12 V rail
    kTinyRail15V = 0xD2,     // ... of the 15 V rail
    kTinyRailAmp = 0xD3,     // ... of the amplifier supply
    kTinyIdle = 0xFF,        // tinyCmdOut: nothing to send
};
