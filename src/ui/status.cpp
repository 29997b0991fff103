#include "ui/status.h"

#include "core/works.h"

void ViewStatusInfo(Works *, TavParams) {}
void ViewStatusTX(Works *) {}
void DrawInfoBar(Works *) {}
void ReadCPUTemp(Works *) {}
void ReadDataOra(Works *) {}
int Get_AudioTAV(Works *) {
    return 0;
}
float CalvTensVadcAmp(Works *w, uint8_t adc) {
    double k = w->powerClass == '1' ? 348.0 : 118.0;
    return static_cast<float>(adc * 3.3 * k / 255.0 / 18.0);
}
float ConversionCelsius_to_Fahrenheit(float c) {
    return c * 9.0f / 5.0f + 32.0f;
}
