#include "ui/menu.h"

#include "core/works.h"
#include "ui/errors.h"

MenuRow Novamenu[kMenus];
ParPage menuPar[kParPages];
const char attNames[5][8] = {"0", "2", "3", "5", "StBy"};
const char MODEwork[3][8] = {"Generic", "ZMXTAV", " FT-817"};

char *KeyLabel(int menu, int key, int line) {
    static char scratch[kLabelLen];
    if (menu < 0 || menu >= kMenus || key < 1 || key > kMenuKeys || line < 1 || line > 2)
        return scratch;
    return Novamenu[menu].label[2 * (key - 1) + (line - 1)];
}

// The menu tables and the bar come with the operator-interface work; the
// error table is needed from the start.
void InitMenuNova(Works *works) {
    InitErrTab(works);
}
void LoadButtons(Works *, TavParams) {}
void SetAttenuatorLabel(Works *) {}
void SetModeWorkLabel(Works *) {}
void GetLblInterface(int, char *) {}
void ImpostaLblManuale(Works *) {}
void LabelByPassATU(Works *) {}
void LabelByPassNova(Works *, const char *) {}
void LabelSAVEATU(Works *) {}
void LblCOPY(Works *) {}
void LblRESET(Works *) {}
void LblMenuAntenna(Works *) {}
