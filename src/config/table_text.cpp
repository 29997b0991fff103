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
