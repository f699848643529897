#include "RankStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/random.h>

namespace {

std::atomic<std::uint64_t> nextSerial{1};
// PostgreSQL's advisory lock of the models: shared by posts, taken alone by a change of the
// aliases or rules. Beyond any 32-bit hashtext() of an address, the post limit's locks.
constexpr qint64 kModelsLock = 0x7a656c6b61;
std::atomic<std::uint64_t> nextConnection{1};

bool IsPostgresAddress(const std::string& address) {
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

// An entry's columns after its id and time: the scores, named as the orders are, then the
// user's texts. Table, insert, select, read and digest all go by these lists.
constexpr int kFirstScoreColumn = 2;
constexpr struct {
    const char* column;
    std::string RankUserText::*field;
} kTextColumns[] = {
    {"name", &RankUserText::name},   {"machine_cpu", &RankUserText::cpu},
    {"video", &RankUserText::video}, {"memory", &RankUserText::memory},
    {"hdd", &RankUserText::hdd},     {"comment", &RankUserText::comment},
};

// The columns a submission fills, with each one's SQL type after it when typed.
std::string SubmissionColumns(bool typed) {
    std::string columns;
    for (const char* score : kRankScoreNames)
        columns += std::string(", ") + score + (typed ? " INTEGER NOT NULL" : "");
    for (const auto& text : kTextColumns)
        columns += std::string(", ") + text.column + (typed ? " TEXT NOT NULL" : "");
    return columns;
}

const std::string kEntryColumns =
    "id, created_at" + SubmissionColumns(false) + ", cpu_model, video_model";

const std::string kInsertEntry = [] {
    std::string placeholders = "?";
    for (std::size_t i = 0; i < rsCount + std::size(kTextColumns) + 2; ++i)
        placeholders += ", ?";
    return "INSERT INTO entries (created_at" + SubmissionColumns(false) +
           ", state, withdraw_hash) VALUES (" + placeholders + ") RETURNING id";
}();

RankEntry ReadEntry(const QSqlQuery& q) {
    RankEntry e;
    e.id = q.value(0).toLongLong();
    e.createdAt = q.value(1).toLongLong();
    for (int i = 0; i < rsCount; ++i)
        e.scores[i] = q.value(kFirstScoreColumn + i).toInt();
    int column = kFirstScoreColumn + rsCount;
    for (const auto& text : kTextColumns)
        e.text.*text.field = q.value(column++).toString().toStdString();
    e.cpuModel = q.value(column++).toString().toStdString();
    e.videoModel = q.value(column++).toString().toStdString();
    return e;
}

std::string Digest(const RankSubmission& s) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (std::int32_t score : s.scores)
        hash.addData(QByteArray::number(score) + '\x1f');
    for (const auto& text : kTextColumns)
        hash.addData(QByteArray::fromStdString(s.text.*text.field) + '\x1f');
    return hash.result().toHex().toStdString();
}

// 128 random bits as 32 hex digits.
std::string NewToken() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("no random bytes for a withdrawal token");
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex().toStdString();
}

// Only this is stored: the token itself is in the reply page alone.
QString TokenHash(const std::string& token) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(token), QCryptographicHash::Sha256)
            .toHex());
}

} // namespace

// One thread's connection and its prepared statements.
class RankStore::Connection {
public:
    Connection(const std::string& address, bool postgres, const std::string& password)
        : name_(QString("zelka-rank-%1").arg(nextConnection++)), postgres_(postgres) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(postgres ? "QPSQL" : "QSQLITE", name_);
            if (postgres) {
                const QUrl url(QString::fromStdString(address));
                db.setHostName(url.host());
                if (url.port() > 0)
                    db.setPort(url.port());
                db.setUserName(url.userName());
                db.setPassword(password.empty() ? url.password()
                                                : QString::fromStdString(password));
                const QString path = url.path().mid(1);
                db.setDatabaseName(path.isEmpty() ? url.userName() : path);
                QStringList options;
                bool timeout = false;
                for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
                    options << key + "=" + value;
                    timeout = timeout || key == "connect_timeout";
                }
                // A server that does not answer is an unreachable database, not a hung worker.
                if (!timeout)
                    options << "connect_timeout=5";
                db.setConnectOptions(options.join(';'));
            } else {
                db.setDatabaseName(QString::fromStdString(address));
                db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
            }
            if (!db.open())
                throw RankUnavailable("cannot open the database: " +
                                      db.lastError().text().toStdString());
        }
        if (postgres) {
            Exec("SET client_min_messages TO warning"); // no notices for tables already there
        } else {
            Exec("PRAGMA journal_mode=WAL");
            // With the write-ahead log a commit needs no flush of its own; a crash of the
            // machine may lose the last moments, never the file.
            Exec("PRAGMA synchronous=NORMAL");
        }
    }
    ~Connection() {
        queries_.clear();
        QSqlDatabase::removeDatabase(name_);
    }

    QSqlDatabase Database() const { return QSqlDatabase::database(name_, false); }

    // A prepared statement, made once per connection.
    QSqlQuery& Prepared(const std::string& sql) {
        auto it = queries_.find(sql);
        if (it == queries_.end()) {
            auto q = std::make_unique<QSqlQuery>(Database());
            q->setForwardOnly(true);
            if (!q->prepare(QString::fromStdString(sql)))
                Fail(*q, sql);
            it = queries_.emplace(sql, std::move(q)).first;
        }
        return *it->second;
    }

    // Whether the connection was found lost: it is replaced before the thread's next use.
    bool Lost() const { return lost_; }

    QSqlQuery& Run(const std::string& sql, const QVariantList& values = {}) {
        QSqlQuery& q = Prepared(sql);
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec())
            Fail(q, sql);
        return q;
    }

    bool TryRun(const std::string& sql, const QVariantList& values) {
        QSqlQuery& q = Prepared(sql);
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        return q.exec();
    }

    void Exec(const std::string& sql) {
        QSqlQuery q(Database());
        if (!q.exec(QString::fromStdString(sql)))
            Fail(q, sql);
    }

    // A statement failed: a connection that no longer answers is lost (the server restarted,
    // the network broke), and so is SQLite's file that stays busy, is read-only, full or
    // failing; either may work again later. Anything else is the statement's own fault.
    [[noreturn]] void Fail(const QSqlQuery& q, const std::string& sql) {
        const std::string what =
            "database error in \"" + sql + "\": " + q.lastError().text().toStdString();
        const int code = q.lastError().nativeErrorCode().toInt() & 0xff;
        if (!postgres_ &&
            (code == 5 || code == 6 || code == 8 || code == 10 || code == 13 || code == 14))
            throw RankUnavailable(what);
        // A statement's own fault carries its SQLSTATE; a broken connection none, a connection
        // class (08) or an ended session (57P). Only then is the connection asked whether it
        // still answers (in a failed transaction any statement fails).
        const QString state = q.lastError().nativeErrorCode();
        const bool connectionError =
            state.isEmpty() || state.startsWith("08") || state.startsWith("57P");
        if (postgres_ && connectionError && !QSqlQuery(Database()).exec("SELECT 1")) {
            lost_ = true;
            throw RankUnavailable("lost the database connection: " + what, true);
        }
        throw std::runtime_error(what);
    }

private:
    QString name_;
    bool postgres_ = false;
    bool lost_ = false;
    std::map<std::string, std::unique_ptr<QSqlQuery>> queries_;
};

RankStore::RankStore(std::string address, std::string password)
    : address_(std::move(address)), password_(std::move(password)),
      postgres_(IsPostgresAddress(address_)), serial_(nextSerial++) {
    if (!postgres_) {
        const QFileInfo file(QString::fromStdString(address_));
        QDir().mkpath(file.absolutePath());
    }
    ThisThread();
}

void RankStore::CreateSchema() {
    Connection& c = ThisThread();
    const char* id =
        postgres_ ? "id BIGSERIAL PRIMARY KEY" : "id INTEGER PRIMARY KEY AUTOINCREMENT";
    c.Exec(std::string("CREATE TABLE IF NOT EXISTS entries (") + id +
           ", created_at BIGINT NOT NULL" + SubmissionColumns(true) +
           ", state INTEGER NOT NULL DEFAULT 0, withdraw_hash TEXT NOT NULL DEFAULT '')");
    // A database made before entries had a state and a withdrawal token gets the columns.
    const char* added[][2] = {
        {"state", "INTEGER NOT NULL DEFAULT 0"},    {"withdraw_hash", "TEXT NOT NULL DEFAULT ''"},
        {"cpu_model", "TEXT NOT NULL DEFAULT ''"},  {"video_model", "TEXT NOT NULL DEFAULT ''"},
        {"hidden_at", "BIGINT NOT NULL DEFAULT 0"}, {"hold_reason", "TEXT NOT NULL DEFAULT ''"}};
    if (postgres_) {
        for (const auto& [column, type] : added)
            c.Exec(std::string("ALTER TABLE entries ADD COLUMN IF NOT EXISTS ") + column + " " +
                   type);
    } else {
        QSqlQuery info(c.Database());
        info.exec("PRAGMA table_info(entries)");
        QStringList columns;
        while (info.next())
            columns << info.value(1).toString();
        for (const auto& [column, type] : added)
            if (!columns.contains(column))
                c.Exec(std::string("ALTER TABLE entries ADD COLUMN ") + column + " " + type);
    }
    // The orders' indexes hold the listed entries only.
    for (const char* column : kRankScoreNames) {
        c.Exec(std::string("DROP INDEX IF EXISTS entries_by_") + column);
        c.Exec(std::string("CREATE INDEX IF NOT EXISTS entries_listed_by_") + column +
               " ON entries (" + column + " DESC, id) WHERE state = 0");
    }
    c.Exec("CREATE TABLE IF NOT EXISTS recent_posts (digest TEXT PRIMARY KEY, "
           "entry_id BIGINT NOT NULL, posted_at BIGINT NOT NULL)");
    c.Exec("CREATE INDEX IF NOT EXISTS recent_posts_by_time ON recent_posts (posted_at)");
    c.Exec("CREATE TABLE IF NOT EXISTS post_log (address TEXT NOT NULL, "
           "posted_at BIGINT NOT NULL)");
    c.Exec("CREATE INDEX IF NOT EXISTS post_log_by_address ON post_log (address, posted_at)");
    c.Exec("CREATE INDEX IF NOT EXISTS post_log_by_time ON post_log (posted_at)");
    // The operator's model aliases, the version of the model rules the stored models follow,
    // and the deleted entries a copy of the open data must drop too.
    c.Exec(
        "CREATE TABLE IF NOT EXISTS model_aliases (alias TEXT PRIMARY KEY, model TEXT NOT NULL)");
    c.Exec("CREATE TABLE IF NOT EXISTS model_rules (version INTEGER NOT NULL)");
    c.Exec("CREATE TABLE IF NOT EXISTS deleted_entries (id BIGINT PRIMARY KEY, "
           "deleted_at BIGINT NOT NULL)");
    c.Exec("CREATE INDEX IF NOT EXISTS entries_by_cpu_model ON entries (cpu_model, state)");
    c.Exec("CREATE INDEX IF NOT EXISTS entries_by_video_model ON entries (video_model, state)");
    RefreshModelRules();
}

bool RankStore::RefreshModelRules() {
    QSqlQuery& rules = ThisThread().Run("SELECT MAX(version) FROM model_rules");
    const int rulesVersion = rules.next() ? rules.value(0).toInt() : 0;
    rules.finish();
    if (rulesVersion == kModelRulesVersion)
        return false;
    RecomputeModels();
    return true;
}

std::string RankStore::SchemaProblem() {
    Connection& c = ThisThread();
    const std::pair<const char*, std::string> tables[] = {
        {"entries", kEntryColumns + ", state, withdraw_hash, hidden_at, hold_reason"},
        {"recent_posts", "digest, entry_id, posted_at"},
        {"post_log", "address, posted_at"},
        {"model_aliases", "alias, model"},
        {"model_rules", "version"},
        {"deleted_entries", "id, deleted_at"},
    };
    for (const auto& [table, columns] : tables) {
        QSqlQuery q(c.Database());
        if (!q.exec(
                QString::fromStdString("SELECT " + columns + " FROM " + table + " WHERE 1 = 0")))
            return std::string("the table ") + table +
                   " is missing, lacks a column of this version or cannot be read (" +
                   q.lastError().databaseText().trimmed().toStdString() + ")";
    }
    if (!postgres_)
        return {};
    // The rights beyond reading: PostgreSQL can say which are missing.
    std::string missing;
    for (const auto& [table, columns] : tables)
        for (const char* right : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
            QSqlQuery q(c.Database());
            q.exec(QString("SELECT has_table_privilege('%1', '%2')").arg(table, right));
            if (!q.next() || !q.value(0).toBool())
                missing += std::string(missing.empty() ? "" : ", ") + right + " on " + table;
        }
    QSqlQuery sequence(c.Database());
    sequence.exec(
        "SELECT has_sequence_privilege(pg_get_serial_sequence('entries', 'id'), 'USAGE')");
    if (!sequence.next() || !sequence.value(0).toBool())
        missing += std::string(missing.empty() ? "" : ", ") + "USAGE on entries_id_seq";
    return missing.empty() ? std::string() : "this role lacks " + missing;
}

RankStore::~RankStore() = default;

std::string RankStore::Description() const {
    if (!postgres_)
        return address_;
    QUrl url(QString::fromStdString(address_));
    url.setPassword({});
    return url.toString().toStdString();
}

RankStore::Connection& RankStore::ThisThread() {
    using namespace std::chrono_literals;
    using SteadyClock = std::chrono::steady_clock;
    // Destroyed when the thread ends, in that thread, as Qt SQL wants.
    thread_local std::map<std::uint64_t, std::unique_ptr<Connection>> connections;
    auto& slot = connections[serial_];
    if (slot && !slot->Lost())
        return *slot;
    // A lost connection is replaced here, at the start of a call, never under a caller.
    slot.reset();
    // One back-off for all threads: while the database cannot be reached they answer at once
    // rather than each waiting for a connection, and once one reaches it, all try again.
    const auto now = SteadyClock::now();
    {
        std::lock_guard<std::mutex> lock(reconnectMutex_);
        if (now < retryAt_)
            throw RankUnavailable("the database is unreachable (the next try is moments away)");
    }
    try {
        slot = std::make_unique<Connection>(address_, postgres_, password_);
    } catch (const std::exception&) {
        std::lock_guard<std::mutex> lock(reconnectMutex_);
        backOff_ = std::clamp<SteadyClock::duration>(backOff_ * 2, 100ms, 2s);
        retryAt_ = SteadyClock::now() + backOff_;
        throw;
    }
    std::lock_guard<std::mutex> lock(reconnectMutex_);
    backOff_ = {};
    retryAt_ = {};
    return *slot;
}

std::array<std::int64_t, rsCount> RankStore::Ceilings(const PostRules& rules) {
    std::array<std::int64_t, rsCount> ceilings{};
    ceilings.fill(kRankScoreMax);
    std::lock_guard<std::mutex> lock(mediansMutex_);
    const MedianSet& m = FreshMedians();
    for (int i = rsCpu; i < rsCount; ++i)
        ceilings[i] = rules.ceilings[i] ? *rules.ceilings[i]
                      : m.runs[i] >= kRankCeilingQuorum
                          ? static_cast<std::int64_t>(kRankCeilingFactor * m.ran[i])
                          : kRankCeilingBefore;
    return ceilings;
}

namespace {

// A post with the same digest within the reload window: the entry it stored.
bool FindReload(RankStore::Connection& c, const QString& digest, std::int64_t now,
                StoredEntry& stored) {
    c.Run("DELETE FROM recent_posts WHERE posted_at < ?", {qint64(now - kRankReloadWindow)});
    QSqlQuery& seen = c.Run("SELECT r.entry_id, e.state FROM recent_posts r LEFT JOIN "
                            "entries e ON e.id = r.entry_id WHERE r.digest = ?",
                            {digest});
    const bool found = seen.next();
    if (found) {
        stored.id = seen.value(0).toLongLong();
        stored.duplicate = true;
        stored.pending = seen.value(1).toInt() == int(EntryState::Pending);
    }
    seen.finish();
    return found;
}

// Seconds until the address may post again, where it posted `limit` times within the window.
std::optional<std::int64_t> RetryAfter(RankStore::Connection& c, const QString& address, int limit,
                                       std::int64_t now) {
    c.Run("DELETE FROM post_log WHERE posted_at <= ?", {qint64(now - kRankPostWindow)});
    QSqlQuery& posted =
        c.Run("SELECT COUNT(*), MIN(posted_at) FROM post_log WHERE address = ?", {address});
    const std::int64_t count = posted.next() ? posted.value(0).toLongLong() : 0;
    const std::int64_t oldest = count > 0 ? posted.value(1).toLongLong() : now;
    posted.finish();
    if (count < limit)
        return std::nullopt;
    return std::max<std::int64_t>(1, oldest + kRankPostWindow - now);
}

ModelAliases ReadAliases(RankStore::Connection& c) {
    ModelAliases aliases;
    QSqlQuery& known = c.Run("SELECT alias, model FROM model_aliases");
    while (known.next())
        aliases[known.value(0).toString().toStdString()] = known.value(1).toString().toStdString();
    known.finish();
    return aliases;
}

// Why a post waits for review: a score above its test's ceiling, or far above the median of
// its model's listed entries that ran the test (once there are kRankOutlierQuorum of them).
// Empty when it does not; a low score never waits.
std::string HoldReason(RankStore::Connection& c, const RankSubmission& s,
                       const std::array<std::int64_t, rsCount>& ceilings,
                       const std::string& cpuModel, const std::string& videoModel) {
    for (int i = rsCpu; i < rsCount; ++i)
        if (s.scores[i] > ceilings[i])
            return std::string(kRankScoreNames[i]) + " " + std::to_string(s.scores[i]) +
                   " above the ceiling " + std::to_string(ceilings[i]);
    const struct {
        RankScore test;
        const char* column;
        const std::string& model;
        std::int64_t factor;
    } checks[] = {{rsCpu, "cpu_model", cpuModel, kRankOutlierCpuFactor},
                  {rsDDraw, "video_model", videoModel, kRankOutlierVideoFactor},
                  {rsD3D, "video_model", videoModel, kRankOutlierVideoFactor}};
    for (const auto& check : checks) {
        if (check.model.empty())
            continue;
        const std::string score = kRankScoreNames[check.test];
        const std::string where = std::string(" FROM entries WHERE state = 0 AND ") + check.column +
                                  " = ? AND " + score + " > 0";
        const QString model = QString::fromStdString(check.model);
        QSqlQuery& counted = c.Run("SELECT COUNT(*)" + where, {model});
        const std::int64_t n = counted.next() ? counted.value(0).toLongLong() : 0;
        counted.finish();
        if (n < kRankOutlierQuorum)
            continue;
        QSqlQuery& middle =
            c.Run("SELECT " + score + where + " ORDER BY " + score + " LIMIT ? OFFSET ?",
                  {model, n % 2 == 0 ? 2 : 1, qint64((n - 1) / 2)});
        double sum = 0;
        int values = 0;
        for (; middle.next(); ++values)
            sum += middle.value(0).toDouble();
        middle.finish();
        const double median = values > 0 ? sum / values : 0;
        if (s.scores[check.test] > check.factor * median) {
            char text[64];
            std::snprintf(text, sizeof text, "%.0f", median);
            return score + " " + std::to_string(s.scores[check.test]) + " above " +
                   std::to_string(check.factor) + " x the median " + text + " of " + check.column +
                   " \"" + check.model + "\"";
        }
    }
    return {};
}

// The new entry's row, with a fresh withdrawal token; sets the stored id and token.
void InsertEntry(RankStore::Connection& c, const RankSubmission& s, bool pending, std::int64_t now,
                 StoredEntry& stored) {
    stored.token = NewToken();
    QVariantList values{qint64(now)};
    for (std::int32_t score : s.scores)
        values << score;
    for (const auto& text : kTextColumns)
        values << QString::fromStdString(s.text.*text.field);
    values << int(pending ? EntryState::Pending : EntryState::Listed) << TokenHash(stored.token);
    QSqlQuery& insert = c.Run(kInsertEntry, values);
    if (!insert.next())
        throw std::runtime_error("database error: no id for a new entry");
    stored.id = insert.value(0).toLongLong();
    stored.pending = pending;
    insert.finish();
}

} // namespace

StoredEntry RankStore::Add(const RankSubmission& s, std::int64_t now, const PostRules& rules) {
    Connection& c = ThisThread();
    const QString digest = QString::fromStdString(Digest(s));
    const QString address = QString::fromStdString(rules.address);
    const std::array<std::int64_t, rsCount> ceilings = Ceilings(rules);
    StoredEntry stored;
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    // Two servers may take the same post at once: the loser's insert of its digest fails on
    // the key, and the retry finds the winner's entry.
    for (int attempt = 0;; ++attempt) {
        stored = {};
        c.Exec(postgres_ ? "BEGIN" : "BEGIN IMMEDIATE");
        try {
            // Posts from one address are counted one at a time, also across servers.
            if (postgres_ && rules.limit > 0)
                c.Run("SELECT pg_advisory_xact_lock(hashtext(?))", {address}).finish();
            // The models by the aliases as they are: a change of them waits for this post to
            // be stored, and this post for the change to be written.
            if (postgres_)
                c.Run("SELECT pg_advisory_xact_lock_shared(?)", {kModelsLock}).finish();
            if (FindReload(c, digest, now, stored)) {
                c.Exec("COMMIT");
                break;
            }
            if (rules.limit > 0) {
                if (const auto retry = RetryAfter(c, address, rules.limit, now)) {
                    c.Exec("COMMIT");
                    stored.retryAfter = *retry;
                    return stored;
                }
            }
            const ModelAliases aliases = ReadAliases(c);
            const QString cpuModel = QString::fromStdString(ModelOf(s.text.cpu, aliases));
            const QString videoModel = QString::fromStdString(ModelOf(s.text.video, aliases));
            const QString reason = QString::fromStdString(
                HoldReason(c, s, ceilings, cpuModel.toStdString(), videoModel.toStdString()));
            InsertEntry(c, s, !reason.isEmpty(), now, stored);
            c.Run("UPDATE entries SET cpu_model = ?, video_model = ?, hold_reason = ? WHERE id = ?",
                  {cpuModel, videoModel, reason, qint64(stored.id)})
                .finish();
            if (!c.TryRun("INSERT INTO recent_posts (digest, entry_id, posted_at) VALUES (?, ?, ?)",
                          {digest, qint64(stored.id), qint64(now)})) {
                c.Exec("ROLLBACK");
                if (attempt < 2)
                    continue;
                throw std::runtime_error("database error: the same post keeps colliding");
            }
            if (rules.limit > 0)
                c.Run("INSERT INTO post_log (address, posted_at) VALUES (?, ?)",
                      {address, qint64(now)});
            c.Exec("COMMIT");
            Changed();
            break;
        } catch (...) {
            QSqlQuery(c.Database()).exec("ROLLBACK");
            throw;
        }
    }
    if (lock.owns_lock())
        lock.unlock();
    // A reload carries the same scores as the entry it repeats. A pending entry has no rank.
    if (!stored.pending)
        stored.rank = RankOf(rsOverall, s.scores[rsOverall]);
    QSqlQuery& count = c.Run("SELECT COUNT(*) FROM entries WHERE state = 0");
    stored.total = count.next() ? count.value(0).toLongLong() : 0;
    count.finish();
    return stored;
}

RankingSlice RankStore::Ranking(RankScore order, std::int64_t offset, int limit) {
    Connection& c = ThisThread();
    const std::string column = kRankScoreNames[order];
    RankingSlice slice;
    // The count and the best score change only with an entry: taken again after this process
    // stores one, or after a moment for entries stored by other servers.
    const std::uint64_t changes = Changes();
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        Summary& known = summaries_[order];
        if (known.changes == changes &&
            std::chrono::steady_clock::now() - known.taken < kSummaryFresh) {
            slice.total = known.total;
            slice.top = known.top;
        } else {
            known.changes = ~std::uint64_t{0};
        }
    }
    if (slice.total == 0) {
        QSqlQuery& count =
            c.Run("SELECT COUNT(*), MAX(" + column + ") FROM entries WHERE state = 0");
        if (count.next()) {
            slice.total = count.value(0).toLongLong();
            slice.top = count.value(1).toInt();
        }
        count.finish();
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summaries_[order] = {changes, std::chrono::steady_clock::now(), slice.total, slice.top};
    }
    // One row before the page too: when it differs from the first, the first's rank is its place.
    const std::int64_t from = offset > 0 ? offset - 1 : 0;
    QSqlQuery& rows =
        c.Run(std::string("SELECT ") + kEntryColumns + " FROM entries WHERE state = 0 ORDER BY " +
                  column + " DESC, id LIMIT ? OFFSET ?",
              {limit + (offset > 0 ? 1 : 0), qint64(from)});
    std::optional<std::int32_t> before;
    if (offset > 0 && rows.next())
        before = rows.value(kFirstScoreColumn + order).toInt();
    while (rows.next())
        slice.rows.push_back({0, ReadEntry(rows)});
    rows.finish();
    // Competition ranking: equal scores share the rank of the first of them.
    for (std::size_t i = 0; i < slice.rows.size(); ++i) {
        const std::int32_t score = slice.rows[i].entry.scores[order];
        if (i > 0 && score == slice.rows[i - 1].entry.scores[order])
            slice.rows[i].rank = slice.rows[i - 1].rank;
        else if (i > 0 || (offset > 0 && before != score))
            slice.rows[i].rank = offset + static_cast<std::int64_t>(i) + 1;
        else
            slice.rows[i].rank = RankOf(order, score);
    }
    return slice;
}

std::optional<RankEntry> RankStore::Entry(std::int64_t id) {
    QSqlQuery& q = ThisThread().Run(std::string("SELECT ") + kEntryColumns +
                                        " FROM entries WHERE id = ? AND state = 0",
                                    {qint64(id)});
    std::optional<RankEntry> entry;
    if (q.next())
        entry = ReadEntry(q);
    q.finish();
    return entry;
}

std::int64_t RankStore::RankOf(RankScore order, std::int32_t score) {
    using namespace std::chrono_literals;
    std::lock_guard<std::mutex> lock(ordersMutex_);
    ScoreOrder& o = orders_[order];
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t changes = Changes();
    const auto age = now - o.taken;
    // The same freshness as the medians: after every change while small, at most four times a
    // second once reading them all costs more.
    const bool small = o.scores.size() < 1000;
    if (o.changes == changes ? age >= kSummaryFresh : (small || age >= 250ms)) {
        const std::string column = kRankScoreNames[order];
        QSqlQuery& q = ThisThread().Run(
            "SELECT " + column + " FROM entries WHERE state = 0 ORDER BY " + column + " DESC");
        o.scores.clear();
        while (q.next())
            o.scores.push_back(q.value(0).toInt());
        q.finish();
        o.changes = changes;
        o.taken = now;
    }
    // Best first: those before the first score not above this one beat it.
    const auto better = std::partition_point(o.scores.begin(), o.scores.end(),
                                             [score](std::int32_t s) { return s > score; });
    return static_cast<std::int64_t>(better - o.scores.begin()) + 1;
}

std::array<double, rsCount> RankStore::Medians() {
    std::lock_guard<std::mutex> lock(mediansMutex_);
    return FreshMedians().listed;
}

const RankStore::MedianSet& RankStore::FreshMedians() {
    using namespace std::chrono_literals;
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t changes = Changes();
    const auto age = now - mediansTaken_;
    // Taken again after every change while the ranking is small; once reading them costs more,
    // at most four times a second.
    const bool small = medians_.listedCount < 1000;
    if (mediansChanges_ == changes ? age < kSummaryFresh : (!small && age < 250ms))
        return medians_;
    Connection& c = ThisThread();
    // The median of `column` over the listed entries matching `where`: the middle one or two
    // of them in order.
    auto median = [&c](const std::string& column, const std::string& where, std::int64_t n) {
        if (n == 0)
            return 0.0;
        QSqlQuery& q = c.Run("SELECT " + column + " FROM entries WHERE state = 0" + where +
                                 " ORDER BY " + column + " LIMIT ? OFFSET ?",
                             {n % 2 == 0 ? 2 : 1, qint64((n - 1) / 2)});
        double sum = 0;
        int values = 0;
        while (q.next()) {
            sum += q.value(0).toDouble();
            ++values;
        }
        q.finish();
        return values > 0 ? sum / values : 0.0;
    };
    auto count = [&c](const std::string& where) {
        QSqlQuery& q = c.Run("SELECT COUNT(*) FROM entries WHERE state = 0" + where);
        const std::int64_t n = q.next() ? q.value(0).toLongLong() : 0;
        q.finish();
        return n;
    };
    MedianSet m;
    const std::int64_t listed = count("");
    m.listedCount = listed;
    for (int i = 0; i < rsCount; ++i) {
        const std::string column = kRankScoreNames[i];
        m.listed[i] = median(column, "", listed);
        m.runs[i] = count(" AND " + column + " > 0");
        m.ran[i] = median(column, " AND " + column + " > 0", m.runs[i]);
    }
    medians_ = m;
    mediansChanges_ = changes;
    mediansTaken_ = now;
    return medians_;
}

std::vector<RankEntry> RankStore::Pending() {
    QSqlQuery& q = ThisThread().Run(std::string("SELECT ") + kEntryColumns +
                                    ", hold_reason FROM entries WHERE state = 1 ORDER BY id");
    std::vector<RankEntry> entries;
    while (q.next()) {
        entries.push_back(ReadEntry(q));
        entries.back().holdReason =
            q.value(kFirstScoreColumn + rsCount + std::size(kTextColumns) + 2)
                .toString()
                .toStdString();
    }
    q.finish();
    return entries;
}

bool RankStore::SetState(std::int64_t id, EntryState state) {
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    const qint64 hiddenAt = state == EntryState::Hidden ? std::time(nullptr) : 0;
    QSqlQuery& q = ThisThread().Run("UPDATE entries SET state = ?, hidden_at = ? WHERE id = ?",
                                    {int(state), hiddenAt, qint64(id)});
    const bool changed = q.numRowsAffected() > 0;
    q.finish();
    Changed();
    return changed;
}

bool RankStore::Delete(std::int64_t id) {
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    Connection& c = ThisThread();
    c.Exec("BEGIN");
    try {
        c.Run("DELETE FROM recent_posts WHERE entry_id = ?", {qint64(id)}).finish();
        // One that was public stays in the open data's list of removed entries.
        c.Run("INSERT INTO deleted_entries (id, deleted_at) SELECT id, ? FROM entries "
              "WHERE id = ? AND state <> 1",
              {qint64(std::time(nullptr)), qint64(id)})
            .finish();
        QSqlQuery& q = c.Run("DELETE FROM entries WHERE id = ?", {qint64(id)});
        const bool deleted = q.numRowsAffected() > 0;
        q.finish();
        c.Exec("COMMIT");
        Changed();
        return deleted;
    } catch (...) {
        QSqlQuery(c.Database()).exec("ROLLBACK");
        throw;
    }
}

bool RankStore::WithdrawalValid(std::int64_t id, const std::string& token) {
    QSqlQuery& q = ThisThread().Run(
        "SELECT COUNT(*) FROM entries WHERE id = ? AND withdraw_hash = ? AND state <> 2",
        {qint64(id), TokenHash(token)});
    const bool valid = q.next() && q.value(0).toLongLong() > 0;
    q.finish();
    return valid;
}

bool RankStore::Withdraw(std::int64_t id, const std::string& token) {
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    QSqlQuery& q = ThisThread().Run(
        "UPDATE entries SET state = 2, hidden_at = ? WHERE id = ? AND withdraw_hash = ? AND "
        "state <> 2",
        {qint64(std::time(nullptr)), qint64(id), TokenHash(token)});
    const bool withdrawn = q.numRowsAffected() > 0;
    q.finish();
    if (withdrawn)
        Changed();
    return withdrawn;
}

std::vector<RankEntry> RankStore::EntriesOfModel(bool video, const std::string& model, int limit) {
    QSqlQuery& q =
        ThisThread().Run(std::string("SELECT ") + kEntryColumns + " FROM entries WHERE " +
                             (video ? "video_model" : "cpu_model") +
                             " = ? AND state = 0 ORDER BY overall DESC, id LIMIT ?",
                         {QString::fromStdString(model), limit});
    std::vector<RankEntry> entries;
    while (q.next())
        entries.push_back(ReadEntry(q));
    q.finish();
    return entries;
}

ModelAliases RankStore::Aliases() {
    ModelAliases aliases;
    Select("SELECT alias, model FROM model_aliases", {}, [&aliases](const QSqlQuery& q) {
        aliases[q.value(0).toString().toStdString()] = q.value(1).toString().toStdString();
    });
    return aliases;
}

bool RankStore::SetAlias(const std::string& from, const std::string& to) {
    const std::string alias = CanonicalModel(from);
    if (alias.empty())
        return false;
    const std::string model = CanonicalModel(to);
    RewriteModels([&](Connection& c) {
        c.Run("DELETE FROM model_aliases WHERE alias = ?", {QString::fromStdString(alias)})
            .finish();
        if (!model.empty() && model != alias)
            c.Run("INSERT INTO model_aliases (alias, model) VALUES (?, ?)",
                  {QString::fromStdString(alias), QString::fromStdString(model)})
                .finish();
    });
    return true;
}

std::int64_t RankStore::RecomputeModels() {
    return RewriteModels({});
}

std::int64_t RankStore::RewriteModels(const std::function<void(Connection&)>& first) {
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    Connection& c = ThisThread();
    // One transaction that posts wait for (SQLite: the one writer; PostgreSQL: the models'
    // lock), so no post stores models by aliases this change replaces.
    c.Exec(postgres_ ? "BEGIN" : "BEGIN IMMEDIATE");
    std::size_t changes = 0;
    try {
        if (postgres_)
            c.Run("SELECT pg_advisory_xact_lock(?)", {kModelsLock}).finish();
        if (first)
            first(c);
        const ModelAliases aliases = ReadAliases(c);
        struct Models {
            std::int64_t id;
            QString cpu, video;
        };
        std::vector<Models> changed;
        QSqlQuery& q = c.Run("SELECT id, machine_cpu, video, cpu_model, video_model FROM entries");
        while (q.next()) {
            const QString cpu =
                QString::fromStdString(ModelOf(q.value(1).toString().toStdString(), aliases));
            const QString video =
                QString::fromStdString(ModelOf(q.value(2).toString().toStdString(), aliases));
            if (cpu != q.value(3).toString() || video != q.value(4).toString())
                changed.push_back({q.value(0).toLongLong(), cpu, video});
        }
        q.finish();
        for (const Models& m : changed)
            c.Run("UPDATE entries SET cpu_model = ?, video_model = ? WHERE id = ?",
                  {m.cpu, m.video, qint64(m.id)})
                .finish();
        c.Run("DELETE FROM model_rules").finish();
        c.Run("INSERT INTO model_rules (version) VALUES (?)", {kModelRulesVersion}).finish();
        c.Exec("COMMIT");
        changes = changed.size();
    } catch (...) {
        QSqlQuery(c.Database()).exec("ROLLBACK");
        throw;
    }
    Changed();
    return static_cast<std::int64_t>(changes);
}

void RankStore::Select(const std::string& sql, const QVariantList& values,
                       const std::function<void(const QSqlQuery&)>& row) {
    QSqlQuery& q = ThisThread().Run(sql, values);
    try {
        while (q.next())
            row(q);
    } catch (...) {
        q.finish();
        throw;
    }
    q.finish();
}
