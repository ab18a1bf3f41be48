// The null-tolerant string functions: a null text behaves as "".
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "driver/SafeString.h"

namespace cmplxview {
namespace {

TEST(SafeString, CompareWithNullAsEmpty) {
    const struct { const char *left, *right; std::size_t count; int expected; } cases[] = {  // count 0: safeStrcmp
        {nullptr, "", 0, 0}, {"", nullptr, 0, 0}, {nullptr, "a", 0, -1}, {"a", nullptr, 0, 1}, {"abc", "abd", 0, -1},
        {"abd", "abc", 0, 1}, {"abc", "abc", 0, 0}, {"\xff", "a", 0, 1}, {nullptr, nullptr, 5, 0}, {nullptr, "a", 1, -1},
        {"a", nullptr, 1, 1}, {"abcX", "abcY", 3, 0}, {"abcX", "abcY", 4, -1}, {"abcY", "abcX", 9, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.count == 0 ? safeStrcmp(c.left, c.right) : safeStrncmp(c.left, c.right, c.count), c.expected)
            << (c.left ? c.left : "(null)") << " vs " << (c.right ? c.right : "(null)") << " " << c.count;
    EXPECT_EQ(safeStrncmp(nullptr, "a", 0), 0);
}

TEST(SafeString, CopyAppendLengthAndSearch) {
    char text[16] = "keep";
    EXPECT_EQ(safeStrcat(text, nullptr), text);
    EXPECT_STREQ(safeStrcat(text, "er"), "keeper");
    EXPECT_STREQ(safeStrcpy(text, nullptr), "");
    EXPECT_EQ(safeStrcpy(nullptr, "x"), nullptr);
    EXPECT_EQ(safeStrcat(nullptr, "x"), nullptr);
    // Bounded copies fill with zeros up to the count, and leave no terminator when the source is longer.
    for (const auto& [source, count, expected] : {std::tuple{"ab", 6, "ab\0\0\0\0##"}, {nullptr, 4, "\0\0\0\0####"},
                                                  {"abcdefgh", 3, "abc#####"}}) {
        std::memset(text, '#', sizeof text);
        safeStrncpy(text, source, static_cast<std::size_t>(count));
        EXPECT_EQ(std::memcmp(text, expected, 8), 0) << count;
    }
    EXPECT_EQ(safeStrlen(nullptr), 0u);
    EXPECT_EQ(safeStrlen("abc"), 3u);
    const char* path = "a/b/c";
    EXPECT_EQ(safeStrchr(path, '/'), path + 1);
    EXPECT_EQ(safeStrrchr(path, '/'), path + 3);
    EXPECT_EQ(safeStrchr(static_cast<const char*>(nullptr), 'a'), nullptr);
    EXPECT_EQ(safeStrrchr(static_cast<const char*>(nullptr), 'a'), nullptr);
    char list[] = "/1//2/";
    EXPECT_STREQ(safeStrtok(list, "/"), "1");
    EXPECT_STREQ(safeStrtok(nullptr, "/"), "2");
    EXPECT_EQ(safeStrtok(nullptr, "/"), nullptr);
}

}  // namespace
}  // namespace cmplxview
