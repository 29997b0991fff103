#include "amplifier/temp_log.h"

#include "model/works.h"
#include "platform/clock.h"
#include "platform/file_exists.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "model/readings.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

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
        // A restart keeps the log it ends as one generation: an alarm record
        // written just before must survive the next transmission.
        if (RenameFile(kTempLogPath, kTempLogPrevPath) != 0 && errno != ENOENT)
            LogErr("can't keep %s as %s: error %d", kTempLogPath, kTempLogPrevPath, errno);
    } else if (!FileExists(kTempLogPath)) {
        // A new log appears whole, header and first record, or not at all:
        // a cut between creating and writing it must not leave it empty (a
        // failure is logged by the safe write).
        WriteFileSafe(kTempLogPath, ";TX,Temp1,Temp2,FDD,SWR\n" + FormatTempRecord(w, mode), false);
    } else {
        // An append, flushed: earlier records are never rewritten, and a
        // record that does not fit (a full card) leaves no part behind.
        int r = AppendFileFlushed(kTempLogPath, FormatTempRecord(w, mode));
        if (r == -1) LogErr("can't open %s for writing", kTempLogPath);
        if (r == -2) LogErr("can't write %s: error %d, record dropped", kTempLogPath, errno);
    }
    RemountRo();
}
