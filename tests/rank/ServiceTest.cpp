// The service over HTTP, in this process, against SQLite and against a PostgreSQL server the
// test starts.
#include "RankFixture.h"

#include <QJsonArray>
#include <QRegularExpression>

TEST_P(RankService, AStoredPostShowsInTheRankingEscaped) {
    Start();
    const auto first = Post(Form(100, {100, 120, 90, 80, 110},
                                 "&name=%3Cscript%3Ealert(1)%3C%2Fscript%3E&cpu=%8ER&video=&memory="
                                 "&hdd=&com=%91%AC%82%A2&B1=%91%97%90M"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 200);
    EXPECT_NE(first->body.find("1 件中 <b>1 位</b>"), std::string::npos) << first->body;
    const auto second = Post(Form(200, {200, 200, 200, 200, 200}, "&name=%E5%B1%B1%E7%94%B0"));
    ASSERT_TRUE(second);
    EXPECT_NE(second->body.find("2 件中 <b>1 位</b>"), std::string::npos) << second->body;

    const auto page = client_->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->body.find("<script>"), std::string::npos);
    const std::string row = "&lt;script&gt;alert(1)&lt;/script&gt;</a></td><td class=\"n\">100<svg";
    EXPECT_NE(page->body.find(row), std::string::npos) << page->body;
    EXPECT_NE(page->body.find("<td class=\"c\">速い</td>"), std::string::npos);
    EXPECT_LT(page->body.find("山田"), page->body.find("&lt;script"));

    const QJsonObject json = Json();
    EXPECT_EQ(json["total"].toInt(), 2);
    const QJsonArray entries = json["entries"].toArray();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]["name"].toString(), "山田");
    EXPECT_EQ(entries[1]["name"].toString(), "<script>alert(1)</script>");
    EXPECT_EQ(entries[1]["cpu"].toString(), "山");
    EXPECT_EQ(entries[1]["comment"].toString(), "速い");
    EXPECT_EQ(entries[1]["rank"].toInt(), 2);
    EXPECT_EQ(entries[1]["scores"]["gdi"].toInt(), 120);
    EXPECT_EQ(entries[1]["date"].toString(), "2027-01-15T08:00:00Z");
}

TEST_P(RankService, RefusedPostsStoreNothing) {
    Start();
    const std::string good = Form(100, {100, 120, 90, 80, 110}, "&name=a");
    const struct {
        std::string body;
        const char* type;
        int status;
        const char* says;
    } cases[] = {
        {good.substr(0, good.find("&pass")), "application/x-www-form-urlencoded", 400,
         "項目「pass」がありません"},
        {good.substr(0, good.find("sc5=110")) + "sc5=111" + good.substr(good.find("&ver")),
         "application/x-www-form-urlencoded", 403, "書き換えられている"},
        {good + "&com=" + std::string(kRankCommentLimit + 1, 'x'),
         "application/x-www-form-urlencoded", 400, "長すぎます"},
        {good + "&com=" + std::string(kRankBodyLimit, 'x'), "application/x-www-form-urlencoded",
         413, "大きすぎます"},
        {"{\"sc\":100}", "application/json", 415, "形式が違います"},
        {good, "text/plain", 415, "形式が違います"},
        {good, "multipart/form-data; boundary=x", 415, "形式が違います"},
        {good, "application/x-www-form-urlencodedXYZ", 415, "形式が違います"},
        // Text that would not be stored as sent, or would reorder the page around it.
        {Form(100, {100, 120, 90, 80, 110}, "&name=a%F4%90%80%80"),
         "application/x-www-form-urlencoded", 400, "使えない文字（U+110000）"},
        {Form(100, {100, 120, 90, 80, 110}, "&name=%26%23xFEFF%3B&B1=%91%97%90M"),
         "application/x-www-form-urlencoded", 400, "使えない文字（U+FEFF）"},
        {Form(100, {100, 120, 90, 80, 110}, "&name=%E2%80%8B"), "application/x-www-form-urlencoded",
         400, "名前を入力して下さい"},
        {Form(100, {100, 120, 90, 80, 110}, "&name=a%E2%80%AEb"),
         "application/x-www-form-urlencoded", 400, "使えない文字（U+202E）"},
    };
    for (const auto& c : cases) {
        const auto res = Post(c.body, c.type);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << c.says;
        EXPECT_NE(res->body.find(c.says), std::string::npos) << res->body;
        EXPECT_NE(res->body.find("<html lang=\"ja\">"), std::string::npos);
    }
    // Neither a way to change or delete entries, nor another address that takes posts.
    for (const char* method : {"PUT", "DELETE", "PATCH"}) {
        httplib::Request req;
        req.method = method;
        req.path = "/entry/1";
        const auto res = client_->send(req);
        ASSERT_TRUE(res);
        EXPECT_GE(res->status, 400) << method;
    }
    const auto wrongPath = client_->Post("/", good, "application/x-www-form-urlencoded");
    ASSERT_TRUE(wrongPath);
    EXPECT_GE(wrongPath->status, 400);
    EXPECT_EQ(Json()["total"].toInt(), 0);
}

TEST_P(RankService, AReloadIsStoredOnce) {
    Start();
    const std::string body = Form(100, {100, 120, 90, 80, 110}, "&name=a&com=x");
    const struct {
        std::int64_t at;
        bool repeat;
        int total;
    } steps[] = {
        {0, false, 1},
        {1, true, 1},
        {kRankReloadWindow, true, 1},
        {kRankReloadWindow + 1, false, 2},
        {kRankReloadWindow + 2, true, 2},
    };
    const std::int64_t start = now_;
    for (const auto& s : steps) {
        now_ = start + s.at;
        const auto res = Post(body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->body.find("登録済み") != std::string::npos, s.repeat) << s.at;
        EXPECT_EQ(Json()["total"].toInt(), s.total) << s.at;
    }
    // Another comment is another entry.
    ASSERT_TRUE(Post(Form(100, {100, 120, 90, 80, 110}, "&name=a&com=y")));
    EXPECT_EQ(Json()["total"].toInt(), 3);
}

TEST_P(RankService, SortedPagedAndEntryPages) {
    Start();
    for (int i = 1; i <= 60; ++i) {
        // cpu ascends with i, the overall descends with it
        RankSubmission s{{0, i, 1000 - 2 * i, 100, 100, 100}, {}};
        s.text.name = QString("m%1").arg(i).toStdString();
        s.scores[rsOverall] = (s.scores[1] + s.scores[2] + 300) / 5;
        store_->Add(s, now_);
    }
    const QJsonObject byCpu = Json("?sort=cpu&page=2");
    EXPECT_EQ(byCpu["pages"].toInt(), 2);
    const QJsonArray rows = byCpu["entries"].toArray();
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows[0]["rank"].toInt(), 51);
    EXPECT_EQ(rows[0]["name"].toString(), "m10");
    EXPECT_EQ(rows[9]["name"].toString(), "m1");
    // Equal overall scores share a rank: 1000-i over 5 is equal for five neighbours.
    const QJsonArray byOverall = Json()["entries"].toArray();
    EXPECT_EQ(byOverall[0]["name"].toString(), "m1");
    EXPECT_EQ(byOverall[1]["rank"].toInt(), 1);
    EXPECT_EQ(byOverall[4]["rank"].toInt(), 1);
    EXPECT_EQ(byOverall[5]["rank"].toInt(), 6);

    const auto html = client_->Get("/?sort=gdi&page=2");
    ASSERT_TRUE(html);
    EXPECT_NE(html->body.find("<th class=\"sorted\"><a href=\"/?sort=gdi\">グラフィック性能</a>"),
              std::string::npos);
    EXPECT_NE(html->body.find("<a href=\"/?sort=gdi\">前へ</a>"), std::string::npos);
    // The best gdi (998) has the full bar, the 51st (898) its share.
    EXPECT_NE(
        html->body.find(
            "898<svg class=\"bar\" width=\"120\" height=\"10\" role=\"img\"><rect width=\"120\" "
            "height=\"10\" fill=\"#e3e6ee\"/><rect width=\"108\""),
        std::string::npos);
    for (const char* bad :
         {"/?page=0", "/?page=x", "/?sort=name", "/ranking.json?page=1000000000"}) {
        const auto res = client_->Get(bad);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << bad;
    }

    const auto entry = client_->Get("/entry/" + std::to_string(rows[0]["id"].toInt()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->status, 200);
    // m10 against the medians: cpu 10 against 30.5 (shown as 30), gdi 980 against 939.
    EXPECT_NE(entry->body.find("<h1><span>ゼルカ</span> m10</h1>"), std::string::npos);
    EXPECT_NE(entry->body.find(">10</text>"), std::string::npos);
    EXPECT_NE(entry->body.find(">30</text>"), std::string::npos);
    EXPECT_NE(entry->body.find(">980</text>"), std::string::npos);
    EXPECT_NE(entry->body.find(">939</text>"), std::string::npos);
    const auto missing = client_->Get("/entry/999999");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

INSTANTIATE_TEST_SUITE_P(Backends, RankService,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) {
                             return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
                         });
