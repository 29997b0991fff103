#include "ui/param_edit.h"

// Placeholder until the parameter editor lands: nothing changes.
int ModifyParameter(Works *, int) {
    return 0;
}
int ModifyIP(int, int group, uint8_t *) {
    return group;
}
void ModifytabAntenna(Works *, int) {}
