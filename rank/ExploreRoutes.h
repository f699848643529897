#pragma once
// Which of the comparing pages a GET asks for (the models, a model, the statistics, an entry's
// JSON, a comparison), and how a database worker makes it.
#include "RankStats.h"
#include "RankStore.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct ExplorePage {
    int status = 200;
    bool json = false;
    std::string body;
};

struct ExploreRoute {
    std::string cacheKey; // the page is the same for every request with this key
    std::function<ExplorePage(RankStore&, RankStatistics&)> make;
};

// `argument`: a query argument of the request by name. Nothing when the path is none of these
// pages; a route that makes a 400 page when its arguments are wrong.
std::optional<ExploreRoute>
FindExploreRoute(std::string_view path,
                 const std::function<std::optional<std::string>(const char*)>& argument);
