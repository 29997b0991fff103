// Fills the table of upward calls (model/hooks.h) with the functions of the
// layers above the model. Called once at start-up, before any thread runs.
#pragma once

void InstallHooks();
