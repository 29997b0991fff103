// Fan table (/opt/set/ventola.txt) and the temperature log (/opt/set/LOGtemp.txt).
#pragma once
#include <cstdint>
#include <string>

struct Works;

struct FanRow {
    float temperature; // degrees C
    int32_t percent;   // fan speed
};

// Reads the fan table once at start-up into works->fanTab / fanTabCount.
int ReadVentolaFile(Works *works);
// Parses the file text into `rows` (new[], nullptr when empty); returns the count.
int ParseFanTable(const std::string &text, FanRow **rows, bool trace);

// Temperature log: -1 deletes it, 0 appends a record, 1 appends an alarm record.
void LogTempFunction(Works *works, int mode);
// One log record (with its line feed) for the current values.
std::string FormatTempRecord(Works *works, int mode);
// Amplifier supply volts from the panel micro's ADC byte.
float CalvTensVadcAmp(Works *works, uint8_t adc);
