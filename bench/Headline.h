#pragma once
// Headline figures: a benchmark names the figure it stands for, and the benchmark program
// ends with one "name: value" line per figure.
#include <map>
#include <string>

namespace bench {

enum class Figure { NanosecondsPerIteration, Counter };

struct Headline {
    std::string figure; // the summary line's name
    Figure kind;
    std::string counter; // for Figure::Counter: which user counter of the run
};

// Benchmark name -> its headline figures (one benchmark may stand for several).
inline std::multimap<std::string, Headline>& Headlines() {
    static std::multimap<std::string, Headline> headlines;
    return headlines;
}

struct RegisterHeadline {
    RegisterHeadline(const std::string& benchmark, Headline headline) {
        Headlines().emplace(benchmark, std::move(headline));
    }
};

} // namespace bench
