// WebSocket server and client threads.
#pragma once
struct Works;
void *Wsocket(void *arg);
void *Wclient(void *arg);
