#include "config/fan_table.h"

#include "config/table_text.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/file_exists.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

static const char *const kTempLogPath = "/opt/set/LOGtemp.txt";

int ParseFanTable(const std::string &text, FanRow **rows, bool trace) {
    std::vector<std::string> lines = TableLines(text, 255);
    int count = 0;
    for (const auto &l : lines)
        if (!IsCommentLine(l)) count++;
    if (trace) {
        Trace("N row Ventola File %d \n", count);
        Trace("Setup3 \n");
    }
    *rows = count > 0 ? new FanRow[count]() : nullptr;
    int n = 0;
    for (const auto &l : lines) {
        if (IsCommentLine(l)) continue;
        const char *p = l.c_str();
        char *end = nullptr;
        FanRow r{};
        r.temperature = std::strtof(p, &end);
        if (end != p) p = end;
        double pct = std::strtod(p, &end);
        r.percent = end != p ? static_cast<int32_t>(pct) : 0;
        (*rows)[n++] = r;
        if (trace) Trace("->t:%.02f: %d \n", r.temperature, r.percent);
    }
    return count;
}

int ReadVentolaFile(Works *w) {
    std::string text;
    if (!ReadFileText("/opt/set/ventola.txt", &text)) {
        TraceRaw("Ventola File not FOUND!!");
        LogErr("can't open /opt/set/ventola.txt");
        return 0;
    }
    FanRow *rows = nullptr;
    int count = ParseFanTable(text, &rows, true);
    delete[] w->fanTab;
    w->fanTab = rows;
    w->fanTabCount = count;
    return count;
}

std::string FormatTempRecord(Works *w, int mode) {
    char when[40];
    time_t now = static_cast<time_t>(EpochSeconds());
    struct tm tmv {};
    localtime_r(&now, &tmv);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tmv);
    char line[256];
    std::snprintf(line, sizeof line, "%s , %d,%04.01f,%04.01f,%02.01fW,%03.02f,%04.01fV,%04.01fA%s",
                  when, (w->boardStatus[1].load() & 1) ? 1 : 0, w->temp1.load(), w->temp2.load(),
                  w->pwrFwd.load(), w->swr.load(), CalvTensVadcAmp(w, w->tinyData[3].load()),
                  w->rawAux.load() / 4096.0f * 14.05f,
                  mode == 1 ? " -> protezione attiva\n" : "\n");
    return line;
}

void LogTempFunction(Works *w, int mode) {
    // The link thread and the supervisor both log; one write window at a time.
    static std::mutex logMutex;
    std::lock_guard<std::mutex> lock(logMutex);
    if (RemountRw() != 0) {
        Trace("can't mount rw /opt/set/ error %d", errno);
        return;
    }
    if (mode == -1) {
        RunShell("rm " + ResolvePath(kTempLogPath));
    } else {
        std::string text;
        if (!FileExists(kTempLogPath)) text = ";TX,Temp1,Temp2,FDD,SWR\n";
        text += FormatTempRecord(w, mode);
        // An append, flushed: earlier records are never rewritten.
        if (AppendFileFlushed(kTempLogPath, text) != 0)
            LogErr("can't open %s for writing", kTempLogPath);
    }
    RemountRo();
}
