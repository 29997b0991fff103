#include "ui/menu.h"

#include "ui/errors.h"

// The menu tables come with the operator-interface work; the error table is
// needed from the start.
void InitMenuNova(Works *works) {
    InitErrTab(works);
}
void LoadButtons(Works *) {}
