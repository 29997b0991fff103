// Antenna tables and banks (/opt/set/antenna*.txt): the per-bank band table
// with its interface marker, and the bank file names.
#pragma once
#include "model/records.h"
#include <cstdint>
#include <string>

struct Works;

// Unit paths of a bank's files: banks 1..19 are numbered, every other bank
// number uses the unnumbered files. `ant` is 1..3.
std::string BankAntennaFile(int bank);
std::string BankAtuFile(int bank, int ant);

void InitTabAntenna(Works *works, int keepSettings);
// Loads the bank's antenna table; returns the interface index of its marker.
int LoadTabConfig(Works *works, int bank);
// The reading of an antenna file's text into `tab` (kAntRows rows; *rows set);
// returns the interface index of its marker. `why`, when given, gets the
// first line the reader does not take whole (empty when none).
int ParseTabConfigText(const std::string &text, AntennaRow *tab, int *rows, std::string *why);
void SaveTabConfig(Works *works, int bank);
// Writes bank `from`'s table (as the loader reads it) to bank `to`'s file,
// through a scratch table: the table in memory stays the current bank's.
void CopyTabConfig(int from, int to);
void SaveToBank(Works *works, int bank, int antIdx);
// Loads the antenna table and tuner memories of `bank` and applies its interface.
int LoadAllBankTable(Works *works, int bank);
// kind 0..2: tuner memory of antenna 1..3; kind 3: the antenna table.
void DeleteFileConf(Works *works, int bank, int kind);
