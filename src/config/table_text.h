// Line splitting shared by the table readers: one trailing line feed and one
// trailing carriage return removed, lines longer than `maxLen` cut.
#pragma once
#include <string>
#include <vector>

std::vector<std::string> TableLines(const std::string &text, size_t maxLen);
inline bool IsCommentLine(const std::string &line) {
    return !line.empty() && line[0] == ';';
}
// Blanks and tabs both separate the fields of a table line.
inline bool IsFieldSeparator(char c) {
    return c == ' ' || c == '\t';
}

// For the checks of a file before it is put in place (a restore): whether a
// reader took the whole of a line, and where a text has a line its reader
// would cut.
inline bool OnlyBlanksLeft(const char *p) {
    while (IsFieldSeparator(*p))
        p++;
    return *p == '\0';
}
// The 1-based number of the first line longer than `maxLen`, or 0.
int FirstLongLine(const std::string &text, size_t maxLen);
// "line N: what" for a check's refusal; always returns -1.
int Refuse(std::string *why, int line, const std::string &what);
// The check of a table text before it is put in place: no line longer than
// `maxLen`, and every line that is no comment read whole by `readRow` (which
// returns where its reading stopped and clears *ok for a number not finite
// or out of range). 0, or -1 with "line N: " and what is wrong in *why.
int CheckTableText(const std::string &text, size_t maxLen,
                   const char *(*readRow)(const std::string &, bool *ok), const char *notRow,
                   std::string *why);
