#include "rank/Submission.h"

#include "rank/RankCheck.h"
#include "rank/RankPages.h"

#include <gtest/gtest.h>

namespace {

// A post as Chromium sends the program's page: Shift-JIS bytes, the characters Shift-JIS
// lacks as numeric references (captured from a real submission).
const std::string kScores = "sc=100&sc1=100&sc2=120&sc3=90&sc4=80&sc5=110&ver=200&pass=5639";
const std::string kTexts = "&name=%8ER%93c%91%BE%98Y%87%40&cpu=Pentium&video=&memory=64MB&hdd="
                           "&com=%91%AC%82%A2%26%23128512%3B%26%23233%3B&B1=%91%97%90M";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

} // namespace

TEST(RankForm, BodyParsing) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* body;
        std::optional<Fields> fields;
    } cases[] = {
        {"a=1&b=%41+c", Fields{{"a", "1"}, {"b", "A c"}}},
        {"&&a&b=", Fields{{"a", ""}, {"b", ""}}},
        {"n%61me=%e5%b1%b1", Fields{{"name", "\xe5\xb1\xb1"}}},
        {"a=%4", std::nullopt},
        {"a=%G1", std::nullopt},
        {"a%=1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseFormBody(c.body), c.fields) << c.body;
}

TEST(RankForm, TextsDecodedAsTheBrowserSentThem) {
    const struct {
        std::string body;
        FormCharset charset;
        const char* name;
    } cases[] = {
        // The button's bytes tell the code.
        {"name=%8ER%93c%91%BE%98Y%87%40&B1=%91%97%90M", FormCharset::ShiftJis, "山田太郎①"},
        {"name=%BB%B3%C5%C4&B1=%C1%F7%BF%AE", FormCharset::EucJp, "山田"},
        {"name=%E5%B1%B1%E7%94%B0&B1=%E9%80%81%E4%BF%A1", FormCharset::Utf8, "山田"},
        // Without it, the texts themselves.
        {"name=%8ER%93c", FormCharset::ShiftJis, "山田"},
        {"name=%BB%B3%C5%C4%A4%A2", FormCharset::EucJp, "山田あ"},
        {"name=%E5%B1%B1%E7%94%B0", FormCharset::Utf8, "山田"},
        // References resolved only where the form's code could not hold the character.
        {"name=%26%2312354%3B%26%23x1F600%3B&B1=%91%97%90M", FormCharset::ShiftJis, "あ😀"},
        {"name=%26%2312354%3B&B1=%E9%80%81%E4%BF%A1", FormCharset::Utf8, "&#12354;"},
        {"name=%26%23xD800%3B%26%2399999999%3B%26%23%3B&B1=%91%97%90M", FormCharset::ShiftJis,
         "&#xD800;&#99999999;&#;"},
    };
    for (const auto& c : cases) {
        const auto fields = ParseFormBody(c.body);
        ASSERT_TRUE(fields);
        EXPECT_EQ(DetectFormCharset(*fields), c.charset) << c.body;
        EXPECT_EQ(DecodeFormText(fields->front().second, c.charset), c.name) << c.body;
    }
    // Bytes that are no text in the code, and control characters however sent, are refused.
    const struct {
        const char* bytes;
        FormCharset charset;
    } refused[] = {
        {"\x81", FormCharset::ShiftJis},   {"\xFF\xFE", FormCharset::EucJp},
        {"\xC3\x28", FormCharset::Utf8},   {"a\x01", FormCharset::Utf8},
        {"&#7;", FormCharset::ShiftJis},   {"&#x85;", FormCharset::EucJp},
        {"\x1B$B", FormCharset::ShiftJis},
    };
    for (const auto& r : refused)
        EXPECT_FALSE(DecodeFormText(r.bytes, r.charset)) << r.bytes;
}

TEST(RankForm, DecimalsAsThePageWritesThem) {
    const struct {
        const char* text;
        std::int64_t least, most;
        std::optional<std::int64_t> value;
    } cases[] = {
        {"0", 0, kRankScoreMax, 0},
        {"2147483647", 0, kRankScoreMax, 2147483647},
        {"2147483648", 0, kRankScoreMax, std::nullopt},
        {"-2147483648", INT32_MIN, INT32_MAX, INT32_MIN},
        {"-2147483649", INT32_MIN, INT32_MAX, std::nullopt},
        {"-5639", INT32_MIN, INT32_MAX, -5639},
        {"-1", 0, kRankScoreMax, std::nullopt},
        {"0", 1, 999'999'999, std::nullopt},
        {"999999999", 1, 999'999'999, 999'999'999},
        {"1000000000", 1, 999'999'999, std::nullopt},
        {"99999999999999999999", 0, INT64_MAX, std::nullopt},
        {"", 0, 10, std::nullopt},
        {"-", -10, 10, std::nullopt},
        {"-0", -10, 10, std::nullopt},
        {"007", 0, 10, std::nullopt},
        {"+7", 0, 10, std::nullopt},
        {" 7", 0, 10, std::nullopt},
        {"7a", 0, 10, std::nullopt},
        {"1e3", 0, 10000, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseDecimal(c.text, c.least, c.most), c.value) << '"' << c.text << '"';
}

TEST(RankForm, VerificationOfEachFieldFamily) {
    const std::string good = kScores + kTexts;
    const RankVerdict ok = VerifySubmission(good);
    ASSERT_TRUE(ok.entry) << ok.refusal.reason;
    const std::int32_t scores[rsCount] = {100, 100, 120, 90, 80, 110};
    EXPECT_TRUE(std::equal(scores, scores + rsCount, ok.entry->scores));
    EXPECT_EQ(ok.entry->text, (RankUserText{"山田太郎①", "Pentium", "", "64MB", "", "速い😀é"}));
    EXPECT_EQ(RankCheckValue(100, {100, 120, 90, 80, 110}), 5639);

    // A post a script made: UTF-8, no button, the user's fields left out.
    const RankVerdict bare = VerifySubmission(kScores + "&name=%E5%B1%B1");
    ASSERT_TRUE(bare.entry) << bare.refusal.reason;
    EXPECT_EQ(bare.entry->text, (RankUserText{"山", "", "", "", "", ""}));

    const std::string longName = "&name=" + std::string(kRankNameLimit + 1, 'a') + "&";
    const std::string longComment =
        "&com=" + std::string(kRankCommentLimit, 'c') + "%26%2312354%3B&";
    const struct {
        std::string body;
        int status;
        const char* reason;
    } cases[] = {
        {Replace(good, "sc3=90&", ""), 400, "項目「sc3」がありません"},
        {good + "&sc1=100", 400, "項目「sc1」が重複しています"},
        {good + "&name=x", 400, "項目「name」が重複しています"},
        {Replace(good, "sc2=120", "sc2=-1"), 400, "スコア「sc2」が正しい整数ではありません"},
        {Replace(good, "sc2=120", "sc2=0120"), 400, "スコア「sc2」"},
        {Replace(good, "sc2=120", "sc2=1e2"), 400, "スコア「sc2」"},
        {Replace(good, "sc5=110", "sc5=2147483648"), 400, "スコア「sc5」"},
        {Replace(good, "sc=100", "sc="), 400, "スコア「sc」"},
        {Replace(good, "ver=200", "ver=199"), 400, "ページの版（ver）が違います"},
        {Replace(good, "pass=5639", "pass=56x9"), 400, "チェック値（pass）"},
        {Replace(good, "pass=5639", "pass=5640"), 403, "スコアが書き換えられている"},
        // The check value made again for a raised overall: no longer the mean of the five.
        {Replace(Replace(good, "sc=100", "sc=101"), "pass=5639", "pass=5646"), 403,
         "書き換えられている"},
        {"sc=0&sc1=0&sc2=0&sc3=0&sc4=0&sc5=0&ver=200&pass=1439&name=a", 400,
         "測定してから申請して下さい"},
        {Replace(good, "name=%8ER%93c%91%BE%98Y%87%40", "name=%81%40+"), 400,
         "名前を入力して下さい"},
        {Replace(good, "&name=%8ER%93c%91%BE%98Y%87%40", ""), 400, "名前を入力して下さい"},
        {Replace(good, "&name=%8ER%93c%91%BE%98Y%87%40&", longName), 400,
         "「名前」が長すぎます（32文字まで）"},
        {Replace(good, "&com=%91%AC%82%A2%26%23128512%3B%26%23233%3B&", longComment), 400,
         "「コメント」が長すぎます（160文字まで）"},
        {Replace(good, "hdd=", "hdd=%81"), 400, "「HDD」の文字を読み取れません"},
        {Replace(good, "video=", "video=a%0Ab"), 400, "「VIDEO」の文字を読み取れません"},
        {Replace(good, "sc1=100", "sc1=%1"), 400, "形式が正しくありません"},
        // Text checked as it would be stored: what no text may hold, and what reorders the page.
        {kScores + "&name=a%F4%90%80%80", 400, "「名前」に使えない文字（U+110000）"},
        {kScores + "&name=%ED%A0%80", 400, "使えない文字（U+D800）"},
        {kScores + "&name=%EF%B7%90", 400, "使えない文字（U+FDD0）"},
        {kScores + "&name=a%EF%BF%BE", 400, "使えない文字（U+FFFE）"},
        {kScores + "&name=a%F0%9F%BF%BF", 400, "使えない文字（U+1FFFF）"},
        {kScores + "&name=a&com=x%E2%80%AEy", 400, "「コメント」に使えない文字（U+202E）"},
        {kScores + "&name=a&cpu=%E2%81%A6x", 400, "「CPU」に使えない文字（U+2066）"},
        {Replace(good, "name=%8ER%93c%91%BE%98Y%87%40", "name=%26%23xFEFF%3B"), 400,
         "使えない文字（U+FEFF）"},
        {kScores + "&B1=%E9%80%81%E4%BF%A1&name=%C0%AF", 400, "「名前」の文字を読み取れません"},
        {kScores + "&name=%E2%80%8B", 400, "名前を入力して下さい"},
        {kScores + "&name=%E3%85%A4%E2%80%8D%C2%A0%E3%80%80%E2%81%A0%EF%BE%A0", 400,
         "名前を入力して下さい"},
        {kScores + "&name=" +
             [] {
                 std::string s;
                 for (std::size_t i = 0; i <= kRankNameLimit; ++i)
                     s += "%F0%9F%98%80";
                 return s;
             }(),
         400, "「名前」が長すぎます"},
        {good + "&x=" + std::string(kRankBodyLimit, 'x'), 413, "大きすぎます"},
    };
    for (const auto& c : cases) {
        const RankVerdict v = VerifySubmission(c.body);
        EXPECT_FALSE(v.entry) << c.body.substr(0, 200);
        EXPECT_EQ(v.refusal.status, c.status) << c.body.substr(0, 200);
        EXPECT_NE(v.refusal.reason.find(c.reason), std::string::npos) << v.refusal.reason;
    }
}

TEST(RankForm, OnlyAFormsMediaType) {
    const struct {
        const char* type;
        bool form;
    } cases[] = {
        {"application/x-www-form-urlencoded", true},
        {"Application/X-WWW-Form-URLEncoded ; charset=Shift_JIS", true},
        {"application/x-www-form-urlencodedXYZ", false},
        {"multipart/form-data; boundary=x", false},
        {"text/plain", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsFormContentType(c.type), c.form) << c.type;
    // As many characters as allowed, however many bytes each: 32 four-byte emoji are a name.
    std::string name;
    for (std::size_t i = 0; i < kRankNameLimit; ++i)
        name += "%F0%9F%98%80";
    const RankVerdict emoji = VerifySubmission(kScores + "&name=" + name);
    ASSERT_TRUE(emoji.entry) << emoji.refusal.reason;
    EXPECT_EQ(Utf8Length(emoji.entry->text.name), kRankNameLimit);
}

TEST(RankForm, UserTextEscapedInHtmlAndJson) {
    const struct {
        const char* text;
        const char* html;
        const char* json;
    } cases[] = {
        {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;",
         "\\u003cscript\\u003ealert('x')\\u003c/script\\u003e"},
        {"a\"b&c", "a&quot;b&amp;c", "a\\\"b\\u0026c"},
        {"山田\\", "山田\\", "山田\\\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HtmlEscape(c.text), c.html);
        EXPECT_EQ(JsonEscape(c.text), c.json);
    }
    RankingSlice slice{1,
                       100,
                       {{1,
                         {7,
                          0,
                          {100, 100, 120, 90, 80, 110},
                          {"<b>x</b>", "<i>", "", "", "", "<script>"},
                          "",
                          "",
                          ""}}}};
    const std::string html = RankingHtml(slice, rsOverall, 1);
    EXPECT_EQ(html.find("<b>x"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;x&lt;/b&gt;"), std::string::npos);
}
