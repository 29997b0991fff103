#include "ui/view.h"

void SetWorkImg(Works *) {}
int EscFromStatus(Works *) {
    return 0;
}
