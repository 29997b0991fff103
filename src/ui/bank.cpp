#include "ui/bank.h"

#include <mutex>

#include "config/antenna_banks.h"
#include "config/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "remote/frames.h"
#include "ui/mode.h"

namespace {
// The panel thread and the remote frame loop may both step the bank.
std::mutex bankMut;
} // namespace

void ChangeBanco(Works *w) {
    std::lock_guard<std::mutex> lock(bankMut);
    int next = w->numBanco + 1;
    // A MAX BANK lowered below the current bank must not run on past it.
    if (next >= w->maxBank || next < 0) next = 0;
    w->numBanco = next;
    writeSetup(w);
    LoadAllBankTable(w, next);
    w->bandRow = -1;
}

void ChangeInterfaceBanco(Works *w) {
    std::lock_guard<std::mutex> lock(bankMut);
    int next = w->ModeWorkIdx + 1;
    if (next > 2 || next < 0) next = 0;
    w->ModeWorkIdx = next;
    SetModeWorkIDX(w);
    SaveToBank(w, w->numBanco, w->antenna);
}

void BankKey(Works *w) {
    if (w->setup->WebSocket == '2' && w->wsConnected == 1) {
        if (sendWebSockRemoteCmd(w, "VORNBANK") == 0) return;
        LogErr("bank change not sent to the server");
        return;
    }
    ChangeBanco(w);
}
