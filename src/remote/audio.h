// Remote audio capture and playback threads.
#pragma once
struct Works;
void *th_leggi(void *arg);
void *th_scrivi(void *arg);
