#include "ui/gpio.h"

#include "core/works.h"
#include "platform/clock.h"

// Until the key scan and the panel-micro exchange are built, the thread keeps
// the mailbox moving: it takes each posted code as the two-wire sender will,
// so that posters are never left waiting.
void *GPIO(void *arg) {
    Works *w = static_cast<Works *>(arg);
    while (w->running != 0) {
        uint8_t code = w->tinyCmd.exchange(0);
        if (code != 0) w->tinyCmdOut = code;
        SleepMs(2);
    }
    return nullptr;
}
