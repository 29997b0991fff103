#include "ui/bank.h"

#include <mutex>

#include "config/antenna_banks.h"
#include "config/antenna_save.h"
#include "config/setup.h"
#include "config/tuner_memory.h"
#include "model/works.h"
#include "platform/log.h"
#include "remote/frames.h"
#include "ui/menu.h"
#include "ui/mode.h"
#include "ui/status.h"

namespace {
// The panel thread and the remote frame loop may both step the bank.
std::mutex bankMut;

constexpr int kBankFiles = 4; // three tuner memories and the antenna table

// The working tables are the current bank's again, and the supervisor
// chooses the band row afresh.
void ReloadCurrentBank(Works *w) {
    LoadAllBankTable(w, w->numBanco.load());
    w->bandRow = -1;
}
} // namespace

namespace {
void StepBank(Works *w, bool save) {
    std::lock_guard<std::mutex> lock(bankMut);
    // A running tune keeps the bank it stores into (the keys and "VORNBANK").
    if (w->tuneState.load() != 0) {
        ShowNotice(w, kNoticeBankKept);
        return;
    }
    int next = w->numBanco + 1;
    // A MAX BANK lowered below the current bank must not run on past it.
    if (next >= w->maxBank || next < 0) next = 0;
    w->numBanco = next;
    if (save) writeSetup(w);
    LoadAllBankTable(w, next);
    w->bandRow = -1;
}
} // namespace

void ChangeBanco(Works *w) {
    StepBank(w, true);
}

void ChangeBancoUnsaved(Works *w) {
    StepBank(w, false);
}

void ChangeInterfaceBanco(Works *w) {
    std::lock_guard<std::mutex> lock(bankMut);
    int next = w->ModeWorkIdx + 1;
    if (next >= kModeWorks || next < 0) next = 0;
    w->ModeWorkIdx = next;
    SetModeWorkIDX(w);
    SaveToBank(w, w->numBanco, w->antenna);
}

void CopyBank(Works *w, int from, int to) {
    std::lock_guard<std::mutex> lock(bankMut);
    // Through scratch tables: the tables in memory stay the current bank's
    // while the files are copied.
    for (int ant = 0; ant < kTuneMemAnts; ant++)
        CopyTabAtu(w, from, to, ant);
    CopyTabConfig(from, to);
    ReloadCurrentBank(w);
}

void ResetBank(Works *w, int bank) {
    std::lock_guard<std::mutex> lock(bankMut);
    int maxBank = w->maxBank.load();
    if (bank != maxBank) {
        for (int k = 0; k < kBankFiles; k++)
            DeleteFileConf(w, bank, k);
    } else {
        for (int b = 0; b < maxBank; b++)
            for (int k = 0; k < kBankFiles; k++)
                DeleteFileConf(w, b, k);
    }
    ReloadCurrentBank(w);
}

void BankKey(Works *w) {
    if (w->setup->WebSocket == '2' && w->wsConnected == 1) {
        if (sendWebSockRemoteCmd(w, "VORNBANK") == 0) return;
        LogErr("bank change not sent to the server");
        return;
    }
    ChangeBanco(w);
}
