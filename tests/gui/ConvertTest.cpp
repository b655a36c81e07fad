#include <gtest/gtest.h>

#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/TextEncoding.h"

using namespace gui;

TEST(Convert, IntegersAllowLeadingBlanksAndSignButNothingAfter) {
    int32_t v = 0;
    EXPECT_TRUE(TryStrToInt("  -42", v));
    EXPECT_EQ(v, -42);
    EXPECT_TRUE(TryStrToInt("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    for (const char* bad : {"", " ", "-", "12 ", "1x", "2147483648", "0x10", "1.0", "99999999999999999999"})
        EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
    EXPECT_THROW(StrToInt("abc"), EConvertError);
    // Command-line numbers: digits only, the whole 64-bit range and not past it.
    uint64_t u = 0;
    EXPECT_TRUE(TryStrToUInt64("18446744073709551615", u));
    EXPECT_EQ(u, UINT64_MAX);
    EXPECT_TRUE(TryStrToUInt64("007", u));
    EXPECT_EQ(u, 7u);
    for (const char* bad : {"", "18446744073709551616", "99999999999999999999", "-1", "+1", " 1", "1 ", "1e3"})
        EXPECT_FALSE(TryStrToUInt64(bad, u)) << bad;
}

TEST(Convert, FloatsUseDotWhateverTheLocaleAndAllowBlanksAround) {
    long double v = 0;
    EXPECT_TRUE(TryStrToFloat(" 0.75 ", v));
    EXPECT_EQ(v, 0.75L);
    EXPECT_TRUE(TryStrToFloat("1e2", v));
    EXPECT_EQ(v, 100.0L);
    EXPECT_TRUE(TryStrToFloat(".5", v));
    EXPECT_EQ(v, 0.5L);
    for (const char* bad : {"", "1,5", "inf", "nan", "0x1p3", "1e", "--1", "1.2.3", "."})
        EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
}

TEST(Convert, RoundsHalfToEven) {
    EXPECT_EQ(RoundHalfEven(0.5L), 0);
    EXPECT_EQ(RoundHalfEven(1.5L), 2);
    EXPECT_EQ(RoundHalfEven(2.5L), 2);
    EXPECT_EQ(RoundHalfEven(-2.5L), -2);
    EXPECT_EQ(RoundHalfEven(2.5000001L), 3);
    EXPECT_EQ(RoundHalfEven(-0.5L), 0);
    EXPECT_EQ(RoundHalfEven(-1.5L), -2);
    EXPECT_EQ(RoundHalfEven(-0.4L), 0);
    EXPECT_EQ(RoundHalfEven(-3.7L), -4);
    EXPECT_EQ(RoundHalfEven(0.5L - 0x1p-64L), 0);
    EXPECT_EQ(RoundHalfEven(-0.5L - 0x1p-64L), -1);
    EXPECT_EQ(RoundHalfEven(0x1p62L + 0.5L), int64_t{1} << 62);
    EXPECT_EQ(RoundHalfEven(0x1p62L + 1.5L), (int64_t{1} << 62) + 2);
    EXPECT_THROW(RoundHalfEven(1e30L), EConvertError);
}

TEST(TextEncoding, ShiftJisAndUtf8) {
    const std::string sjis = "\x83\x65\x83\x58\x83\x67";  // テスト
    EXPECT_FALSE(IsValidUtf8(sjis));
    EXPECT_EQ(ShiftJisToUtf8(sjis), "テスト");
    EXPECT_EQ(ChartTextToUtf8(sjis), "テスト");
    EXPECT_EQ(ChartTextToUtf8("テスト"), "テスト");
    std::string back;
    ASSERT_TRUE(Utf8ToShiftJis("テスト", back));
    EXPECT_EQ(back, sjis);
    EXPECT_FALSE(IsValidUtf8("\xE3\x83"));      // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ(ShiftJisToUtf8("A\x81"), "A\xEF\xBF\xBD");
}

TEST(TextEncoding, EachTextIsReadInTheFirstEncodingItIsValidIn) {
    struct Case {
        const char* bytes;
        TextEncoding encoding;
        const char* utf8;
    };
    const Case cases[] = {
        {"テスト", TextEncoding::Utf8, "テスト"},
        {"\x83\x65\x83\x58\x83\x67", TextEncoding::ShiftJis, "テスト"},
        // あいう: valid CP949 too, and Shift-JIS comes first.
        {"\x82\xA0\x82\xA2\x82\xA4", TextEncoding::ShiftJis, "あいう"},
        // 凋花 in CP949: its lead and trail bytes are in Shift-JIS's ranges, but FC A3 is no
        // character of code page 932.
        {"\xF0\xBD\xFC\xA3", TextEncoding::Cp949, "凋花"},
        {"\xBB\xE7\xB6\xFB\xC7\xD8\xBF\xE4 \xC1\xA6\xB8\xF1", TextEncoding::Cp949, "사랑해요 제목"},
        // UHC extension: trail bytes that are ASCII letters.
        {"\xA0\x41\xA0\x61", TextEncoding::Cp949, "잸쟞"},
        // Valid in none: read as Shift-JIS, as before.
        {"A\x81", TextEncoding::ShiftJis, "A\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DetectTextEncoding(c.bytes), c.encoding) << c.utf8;
        EXPECT_EQ(ChartTextToUtf8(c.bytes), c.utf8);
    }
}
