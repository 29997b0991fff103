// Screen pictures named in works: the image of `imageName` at (imageX, imageY).
#pragma once

struct Works;

// Loads "<imageName>.png" into the background (toBack != 0) or the work
// buffer, which is then shown.
void getPng(Works *works, int toBack);
// Names picture `name` and makes it the background, restored into the work
// buffer, all under the frame lock.
void ShowBackground(Works *works, const char *name);
