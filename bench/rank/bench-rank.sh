#!/usr/bin/env bash
# The ranking service under wrk on loopback, once with SQLite and once with PostgreSQL (a
# server started here in a temporary folder): submissions per second into an empty ranking,
# then ranking-page requests per second with 10,000 entries stored: the first page (served
# from the page cache after the first request), a JSON page, and random pages of every order
# (nearly all read from the database), entry pages at random (with their percentiles), model
# pages of a few hundred models, comparisons of 2 to 4 entries and the statistics page. Then,
# with SQLite, the open data of 10,000 and 100,000 entries: its time and the service's peak
# memory. The anchor is the same server answering a page that needs no database (the 404
# page) in the same run. wrk is one client address with 16 connections, so the service runs
# with --per-address 16 and, to take thousands of posts from it, --post-limit 0.
# Then, with SQLite and the service's defaults, hostile clients: the p99 latency of GET / for a
# visitor while 200 slow-head and 200 idle keep-alive sockets are open from other addresses,
# and the service's peak resident memory while 16 clients send compressed and chunked bodies.
#   bench/rank/bench-rank.sh BUILD_DIR      (RANK_BENCH_SECONDS=N per measurement, default 5)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
seconds=${RANK_BENCH_SECONDS:-5}
connections=16 # the service's workers
work=$(mktemp -d)
service_pid=
pg_bin=
as_owner=()

cleanup() {
  [[ -n "$service_pid" ]] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  [[ -n "$pg_bin" ]] && "${as_owner[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m fast stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# Requests per second of one wrk run; fails on any answer other than 2xx.
measure() {
  local out
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" "$@")
  if grep -q "Non-2xx" <<<"$out"; then
    echo "bench-rank: refused requests in: wrk $*" >&2
    echo "$out" >&2
    exit 1
  fi
  awk '/^Requests\/sec:/ {printf "%d", $2}' <<<"$out"
}

anchor() {
  wrk -t2 -c"$connections" -d"${seconds}s" "$1/no-such-page" | awk '/^Requests\/sec:/ {printf "%d", $2}'
}

start() {
  local name=$1 db=$2
  shift 2
  "$build/rank/zelka-rank" --listen 127.0.0.1:0 --db "$db" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  service_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/$name.out" && break; sleep 0.1; done
  url=$(sed -n 's/^listening on //p' "$work/$name.out")
  [[ -n "$url" ]] || { cat "$work/$name.err" >&2; exit 1; }
}

stop() {
  kill "$service_pid"
  wait "$service_pid" || true
  service_pid=
}

run() {
  local name=$1 db=$2
  start "$name" "$db" --post-limit 0 --per-address "$connections"
  echo "rank_${name}_anchor_404_requests_per_s: $(anchor "$url")"
  echo "rank_${name}_submissions_per_s: $(measure -s "$here/post.lua" "$url/")"
  echo "rank_${name}_entries: $("$build/bench/rank/zelka-rank-fill" "$db" 10000)"
  echo "rank_${name}_page_requests_per_s: $(measure "$url/")"
  echo "rank_${name}_page_json_requests_per_s: $(measure "$url/ranking.json?sort=cpu&page=7")"
  echo "rank_${name}_page_uncached_requests_per_s: $(measure -s "$here/pages.lua" "$url/")"
  echo "rank_${name}_entry_requests_per_s: $(measure -s "$here/entry.lua" "$url/")"
  echo "rank_${name}_model_requests_per_s: $(measure -s "$here/model.lua" "$url/")"
  echo "rank_${name}_compare_requests_per_s: $(measure -s "$here/compare.lua" "$url/")"
  echo "rank_${name}_stats_requests_per_s: $(measure "$url/stats")"
  stop
}

# The open data of 10,000 and of 100,000 entries (the 10,000 copied ten times over in SQLite),
# each by a fresh service: the first request's time (writing the file) and the service's peak
# resident memory after it, which stays flat while the count grows tenfold.
dump() {
  local db=$1 count
  for count in 10000 100000; do
    if [[ $count -eq 100000 ]]; then
      sqlite3 "$db" "INSERT INTO entries (created_at, overall, cpu, gdi, ddraw, d3d, disk, name,
        machine_cpu, video, memory, hdd, comment, cpu_model, video_model, state)
        SELECT created_at, overall, cpu, gdi, ddraw, d3d, disk, name || '/' || n.k, machine_cpu,
        video, memory, hdd, comment, cpu_model, video_model, state FROM entries,
        (WITH RECURSIVE k(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM k WHERE k < 9)
         SELECT k FROM k) AS n WHERE entries.id <= 10000"
    fi
    start dump "$db" --per-address "$connections"
    local started=$(date +%s.%N)
    curl -sf -o "$work/entries.jsonl" "$url/data/entries.jsonl"
    local ended=$(date +%s.%N)
    echo "rank_sqlite_dump_${count}_lines: $(wc -l <"$work/entries.jsonl")"
    echo "rank_sqlite_dump_${count}_ms: $(awk -v a="$started" -v b="$ended" 'BEGIN {printf "%d", (b - a) * 1000}')"
    echo "rank_sqlite_dump_${count}_peak_mb: $(awk '/VmHWM/ {printf "%d", $2 / 1024}' "/proc/$service_pid/status")"
    echo "rank_sqlite_dump_${count}_again_requests_per_s: $(measure "$url/data/entries.jsonl" -H "If-None-Match: $(curl -sfI "$url/data/entries.jsonl" | awk -F': ' 'tolower($1) == "etag" {print $2}' | tr -d '\r')")"
    stop
  done
}

hostile() {
  local db=$1 port
  start slow "$db"
  port=${url##*:}
  echo "rank.get_p99_ms_under_slow_clients: $("$build/bench/rank/zelka-rank-hostile" slow "$port" "$seconds")"
  stop
  start bombs "$db"
  port=${url##*:}
  echo "rank.peak_mb_under_body_bombs: $("$build/bench/rank/zelka-rank-hostile" bombs "$port" "$seconds" "$service_pid")"
  stop
}

run sqlite "$work/ranking.sqlite"
hostile "$work/ranking.sqlite"
dump "$work/ranking.sqlite"

# PostgreSQL refuses to run as root: as root the cluster belongs to the postgres user.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
mkdir -p "$work/pg"
if [[ $(id -u) -eq 0 ]]; then
  chown postgres "$work/pg"
  chmod 755 "$work"
  as_owner=(runuser -u postgres --)
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null || echo 54329)
"${as_owner[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U zelka -A trust -E UTF8 --no-locale >/dev/null
# Commits are not flushed one by one, as with SQLite's write-ahead log at synchronous=NORMAL.
"${as_owner[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
  -o "-c listen_addresses=127.0.0.1 -p $port -c unix_socket_directories=$work/pg -c synchronous_commit=off" \
  start >/dev/null
run postgresql "postgresql://zelka@127.0.0.1:$port/postgres"
