// TrueType text: font slots, drawing and measuring.
#pragma once
struct FbScreen;

void TTFLoad(const char *path, int size, int slot);
int putString(int slot, int x, int y, const char *text, int r, int g, int b, FbScreen *screen,
              int mirrorX, int rotate, int mirrorY, int toBack);
int getStringSpace(int slot, const char *text);
