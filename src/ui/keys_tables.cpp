// Menus over the full-screen tables: the memory table of the bank (6), its
// editor (7), the bank utilities (9 to 11) and the filter page (12).
#include "config/antenna_banks.h"
#include "config/filter_table.h"
#include "model/works.h"
#include "ui/bank.h"
#include "ui/keys_menus.h"
#include "ui/param_edit.h"
#include "ui/view.h"

namespace {
constexpr int kMemCols = 5; // pwr, att, ampEnable, ant, atuOff
} // namespace

int KeysMemoryTable(Works *w, int key) {
    int rows = w->memRows.load();
    switch (key) {
    case 1:
        w->screenFlags.fetch_and(~kScreenMemory);
        SetWorkImg(w);
        w->menuIdx = 0;
        break;
    case 2:
        ChangeInterfaceBanco(w);
        InterfaceLabel(w);
        break;
    case 3:
        if (rows > 0) w->memRow = StepBackWrap(w->memRow.load(), rows);
        break;
    case 4:
        if (rows > 0) w->memRow = StepWrap(w->memRow.load(), rows);
        break;
    case 5:
        w->menuIdx = 9;
        break;
    case 6:
        // An empty table has no cell to edit.
        if (rows <= 0) break;
        if (w->memRow.load() >= rows || w->memRow.load() < 0) w->memRow = 0;
        w->memCol = 0;
        w->menuIdx = 7;
        break;
    default:
        break;
    }
    return 0;
}

int KeysMemoryEdit(Works *w, int key) {
    switch (key) {
    case 1:
        // Leaving without SAVE drops the edits.
        LoadTabConfig(w, w->numBanco.load());
        InterfaceLabel(w);
        w->memCol = -1;
        w->menuIdx = 6;
        break;
    case 2:
        w->memCol = StepBackWrap(w->memCol.load(), kMemCols);
        break;
    case 3:
        w->memCol = StepWrap(w->memCol.load(), kMemCols);
        break;
    case 4:
        ModifytabAntenna(w, 0);
        break;
    case 5:
        ModifytabAntenna(w, 1);
        break;
    case 6:
        SaveTabConfig(w, w->numBanco.load());
        break;
    default:
        break;
    }
    return 0;
}

int KeysBankUtilities(Works *w, int key) {
    int menu = w->menuIdx.load();
    int maxBank = w->maxBank.load();
    if (key == 1) {
        if (menu == 9) InterfaceLabel(w);
        w->menuIdx = 6;
        return 0;
    }
    if (menu == 9) {
        if (key == 2) {
            w->copyFrom = w->numBanco.load();
            w->menuIdx = 10;
        } else if (key == 3) {
            w->resetBank = w->numBanco.load();
            w->menuIdx = 11;
        }
    } else if (menu == 10) {
        if (key == 2) {
            w->copyFrom = StepWrap(w->copyFrom.load(), maxBank);
        } else if (key == 3) {
            w->copyTo = StepWrap(w->copyTo.load(), maxBank);
        } else if (key == 6) {
            CopyBank(w, w->copyFrom.load(), w->copyTo.load());
            w->menuIdx = 6;
        }
    } else if (menu == 11) {
        if (key == 2) {
            // maxBank itself stands for every bank.
            w->resetBank = StepWrap(w->resetBank.load(), maxBank + 1);
        } else if (key == 6) {
            ResetBank(w, w->resetBank.load());
            w->menuIdx = 6;
        }
    }
    return 0;
}

int KeysFilterPage(Works *w, int key) {
    switch (key) {
    case 1:
        if ((w->screenFlags.load() & kScreenFilter) != 0) {
            w->screenFlags.fetch_and(~kScreenFilter);
            SetWorkImg(w);
            w->menuIdx = 0;
        }
        break;
    case 2:
        w->filterRow = StepBackWrap(w->filterRow.load(), kFilterRows);
        break;
    case 3:
        w->filterRow = StepWrap(w->filterRow.load(), kFilterRows);
        break;
    case 5:
        EnDisFilter(w, 1);
        break;
    case 6:
        EnDisFilter(w, 0);
        break;
    default:
        break;
    }
    return 0;
}
