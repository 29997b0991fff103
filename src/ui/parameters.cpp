#include "ui/parameters.h"

void LoadParameterMenu(Works *, char *out, int, int) {
    out[0] = '\0';
}
void DrawParameters(Works *) {}
