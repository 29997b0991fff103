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
