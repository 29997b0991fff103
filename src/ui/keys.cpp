#include "ui/keys.h"

#include "model/cmd_queue.h"
#include "model/errors.h"
#include "model/hooks.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "ui/fault_page.h"
#include "ui/keys_menus.h"
#include "ui/menu.h"
#include "ui/param_edit.h"
#include "ui/view.h"

namespace {

// Menu 1: the parameter list.
void KeysParamList(Works *w, int key) {
    int pages = w->parPages.load();
    if (pages <= 0 || pages > kParPages) pages = kParPages;
    switch (key) {
    case 1:
        w->menuIdx = 0;
        break;
    case 3:
        w->parItem = 0;
        w->parPage = StepBackWrap(w->parPage.load(), pages);
        break;
    case 4:
        w->parPage = StepWrap(w->parPage.load(), pages);
        w->parItem = 0;
        break;
    case 6: {
        int page = w->parPage.load();
        int item = w->parItem.load();
        if (page < 0 || page >= kParPages || item < 0 || item >= kParItems) break;
        if (menuPar[page].item[item].noEdit == 0) w->menuIdx = 2;
        break;
    }
    default:
        break;
    }
}

// Menu 2: editing a page. The value keys repeat while held where the page
// asks for it; ENTER confirms and goes back to where the page was opened from.
int KeysParamEdit(Works *w, int key, bool isLong) {
    static const int kAction[7] = {0, 0, 3, 4, 1, 2, 0};
    switch (key) {
    case 2:
    case 3:
    case 4:
    case 5: {
        int r = ModifyParameter(w, kAction[key]);
        return isLong ? r : 0;
    }
    case 6: {
        ModifyParameter(w, 0);
        int flags = w->screenFlags.load();
        w->menuIdx = (flags & kScreenMemory) ? 6 : (flags & kScreenFilter) ? 12 : 1;
        return 0;
    }
    default:
        return 0;
    }
}

// Menu 5: a serial link failed to open. Retry starts its thread again; Cancel
// switches the link off (the power board's link cannot be switched off: it is
// retried). The supervisor returns to menu 0 once portError is -1.
void KeysLinkFailure(Works *w, int key) {
    if (key != 5 && key != 6) return;
    // The keys answer the failure shown; another link's stays for its turn.
    int failed = AnswerPortError(w);
    if (failed <= 0) return;
    SetupRecord *s = w->setup;
    if (key == 5 || failed == 1) {
        switch (failed) {
        case 1:
            CallHook(hooks.StartThreadLinear, w);
            break;
        case 2: // the FT-817 CAT serial link reports as 2
            CallHook(hooks.StartThreadCATserial, w);
            break;
        case 3:
            CallHook(hooks.StartThreadTAV, w);
            break;
        case 5:
            CallHook(hooks.StartTavReadFFT, w);
            break;
        default:
            break;
        }
        return;
    }
    switch (failed) {
    case 2:
        s->EnableCatSerial = '0';
        break;
    case 3:
        s->EnableSerial = '0';
        break;
    case 5:
        s->EnableFFT = '0';
        break;
    default:
        break;
    }
}

} // namespace

bool QueueCmd(Works *w, int code) {
    return IncPNTIn_CMDLinear(code, w) == 0;
}

int StepWrap(int v, int bound) {
    v++;
    return (v >= bound || v < 0) ? 0 : v;
}

int StepBackWrap(int v, int bound) {
    if (bound <= 0) return 0;
    v--;
    return (v < 0 || v >= bound) ? bound - 1 : v;
}

void InterfaceLabel(Works *w) {
    GetLblInterface(w->ModeWorkIdx.load(), KeyLabel(6, 2, 2));
}

int DecodeTasto(Works *w, int key, int longMask) {
    w->lastKeyTime = static_cast<int32_t>(EpochSeconds());
    WakeSupervisor(w);
    if (w->saveScreenOn.load() != 0) {
        // The key only wakes the screen, on the page that is open.
        SetPageImg(w);
        w->saveScreenOn = 0;
        w->keyFlags.fetch_and(static_cast<uint8_t>(~1u));
        Trace("----------> DISATTIVO SAVE SCREEN\n");
        return 0;
    }
    if (key < 1 || key > kMenuKeys) return 0;
    // Key 1 acknowledges the error list first.
    if (key == 1 && GPIO_Errori(w) == 1) {
        w->keyFlags.fetch_and(static_cast<uint8_t>(~1u));
        return 0;
    }
    bool isLong = longMask != 0;
    int ret = 0;
    switch (w->menuIdx.load()) {
    case 0:
        ret = KeysMain(w, key, isLong);
        break;
    case 1:
        KeysParamList(w, key);
        break;
    case 2:
        ret = KeysParamEdit(w, key, isLong);
        break;
    case 3:
        ret = KeysTune(w, key, isLong);
        break;
    case 4:
        ret = KeysManualTune(w, key, isLong);
        break;
    case 5:
        KeysLinkFailure(w, key);
        break;
    case 6:
        ret = KeysMemoryTable(w, key);
        break;
    case 7:
        ret = KeysMemoryEdit(w, key);
        break;
    case 8:
        ret = KeysStoreTune(w, key);
        break;
    case 9:
    case 10:
    case 11:
        ret = KeysBankUtilities(w, key);
        break;
    case 12:
        ret = KeysFilterPage(w, key);
        break;
    case kMenuFaults:
        ret = KeysFaultHistory(w, key, isLong);
        break;
    default:
        break;
    }
    w->keyFlags.fetch_and(static_cast<uint8_t>(~1u));
    return ret;
}
