// Models, statistics and the pages that compare, from the normaliser's table to the open data
// served and exported, on SQLite and PostgreSQL.
#include "RankFixture.h"
#include "rank/ModelPages.h"
#include "rank/RankStats.h"

#include <QFile>
#include <QJsonArray>

namespace {

// Every byte but letters and digits as %XX, as a browser sends UTF-8 form text.
std::string Encoded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", u);
        out += std::isalnum(u) ? std::string(1, c) : std::string(hex);
    }
    return out;
}

// A post whose overall rating is the mean of the five scores.
std::string Entry(const std::string& name, const std::string& cpu, const std::string& video,
                  std::initializer_list<int> five) {
    int sum = 0;
    for (const int s : five)
        sum += s;
    return Form(sum / 5, five,
                "&name=" + Encoded(name) + "&cpu=" + Encoded(cpu) + "&video=" + Encoded(video));
}

QJsonObject JsonOf(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

} // namespace

TEST(ModelName, SpellingsOfOneModelFoldToOne) {
    const struct {
        const char* text;
        const char* model;
    } cases[] = {
        // Intel, several generations.
        {"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "core i7-8700k"},
        {"intel core i7-8700k", "core i7-8700k"},
        {"  INTEL   Core i7-8700K  ", "core i7-8700k"},
        {"Ｉｎｔｅｌ（Ｒ） Ｃｏｒｅ ｉ７－８７００Ｋ", "core i7-8700k"},
        {"Intel® Core™ i7-8700K Processor", "core i7-8700k"},
        {"Intel(R) Pentium(R) 4 CPU 3.00GHz", "pentium 4 3.00ghz"},
        {"PentiumII 400MHz", "pentium ii 400mhz"},
        {"Pentium II 400 MHz", "pentium ii 400mhz"},
        {"Celeron 300A@450MHz", "celeron 300a"},
        {"Intel(R) Celeron(R) CPU 300A @ 450MHz", "celeron 300a"},
        {"12th Gen Intel(R) Core(TM) i5-12400F", "12th gen core i5-12400f"},
        // AMD.
        {"AMD Ryzen 7 5800X 8-Core Processor", "ryzen 7 5800x"},
        {"AMD Ryzen 5 5600G with Radeon Graphics", "ryzen 5 5600g"},
        {"AMD Phenom(tm) II X4 965 Processor", "phenom ii x4 965"},
        {"AMD Athlon(tm) 64 X2 Dual Core Processor 4200+", "athlon 64 x2 4200+"},
        {"AMD-K6(tm) 3D processor", "k6 3d"},
        // VIA and ARM boards.
        {"VIA Nano X2 L4350 @ 1.6+GHz", "nano x2 l4350"},
        {"VIA Esther processor 1500MHz", "esther 1500mhz"},
        {"ARMv7 Processor rev 4 (v7l)", "armv7"},
        {"ARM Cortex-A72", "cortex-a72"},
        // NVIDIA, AMD and Intel video as lspci, OpenGL and drivers write them.
        {"NVIDIA Corporation GP104 [GeForce GTX 1080] (rev a1)", "geforce gtx 1080"},
        {"NVIDIA GeForce GTX 1080/PCIe/SSE2", "geforce gtx 1080"},
        {"GeForce GTX 1080", "geforce gtx 1080"},
        {"Advanced Micro Devices, Inc. [AMD/ATI] Ellesmere [Radeon RX 470/480/570/570X/580/580X]"
         " (rev e7)",
         "radeon rx 470/480/570/570x/580/580x"},
        {"AMD Radeon RX 580 Series (polaris10, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)",
         "radeon rx 580"},
        {"ATI Technologies Inc Rage 128 Pro", "rage 128 pro"},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "uhd graphics 620"},
        {"Mesa DRI Intel(R) HD Graphics 4000 (IVB GT2)", "hd graphics 4000"},
        {"Intel Corporation HD Graphics 4000", "hd graphics 4000"},
        // Mesa's software renderers.
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "llvmpipe"},
        {"softpipe", "softpipe"},
        {"Gallium 0.4 on llvmpipe (LLVM 3.4, 128 bits)", "llvmpipe"},
        {"Voodoo2", "voodoo2"},
        // Texts that name no model form no group.
        {"不明", ""},
        {"", ""},
        {"   ", ""},
        {"Unknown", ""},
        {"GenuineIntel", ""},
        {"AuthenticAMD", ""},
        {"(R)(TM)", ""},
        {"？", ""},
        {"---", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CanonicalModel(c.text), c.model) << c.text;
}

TEST(ModelName, AliasesAreFollowedWithoutLooping) {
    const ModelAliases aliases = {{"celeron 300a", "celeron mendocino"},
                                  {"celeron mendocino", "celeron 300"},
                                  {"a", "b"},
                                  {"b", "a"}};
    const struct {
        const char* text;
        const char* model;
    } cases[] = {{"Celeron 300A@450", "celeron 300"},
                 {"celeron mendocino", "celeron 300"},
                 {"k6-2", "k6-2"},
                 {"A", "a"},
                 {"不明", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(ModelOf(c.text, aliases), c.model) << c.text;
}

TEST(RankStats, SummariesMatchHandComputedFigures) {
    const struct {
        std::vector<std::int32_t> sorted;
        double median, lower, upper, trimmed;
    } cases[] = {
        {{}, 0, 0, 0, 0},
        {{7}, 7, 7, 7, 7},
        {{10, 20}, 15, 12.5, 17.5, 15},
        {{10, 20, 60}, 20, 15, 40, 30},
        {{1, 2, 3, 4}, 2.5, 1.75, 3.25, 2.5},
        {{5, 5, 5, 5, 9}, 5, 5, 5, 5.8},
        // Ten and more: the lowest and highest tenth are left out of the trimmed mean.
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 1000}, 5.5, 3.25, 7.75, 5.5},
        {{0, 0, 0, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 900},
         10,
         10,
         10,
         9.41176471},
    };
    for (const auto& c : cases) {
        const ScoreSummary s = Summarise(c.sorted);
        EXPECT_EQ(s.count, static_cast<std::int64_t>(c.sorted.size()));
        EXPECT_DOUBLE_EQ(s.median, c.median) << c.sorted.size();
        EXPECT_DOUBLE_EQ(s.lower, c.lower) << c.sorted.size();
        EXPECT_DOUBLE_EQ(s.upper, c.upper) << c.sorted.size();
        EXPECT_NEAR(s.trimmedMean, c.trimmed, 1e-6) << c.sorted.size();
    }
}

TEST(RankStats, PercentilesCountHalfTheTies) {
    const std::vector<std::int32_t> group = {10, 20, 20, 30};
    const struct {
        std::vector<std::int32_t> sorted;
        std::int32_t score;
        double percentile;
    } cases[] = {{group, 10, 12.5}, {group, 20, 50},  {group, 30, 87.5}, {group, 5, 0},
                 {group, 40, 100},  {{100}, 100, 50}, {{}, 100, 0}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(PercentileOf(c.sorted, c.score), c.percentile) << c.score;
}

TEST(RankStats, HistogramBinsAreLogScaled) {
    const struct {
        std::int32_t score;
        int bin;
    } bins[] = {{1, 0},   {2, 1},    {9, 3},     {10, 4},    {17, 4},    {18, 5},         {99, 7},
                {100, 8}, {999, 11}, {1000, 12}, {1778, 12}, {1779, 13}, {2147483647, 37}};
    for (const auto& b : bins)
        EXPECT_EQ(BinOf(b.score), b.bin) << b.score;
    const Histogram h = HistogramOf(std::vector<std::int32_t>{-3, 0, 0, 10, 11, 100, 150});
    EXPECT_EQ(h.nonPositive, 3);
    EXPECT_EQ(h.firstBin, 4);
    EXPECT_EQ(h.counts, (std::vector<std::int64_t>{2, 0, 0, 0, 2}));
    EXPECT_TRUE(HistogramOf(std::vector<std::int32_t>{0}).counts.empty());
    const std::vector<std::int32_t> some = {-1, 0, 0, 5, 7};
    EXPECT_EQ(std::vector<std::int32_t>(Ran(some).begin(), Ran(some).end()),
              (std::vector<std::int32_t>{5, 7}));
}

TEST(ModelPages, CompareTakesTwoToEightIds) {
    const struct {
        const char* text;
        std::vector<std::int64_t> ids; // empty: refused
    } cases[] = {{"1,2", {1, 2}},
                 {"3,1,", {3, 1}},
                 {"1,2,3,4,5,6,7,8", {1, 2, 3, 4, 5, 6, 7, 8}},
                 {"1,2,3,4,5,6,7,8,9", {}},
                 {"1", {}},
                 {"1,", {}},
                 {"", {}},
                 {"1,,2", {}},
                 {"1,x", {}},
                 {"1,-2", {}},
                 {"01,2", {}},
                 {"1,99999999999999999999", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(CompareIds(c.text).value_or(std::vector<std::int64_t>{}), c.ids) << c.text;
}

TEST_P(RankService, ModelsGroupSpellingsAndAliasesRegroupThem) {
    RankServerOptions options;
    options.postLimit = 0;
    Start(options);
    const struct {
        const char* cpu;
        const char* video;
    } posts[] = {{"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "NVIDIA GeForce GTX 1080/PCIe/SSE2"},
                 {"intel core i7-8700k", "GeForce GTX 1080"},
                 {"Core i7-8700K", "不明"},
                 {"Celeron 300A@450", "Voodoo2"},
                 {"Celeron 300A", ""}};
    int n = 0;
    for (const auto& p : posts) {
        ++n;
        const auto res = Post(
            Entry("m" + std::to_string(n), p.cpu, p.video, {1000 * n, 2000, 3000, 4000, 5000}));
        ASSERT_TRUE(res && res->status == 200);
    }
    auto models = JsonOf(client_->Get("/models.json")->body);
    ASSERT_EQ(models["cpu"].toArray().size(), 2);
    EXPECT_EQ(models["cpu"][0]["model"].toString(), "core i7-8700k");
    EXPECT_EQ(models["cpu"][0]["count"].toInt(), 3);
    EXPECT_EQ(models["cpu"][1]["count"].toInt(), 2);
    EXPECT_TRUE(models["cpu"][1]["median_overall"].isNull()); // under the quorum
    EXPECT_EQ(models["video"].toArray().size(), 2);

    // The alias regroups stored entries, and a post afterwards lands in the group too.
    ASSERT_TRUE(store_->SetAlias("Celeron 300A", "Core i7 8700K"));
    EXPECT_FALSE(store_->SetAlias("不明", "x"));
    EXPECT_EQ(store_->Aliases().at("celeron 300a"), "core i7 8700k");
    ASSERT_TRUE(store_->SetAlias("core i7 8700k", "Intel Core i7-8700K"));
    ASSERT_TRUE(Post(Entry("late", "celeron 300a", "", {500, 500, 500, 500, 500})));
    models = JsonOf(client_->Get("/models.json")->body);
    ASSERT_EQ(models["cpu"].toArray().size(), 1);
    EXPECT_EQ(models["cpu"][0]["count"].toInt(), 6);
    // Removed again: the Celeron entries are their own model once more.
    ASSERT_TRUE(store_->SetAlias("Celeron 300A", ""));
    models = JsonOf(client_->Get("/models.json")->body);
    EXPECT_EQ(models["cpu"].toArray().size(), 2);
    const auto page = client_->Get("/cpu/" + PathEscape("Intel(R) Core(TM) i7-8700K") + ".json");
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_EQ(JsonOf(page->body)["model"].toString(), "core i7-8700k");
}

TEST_P(RankService, ModelPagesShowFiguresFromThreeEntries) {
    RankServerOptions options;
    options.postLimit = 0;
    Start(options);
    const int cpuScores[] = {100, 300, 200, 1000};
    for (int n = 0; n < 4; ++n) {
        // Model "k6-2" gets 1, 2 and then 3 entries; "k6-3" one throughout.
        const char* cpu = n == 3 ? "K6-3" : "AMD K6-2 350MHz";
        ASSERT_TRUE(
            Post(Entry("k" + std::to_string(n), cpu, "Voodoo2", {cpuScores[n], 50, 50, 50, 50})));
        const auto k62 = JsonOf(client_->Get("/cpu/k6-2%20350mhz.json")->body);
        if (n == 0) {
            EXPECT_TRUE(k62["stats"].isNull());
        }
        if (n == 1) {
            EXPECT_TRUE(k62["stats"].isNull());
            const auto html = client_->Get("/cpu/k6-2%20350mhz");
            EXPECT_NE(html->body.find("id=\"few\""), std::string::npos);
        }
        if (n >= 2) {
            EXPECT_EQ(k62["count"].toInt(), 3);
            EXPECT_EQ(k62["stats"]["cpu"]["median"].toDouble(), 200);
            EXPECT_EQ(k62["stats"]["cpu"]["lower_quartile"].toDouble(), 150);
            EXPECT_EQ(k62["stats"]["cpu"]["upper_quartile"].toDouble(), 250);
            EXPECT_EQ(k62["stats"]["cpu"]["trimmed_mean"].toDouble(), 200);
            EXPECT_EQ(k62["entries"].toArray().size(), 3);
            EXPECT_EQ(k62["entries"][0]["cpu_model"].toString(), "k6-2 350mhz");
        }
    }
    const QJsonObject all = JsonOf(client_->Get("/cpu/k6-2%20350mhz.json")->body)["all"].toObject();
    EXPECT_EQ(all["cpu"]["count"].toInt(), 4);
    EXPECT_EQ(all["cpu"]["median"].toDouble(), 250);
    const auto k63 = client_->Get("/cpu/k6-3");
    ASSERT_TRUE(k63 && k63->status == 200);
    EXPECT_NE(k63->body.find("id=\"few\""), std::string::npos);
    EXPECT_EQ(client_->Get("/cpu/pentium")->status, 404);
    EXPECT_EQ(client_->Get("/cpu/" + std::string(4000, ','))->status, 404);
    EXPECT_EQ(client_->Get("/video/%E4%B8%8D%E6%98%8E")->status, 404); // 不明
    const auto html = client_->Get("/video/voodoo2");
    ASSERT_TRUE(html && html->status == 200);
    EXPECT_NE(html->body.find("<svg class=\"hist\""), std::string::npos);
    // Sorted by median: the model with figures first, the one without last.
    const auto byMedian = JsonOf(client_->Get("/models.json?sort=median")->body);
    EXPECT_EQ(byMedian["cpu"][0]["model"].toString(), "k6-2 350mhz");
    EXPECT_EQ(client_->Get("/models?sort=name")->status, 400);
    const auto stats = JsonOf(client_->Get("/stats.json")->body);
    EXPECT_EQ(stats["count"].toInt(), 4);
    EXPECT_EQ(stats["histograms"]["gdi"]["bins"][0]["count"].toInt(), 4);
}

TEST_P(RankService, EntriesStandAndCompareAmongListedOnes) {
    RankServerOptions options;
    options.postLimit = 0;
    Start(options);
    for (int n = 1; n <= 4; ++n) {
        const auto res = Post(Entry("e" + std::to_string(n), n <= 2 ? "K6-2" : "Celeron 300A",
                                    "Voodoo2", {100 * n, 100, 200 * n, 300, 400}));
        ASSERT_TRUE(res && res->status == 200);
    }
    const auto entry = JsonOf(client_->Get("/entry/2.json")->body);
    EXPECT_EQ(entry["percentiles"]["cpu"]["all"]["percentile"].toDouble(), 37.5);
    EXPECT_EQ(entry["percentiles"]["cpu"]["all"]["count"].toInt(), 4);
    EXPECT_EQ(entry["percentiles"]["cpu"]["cpu_model"]["percentile"].toDouble(), 75);
    EXPECT_EQ(entry["percentiles"]["ddraw"]["video_model"]["count"].toInt(), 4);
    EXPECT_FALSE(entry["percentiles"]["gdi"].toObject().contains("video_model"));
    const auto page = client_->Get("/entry/2");
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_NE(page->body.find("<line class=\"mark\""), std::string::npos);
    EXPECT_NE(page->body.find("action=\"/compare\""), std::string::npos);

    const auto compared = client_->Get("/compare.json?ids=2,4");
    ASSERT_TRUE(compared && compared->status == 200);
    const auto entries = JsonOf(compared->body)["entries"].toArray();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1]["ratios"]["cpu"].toDouble(), 2);
    EXPECT_EQ(entries[0]["ratios"]["overall"].toDouble(), 1);
    ASSERT_TRUE(store_->SetState(3, EntryState::Hidden));
    const struct {
        const char* query;
        int status;
    } cases[] = {{"/compare?ids=1,2,4", 200}, {"/compare?ids=1,3", 404},
                 {"/compare?ids=1,99", 404},  {"/compare?ids=1,2,3,4,1,2,3,4,1", 400},
                 {"/compare?ids=1", 400},     {"/compare", 400},
                 {"/entry/3.json", 404}};
    for (const auto& c : cases)
        EXPECT_EQ(client_->Get(c.query)->status, c.status) << c.query;
    const QJsonObject hidden = JsonOf(client_->Get("/entry/2.json")->body);
    EXPECT_EQ(hidden["percentiles"]["cpu"]["all"]["count"].toInt(), 3);
    // A test not run (0) has no standing, and counts in no other entry's.
    ASSERT_TRUE(Post(Entry("nodisk", "K6-2", "Voodoo2", {150, 100, 300, 300, 0})));
    const QJsonObject skipped = JsonOf(client_->Get("/entry/5.json")->body);
    EXPECT_TRUE(skipped["percentiles"]["disk"].toObject().isEmpty());
    EXPECT_EQ(skipped["percentiles"]["cpu"]["all"]["count"].toInt(), 4);
    const QJsonObject ran = JsonOf(client_->Get("/entry/2.json")->body);
    EXPECT_EQ(ran["percentiles"]["disk"]["all"]["count"].toInt(), 3);
}

TEST_P(RankService, OpenDataFollowsTheDatabase) {
    RankServerOptions options;
    options.postLimit = 0;
    Start(options);
    std::vector<std::string> tokens;
    for (int n = 1; n <= 4; ++n) {
        const auto res =
            Post(Entry("d" + std::to_string(n), "Celeron 300A", "Voodoo2", {n, n, n, n, n}));
        ASSERT_TRUE(res && res->status == 200);
        const auto token = res->body.find("token=");
        ASSERT_NE(token, std::string::npos);
        tokens.push_back(res->body.substr(token + 6, 32));
    }
    const auto before = client_->Get("/data/entries.jsonl");
    ASSERT_TRUE(before && before->status == 200);
    const std::string etag = before->get_header_value("ETag");
    EXPECT_FALSE(before->get_header_value("Last-Modified").empty());
    EXPECT_EQ(client_->Get("/data/entries.jsonl", {{"If-None-Match", etag}})->status, 304);
    EXPECT_EQ(client_
                  ->Get("/data/entries.jsonl",
                        {{"If-Modified-Since", before->get_header_value("Last-Modified")}})
                  ->status,
              304);

    // Withdrawn, hidden, deleted and pending entries are left out; the first three are listed
    // as gone.
    ASSERT_TRUE(
        client_->Post("/withdraw/1", "token=" + tokens[0], "application/x-www-form-urlencoded"));
    ASSERT_TRUE(store_->SetState(2, EntryState::Hidden));
    ASSERT_TRUE(store_->Delete(3));
    ASSERT_TRUE(store_->SetState(4, EntryState::Pending));
    ASSERT_TRUE(Post(Entry("kept", "K6-2", "", {7, 7, 7, 7, 7})));
    const auto after = client_->Get("/data/entries.jsonl");
    ASSERT_TRUE(after && after->status == 200);
    EXPECT_NE(after->get_header_value("ETag"), etag);
    EXPECT_EQ(client_->Get("/data/entries.jsonl", {{"If-None-Match", etag}})->status, 200);
    ASSERT_EQ(std::count(after->body.begin(), after->body.end(), '\n'), 1) << after->body;
    const QJsonObject line = JsonOf(after->body);
    EXPECT_EQ(line["id"].toInt(), 5);
    EXPECT_EQ(line["name"].toString(), "kept");
    EXPECT_EQ(line["cpu_model"].toString(), "k6-2");
    EXPECT_EQ(line["scores"]["disk"].toInt(), 7);
    EXPECT_EQ(line["date"].toString(), "2027-01-15T08:00:00Z");
    for (const char* secret : {"token", "address", "127.0.0.1", "withdraw"})
        EXPECT_EQ(after->body.find(secret), std::string::npos) << secret;
    const auto gone = JsonOf(client_->Get("/data/withdrawn.json")->body)["withdrawn"].toArray();
    ASSERT_EQ(gone.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gone[i]["id"].toInt(), i + 1);
        EXPECT_TRUE(gone[i]["date"].toString().endsWith("Z"));
    }
    EXPECT_NE(client_->Get("/data/README")->body.find("CC0-1.0"), std::string::npos);

    // The command line writes the same bytes.
    QString output;
    const QString file = dir_.filePath("entries.jsonl"), withdrawn = dir_.filePath("w.json");
    const std::string db = GetParam() == Backend::SQLite
                               ? dir_.filePath("rank.sqlite").toStdString()
                               : store_->Description();
    {
        ASSERT_TRUE(RunTool(ZELKA_RANK_BINARY,
                            {"export", file, withdrawn, "--db", QString::fromStdString(db)},
                            &output))
            << output.toStdString();
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll().toStdString(), after->body);
        QFile writtenGone(withdrawn);
        ASSERT_TRUE(writtenGone.open(QIODevice::ReadOnly));
        EXPECT_EQ(writtenGone.readAll().toStdString(), client_->Get("/data/withdrawn.json")->body);
    }
}

TEST_P(RankService, ScoresFarAboveTheirModelsMedianWaitForReview) {
    RankServerOptions options;
    options.postLimit = 0;
    Start(options);
    const struct {
        const char* cpu;
        int cpuScore, ddraw;
        bool held;
    } posts[] = {
        {"K6-2", 100, 100, false},
        {"K6-2", 100, 100, false},
        {"K6-2", 100, 100, false},
        {"K6-2", 100, 100, false},
        {"K6-2", 1000, 100, false}, // four entries of the model: no
                                    // median yet
        {"K6-2", 301, 100, true},
        {"K6-2", 300, 100, false},
        {"K6-2", 1, 100, false},
        {"K6-2", 100, 801, true},
        {"K6-2", 100, 800, false},
        {"Celeron", 1500, 100, false},
    };
    int n = 0;
    for (const auto& p : posts) {
        const auto res = Post(Entry("o" + std::to_string(++n), p.cpu, "Voodoo2",
                                    {p.cpuScore, 100, p.ddraw, 100, 100}));
        ASSERT_TRUE(res && res->status == 200);
        EXPECT_EQ(res->body.find("審査待ち") != std::string::npos, p.held) << n;
    }
    QString output;
    ASSERT_TRUE(
        RunTool(ZELKA_RANK_BINARY,
                {"pending", "--db",
                 GetParam() == Backend::SQLite ? dir_.filePath("rank.sqlite")
                                               : QString::fromStdString(store_->Description())},
                &output));
    EXPECT_TRUE(output.contains("held: cpu 301 above 3 x the median 100 of cpu_model \"k6-2\""))
        << output.toStdString();
    EXPECT_TRUE(
        output.contains("held: ddraw 801 above 8 x the median 100 of video_model \"voodoo2\""))
        << output.toStdString();

    // The operator's aliases from the command line, on the same database.
    const QString db = GetParam() == Backend::SQLite
                           ? dir_.filePath("rank.sqlite")
                           : QString::fromStdString(store_->Description());
    ASSERT_TRUE(RunTool(ZELKA_RANK_BINARY, {"alias", "Celeron", "AMD K6-2", "--db", db}, &output))
        << output.toStdString();
    ASSERT_TRUE(RunTool(ZELKA_RANK_BINARY, {"aliases", "--db", db}, &output));
    EXPECT_TRUE(output.startsWith("celeron\tk6-2\n")) << output.toStdString();
    EXPECT_FALSE(RunTool(ZELKA_RANK_BINARY, {"alias", "不明", "k6-2", "--db", db}, &output));
    const auto k62 = store_->EntriesOfModel(false, "k6-2", 100);
    EXPECT_EQ(k62.size(), 9u); // the eight listed K6-2 entries and the Celeron
}
