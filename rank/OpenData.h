#pragma once
// The ranking as open data (CC0-1.0): every listed entry as JSON lines, and the entries
// withdrawn, taken down or deleted, so that a copy can be kept clean. Written row by row as the
// database hands them over, never built whole in memory; the service keeps the files on disk
// until the entries change and sends them from there.
#include "RankStore.h"

#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

using DataSink = std::function<void(std::string_view)>;

// One JSON object a line, oldest first: id, date, the texts as stored, the canonical models,
// the scores. Listed entries only; no address, token or pending entry.
void WriteEntriesJsonl(RankStore& store, const DataSink& out);
// {"withdrawn":[{"id":N,"date":"..."|null},...]}: hidden (withdrawn or taken down) and deleted
// entries, by id, with the time they left the ranking (null where it was not recorded).
void WriteWithdrawnJson(RankStore& store, const DataSink& out);
// The text of /data/README: what the files hold and their licence.
const std::string& OpenDataReadme();

// A time as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::int64_t seconds);

enum class DataFile { Entries, Withdrawn };

// The two files, each rewritten when the entries have changed since it was written (at most
// every 10 s once it holds 1,000 lines) and otherwise shared by every request. One thread
// writes a file at a time; meanwhile the others send the one before, where there is one.
class OpenDataFiles {
public:
    struct File {
        std::string path;
        std::string etag;          // a quoted digest of the content
        std::int64_t modified = 0; // when the content last changed, seconds since 1970
        std::int64_t size = 0;
    };
    explicit OpenDataFiles(RankStore& store) : store_(store) {}
    File Current(DataFile which);

private:
    File Write(DataFile which, std::int64_t& lines);

    struct Kept {
        File file;
        std::uint64_t changes = ~std::uint64_t{0};
        std::chrono::steady_clock::time_point written;
        std::int64_t entries = 0;
        bool writing = false;
    };
    RankStore& store_;
    std::mutex mutex_;
    std::condition_variable written_;
    QTemporaryDir dir_;
    Kept kept_[2];
};
