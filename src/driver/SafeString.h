// Null-tolerant counterparts of the C string functions.
//
// Values that the provider did not send and record fields that were never
// filled are null pointers.  These functions treat a null text as the empty
// text "", so callers can compare, measure and copy such values without a
// check of their own.  A null destination is never written to.
#pragma once

#include <cstddef>

namespace cmplxview {

// Byte-wise comparison (as unsigned char) giving -1, 0 or 1.
int safeStrcmp(const char* left, const char* right);
// Comparison of at most `count` bytes giving -1, 0 or 1.
int safeStrncmp(const char* left, const char* right, std::size_t count);
// Appends `source` to `destination`; a null source leaves it unchanged.
char* safeStrcat(char* destination, const char* source);
// Copies `source` into `destination`; a null source copies "".
char* safeStrcpy(char* destination, const char* source);
// Copies at most `count` bytes and zero-fills the rest of the `count` bytes,
// like strncpy; a null source fills all `count` bytes with zeros.
char* safeStrncpy(char* destination, const char* source, std::size_t count);
// Length of the text; 0 for a null text.
std::size_t safeStrlen(const char* text);
// The ordinary tokenizer (strtok, with its hidden state); a null delimiter
// set counts as "".
char* safeStrtok(char* text, const char* delimiters);
// First / last occurrence of `character`; null for a null text.
const char* safeStrchr(const char* text, int character);
char* safeStrchr(char* text, int character);
const char* safeStrrchr(const char* text, int character);
char* safeStrrchr(char* text, int character);

}  // namespace cmplxview
