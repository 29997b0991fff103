#include "model/screen.h"

#include "display/png.h"
#include "model/works.h"

void getPng(Works *w, int toBack) {
    getPngAt(&w->fb, w->imageName, w->imageX.load(), w->imageY.load(), toBack);
}
