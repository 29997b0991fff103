// A whole unit record in memory, as main builds it: works with its setup
// record, locks, TAV record and spectrum buffers, defaults and the factory
// setup, and the upward calls wired. Tests, benchmarks and fuzz targets build their units from it.
#pragma once

#include "app/hooks.h"
#include "config/options.h"
#include "config/setup.h"
#include "model/works.h"

#include <pthread.h>

struct UnitRecord {
    Works works{};
    SetupRecord setup{};
    pthread_mutex_t connMut = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_t sendMut = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_t serMut = PTHREAD_MUTEX_INITIALIZER;
    TavParams tavPar{};
    SpectrumRec fftRec{};
    uint32_t spectrum0[kSpectrumWords]{};
    uint32_t spectrum1[kSpectrumWords]{};

    UnitRecord() {
        InstallHooks();
        Works *w = &works;
        LinkWorks(w, &setup, &connMut, &sendMut, &serMut, &tavPar, &fftRec, spectrum0, spectrum1);
        InitGlobalVar(w);
        initSetup(w);
        InitOptions(w);
    }
    ~UnitRecord() { UnlinkWorks(&works); }
    UnitRecord(const UnitRecord &) = delete;
    UnitRecord &operator=(const UnitRecord &) = delete;
    Works *w() { return &works; }
};
