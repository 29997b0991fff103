// Readings in physical units, computed from the raw values in works.
#pragma once
#include <cstdint>

struct Works;

// Supply current in amperes from the board's auxiliary reading.
float SupplyCurrent(Works *works);
// A panel-micro rail reading in volts (the divider depends on the power class).
float CalvTensVadcAmp(Works *works, uint8_t adc);
// The same for a power class character ('1' the higher class).
float RailVolts(uint8_t adc, char powerClass);
float ConversionCelsius_to_Fahrenheit(float celsius);
