// PNG screen images.
#pragma once
struct Works;
// Loads "<imageName>.png" into the background (toBack != 0) or the work buffer.
void getPng(Works *works, int toBack);
