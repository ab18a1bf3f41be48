// The null-tolerant string functions: a null text behaves as "".
#include <gtest/gtest.h>

#include <cstring>

#include "driver/SafeString.h"

namespace cmplxview {
namespace {

TEST(SafeString, Compare) {
    const struct {
        const char* left;
        const char* right;
        int expected;
    } cases[] = {
        {nullptr, nullptr, 0}, {nullptr, "", 0},  {"", nullptr, 0},  {nullptr, "a", -1}, {"a", nullptr, 1},
        {"abc", "abd", -1},    {"abd", "abc", 1}, {"abc", "abc", 0}, {"ab", "abc", -1},  {"\xff", "a", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(safeStrcmp(c.left, c.right), c.expected)
            << (c.left ? c.left : "(null)") << " vs " << (c.right ? c.right : "(null)");
    }
}

TEST(SafeString, BoundedCompare) {
    const struct {
        const char* left;
        const char* right;
        std::size_t count;
        int expected;
    } cases[] = {
        {nullptr, nullptr, 5, 0}, {nullptr, "a", 1, -1}, {"a", nullptr, 1, 1}, {nullptr, "a", 0, 0},
        {"abcX", "abcY", 3, 0},   {"abcX", "abcY", 4, -1}, {"abcY", "abcX", 9, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(safeStrncmp(c.left, c.right, c.count), c.expected);
}

TEST(SafeString, CopyAndAppend) {
    char text[16] = "keep";
    EXPECT_EQ(safeStrcat(text, nullptr), text);
    EXPECT_STREQ(text, "keep");
    safeStrcat(text, "er");
    EXPECT_STREQ(text, "keeper");
    safeStrcpy(text, nullptr);
    EXPECT_STREQ(text, "");
    safeStrcpy(text, "new");
    EXPECT_STREQ(text, "new");
    EXPECT_EQ(safeStrcpy(nullptr, "x"), nullptr);
    EXPECT_EQ(safeStrcat(nullptr, "x"), nullptr);
}

TEST(SafeString, BoundedCopyZeroFills) {
    char text[8];
    std::memset(text, '#', sizeof text);
    safeStrncpy(text, "ab", 6);
    EXPECT_EQ(std::memcmp(text, "ab\0\0\0\0##", 8), 0);
    std::memset(text, '#', sizeof text);
    safeStrncpy(text, nullptr, 4);
    EXPECT_EQ(std::memcmp(text, "\0\0\0\0####", 8), 0);
    std::memset(text, '#', sizeof text);
    safeStrncpy(text, "abcdefgh", 3);  // no terminator when the source is longer, as strncpy
    EXPECT_EQ(std::memcmp(text, "abc#####", 8), 0);
}

TEST(SafeString, LengthAndSearch) {
    EXPECT_EQ(safeStrlen(nullptr), 0u);
    EXPECT_EQ(safeStrlen(""), 0u);
    EXPECT_EQ(safeStrlen("abc"), 3u);
    const char* text = "a/b/c";
    EXPECT_EQ(safeStrchr(text, '/'), text + 1);
    EXPECT_EQ(safeStrrchr(text, '/'), text + 3);
    EXPECT_EQ(safeStrchr(text, 'x'), nullptr);
    EXPECT_EQ(safeStrchr(static_cast<const char*>(nullptr), 'a'), nullptr);
    EXPECT_EQ(safeStrrchr(static_cast<const char*>(nullptr), 'a'), nullptr);
}

TEST(SafeString, TokenizerIsTheOrdinaryOne) {
    char text[] = "/1//2/";
    EXPECT_STREQ(safeStrtok(text, "/"), "1");
    EXPECT_STREQ(safeStrtok(nullptr, "/"), "2");
    EXPECT_EQ(safeStrtok(nullptr, "/"), nullptr);
}

}  // namespace
}  // namespace cmplxview
