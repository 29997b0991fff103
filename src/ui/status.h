// Status and information screens: the full-screen status page, the TX marker,
// and the small readers behind their texts.
#pragma once
#include <cstdint>

struct Works;
struct TavParams;

void ViewStatusInfo(Works *works, TavParams tav);
void ViewStatusTX(Works *works);
// The information bar under the meters of the normal view.
void DrawInfoBar(Works *works);
void ReadCPUTemp(Works *works);
void ReadDataOra(Works *works);
int Get_AudioTAV(Works *works);
float CalvTensVadcAmp(Works *works, uint8_t adc);
float ConversionCelsius_to_Fahrenheit(float celsius);
