#include "config/table_text.h"

std::vector<std::string> TableLines(const std::string &text, size_t maxLen) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > maxLen) line.resize(maxLen);
        lines.push_back(line);
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

int FirstLongLine(const std::string &text, size_t maxLen) {
    int line = 1;
    for (size_t pos = 0; pos < text.size(); line++) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        size_t len = end - pos;
        if (len > 0 && text[end - 1] == '\r') len--; // the reader drops it first
        if (len > maxLen) return line;
        pos = end + 1;
    }
    return 0;
}

int Refuse(std::string *why, int line, const std::string &what) {
    if (why != nullptr) *why = "line " + std::to_string(line) + ": " + what;
    return -1;
}

int CheckTableText(const std::string &text, size_t maxLen,
                   const char *(*readRow)(const std::string &, bool *ok), const char *notRow,
                   std::string *why) {
    if (int n = FirstLongLine(text, maxLen))
        return Refuse(why, n, "longer than " + std::to_string(maxLen) + " characters");
    int n = 0;
    for (const auto &l : TableLines(text, maxLen)) {
        n++;
        if (IsCommentLine(l)) continue;
        bool ok = true;
        const char *rest = readRow(l, &ok);
        if (!ok) return Refuse(why, n, "a number not finite or out of range");
        if (!OnlyBlanksLeft(rest)) return Refuse(why, n, notRow);
    }
    return 0;
}
