// Fuzz target over the logging program's <RadioInfo> datagrams: the input is
// one datagram, read by the strict reader and then taken by the logger link
// (fake clock); what it accepts must hold a radio 1 or 2 and a frequency in
// range, and nothing else may reach the frequency the unit follows.
#include "fuzz_root.h"
#include "transceiver/logger.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    const char *text = reinterpret_cast<const char *>(data);
    RadioInfo info;
    const char *why = nullptr;
    auto inRange = [](int32_t hz) { return hz >= kLoggerFreqMin && hz <= kLoggerFreqMax; };
    if (ParseRadioInfo(text, size, &info, &why) == 0) {
        if (info.radioNr < 1 || info.radioNr > 2 || (info.freqHz < 0 && info.txFreqHz < 0) ||
            (info.freqHz >= 0 && !inRange(info.freqHz)) ||
            (info.txFreqHz >= 0 && !inRange(info.txFreqHz)) || size > kLoggerDatagramMax)
            std::abort();
    } else if (why == nullptr) {
        std::abort();
    }
    LoggerState st;
    w->logFreq = 0;
    LoggerDatagram(w, &st, text, size, 1000);
    LoggerDatagram(w, &st, text, size, 2000);
    const int32_t f = w->logFreq.load();
    if (f != 0 && !inRange(f)) std::abort();
    return 0;
}
