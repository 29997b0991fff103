// A small simulated root for the program: the directories and files it opens
// (inside HELIX_ROOT) and a directory of stand-in commands put first on PATH.
// Each stand-in appends its command line to <root>/commands.log and succeeds,
// unless <root>/fail/<name> exists, when it fails with status 1.
#pragma once
#include <string>
#include <vector>

// The simulated GPIO block <root>/dev/mem: one page with the level register
// GPLEV0 (offset 0x34, 32-bit little-endian) holding bits 22-27 set, all keys
// released. Made only when absent.
constexpr unsigned kSimGpioBlockSize = 4096;
constexpr unsigned kSimGPLEV0 = 0x34;
constexpr unsigned kSimKeysReleased = 0x0FC00000u;
void MakeSimGpioBlock(const std::string &root);

// Creates (or refreshes) the root at `dir`; returns `dir` without a trailing '/'.
std::string MakeSimRoot(const std::string &dir);
// Makes a new root under the temporary directory.
std::string MakeTempSimRoot();
// Sets HELIX_ROOT to `root` and puts <root>/bin first on PATH (this process).
void UseSimRoot(const std::string &root);
// Lines of <root>/commands.log.
std::vector<std::string> SimCommands(const std::string &root);
// Makes the stand-in `name` fail (true) or succeed again (false).
void SimCommandFails(const std::string &root, const std::string &name, bool fail);
// Removes a root made by MakeTempSimRoot.
void RemoveSimRoot(const std::string &root);

// The simulated service keyboard: a FIFO at
// <root>/dev/input/by-id/sim-event-kbd taking the platform's input events.
std::string SimKeyboardPath(const std::string &root);
// Plugs (makes the FIFO) or unplugs (removes it) the keyboard; 0 on success.
int SimKeyboardPlug(const std::string &root, bool plugged);
// Writes one key event (type 1, `code`, `value`: 1 press, 0 release, 2
// repeat) to a plugged keyboard that the program has open; 0 on success.
int SimKeyboardKey(const std::string &root, int code, int value);
