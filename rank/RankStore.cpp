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
#include <atomic>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

std::atomic<std::uint64_t> nextSerial{1};
std::atomic<std::uint64_t> nextConnection{1};

bool IsPostgresAddress(const std::string& address) {
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

const char* kEntryColumns = "id, created_at, overall, cpu, gdi, ddraw, d3d, disk, name, "
                            "machine_cpu, video, memory, hdd, comment";

RankEntry ReadEntry(const QSqlQuery& q) {
    RankEntry e;
    e.id = q.value(0).toLongLong();
    e.createdAt = q.value(1).toLongLong();
    for (int i = 0; i < rsCount; ++i)
        e.scores[i] = q.value(2 + i).toInt();
    auto text = [&q](int column) { return q.value(column).toString().toStdString(); };
    e.text = {text(8), text(9), text(10), text(11), text(12), text(13)};
    return e;
}

std::string Digest(const RankSubmission& s) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (std::int32_t score : s.scores)
        hash.addData(QByteArray::number(score) + '\x1f');
    for (const std::string* t :
         {&s.text.name, &s.text.cpu, &s.text.video, &s.text.memory, &s.text.hdd, &s.text.comment})
        hash.addData(QByteArray::fromStdString(*t) + '\x1f');
    return hash.result().toHex().toStdString();
}

} // namespace

// One thread's connection and its prepared statements.
class RankStore::Connection {
public:
    Connection(const std::string& address, bool postgres)
        : name_(QString("zelka-rank-%1").arg(nextConnection++)) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(postgres ? "QPSQL" : "QSQLITE", name_);
            if (postgres) {
                const QUrl url(QString::fromStdString(address));
                db.setHostName(url.host());
                if (url.port() > 0)
                    db.setPort(url.port());
                db.setUserName(url.userName());
                db.setPassword(url.password());
                const QString path = url.path().mid(1);
                db.setDatabaseName(path.isEmpty() ? url.userName() : path);
                QStringList options;
                for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
                    options << key + "=" + value;
                db.setConnectOptions(options.join(';'));
            } else {
                db.setDatabaseName(QString::fromStdString(address));
                db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
            }
            if (!db.open())
                throw std::runtime_error("cannot open the database: " +
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

    [[noreturn]] static void Fail(const QSqlQuery& q, const std::string& sql) {
        throw std::runtime_error("database error in \"" + sql +
                                 "\": " + q.lastError().text().toStdString());
    }

private:
    QString name_;
    std::map<std::string, std::unique_ptr<QSqlQuery>> queries_;
};

RankStore::RankStore(std::string address)
    : address_(std::move(address)), postgres_(IsPostgresAddress(address_)), serial_(nextSerial++) {
    if (!postgres_) {
        const QFileInfo file(QString::fromStdString(address_));
        QDir().mkpath(file.absolutePath());
    }
    Connection& c = ThisThread();
    const char* id =
        postgres_ ? "id BIGSERIAL PRIMARY KEY" : "id INTEGER PRIMARY KEY AUTOINCREMENT";
    c.Exec(std::string("CREATE TABLE IF NOT EXISTS entries (") + id +
           ", created_at BIGINT NOT NULL, overall INTEGER NOT NULL, cpu INTEGER NOT NULL, "
           "gdi INTEGER NOT NULL, ddraw INTEGER NOT NULL, d3d INTEGER NOT NULL, "
           "disk INTEGER NOT NULL, name TEXT NOT NULL, machine_cpu TEXT NOT NULL, "
           "video TEXT NOT NULL, memory TEXT NOT NULL, hdd TEXT NOT NULL, comment TEXT NOT NULL)");
    for (const char* column : kRankScoreNames)
        c.Exec(std::string("CREATE INDEX IF NOT EXISTS entries_by_") + column + " ON entries (" +
               column + " DESC, id)");
    c.Exec("CREATE TABLE IF NOT EXISTS recent_posts (digest TEXT PRIMARY KEY, "
           "entry_id BIGINT NOT NULL, posted_at BIGINT NOT NULL)");
    c.Exec("CREATE INDEX IF NOT EXISTS recent_posts_by_time ON recent_posts (posted_at)");
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
    // Destroyed when the thread ends, in that thread, as Qt SQL wants.
    thread_local std::map<std::uint64_t, std::unique_ptr<Connection>> connections;
    auto& slot = connections[serial_];
    if (!slot)
        slot = std::make_unique<Connection>(address_, postgres_);
    return *slot;
}

StoredEntry RankStore::Add(const RankSubmission& s, std::int64_t now) {
    Connection& c = ThisThread();
    const QString digest = QString::fromStdString(Digest(s));
    StoredEntry stored;
    std::unique_lock<std::mutex> lock(sqliteWrites_, std::defer_lock);
    if (!postgres_)
        lock.lock();
    // Two servers may take the same post at once: the loser's insert of its digest fails on
    // the key, and the retry finds the winner's entry.
    for (int attempt = 0;; ++attempt) {
        c.Exec(postgres_ ? "BEGIN" : "BEGIN IMMEDIATE");
        try {
            c.Run("DELETE FROM recent_posts WHERE posted_at < ?",
                  {qint64(now - kRankReloadWindow)});
            QSqlQuery& seen = c.Run("SELECT entry_id FROM recent_posts WHERE digest = ?", {digest});
            if (seen.next()) {
                stored = {seen.value(0).toLongLong(), true, 0, 0};
                seen.finish();
                c.Exec("COMMIT");
                break;
            }
            seen.finish();
            QSqlQuery& insert =
                c.Run("INSERT INTO entries (created_at, overall, cpu, gdi, ddraw, d3d, disk, name, "
                      "machine_cpu, video, memory, hdd, comment) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
                      {qint64(now), s.scores[0], s.scores[1], s.scores[2], s.scores[3], s.scores[4],
                       s.scores[5], QString::fromStdString(s.text.name),
                       QString::fromStdString(s.text.cpu), QString::fromStdString(s.text.video),
                       QString::fromStdString(s.text.memory), QString::fromStdString(s.text.hdd),
                       QString::fromStdString(s.text.comment)});
            if (!insert.next())
                throw std::runtime_error("database error: no id for a new entry");
            stored = {insert.value(0).toLongLong(), false, 0, 0};
            insert.finish();
            if (!c.TryRun("INSERT INTO recent_posts (digest, entry_id, posted_at) VALUES (?, ?, ?)",
                          {digest, qint64(stored.id), qint64(now)})) {
                c.Exec("ROLLBACK");
                if (attempt < 2)
                    continue;
                throw std::runtime_error("database error: the same post keeps colliding");
            }
            c.Exec("COMMIT");
            changes_.fetch_add(1, std::memory_order_release);
            break;
        } catch (...) {
            QSqlQuery(c.Database()).exec("ROLLBACK");
            throw;
        }
    }
    if (lock.owns_lock())
        lock.unlock();
    // A reload carries the same scores as the entry it repeats.
    stored.rank = RankOf(rsOverall, s.scores[rsOverall]);
    QSqlQuery& count = c.Run("SELECT COUNT(*) FROM entries");
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
        QSqlQuery& count = c.Run("SELECT COUNT(*), MAX(" + column + ") FROM entries");
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
    QSqlQuery& rows = c.Run(std::string("SELECT ") + kEntryColumns + " FROM entries ORDER BY " +
                                column + " DESC, id LIMIT ? OFFSET ?",
                            {limit + (offset > 0 ? 1 : 0), qint64(from)});
    std::optional<std::int32_t> before;
    if (offset > 0 && rows.next())
        before = rows.value(2 + order).toInt();
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
    QSqlQuery& q = ThisThread().Run(
        std::string("SELECT ") + kEntryColumns + " FROM entries WHERE id = ?", {qint64(id)});
    std::optional<RankEntry> entry;
    if (q.next())
        entry = ReadEntry(q);
    q.finish();
    return entry;
}

std::int64_t RankStore::RankOf(RankScore order, std::int32_t score) {
    const std::string column = kRankScoreNames[order];
    QSqlQuery& q =
        ThisThread().Run("SELECT COUNT(*) FROM entries WHERE " + column + " > ?", {score});
    const std::int64_t better = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return better + 1;
}

std::array<double, rsCount> RankStore::Medians() {
    Connection& c = ThisThread();
    std::array<double, rsCount> medians{};
    QSqlQuery& count = c.Run("SELECT COUNT(*) FROM entries");
    const std::int64_t n = count.next() ? count.value(0).toLongLong() : 0;
    count.finish();
    if (n == 0)
        return medians;
    for (int i = 0; i < rsCount; ++i) {
        const std::string column = kRankScoreNames[i];
        QSqlQuery& q =
            c.Run("SELECT " + column + " FROM entries ORDER BY " + column + " LIMIT ? OFFSET ?",
                  {n % 2 == 0 ? 2 : 1, qint64((n - 1) / 2)});
        double sum = 0;
        int values = 0;
        while (q.next()) {
            sum += q.value(0).toDouble();
            ++values;
        }
        q.finish();
        medians[i] = values > 0 ? sum / values : 0;
    }
    return medians;
}
