// Thermistor conversion, fan speed and temperature alarms, run once per
// status reply on the link thread.
#pragma once

struct Works;

// Degrees C from a 12-bit thermistor reading (10 kOhm divider), -10..80.
float CalcolaTemp(int reading);
// Fan step: picks the fan row for the hotter sensor, queues "FN" on a change.
void searchPercentVentola(Works *works);
// Temperature of the first fan row with `percent`; 0.0 when none.
float SearchTemperatureFromVentola(Works *works, int percent);
// Alarm, end-of-alarm and warning handling of one sensor.
void GestTemperatureFunction(Works *works, int alarmCode, int endCode, int warningCode,
                             float temperature, float maximum);
