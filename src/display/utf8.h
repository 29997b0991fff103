// UTF-8 decoding, one character per call, with ill-formed input stepped over
// by its maximal subpart (one invalid step per maximal subpart).
#pragma once
#include <cstddef>
#include <cstdint>

// Decodes the character at text[*pos] (never reading at or past `len`) and
// advances *pos. Returns 1, or -1 at the end with *pos unchanged. *valid is 0
// for an ill-formed sequence, whose code point is 0.
int utf8_get_next_char(const unsigned char *text, size_t len, unsigned *pos, int *valid,
                       uint32_t *codePoint);
