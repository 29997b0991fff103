#include "ui/param_pages.h"

#include "config/network.h"
#include "config/options.h"
#include "config/setup.h"
#include "model/cmd_queue.h"
#include "model/plot_state.h"
#include "model/works.h"
#include "platform/log.h"
#include "ui/keyb.h"
#include "ui/param_edit.h"
#include "platform/panel_micro.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <type_traits>

namespace {

// A works field (pointer to member) or a global (pointer), by reference.
template <auto F> auto &Ref(Works *w) {
    if constexpr (std::is_member_object_pointer_v<decltype(F)>)
        return w->*F;
    else
        return *F;
}

template <class T> double Num(const std::atomic<T> &v) {
    return static_cast<double>(v.load());
}
template <class T> void Put(std::atomic<T> &v, double x) {
    v = static_cast<T>(x);
}

// A number as it is stored.
template <auto F>
constexpr ParValue Number = {[](Works *w) { return Num(Ref<F>(w)); },
                             [](Works *w, double x) { Put(Ref<F>(w), x); }};
// Switches: 1 when "on", that is when not 0, when exactly 1, or when `bit` is set.
template <auto F>
constexpr ParValue NonZero = {[](Works *w) -> double { return Num(Ref<F>(w)) != 0; },
                              Number<F>.set};
template <auto F>
constexpr ParValue IsOne = {[](Works *w) -> double { return Num(Ref<F>(w)) == 1; }, Number<F>.set};
template <auto F, uint8_t bit>
constexpr ParValue Bit = {[](Works *w) -> double { return (Ref<F>(w).load() & bit) != 0; },
                          [](Works *w, double x) {
                              if (x != 0)
                                  Ref<F>(w).fetch_or(bit);
                              else
                                  Ref<F>(w).fetch_and(static_cast<uint8_t>(~bit));
                          }};

// Enable TAV Tune: shown from bit 0, set as a whole byte.
constexpr ParValue kTavTune = {[](Works *w) -> double { return w->tuneOpt.load() & 1; },
                               Number<&Works::tuneOpt>.set};
// ATU Installed: bit 7 set means none; a change is logged.
constexpr ParValue kAtuInstalled = {
    [](Works *w) -> double { return (w->tuneEnabled.load() & 0x80) != 0; },
    [](Works *w, double x) {
        uint8_t v = static_cast<uint8_t>(w->tuneEnabled.load());
        v = x != 0 ? v | 0x80 : v & 0x7F;
        w->tuneEnabled = static_cast<int8_t>(v);
        Trace("----------> SAVE ATU: 0x%0X\n", static_cast<unsigned>(v));
    }};

// Tune Search: the options file's TuneSearch.
constexpr ParValue kTuneSearch = {
    [](Works *w) -> double { return w->options.tuneSearch.load(); },
    [](Works *w, double x) { w->options.tuneSearch = static_cast<int32_t>(x); }};

constexpr LanAddr kLan[4] = {{IP_v, &CntIP, nullptr},
                             {NetMask_v, &CntNetMask, nullptr},
                             {Gateway_v, &CntGateway, &Gateway_none},
                             {DNS_v, &CntDNS, &DNS_none}};

constexpr uint8_t kItem0 = kShowItem0 | kEditItem0;
constexpr int kNoBound = std::numeric_limits<int>::max();

// A bounded step from `v` to `next`: a value outside lo..hi stays as it is
// until a step brings it in, and a step never goes against its key ("+"
// never lowers, "-" never raises).
int64_t Bounded(int64_t v, int64_t next, int dir, int64_t lo, int64_t hi) {
    next = std::min<int64_t>(std::max<int64_t>(next, lo), hi);
    return (dir > 0 && next < v) || (dir < 0 && next > v) ? v : next;
}

// Steps: past one end to the other; held within lo..hi; cut at the end it
// moves to; made only while short of the end it moves to; out of lo..hi to lo.
int64_t Wrap(const ParamPage &p, Works *, int64_t v, int dir) {
    v += dir * p.inc;
    return v < p.lo ? p.hi : v > p.hi ? p.lo : v;
}
int64_t Clamp(const ParamPage &p, Works *, int64_t v, int dir) {
    return Bounded(v, v + dir * p.inc, dir, p.lo, p.hi);
}
int64_t Limit(const ParamPage &p, Works *, int64_t v, int dir) {
    constexpr int64_t kFar = std::numeric_limits<int64_t>::max();
    return Bounded(v, v + dir * p.inc, dir, dir < 0 ? p.lo : -kFar, dir > 0 ? p.hi : kFar);
}
int64_t Hold(const ParamPage &p, Works *, int64_t v, int dir) {
    return (dir < 0 ? v > p.lo : v < p.hi) ? v + dir * p.inc : v;
}
int64_t ToLow(const ParamPage &p, Works *, int64_t v, int dir) {
    v += dir * p.inc;
    return v < p.lo || v > p.hi ? p.lo : v;
}

// Target SWR: a step into 0.01..0.99 goes to 0 (down) or 1 (up).
int64_t SwrStep(const ParamPage &p, Works *, int64_t v, int dir) {
    int64_t next = v + dir;
    if (next < 100) next = dir < 0 ? 0 : 100;
    return Bounded(v, next, dir, p.lo, p.hi);
}

// Point Div 1, 2, 5, 10, 20: halved down to lo, doubled up to hi with 4 taken as 5.
int64_t PointDivStep(const ParamPage &p, Works *, int64_t v, int dir) {
    if (dir < 0) return v > p.lo ? v / 2 : v;
    if (v >= p.hi) return v;
    return v * 2 == 4 ? 5 : v * 2;
}

// Alarm set point: within lo..maxTempAllowed (a set point above the limit,
// the shipped 80.00 with a limit of 60, stays until "-" brings it in).
int64_t SetPointStep(const ParamPage &p, Works *w, int64_t v, int dir) {
    return Bounded(v, v + dir, dir, p.lo, w->maxTempAllowed.load() * 10);
}

void SaveFreqSense(Works *w) {
    IncPNTIn_CMDLinear(kCmdFreqSense, w);
    writeSetup(w);
}

void SaveOptions(Works *w) {
    if (WriteOptions(w) != 0) LogErr("options not saved");
}

void SaveLan(Works *) {
    if (int r = SaveLanParam(); r != 0) LogErr("network settings not applied (%d)", r);
}

void FactoryResetIfSet(Works *w) {
    if (w->factoryDefault.load() == 1) FactoryReset(w);
}

void PowerOff(Works *w) {
    w->tinyCmdOut = kTinyPowerOff;
}

void StartFwUpdate(Works *w) {
    if (!(w->linkFlags.load() & 1)) return;
    IncPNTIn_CMDLinear(kCmdFwUpdate, w);
    Trace("Start AGGFW\n");
}

void StartUiUpdate(Works *w) {
    if (!(w->linkFlags.load() & 8)) return;
    Trace("Start AGG UI...\n");
    RunUiUpdate();
}

void StartRemoteService(Works *w) {
    if (!(w->linkFlags.load() & 2)) return;
    RemoteConnection();
    Trace("Start REMOTE SRV\n");
}

} // namespace

// Pages in list order. Where ENTER saves, the comment names the setup key that
// holds the value (or the options file's key).
// clang-format off
const ParamPage kParamPages[kParPages] = {
    {.id = 1, .title = "MAX BANK", .caption = " ", // MAXbank
     .value = Number<&Works::maxBank>, .format = "%d",
     .keys = ParKeys::StepSave, .step = Wrap, .lo = 2, .hi = 20, .confirm = writeSetup},
    {.id = 2, .title = "FREQ", .caption = "Input Sens", // FreqSensIn
     .value = NonZero<&Works::fsMode>, .names = {"FQ1", "FQ2"}, .confirm = SaveFreqSense},
    {.id = 3, .title = "FREQ", .caption = "Period (ms)", // FreqPeriodTime
     .value = Number<&Works::fsValue>, .format = "%d",
     .keys = ParKeys::Step, .step = Hold, .lo = 10, .hi = 10000, .inc = 10,
     .confirm = SaveFreqSense, .repeat = kRepeatSteps},
    {.id = 4, .title = "AUTO TUNE", .caption = "Enable TAV Tune", // AutoTuneMode
     .value = kTavTune, .names = {"Off", "On"}, .confirm = writeSetup},
    {.id = 5, .title = "AUTO TUNE", .caption = "Force Attenuator", // AttenuatorTune
     .value = Number<&Works::attenuatorTune>, .format = "%sdB",
     .names = {attNames[0], attNames[1], attNames[2], attNames[3], attNames[4]},
     .hi = 3, .confirm = writeSetup},
    {.id = 6, .title = "AUTO TUNE", .caption = "Target SWR (0=Off)", // SWRescAutoTune
     .value = Number<&Works::swrTarget>, .format = "%02.02f", .scale = 100,
     .keys = ParKeys::Step, .step = SwrStep, .lo = 0, .hi = 1000,
     .confirm = writeSetup, .repeat = kRepeatKeys},
    {.id = 7, .title = "AUTO TUNE", .caption = "AutoTune Timeout", // AutoTuneMaxCicli
     .value = Number<&Works::swrTimeoutIdx>, .names = {"25sec", "20sec", "15sec", "10sec", "5sec"},
     .keys = ParKeys::Step, .step = ToLow, .lo = 0, .hi = 4, .confirm = writeSetup},
    {.id = 8, .title = "AUTO TUNE", .caption = "ATU Installed", // TUNEenabled
     .value = kAtuInstalled, .names = {"Yes", "No"}, .confirm = writeSetup},
    {.id = 9, .title = "HELIX USE MODE", .caption = " ",
     .value = IsOne<&Works::remoteOn>, .names = {"Local", "Remote"},
     .action = RemoteSwitch, .confirm = RemoteConfirm, .itemZero = kItem0},
    {.id = 10, .title = "NETWORK LAN", .caption = "IP", .lan = &kLan[0], .confirm = SaveLan},
    {.id = 11, .title = "NETWORK LAN", .caption = "SUBNET", .lan = &kLan[1], .confirm = SaveLan},
    {.id = 12, .title = "NETWORK LAN", .caption = "GATEWAY", .lan = &kLan[2], .confirm = SaveLan},
    {.id = 13, .title = "NETWORK LAN", .caption = "DNS", .lan = &kLan[3], .confirm = SaveLan},
    // Ref Lev, Ref Pos and Point Div are kept in memory only.
    {.id = 14, .title = "PLOT", .caption = "Ref Lev", .value = Number<&RefLevel>, .format = "%d",
     .keys = ParKeys::Step, .step = Limit, .lo = -kNoBound, .hi = kNoBound, .inc = 10},
    {.id = 15, .title = "PLOT", .caption = "Ref Pos", .value = Number<&RefPos>, .format = "%d",
     .keys = ParKeys::Step, .step = Hold, .lo = 0, .hi = 10},
    {.id = 16, .title = "PLOT", .caption = "Point Div", .value = Number<&PointDiv>, .format = "%d",
     .keys = ParKeys::Step, .step = PointDivStep, .lo = 1, .hi = 20},
    {.id = 17, .title = "PLOT", .caption = "Offset", // OffsetPlot
     .value = Number<&Works::offsetPlot>, .format = "%3.02f", .scale = 10,
     .keys = ParKeys::StepSave, .step = Limit, .lo = -kNoBound, .hi = kNoBound,
     .confirm = writeSetup, .repeat = kRepeatAll},
    {.id = 18, .title = "FILTER SETTINGS", .caption = "View",
     .value = NonZero<&Works::filterView>, .names = {"OFF", "ON"}, .confirm = FilterPage},
    {.id = 50, .title = "VIEW SCREEN", .caption = "DateTime", // ViewTimeStr
     .value = NonZero<&Works::viewTimeStr>, .names = {"OFF", "ON"}, .confirm = writeSetup},
    {.id = 51, .title = "TEMPERATURE UNITS", .caption = " ", // TempMode
     .value = IsOne<&Works::tempUnits>, .names = {"Celsius", "Fahrenheit"},
     .confirm = writeSetup, .itemZero = kItem0},
    {.id = 52, .title = "PEAK POWER METER", .caption = " ", // EnablePwrPeak
     .value = NonZero<&Works::auxFwdEnable>, .names = {"OFF", "ON"},
     .confirm = writeSetup, .itemZero = kItem0},
    {.id = 53, .title = "PEAK POWER METER", .caption = "Release Time (ms)", // Peak_Time
     .value = Number<&TimerPeakSec>, .format = "%i",
     .keys = ParKeys::StepSave, .step = Limit, .lo = 0, .hi = 5000, .inc = 10,
     .confirm = writeSetup, .repeat = kRepeatAll},
    {.id = 54, .title = "1-TEMPERATURE ALARM", .caption = " SET POINT", // MaxTemperature
     .value = Number<&Works::tempMax1>, .format = "%02.02f", .scale = 10,
     .keys = ParKeys::Step, .step = SetPointStep, .lo = 200,
     .confirm = writeSetup, .repeat = kRepeatKeys, .itemZero = kEditItem0},
    {.id = 55, .title = "2-TEMPERATURE ALARM", .caption = " SET POINT", // MaxTemperature2
     .value = Number<&Works::tempMax2>, .format = "%02.02f", .scale = 10,
     .keys = ParKeys::Step, .step = SetPointStep, .lo = 200,
     .confirm = writeSetup, .repeat = kRepeatKeys, .itemZero = kEditItem0},
    {.id = 56, .title = "SET POWER UNITS", .caption = " ", // PowerUnits
     .value = IsOne<&Works::powerUnits>, .names = {"Watt", "dBm"},
     .confirm = writeSetup, .itemZero = kItem0},
    {.id = 57, .title = "SCREEN SAVER TIMEOUT", .caption = " ", // SaveScreenIdx
     .value = Number<&Works::saveScreenIdx>, .names = {"5min", "10min", "20min", "30min", "60min"},
     .keys = ParKeys::Step, .step = ToLow, .lo = 0, .hi = 4,
     .confirm = writeSetup, .itemZero = kShowItem0},
    {.id = 58, .title = "FACTORY DEFAULT", .caption = " ",
     .value = IsOne<&Works::factoryDefault>, .names = {"No Default", "Set Default"},
     .confirm = FactoryResetIfSet, .itemZero = kItem0},
    {.id = 59, .title = "BUTTON TIME", .caption = "Long Press Time", // BTN_longpress_Time
     .value = Number<&TIME_LONG_PRESS>, .format = "%01.01f sec", .scale = 10,
     .keys = ParKeys::StepSave, .step = Clamp, .lo = 3, .hi = 50, .confirm = writeSetup},
    {.id = 96, .title = "OFF HW", .caption = " ", .names = {"OFF"},
     .action = PowerOff, .confirm = PowerOff, .itemZero = kItem0},
    {.id = 97, .title = "FW UPDATE", .caption = " ",
     .value = Bit<&Works::linkFlags, 1>, .names = {"OFF", "ON"},
     .confirm = StartFwUpdate, .itemZero = kItem0},
    {.id = 98, .title = "UI UPDATE", .caption = " ",
     .value = Bit<&Works::linkFlags, 8>, .names = {"OFF", "ON"},
     .confirm = StartUiUpdate, .itemZero = kItem0},
    {.id = 99, .title = "REMOTE SERVICE", .caption = " ",
     .value = Bit<&Works::linkFlags, 2>, .names = {"OFF", "ON"},
     .confirm = StartRemoteService, .itemZero = kItem0},
    {.id = 60, .title = "AUTO TUNE", .caption = "Tune Search", // options.txt: TuneSearch
     .value = kTuneSearch, .names = {"Stepped", "Model"}, .confirm = SaveOptions},
};
// clang-format on

const LanAddr &LanAddrOf(int page) {
    if (page >= 0 && page < kParPages && kParamPages[page].lan != nullptr)
        return *kParamPages[page].lan;
    return kLan[0];
}
