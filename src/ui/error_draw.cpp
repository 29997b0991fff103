#include "ui/error_draw.h"

void DrawError(Works *) {}
