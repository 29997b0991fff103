#include "ui/keys.h"

#include "core/works.h"
#include "platform/clock.h"

// Only the part every press shares: the time of the last key, which the
// screen saver counts from. The key actions per menu come with the key-action
// module; until then a press does nothing else and never repeats.
int DecodeTasto(Works *w, int key, int longMask) {
    (void)key;
    (void)longMask;
    w->lastKeyTime = static_cast<int32_t>(EpochSeconds());
    return 0;
}
