#include "ExploreRoutes.h"

#include "ModelPages.h"
#include "RankPages.h"

namespace {

ExplorePage Error(int status, const std::string& reason) {
    return {status, false, ErrorHtml(status, reason)};
}

ExploreRoute Fixed(ExplorePage page) {
    return {{}, [page = std::move(page)](RankStore&, RankStatistics&) { return page; }};
}

// The path without ".json" when it ends so; sets `json`.
std::string_view WithoutJson(std::string_view path, bool& json) {
    json = path.ends_with(".json");
    return json ? path.substr(0, path.size() - 5) : path;
}

} // namespace

std::optional<ExploreRoute>
FindExploreRoute(std::string_view path,
                 const std::function<std::optional<std::string>(const char*)>& argument) {
    bool json = false;
    const std::string_view page = WithoutJson(path, json);
    std::string key(json ? "j" : "h");
    key.append(page);
    if (page == "/models") {
        const std::string sort = argument("sort").value_or("count");
        if (sort != "count" && sort != "median")
            return Fixed(Error(400, "並び順の指定が正しくありません（count か median）。"));
        const ModelOrder order = sort == "count" ? ModelOrder::Count : ModelOrder::Median;
        return ExploreRoute{key + "?" + sort, [json, order](RankStore&, RankStatistics& stats) {
                                const auto snapshot = stats.Current();
                                return ExplorePage{200, json,
                                                   json ? ModelsJson(*snapshot, order)
                                                        : ModelsHtml(*snapshot, order)};
                            }};
    }
    if (page == "/stats")
        return ExploreRoute{
            key, [json](RankStore&, RankStatistics& stats) {
                const auto snapshot = stats.Current();
                return ExplorePage{200, json, json ? StatsJson(*snapshot) : StatsHtml(*snapshot)};
            }};
    for (const ModelKind kind : {ModelKind::Cpu, ModelKind::Video}) {
        std::string prefix = "/";
        prefix.append(ModelKindPath(kind)).append("/");
        if (!page.starts_with(prefix))
            continue;
        const std::string name(page.substr(prefix.size()));
        // No model's name is longer than a stored text: a longer one is not looked up.
        if (name.size() > 4 * kRankFieldLimit)
            return Fixed(Error(404, "この機種の登録はありません。"));
        return ExploreRoute{
            key, [json, kind, name](RankStore& store, RankStatistics& stats) {
                // The name as a user may type it, and the model an alias
                // stands for.
                const std::string model = ModelOf(name, store.Aliases());
                const auto snapshot = stats.Current();
                if (model.empty() || !snapshot->Model(kind, model))
                    return Error(404, "この機種の登録はありません。");
                const auto entries =
                    store.EntriesOfModel(kind == ModelKind::Video, model, kModelPageEntries);
                return ExplorePage{200, json,
                                   json ? ModelJson(kind, model, *snapshot, entries)
                                        : ModelHtml(kind, model, *snapshot, entries)};
            }};
    }
    if (page == "/compare") {
        const auto ids = CompareIds(argument("ids").value_or(""));
        if (!ids)
            return Fixed(Error(400, "比べる登録の番号を 2 件から " + std::to_string(kCompareMost) +
                                        " 件、コンマで区切って指定して下さい。"));
        std::string idKey;
        for (const std::int64_t id : *ids)
            idKey += std::to_string(id) + ",";
        return ExploreRoute{
            key + "?" + idKey, [json, ids = *ids](RankStore& store, RankStatistics&) {
                std::vector<RankEntry> entries;
                for (const std::int64_t id : ids) {
                    auto entry = store.Entry(id);
                    if (!entry)
                        return Error(404,
                                     "登録番号 " + std::to_string(id) + " の登録はありません。");
                    entries.push_back(std::move(*entry));
                }
                return ExplorePage{200, json, json ? CompareJson(entries) : CompareHtml(entries)};
            }};
    }
    if (json && page.starts_with("/entry/")) {
        const auto id = ParseDecimal(page.substr(7), 1, 999'999'999'999'999'999);
        if (!id)
            return std::nullopt;
        return ExploreRoute{key, [id = *id](RankStore& store, RankStatistics& stats) {
                                const auto entry = store.Entry(id);
                                if (!entry)
                                    return Error(404, "この登録はありません。");
                                return ExplorePage{
                                    200, true,
                                    EntryJson(*entry,
                                              store.RankOf(rsOverall, entry->scores[rsOverall]),
                                              *stats.Current())};
                            }};
    }
    return std::nullopt;
}
