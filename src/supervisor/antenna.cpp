#include "supervisor/antenna.h"

#include <cstring>

void GestioneAntennaAutomatica(Works *) {}
void GestioneLoadTuneVal(Works *, int) {}
void CreaBufferDiStato(Works *, char *text) {
    memset(text, '0', kStatusTextLen);
    text[kStatusTextLen] = '\0';
}
