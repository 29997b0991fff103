// Fan table (/opt/set/ventola.txt): fan speed by heat-sink temperature.
#pragma once
#include "model/records.h"
#include <cstdint>
#include <string>

struct Works;

// Reads the fan table once at start-up into works->fanTab / fanTabCount.
int ReadVentolaFile(Works *works);
// Parses the file text into `rows` (new[], nullptr when empty); returns the count.
int ParseFanTable(const std::string &text, FanRow **rows, bool trace);
// 0 when the reader takes every line of `text` whole, else -1 and why.
int CheckFanTable(const std::string &text, std::string *why);
