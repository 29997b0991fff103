// The options file /opt/set/options.txt: settings the setup file does not
// have, one "Key: value" line each, read with the setup file's rules (the key,
// a colon and one blank at the start of the line; one trailing LF and one CR
// removed). A missing file means the defaults; a bad value is logged and the
// default kept. Lines of keys this program does not know are kept and written
// back unchanged.
#pragma once
#include <string>

struct Works;

// Defaults into works->options.
void InitOptions(Works *works);
// Defaults, then the file. 0 read, 1 no file (defaults).
int ReadOptions(Works *works);
// Applies the text of an options file over the current values.
void ParseOptions(Works *works, const std::string &text);
// 0 when the reader takes every value of an options file's `text`, else -1
// and why.
int CheckOptionsText(const std::string &text, std::string *why);
// The file's text from the current values: the known keys in table order,
// then the unknown lines as they were read.
std::string FormatOptions(Works *works);
// Writes the file through the safe write inside the remount window; 0 on success.
int WriteOptions(Works *works);
