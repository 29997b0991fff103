#include "ui/param_pages.h"

#include "config/network.h"
#include "model/plot_state.h"
#include "model/works.h"

#include <atomic>
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
double Num(double v) {
    return v;
}
template <class T> void Put(std::atomic<T> &v, double x) {
    v = static_cast<T>(x);
}
void Put(double &v, double x) {
    v = x;
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

constexpr LanAddr kLan[4] = {{IP_v, &CntIP, nullptr},
                             {NetMask_v, &CntNetMask, nullptr},
                             {Gateway_v, &CntGateway, &Gateway_none},
                             {DNS_v, &CntDNS, &DNS_none}};

constexpr uint8_t kItem0 = kShowItem0 | kEditItem0;

} // namespace

// Pages in list order.
const ParamPage kParamPages[kParPages] = {
    {.id = 1,
     .title = "MAX BANK",
     .caption = " ",
     .value = Number<&Works::maxBank>,
     .format = "%d"},
    {.id = 2,
     .title = "FREQ",
     .caption = "Input Sens",
     .value = NonZero<&Works::fsMode>,
     .names = {"FQ1", "FQ2"}},
    {.id = 3,
     .title = "FREQ",
     .caption = "Period (ms)",
     .value = Number<&Works::fsValue>,
     .format = "%d"},
    {.id = 4,
     .title = "AUTO TUNE",
     .caption = "Enable TAV Tune",
     // Shown from bit 0, set as a whole byte.
     .value = {[](Works *w) -> double { return w->tuneOpt.load() & 1; },
               Number<&Works::tuneOpt>.set},
     .names = {"Off", "On"}},
    {.id = 5,
     .title = "AUTO TUNE",
     .caption = "Force Attenuator",
     .value = Number<&Works::attenuatorTune>,
     .format = "%sdB",
     .names = {attNames[0], attNames[1], attNames[2], attNames[3], attNames[4]}},
    {.id = 6,
     .title = "AUTO TUNE",
     .caption = "Target SWR (0=Off)",
     .value = Number<&Works::swrTarget>,
     .format = "%02.02f",
     .scale = 100},
    {.id = 7,
     .title = "AUTO TUNE",
     .caption = "AutoTune Timeout",
     .value = Number<&Works::swrTimeoutIdx>,
     .names = {"25sec", "20sec", "15sec", "10sec", "5sec"}},
    {.id = 8,
     .title = "AUTO TUNE",
     .caption = "ATU Installed",
     // Bit 7 set: no tuner.
     .value = {[](Works *w) -> double { return (w->tuneEnabled.load() & 0x80) != 0; }, nullptr},
     .names = {"Yes", "No"}},
    {.id = 9,
     .title = "HELIX USE MODE",
     .caption = " ",
     .value = IsOne<&Works::remoteOn>,
     .names = {"Local", "Remote"},
     .itemZero = kItem0},
    {.id = 10, .title = "NETWORK LAN", .caption = "IP", .lan = &kLan[0]},
    {.id = 11, .title = "NETWORK LAN", .caption = "SUBNET", .lan = &kLan[1]},
    {.id = 12, .title = "NETWORK LAN", .caption = "GATEWAY", .lan = &kLan[2]},
    {.id = 13, .title = "NETWORK LAN", .caption = "DNS", .lan = &kLan[3]},
    {.id = 14, .title = "PLOT", .caption = "Ref Lev", .value = Number<&RefLevel>, .format = "%d"},
    {.id = 15, .title = "PLOT", .caption = "Ref Pos", .value = Number<&RefPos>, .format = "%d"},
    {.id = 16, .title = "PLOT", .caption = "Point Div", .value = Number<&PointDiv>, .format = "%d"},
    {.id = 17,
     .title = "PLOT",
     .caption = "Offset",
     .value = Number<&Works::offsetPlot>,
     .format = "%3.02f",
     .scale = 10},
    {.id = 18,
     .title = "FILTER SETTINGS",
     .caption = "View",
     .value = NonZero<&Works::filterView>,
     .names = {"OFF", "ON"}},
    {.id = 50,
     .title = "VIEW SCREEN",
     .caption = "DateTime",
     .value = NonZero<&Works::viewTimeStr>,
     .names = {"OFF", "ON"}},
    {.id = 51,
     .title = "TEMPERATURE UNITS",
     .caption = " ",
     .value = IsOne<&Works::tempUnits>,
     .names = {"Celsius", "Fahrenheit"},
     .itemZero = kItem0},
    {.id = 52,
     .title = "PEAK POWER METER",
     .caption = " ",
     .value = NonZero<&Works::auxFwdEnable>,
     .names = {"OFF", "ON"},
     .itemZero = kItem0},
    {.id = 53,
     .title = "PEAK POWER METER",
     .caption = "Release Time (ms)",
     .value = Number<&TimerPeakSec>,
     .format = "%i"},
    {.id = 54,
     .title = "1-TEMPERATURE ALARM",
     .caption = " SET POINT",
     .value = Number<&Works::tempMax1>,
     .format = "%02.02f",
     .scale = 10,
     .itemZero = kEditItem0},
    {.id = 55,
     .title = "2-TEMPERATURE ALARM",
     .caption = " SET POINT",
     .value = Number<&Works::tempMax2>,
     .format = "%02.02f",
     .scale = 10,
     .itemZero = kEditItem0},
    {.id = 56,
     .title = "SET POWER UNITS",
     .caption = " ",
     .value = IsOne<&Works::powerUnits>,
     .names = {"Watt", "dBm"},
     .itemZero = kItem0},
    {.id = 57,
     .title = "SCREEN SAVER TIMEOUT",
     .caption = " ",
     .value = Number<&Works::saveScreenIdx>,
     .names = {"5min", "10min", "20min", "30min", "60min"},
     .itemZero = kShowItem0},
    {.id = 58,
     .title = "FACTORY DEFAULT",
     .caption = " ",
     .value = IsOne<&Works::factoryDefault>,
     .names = {"No Default", "Set Default"},
     .itemZero = kItem0},
    {.id = 59,
     .title = "BUTTON TIME",
     .caption = "Long Press Time",
     .value = Number<&TIME_LONG_PRESS>,
     .format = "%01.01f sec",
     .scale = 10},
    {.id = 96, .title = "OFF HW", .caption = " ", .names = {"OFF"}, .itemZero = kItem0},
    {.id = 97,
     .title = "FW UPDATE",
     .caption = " ",
     .value = Bit<&Works::linkFlags, 1>,
     .names = {"OFF", "ON"},
     .itemZero = kItem0},
    {.id = 98,
     .title = "UI UPDATE",
     .caption = " ",
     .value = Bit<&Works::linkFlags, 8>,
     .names = {"OFF", "ON"},
     .itemZero = kItem0},
    {.id = 99,
     .title = "REMOTE SERVICE",
     .caption = " ",
     .value = Bit<&Works::linkFlags, 2>,
     .names = {"OFF", "ON"},
     .itemZero = kItem0},
};

const LanAddr &LanAddrOf(int page) {
    if (page >= 0 && page < kParPages && kParamPages[page].lan != nullptr)
        return *kParamPages[page].lan;
    return kLan[0];
}
