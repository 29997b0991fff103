// FT-817 CAT serial link thread.
#pragma once
struct Works;
void *CatSerial(void *arg);
