#include "model/numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

const char *SkipBlanks(const char *p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

} // namespace

int ReadReal(const char **p, double lo, double hi, double *out) {
    const char *s = SkipBlanks(*p);
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (end == s) return 0;
    *p = end;
    if (errno == ERANGE || !std::isfinite(v) || v < lo || v > hi) return -1;
    *out = v;
    return 1;
}

int ReadInteger(const char **p, int base, long long lo, long long hi, long long *out) {
    const char *s = SkipBlanks(*p);
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, base);
    if (end == s) return 0;
    *p = end;
    if (errno == ERANGE || v < lo || v > hi || (lo >= 0 && *s == '-')) return -1;
    *out = v;
    return 1;
}

bool ParseReal(const char *text, double lo, double hi, double *out) {
    const char *p = text;
    double v = 0;
    if (ReadReal(&p, lo, hi, &v) != 1 || *SkipBlanks(p) != '\0') return false;
    *out = v;
    return true;
}

bool ParseInteger(const char *text, long long lo, long long hi, long long *out) {
    const char *p = text;
    long long v = 0;
    if (ReadInteger(&p, 10, lo, hi, &v) != 1 || *SkipBlanks(p) != '\0') return false;
    *out = v;
    return true;
}
