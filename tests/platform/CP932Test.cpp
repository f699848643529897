#include "platform/CP932.h"

#include <gtest/gtest.h>

TEST(CP932, ConvertsBothWaysByteExact) {
    struct Case {
        const char* utf8;
        std::string cp932;
    } cases[] = {
        {"", ""},
        {"abc:123", "abc:123"},
        {"ゼルカ", "\x83\x5B\x83\x8B\x83\x4A"},
        {"　", "\x81\x40"}, // ideographic space
        {"：", "\x81\x46"}, // full-width colon
        {"メモ", "\x83\x81\x83\x82"},
        {"総合評価", "\x91\x8D\x8D\x87\x95\x5D\x89\xBF"},
        {"ｱ", "\xB1"}, // half-width katakana is one byte
        {"～", "\x81\x60"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToCP932(std::string_view(c.utf8)), c.cp932) << c.utf8;
        EXPECT_EQ(CP932ToUtf8(c.cp932), c.utf8) << c.utf8;
        EXPECT_EQ(FromCP932(c.cp932), QString::fromUtf8(c.utf8));
    }
}

TEST(CP932, InvalidBytesBecomeReplacementCharactersNotSilence) {
    const std::string R = "\xEF\xBF\xBD";
    struct Case {
        std::string cp932;
        std::string utf8;
    } cases[] = {
        {"\x80", R}, // no character
        {"a\xFF"
         "b",
         "a" + R + "b"},
        {"\x83", R}, // lead byte cut off at the end
        {"\x83\x0A"
         "x",
         R + "\nx"}, // lead byte with a bad trail: the trail survives
        {"ok\xA0\xFD\xFE", "ok" + R + R + R},
        {std::string("\0\x01", 2), std::string("\0\x01", 2)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CP932ToUtf8(c.cp932), c.utf8);
}

TEST(CP932, CharactersWithoutACodeBecomeQuestionMarks) {
    EXPECT_EQ(ToCP932(std::string_view("a😀b")), "a?b");
    EXPECT_EQ(ToCP932(std::string_view("\xC3")), "?"); // broken UTF-8
    EXPECT_EQ(ToCP932(QString::fromUtf8("é")), "?");
}
