#include "display/ttf.h"

// Placeholder until the text layer lands.
void TTFLoad(const char *, int, int) {}
int putString(int, int, int, const char *, int, int, int, FbScreen *, int, int, int, int) {
    return -1;
}
int getStringSpace(int, const char *) { return 0; }
