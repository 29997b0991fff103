#include "model/hooks.h"

Hooks hooks;
