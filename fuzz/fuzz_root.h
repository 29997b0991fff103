// Shared pieces of the fuzz targets: a quiet unit record, and a scratch unit
// root (HELIX_ROOT) where file parsers read the bytes under test.
#pragma once

#include "unit_record.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <syslog.h>

namespace fuzzroot {

inline std::string &RootDir() {
    static std::string dir;
    return dir;
}

inline void RemoveRoot() {
    std::error_code ec;
    if (!RootDir().empty()) std::filesystem::remove_all(RootDir(), ec);
}

// Makes the scratch root once (opt/set, etc/network; no var/log, so the
// system-log mirror writes nothing) and points HELIX_ROOT at it.
inline const std::string &Root() {
    std::string &dir = RootDir();
    if (dir.empty()) {
        // In memory where there is a tmpfs: a file written per input on a
        // disk costs more than the parser under test.
        char shm[] = "/dev/shm/helix-fuzz-XXXXXX";
        char tmp[] = "/tmp/helix-fuzz-XXXXXX";
        char *tmpl = mkdtemp(shm) != nullptr ? shm : tmp;
        if (tmpl == tmp && mkdtemp(tmp) == nullptr) std::abort();
        dir = tmpl;
        std::filesystem::create_directories(dir + "/opt/set");
        std::filesystem::create_directories(dir + "/etc/network");
        setenv("HELIX_ROOT", dir.c_str(), 1);
        std::atexit(RemoveRoot);
    }
    return dir;
}

// Writes the input bytes as the unit file `unitPath` (absolute, e.g. "/opt/set/x.txt").
inline void PutFile(const char *unitPath, const uint8_t *data, size_t size) {
    std::string path = Root() + unitPath;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// One unit record for the whole run; a million inputs must not flood the
// system log.
inline UnitRecord *Unit() {
    static UnitRecord *u = [] {
        setlogmask(LOG_MASK(LOG_EMERG));
        Root();
        return new UnitRecord;
    }();
    return u;
}

} // namespace fuzzroot
