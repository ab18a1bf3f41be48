#include "driver/SafeString.h"

#include <cstring>

namespace cmplxview {

namespace {

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int safeStrcmp(const char* left, const char* right) {
    return sign(std::strcmp(orEmpty(left), orEmpty(right)));
}

int safeStrncmp(const char* left, const char* right, std::size_t count) {
    return sign(std::strncmp(orEmpty(left), orEmpty(right), count));
}

char* safeStrcat(char* destination, const char* source) {
    if (destination != nullptr && source != nullptr) std::strcat(destination, source);
    return destination;
}

char* safeStrcpy(char* destination, const char* source) {
    if (destination != nullptr) std::strcpy(destination, orEmpty(source));
    return destination;
}

char* safeStrncpy(char* destination, const char* source, std::size_t count) {
    if (destination != nullptr) std::strncpy(destination, orEmpty(source), count);
    return destination;
}

std::size_t safeStrlen(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

char* safeStrtok(char* text, const char* delimiters) { return std::strtok(text, orEmpty(delimiters)); }

const char* safeStrchr(const char* text, int character) {
    return text != nullptr ? std::strchr(text, character) : nullptr;
}

char* safeStrchr(char* text, int character) {
    return text != nullptr ? std::strchr(text, character) : nullptr;
}

const char* safeStrrchr(const char* text, int character) {
    return text != nullptr ? std::strrchr(text, character) : nullptr;
}

char* safeStrrchr(char* text, int character) {
    return text != nullptr ? std::strrchr(text, character) : nullptr;
}

}  // namespace cmplxview
