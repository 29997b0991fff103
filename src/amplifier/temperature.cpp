#include "amplifier/temperature.h"

#include "model/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/temp_log.h"
#include "config/fan_table.h"
#include "model/works.h"
#include "platform/log.h"
#include "model/errors.h"

// Thermistor: (degrees C, kOhm) pairs by falling resistance.
static const float K_T_R[68] = {
    -40, 347.808f, -35, 248.591f, -30, 179.973f, -25, 131.832f, -20, 97.679f, -15, 73.119f,
    -10, 55.301f,  -5,  42.257f,  0,   32.582f,  5,   25.324f,  10,  19.847f, 15,  15.679f,
    20,  12.478f,  25,  10.0f,    30,  8.068f,   35,  6.552f,   40,  5.353f,  45,  4.399f,
    50,  3.635f,   55,  3.020f,   60,  2.521f,   65,  2.115f,   70,  1.783f,  75,  1.510f,
    80,  1.284f,   85,  1.096f,   90,  0.939f,   95,  0.808f,   100, 0.698f,  105, 0.605f,
    110, 0.527f,   115, 0.460f,   120, 0.403f,   125, 0.354f,
};

float CalcolaTemp(int reading) {
    float v = static_cast<float>(reading);
    float r = v * 10.0f / (4095.0f - v);
    float t = K_T_R[66]; // hotter than the table: its upper limit
    for (int i = 0; i < 34; i++) {
        if (K_T_R[2 * i + 1] < r) {
            if (i == 0) {
                t = -40.0f;
            } else {
                float t0 = K_T_R[2 * i - 2], r0 = K_T_R[2 * i - 1];
                float t1 = K_T_R[2 * i], r1 = K_T_R[2 * i + 1];
                t = (t1 - t0) / (r1 - r0) * (r - r0) + t0;
            }
            break;
        }
    }
    if (t < -10.0f) t = -10.0f;
    if (t > 80.0f) t = 80.0f;
    return t;
}

float SearchTemperatureFromVentola(Works *w, int percent) {
    for (int i = 0; i < w->fanTabCount; i++)
        if (w->fanTab[i].percent == percent) return w->fanTab[i].temperature;
    return 0.0f;
}

void searchPercentVentola(Works *w) {
    float t1 = w->temp1.load(), t2 = w->temp2.load();
    float t = t2 > t1 ? t2 : t1;
    int n = w->fanTabCount;
    int target;
    if (n <= 0 || w->fanTab == nullptr) {
        // No fan table: nothing says how fast is enough, so run at full speed.
        target = 100;
    } else {
        const FanRow *tab = w->fanTab;
        target = tab[0].percent;
        bool found = false;
        for (int i = 0; i + 1 < n; i++) {
            if (tab[i].temperature <= t && t < tab[i + 1].temperature) {
                target = tab[i].percent;
                found = true;
                break;
            }
        }
        if (!found && t >= tab[n - 1].temperature) target = tab[n - 1].percent;
    }
    w->fanTarget = target;
    int current = w->fanPercent.load();
    if (target == current) return;
    float c = SearchTemperatureFromVentola(w, current);
    if (current < target || t < c - static_cast<float>(w->fanHyst.load())) {
        // Recorded only once "FN" was accepted, so a refusal is tried again.
        if (IncPNTIn_CMDLinear(kCmdFan, w) != 0) return;
        w->fanPercent = target;
        Trace("--->1 VENTOLA: %d (%02.02f°C)\n", target, t);
    }
}

namespace {

// tempAlarm bits, per sensor.
constexpr uint8_t kAlarmActive = 1; // the alarm's actions were taken
constexpr uint8_t kAlarmListed = 2; // and its code reached the error list
constexpr uint8_t kAlarmAbSent = 4; // and its "AB" code was queued

} // namespace

void GestTemperatureFunction(Works *w, int alarmCode, int endCode, int warningCode,
                             float temperature, float maximum) {
    // The alarm's state is kept here, not read back from the error list: while
    // the list is suspended (until the board's first "CP") it holds nothing,
    // and every status reply would raise the alarm and queue its codes again.
    Shared<uint8_t> &state = w->tempAlarm[alarmCode == kErrTemp2Alarm ? 1 : 0];
    bool suspended = w->errSuspend.load() & 1;
    float low = maximum - static_cast<float>(w->tempHyst.load());
    if (temperature > maximum) {
        uint8_t st = state.load();
        bool listed = ExistError(w, alarmCode);
        if (!(st & kAlarmActive) && listed) st = kAlarmActive | kAlarmListed | kAlarmAbSent;
        if ((st & kAlarmActive) && (st & kAlarmListed) && !listed) {
            // The operator's reset took the code (and the protection) away
            // while it is still hot: a new alarm.
            st = 0;
        }
        if (st & kAlarmActive) {
            // Taken while the list was suspended: list it and send what waited
            // for the list, once.
            if (!(st & kAlarmListed)) {
                AddErrore(w, alarmCode);
                if (ExistError(w, alarmCode)) st |= kAlarmListed;
            }
            if (!suspended && !(st & kAlarmAbSent) && IncPNTIn_CMDLinear(kCmdAmpInLine, w) == 0)
                st |= kAlarmAbSent;
            state = st;
            return;
        }
        DeleteErrore(w, warningCode);
        DeleteErrore(w, endCode);
        AddErrore(w, alarmCode);
        AttivaDisattivaProtezione(w, 1);
        if (w->tempLogOn.load() == 1) {
            LogTempFunction(w, 1);
            w->tempLogStarted = 0;
        }
        st = kAlarmActive;
        if (ExistError(w, alarmCode)) st |= kAlarmListed;
        if (!suspended && IncPNTIn_CMDLinear(kCmdAmpInLine, w) == 0) st |= kAlarmAbSent;
        state = st;
        Trace("!!!!  TEMP ALLARM: %02.02f (%i)\n", temperature, alarmCode);
    } else if (temperature < low) {
        if ((state.load() & kAlarmActive) || ExistError(w, alarmCode)) {
            DeleteErrore(w, alarmCode);
            IncPNTIn_CMDLinear(kCmdAmpBypass, w);
            AddErrore(w, endCode);
            Trace("!!!! END TEMPERATURE ERROR (%i)\n", alarmCode);
        }
        state = 0;
        if (ExistError(w, warningCode)) {
            DeleteErrore(w, warningCode);
            Trace("!!!! WARNING: Warning Temperatura Rientrato!! (%i)\n", warningCode);
        }
    } else {
        if (!ExistError(w, alarmCode) && !ExistError(w, warningCode) &&
            !(state.load() & kAlarmActive)) {
            AddErrore(w, warningCode);
            Trace("!!!! WARNING: Quasi in Temperatura!! (%i)\n", warningCode);
        }
    }
}
