#include "model/fault_history.h"

#include "model/errors.h"
#include "model/readings.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

constexpr uint64_t kRetryMs = 10000;

const char *ModeName(int mode) {
    return mode == 1 ? "Tav" : mode == 2 ? "817" : mode == 3 ? "Net" : mode == 4 ? "Udp" : "Gen";
}

// The lines of `text` that end in a line feed, newest first, appended to `out`.
void TakeLines(const std::string &text, size_t max, std::vector<std::string> *out) {
    size_t end = text.rfind('\n');
    while (end != std::string::npos && out->size() < max) {
        size_t start = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
        size_t from = start == std::string::npos ? 0 : start + 1;
        if (end > from) out->push_back(text.substr(from, end - from));
        if (start == std::string::npos) break;
        end = start;
    }
}

} // namespace

std::string FaultHistoryLine(Works *w, int code, FaultEvent event) {
    char when[24] = "0000-00-00 00:00:00";
    time_t now = static_cast<time_t>(EpochSeconds());
    struct tm local {};
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    const char *title = code >= 0 && code < kErrCodes ? w->errTab[code].title : "?";
    char text[64];
    std::snprintf(text, sizeof text, "%.29s %.29s", title, ErrText(w, code).c_str());
    // A quote would end the text early when the line is read back.
    for (char *c = text; *c != '\0'; c++)
        if (*c == '"' || *c == '\n') *c = '\'';
    char line[kFaultLineLen];
    std::snprintf(line, sizeof line,
                  "%s %s %d \"%s\" fwd=%.1f refl=%.1f in=%.2f swr=%.2f t1=%.1f t2=%.1f "
                  "volt=%.1f amp=%.1f freq=%ld row=%d ant=%d bank=%d mode=%s word=%08X tune=%d\n",
                  when, event == kFaultAcked ? "ACK" : "ADD", code, text,
                  static_cast<double>(w->pwrFwd.load()), static_cast<double>(w->pwrRefl.load()),
                  static_cast<double>(w->pwrIn.load()), static_cast<double>(w->swr.load()),
                  static_cast<double>(w->temp1.load()), static_cast<double>(w->temp2.load()),
                  static_cast<double>(CalvTensVadcAmp(w, w->tinyData[3].load())),
                  static_cast<double>(SupplyCurrent(w)), static_cast<long>(w->freq.load()),
                  w->bandRow.load(), w->antenna.load() + 1, w->numBanco.load(),
                  ModeName(w->ModeWorkIdx.load()), static_cast<unsigned>(w->tunerWord.load()),
                  w->tuneState.load() != 0 ? 1 : 0);
    return line;
}

void FaultHistoryRecord(Works *w, int code, FaultEvent event) {
    std::string line = FaultHistoryLine(w, code, event);
    FaultQueue &q = w->faultQueue;
    std::lock_guard<std::mutex> lock(q.lock);
    if (q.count >= kFaultQueueLines) {
        q.dropped++;
        return;
    }
    std::snprintf(q.lines[q.count++], kFaultLineLen, "%s", line.c_str());
}

int FaultHistoryFlush(Works *w) {
    FaultQueue &q = w->faultQueue;
    std::string text;
    int taken;
    uint32_t dropped;
    {
        std::lock_guard<std::mutex> lock(q.lock);
        if (q.count == 0 || NowMs() < q.retryAfterMs) return 0;
        taken = q.count;
        for (int i = 0; i < taken; i++)
            text += q.lines[i];
        q.count = 0;
        dropped = q.dropped;
        q.dropped = 0;
    }
    if (dropped != 0) LogErr("fault history: %u records lost (queue full)", dropped);
    int r = -1;
    if (RemountRw() == 0) {
        // One generation: the full file moves aside before the lines that
        // would take it past the limit.
        std::string cur;
        if (ReadFileText(kFaultsPath, &cur) && !cur.empty() &&
            cur.size() + text.size() > kFaultsMaxBytes &&
            RenameFile(kFaultsPath, kFaultsPrevPath) != 0)
            LogErr("fault history: can't keep %s as %s: error %d", kFaultsPath, kFaultsPrevPath,
                   errno);
        r = AppendFileFlushed(kFaultsPath, text);
        RemountRo();
    }
    if (r == 0) {
        q.generation.fetch_add(1);
        return taken;
    }
    LogErr("fault history: %s not written (%d, error %d); trying again later", kFaultsPath, r,
           errno);
    // The lines go back in front of any that came meanwhile (as many as fit).
    std::lock_guard<std::mutex> lock(q.lock);
    int keep = taken + q.count > kFaultQueueLines ? kFaultQueueLines - q.count : taken;
    if (q.count > 0)
        std::memmove(q.lines[keep], q.lines[0], sizeof q.lines[0] * static_cast<size_t>(q.count));
    size_t at = 0;
    for (int i = 0; i < keep; i++) {
        size_t nl = text.find('\n', at);
        std::snprintf(q.lines[i], kFaultLineLen, "%s", text.substr(at, nl + 1 - at).c_str());
        at = nl + 1;
    }
    q.dropped += static_cast<uint32_t>(taken - keep);
    q.count += keep;
    q.retryAfterMs = NowMs() + kRetryMs;
    return 0;
}

uint32_t FaultHistoryGeneration(Works *w) {
    return w->faultQueue.generation.load();
}

std::vector<std::string> FaultHistoryRead(size_t max) {
    std::vector<std::string> lines;
    std::string text;
    if (ReadFileText(kFaultsPath, &text)) TakeLines(text, max, &lines);
    if (lines.size() < max && ReadFileText(kFaultsPrevPath, &text)) TakeLines(text, max, &lines);
    return lines;
}

bool FaultHistoryParse(const std::string &line, FaultEntry *e) {
    *e = FaultEntry{};
    unsigned word = 0;
    long freq = 0;
    int used = -1;
    int n = std::sscanf(line.c_str(),
                        "%10s %8s %3s %d \"%63[^\"]\" fwd=%f refl=%f in=%f swr=%f t1=%f t2=%f "
                        "volt=%f amp=%f freq=%ld row=%d ant=%d bank=%d mode=%3s word=%8X tune=%d%n",
                        e->date, e->time, e->event, &e->code, e->text, &e->fwd, &e->refl, &e->in,
                        &e->swr, &e->t1, &e->t2, &e->volt, &e->amp, &freq, &e->bandRow, &e->ant,
                        &e->bank, e->mode, &word, &e->tune, &used);
    e->freq = static_cast<int32_t>(freq);
    e->word = word;
    return n == 20 && used == static_cast<int>(line.size());
}
