#include "model/readings.h"

#include "model/works.h"

float SupplyCurrent(Works *w) {
    return w->rawAux.load() / 4096.0f * 14.05f;
}

float CalvTensVadcAmp(Works *w, uint8_t adc) {
    return RailVolts(adc, static_cast<char>(w->powerClass.load()));
}

float RailVolts(uint8_t adc, char powerClass) {
    double k = powerClass == '1' ? 348.0 : 118.0;
    return static_cast<float>(adc * 3.3 * k / 255.0 / 18.0);
}

float ConversionCelsius_to_Fahrenheit(float c) {
    return c * 9.0f / 5.0f + 32.0f;
}
