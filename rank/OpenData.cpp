#include "OpenData.h"

#include "ModelPages.h"
#include "RankPages.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace {

// Pieces go out in blocks of about this size.
constexpr std::size_t kBlock = 64 * 1024;

const std::string kColumns = [] {
    std::string columns = "id, created_at, name, machine_cpu, video, memory, hdd, comment, "
                          "cpu_model, video_model";
    for (const char* score : kRankScoreNames)
        columns += std::string(", ") + score;
    return columns;
}();

class Blocks {
public:
    explicit Blocks(const DataSink& out) : out_(out) {}
    ~Blocks() = default;
    void Add(std::string_view piece) {
        buffer_ += piece;
        if (buffer_.size() >= kBlock)
            Flush();
    }
    void Flush() {
        if (!buffer_.empty())
            out_(buffer_);
        buffer_.clear();
    }

private:
    const DataSink& out_;
    std::string buffer_;
};

} // namespace

void WriteEntriesJsonl(RankStore& store, const DataSink& out) {
    Blocks blocks(out);
    RankEntry e;
    store.Select("SELECT " + kColumns + " FROM entries WHERE state = 0 ORDER BY id", {},
                 [&](const QSqlQuery& q) {
                     e.id = q.value(0).toLongLong();
                     e.createdAt = q.value(1).toLongLong();
                     std::string* texts[] = {&e.text.name,   &e.text.cpu,  &e.text.video,
                                             &e.text.memory, &e.text.hdd,  &e.text.comment,
                                             &e.cpuModel,    &e.videoModel};
                     int column = 2;
                     for (std::string* text : texts)
                         *text = q.value(column++).toString().toStdString();
                     for (int i = 0; i < rsCount; ++i)
                         e.scores[i] = q.value(column++).toInt();
                     blocks.Add("{");
                     blocks.Add(EntryFieldsJson(e));
                     blocks.Add("}\n");
                 });
    blocks.Flush();
}

void WriteWithdrawnJson(RankStore& store, const DataSink& out) {
    Blocks blocks(out);
    blocks.Add("{\"withdrawn\":[");
    bool first = true;
    store.Select("SELECT id, hidden_at FROM entries WHERE state = 2 UNION ALL SELECT id, "
                 "deleted_at FROM deleted_entries ORDER BY 1",
                 {}, [&](const QSqlQuery& q) {
                     const std::int64_t at = q.value(1).toLongLong();
                     std::string line(first ? "\n{\"id\":" : ",\n{\"id\":");
                     line += std::to_string(q.value(0).toLongLong());
                     line += ",\"date\":";
                     line += at > 0 ? std::string("\"").append(UtcTime(at)).append("\"")
                                    : std::string("null");
                     blocks.Add(line + "}");
                     first = false;
                 });
    blocks.Add("]}\n");
    blocks.Flush();
}

const std::string& OpenDataReadme() {
    static const std::string text =
        "ゼルカ ranking: open data\n"
        "\n"
        "License: CC0-1.0 (https://creativecommons.org/publicdomain/zero/1.0/).\n"
        "The entries are dedicated to the public domain: copy, change and publish them\n"
        "without asking.\n"
        "\n"
        "/data/entries.jsonl\n"
        "  Every listed entry, oldest first, one JSON object a line (UTF-8):\n"
        "  id, date (UTC, ISO 8601), name, cpu, video, memory, hdd, comment (as the user\n"
        "  sent them), cpu_model and video_model (the canonical models the ranking groups\n"
        "  them by; empty where the text names no model) and scores (overall, cpu, gdi,\n"
        "  ddraw, d3d, disk).\n"
        "\n"
        "/data/withdrawn.json\n"
        "  {\"withdrawn\":[{\"id\":N,\"date\":\"...\"},...]}: entries withdrawn by their\n"
        "  sender, taken down or deleted by the operator, with the time they left the\n"
        "  ranking (null where it is not known). Drop them from any copy.\n"
        "\n"
        "Both carry ETag and Last-Modified: ask with If-None-Match (or If-Modified-Since)\n"
        "and an unchanged file costs a 304. Entries waiting for review, addresses and\n"
        "withdrawal tokens are never in them.\n";
    return text;
}

std::string HttpDate(std::int64_t seconds) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday],
                  tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

OpenDataFiles::File OpenDataFiles::Current(DataFile which) {
    using namespace std::chrono_literals;
    std::unique_lock<std::mutex> lock(mutex_);
    Kept& kept = kept_[static_cast<int>(which)];
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t changes = store_.Changes();
    for (;;) {
        // A large file is written at most every 10 s, however often the entries change.
        const bool small = kept.entries < 1000;
        if (!kept.file.path.empty() &&
            (kept.changes == changes ? now - kept.written < 2s
                                     : !small && now - kept.written < 10s))
            return kept.file;
        if (!kept.writing)
            break;
        // Another thread writes it: the file before serves meanwhile, where there is one.
        if (!kept.file.path.empty() && !small)
            return kept.file;
        written_.wait(lock);
    }
    kept.writing = true;
    lock.unlock();
    File file;
    std::int64_t lines = 0;
    try {
        file = Write(which, lines);
    } catch (...) {
        lock.lock();
        kept.writing = false;
        written_.notify_all();
        throw;
    }
    lock.lock();
    file.modified = file.etag == kept.file.etag ? kept.file.modified : std::time(nullptr);
    kept.file = file;
    kept.changes = changes;
    kept.written = now;
    kept.entries = lines;
    kept.writing = false;
    written_.notify_all();
    return kept.file;
}

OpenDataFiles::File OpenDataFiles::Write(DataFile which, std::int64_t& lines) {
    if (!dir_.isValid())
        throw std::runtime_error("no folder for the open data files");
    const std::string name = which == DataFile::Entries ? "entries.jsonl" : "withdrawn.json";
    const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
    const std::string part = path + ".part";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(part.c_str(), "wbe"),
                                                         std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + part);
    QCryptographicHash digest(QCryptographicHash::Sha256);
    std::int64_t size = 0;
    lines = 0;
    const DataSink sink = [&](std::string_view piece) {
        if (std::fwrite(piece.data(), 1, piece.size(), file.get()) != piece.size())
            throw std::runtime_error("cannot write " + part);
        digest.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
        size += static_cast<std::int64_t>(piece.size());
        for (const char c : piece)
            lines += c == '\n';
    };
    if (which == DataFile::Entries)
        WriteEntriesJsonl(store_, sink);
    else
        WriteWithdrawnJson(store_, sink);
    if (std::fclose(file.release()) != 0 || std::rename(part.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
    std::string etag("\"");
    etag.append(digest.result().toHex().left(32).toStdString()).append("\"");
    return {path, etag, 0, size};
}
