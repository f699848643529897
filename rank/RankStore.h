#pragma once
// The stored entries, in SQLite (a file, WAL mode) or PostgreSQL (a postgresql:// address),
// through Qt SQL and one set of parameterised statements. Safe to use from many threads: each
// thread gets its own connection.
#include "ModelName.h"
#include "Submission.h"

#include <QVariant>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QSqlQuery;

struct RankEntry {
    std::int64_t id = 0;
    std::int64_t createdAt = 0; // seconds since 1970, UTC
    std::int32_t scores[rsCount] = {};
    RankUserText text;
    std::string cpuModel, videoModel; // the canonical models of text.cpp and text.video
    std::string holdReason;           // why it waits for review (pending entries only)
};

struct RankedEntry {
    std::int64_t rank = 0; // 1 for the best; equal scores share a rank
    RankEntry entry;
};

// One page of the ranking ordered by one score, best first.
struct RankingSlice {
    std::int64_t total = 0; // entries stored
    std::int32_t top = 0;   // the best score in the order's column
    std::vector<RankedEntry> rows;
};

// Listed entries are in the ranking; pending ones wait for the operator's review; hidden ones
// were withdrawn or taken down. Only listed entries are in any page or JSON.
enum class EntryState { Listed = 0, Pending = 1, Hidden = 2 };

// What a post from the internet is held to beyond its own content.
struct PostRules {
    std::string address; // the client's, for the post limit
    int limit = 0;       // accepted posts per address within kRankPostWindow; 0 for no limit
    // Fixed ceilings of the five tests (rsCpu..rsDisk; rsOverall unused); unset: the default.
    std::array<std::optional<std::int64_t>, rsCount> ceilings;
};

struct StoredEntry {
    std::int64_t id = 0;
    bool duplicate = false;      // the same post within kRankReloadWindow: stored once before
    bool pending = false;        // stored, but waits for review (a score above its ceiling)
    std::int64_t retryAfter = 0; // > 0: not stored, the address is at its limit for this long
    std::int64_t rank = 0;       // by overall score, among listed entries
    std::int64_t total = 0;      // listed entries
    std::string token;           // a new entry's withdrawal token (32 hex digits)
};

// The same post again within this many seconds (a browser's reload) is not stored again.
inline constexpr std::int64_t kRankReloadWindow = 600;
// The window of the per-address post limit, in seconds.
inline constexpr std::int64_t kRankPostWindow = 600;
// A test's default ceiling: this many times the median of the listed entries that ran the
// test, once kRankCeilingQuorum such entries are listed; kRankCeilingBefore until then.
inline constexpr std::int64_t kRankCeilingFactor = 20;
inline constexpr std::int64_t kRankCeilingBefore = 1000000000;
inline constexpr std::int64_t kRankCeilingQuorum = 3;

// A post also waits for review when its CPU score is above kRankOutlierCpuFactor times the
// median of its processor model, or a DirectDraw or Direct3D score above
// kRankOutlierVideoFactor times its video model's, among the model's listed entries that ran
// the test once there are kRankOutlierQuorum of them.
inline constexpr std::int64_t kRankOutlierCpuFactor = 3;
inline constexpr std::int64_t kRankOutlierVideoFactor = 8;
inline constexpr std::int64_t kRankOutlierQuorum = 5;

// Column names of the scores, in RankScore order, also the names of the ranking's orders.
inline constexpr std::array<const char*, rsCount> kRankScoreNames = {"overall", "cpu", "gdi",
                                                                     "ddraw",   "d3d", "disk"};

// The database cannot be reached now: the server is down or restarting, the connection was
// lost and could not be made again, or SQLite's file cannot be written (disk full, read-only).
// What was asked may succeed later; nothing was stored half.
class RankUnavailable : public std::runtime_error {
public:
    explicit RankUnavailable(const std::string& what, bool lost = false)
        : std::runtime_error(what), lost_(lost) {}
    // The connection broke during this call: a new one, made by the next call, may work at
    // once, so a request that is safe to repeat may be tried once more.
    bool Lost() const { return lost_; }

private:
    bool lost_ = false;
};

class RankStore {
public:
    // `address`: a file path for SQLite, or postgresql://user@host:port/database (query items
    // become the driver's connect options). `password`, when not empty, is PostgreSQL's
    // (otherwise libpq's own sources: PGPASSWORD, PGPASSFILE, ~/.pgpass). Opens a first
    // connection; throws RankUnavailable when that fails. Creates no table: see CreateSchema.
    //
    // Each thread's connection is made again by the call after the one that found it lost, at
    // most once per back-off (0.1 s doubling to 2 s) while the database cannot be reached;
    // calls throw RankUnavailable meanwhile.
    explicit RankStore(std::string address, std::string password = {});
    ~RankStore();
    RankStore(const RankStore&) = delete;
    RankStore& operator=(const RankStore&) = delete;

    bool IsPostgres() const { return postgres_; }
    // Counts the entries this process stored: what was read before a change is stale after.
    std::uint64_t Changes() const { return changes_.load(std::memory_order_acquire); }
    // What the address names, for messages (a password is left out).
    std::string Description() const;

    // Creates the tables, or adds what an older version's lack; needs a role that may create
    // tables. Throws std::runtime_error when it cannot.
    void CreateSchema();
    // Empty when the tables are as this version uses them and this role may read and write
    // them; otherwise what is missing, in a sentence.
    std::string SchemaProblem();
    // Computes every entry's models again where they follow other rules than this version's
    // (CreateSchema does too); whether it did.
    bool RefreshModelRules();

    // Stores the entry at `now` unless the same post came within kRankReloadWindow or the
    // address is at its limit; pending when a score is above its test's ceiling.
    StoredEntry Add(const RankSubmission& entry, std::int64_t now, const PostRules& rules = {});
    // Each test's ceiling in effect now (rsOverall: none, the largest score).
    std::array<std::int64_t, rsCount> Ceilings(const PostRules& rules);
    RankingSlice Ranking(RankScore order, std::int64_t offset, int limit);
    std::optional<RankEntry> Entry(std::int64_t id);
    // The rank a score holds in `order`: one more than the listed entries that beat it, counted
    // in the order's scores kept in memory (taken again as the medians are).
    std::int64_t RankOf(RankScore order, std::int32_t score);
    // The median of each score over the listed entries (0 with none): kept, taken again after
    // a change (at most a few times a second) or after a moment for other servers' changes.
    std::array<double, rsCount> Medians();

    // The operator's moderation. Entries waiting for review, oldest first.
    std::vector<RankEntry> Pending();
    // Lists (approves) or hides an entry; false when there is no such entry.
    bool SetState(std::int64_t id, EntryState state);
    bool Delete(std::int64_t id);
    // Whether `token` withdraws entry `id` (not yet hidden), and withdrawing it.
    bool WithdrawalValid(std::int64_t id, const std::string& token);
    bool Withdraw(std::int64_t id, const std::string& token);

    // Listed entries of a processor model (`video`: of a video model), best overall first.
    std::vector<RankEntry> EntriesOfModel(bool video, const std::string& model, int limit);

    // The operator's model aliases (canonical model to canonical model).
    ModelAliases Aliases();
    // Makes `from` stand for `to` (both canonicalised first; an empty `to` removes the alias),
    // then computes every entry's models again. False when `from` names no model.
    bool SetAlias(const std::string& from, const std::string& to);
    // Every entry's canonical models from its texts, the rules and the aliases now; the number
    // of entries whose models changed.
    std::int64_t RecomputeModels();

    // For the units that read the entries as a whole (statistics, open data): `sql` with
    // `values` on this thread's connection, each row handed to `row` as it is read.
    void Select(const std::string& sql, const QVariantList& values,
                const std::function<void(const QSqlQuery&)>& row);

    class Connection;

private:
    Connection& ThisThread();
    // `first` (an alias changed), then every entry's models again, in one transaction.
    std::int64_t RewriteModels(const std::function<void(Connection&)>& first);

    std::string address_;
    std::string password_;
    std::mutex reconnectMutex_;                     // guards the two below
    std::chrono::steady_clock::time_point retryAt_; // no new connection tried before
    std::chrono::steady_clock::duration backOff_{}; // doubled by each failed try
    bool postgres_ = false;
    std::uint64_t serial_ = 0;
    std::atomic<std::uint64_t> changes_{0};
    // The number of entries and each order's best score, as last read.
    struct Summary {
        std::uint64_t changes = ~std::uint64_t{0};
        std::chrono::steady_clock::time_point taken;
        std::int64_t total = 0;
        std::int32_t top = 0;
    };
    static constexpr auto kSummaryFresh = std::chrono::seconds(2);
    std::mutex summaryMutex_;
    Summary summaries_[rsCount];
    std::mutex sqliteWrites_; // SQLite takes one writer: queue them here, not in its busy loop

    struct MedianSet {
        std::array<double, rsCount> listed{};     // over all listed entries
        std::array<double, rsCount> ran{};        // over those with the score above 0
        std::array<std::int64_t, rsCount> runs{}; // how many those are
        std::int64_t listedCount = 0;
    };
    const MedianSet& FreshMedians(); // under mediansMutex_
    std::mutex mediansMutex_;
    MedianSet medians_;
    std::uint64_t mediansChanges_ = ~std::uint64_t{0};
    std::chrono::steady_clock::time_point mediansTaken_;
    void Changed() { changes_.fetch_add(1, std::memory_order_release); }

    struct ScoreOrder {
        std::vector<std::int32_t> scores; // the listed entries' scores, best first
        std::uint64_t changes = ~std::uint64_t{0};
        std::chrono::steady_clock::time_point taken;
    };
    std::mutex ordersMutex_;
    ScoreOrder orders_[rsCount];
};
