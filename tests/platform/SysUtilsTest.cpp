#include "platform/SysUtils.h"

#include <gtest/gtest.h>

TEST(IntToStr, PlainDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(1234567), "1234567");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(INT32_MIN), "-2147483648");
}

TEST(StrToInt, AcceptsIntegerTexts) {
    struct Case {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"0", 0},
        {"102", 102},
        {"-7", -7},
        {"+15", 15},
        {"  33", 33},
        {"$1F", 31},
        {"0x10", 16},
        {"$FFFFFFFF", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"007", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

TEST(StrToInt, RejectsOthersWithTheConversionMessage) {
    const char* bad[] = {"",           "測定中",      "12a", "1 ",         "-",  "$",
                         "2147483648", "-2147483649", "1.5", "$100000000", "--1"};
    for (const char* text : bad) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
        }
    }
}
