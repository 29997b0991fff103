#include "model/screen.h"

#include "display/png.h"
#include "model/works.h"

#include <cstdio>
#include <mutex>

void getPng(Works *w, int toBack) {
    std::lock_guard<std::recursive_mutex> frame(w->frameLock);
    getPngAt(&w->fb, w->imageName, w->imageX.load(), w->imageY.load(), toBack);
}

void ShowBackground(Works *w, const char *name) {
    std::lock_guard<std::recursive_mutex> frame(w->frameLock);
    std::snprintf(w->imageName, sizeof w->imageName, "%s", name);
    getPng(w, 1);
    fbSetBack(&w->fb);
}
