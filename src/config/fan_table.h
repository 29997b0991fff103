// Fan table (/opt/set/ventola.txt): fan speed by heat-sink temperature.
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
