#!/usr/bin/env bash
# The ranking server under load, on SQLite and on PostgreSQL (a temporary
# server started here): durable entries per second with 64 concurrent
# clients, with commits grouped and with one commit per entry, from an empty
# database and with full boards (a million entries), beside Redis doing the
# same entry durably (appendfsync always) as one Lua script; the ranking
# page over a million stored entries, and the page again while 64 clients
# send entries. Prints figures; passes or fails nothing.
#
#   bench/ranking_server.sh BUILD_DIR [SECONDS]
#
# TOVRIKA_BENCH_ONLY=page measures the pages alone (no Redis, no entry
# rates of their own); TOVRIKA_BENCH_BACKENDS="sqlite" or "postgresql" one
# database alone.
#
# Needs wrk, redis-server and redis-tools (redis-benchmark); nginx and
# PostgreSQL when there, their rows left out otherwise; python3 for a free port.
set -euo pipefail
build=$(realpath "${1:?usage: ranking_server.sh BUILD_DIR [SECONDS]}")
seconds=${2:-20}
here=$(realpath "$(dirname "$0")")
server=$build/server/tovrika-ranking
seed=$build/bench/bench_ranking_seed
port=38650
work=$(mktemp -d "${TMPDIR:-/tmp}/tovrika-bench.XXXXXX")
pids=()
server_pid=
cleanup() {
    # A run cut short leaves its server behind otherwise.
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
command -v redis-server >/dev/null && command -v redis-benchmark >/dev/null ||
    { echo "Redis is not installed (apt-get install redis-server redis-tools)" >&2; exit 1; }

start_server() {
    # wrk's clients all come from one address.
    "$server" --listen 127.0.0.1:$port --rate 0 --max-connections 1024 --max-per-address 1024 "$@" >/dev/null 2>"$work/server.err" &
    server_pid=$!
    # A million entries take seconds to fold at start on a busy machine.
    for _ in $(seq 1200); do
        grep -q 'listening on' "$work/server.err" && return 0
        sleep 0.05
    done
    echo "the server did not start: $(cat "$work/server.err")" >&2
    exit 1
}
stop_server() {
    kill -TERM "$server_pid"
    wait "$server_pid" || true
    server_pid=
}

# wrk's summary as: requests/s, p50, p99, errors.
measure() {
    local out
    out=$(wrk "$@" --latency 2>&1)
    local rate p50 p99 errors
    rate=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
    p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    errors=$(awk '/Non-2xx/ {print $5} /Socket errors/ {print}' <<<"$out" | tr '\n' ' ')
    printf '%-12s %-22s %10s %10s %10s  %s\n' "$backend" "$what" "$rate" "$p50" "$p99" "${errors:-none}"
}

# nginx serving the same bytes from files, and a fixed "OK" on the entry
# path: the yardstick of what this machine gives a static page.
nginx_port=38653
start_nginx() {
    local dir=$work/nginx
    mkdir -p "$dir/www"
    chmod 755 "$work" "$dir" "$dir/www"
    cat >"$dir/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $dir/www;
        # A compressed copy beside each file, as the server keeps one beside its page.
        gzip_static on;
        default_type "text/html; charset=utf-8";
        location = /cgi-bin/tovrika/tovrentry.cgi { default_type "text/plain; charset=utf-8"; return 200 "OK"; }
    }
}
CONF
    nginx -p "$dir/" -e "$dir/error.log" -c "$dir/nginx.conf" &
    pids+=($!)
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$nginx_port/cgi-bin/tovrika/tovrentry.cgi" && return 0
        sleep 0.05
    done
    echo "nginx did not start: $(cat "$dir/error.log")" >&2
    return 1
}
# ratio WHAT OURS THEIRS [YARDSTICK]: both rates and their quotient.
ratio() {
    printf '%-12s %-22s %10s of %s %s = %s\n' "$backend" "$1" "$2" "${4:-nginx}" "$3" \
        "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')"
}
rate_of() { cut -c37-46 <<<"$1" | tr -d ' '; }

postgres_url=
start_postgres() {
    local bin
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -x "$bin/initdb" ] || return 1
    local as=()
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$work"
        as=(setpriv --reuid=postgres --regid=postgres --init-groups --)
    fi
    "${as[@]}" "$bin/initdb" -D "$work/pg" -U tovrika --auth=trust -E UTF8 >/dev/null
    mkdir -p "$work/pgsock"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$work/pgsock"
    "${as[@]}" "$bin/postgres" -D "$work/pg" -p 38651 -k "$work/pgsock" -c listen_addresses=127.0.0.1 \
        -c max_connections=50 >"$work/pg.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        "$bin/pg_isready" -h 127.0.0.1 -p 38651 -q && break
        sleep 0.1
    done
    pg_bin=$bin
    postgres_url=postgresql://tovrika@127.0.0.1:38651
}
new_database() {
    # new_database NAME: prints the --database URL of a fresh database.
    if [ "$backend" = sqlite ]; then
        echo "sqlite:$work/$1.sqlite"
    else
        "$pg_bin/createdb" -h 127.0.0.1 -p 38651 -U tovrika "$1"
        echo "$postgres_url/$1"
    fi
}

# Redis on loopback, every write synced before its answer, in a folder of its own.
redis_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_redis() {
    mkdir -p "$work/redis"
    redis-server --port "$redis_port" --bind 127.0.0.1 --dir "$work/redis" --appendonly yes \
        --appendfsync always --save "" --daemonize no >"$work/redis.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        redis-cli -p "$redis_port" ping 2>/dev/null | grep -q PONG && return 0
        sleep 0.05
    done
    echo "redis-server did not start: $(cat "$work/redis.log")" >&2
    exit 1
}
# The entry as one script, 64 clients, about SECONDS long at this machine's rate.
measure_redis() {
    local requests=$1 line
    line=$(redis-benchmark -p "$redis_port" -c 64 -n "$requests" -r 1000000 --csv \
        eval "$(grep -v '^--' "$here/server/redis_entry.lua")" 0 uid:__rand_int__ __rand_int__ 2>&1 | tr '\r' '\n' | grep '","' | tail -n 1)
    # CSV: test, rps, avg, min, p50, p95, p99, max (in ms).
    awk -F'","' -v what="$what" '{ printf "%-12s %-22s %10s %10s %10s  none\n", "redis", what, \
        $(NF - 6), $(NF - 3) "ms", $(NF - 1) "ms" }' <<<"$line"
}

echo "CPU: $(nproc) cores; $seconds s per run; 64 connections for entries, 8 and 16 for the page, 4 for the page beside 64 sending entries"
printf '%-12s %-22s %10s %10s %10s  %s\n' backend measurement "req/s" p50 p99 errors
nginx_ready=
if command -v nginx >/dev/null && start_nginx; then nginx_ready=1; else echo "(no nginx: its rows are left out)"; fi
only=${TOVRIKA_BENCH_ONLY:-}
if [ "$only" != page ]; then
start_redis
backend=redis
what="entry script, empty"
redis_empty=$(measure_redis $((seconds * 5000)))
echo "$redis_empty"
what="entry script, full"
redis_full=$(measure_redis $((seconds * 5000)))
echo "$redis_full"
fi
read -ra backends <<<"${TOVRIKA_BENCH_BACKENDS:-sqlite postgresql}"
if [[ " ${backends[*]} " == *" postgresql "* ]] && ! start_postgres; then
    echo "(no PostgreSQL: its rows are left out)"
    kept=()
    for backend in "${backends[@]}"; do [ "$backend" = postgresql ] || kept+=("$backend"); done
    backends=("${kept[@]}")
fi
for backend in "${backends[@]}"; do
    for commits in grouped each; do
        [ "$only" != page ] || break
        database=$(new_database "entries_$commits")
        extra=()
        [ $commits = grouped ] || extra=(--commit-each)
        start_server --database "$database" "${extra[@]}"
        what="entries, commit $commits"
        ours=$(measure -t2 -c64 -d"${seconds}s" -s "$here/server/entries.lua" "http://127.0.0.1:$port")
        echo "$ours"
        stop_server
        [ $commits = each ] || ratio "entries / redis" "$(rate_of "$ours")" "$(rate_of "$redis_empty")" redis
        if [ $commits = grouped ] && [ -n "$nginx_ready" ]; then
            what="nginx, fixed OK"
            theirs=$(measure -t2 -c64 -d"${seconds}s" -s "$here/server/entries.lua" "http://127.0.0.1:$nginx_port")
            echo "$theirs"
            ratio "entries / nginx" "$(rate_of "$ours")" "$(rate_of "$theirs")"
        fi
    done
    database=$(new_database page)
    # The start over a million entries: the whole fold, then from the snapshot it leaves.
    snapshot=$work/$backend.boards
    "$seed" "$database" 1000000 "$snapshot" | sed "s/^/$backend: /"
    "$seed" --start "$database" "$snapshot" | sed "s/^/$backend: /"
    start_server --database "$database" --snapshot "$snapshot"
    # A visitor in the middle of the boards: the page shows the first 100 and the visitor's row.
    for clients in 8 16; do
        what="page, 1M, $clients clients"
        measure -t2 -c$clients -d"${seconds}s" "http://127.0.0.1:$port/wuppet/wpbrand/tovrika/?id=500000"
    done
    # Beside nginx serving the very same bytes from a file, with and without a visitor.
    if [ -n "$nginx_ready" ]; then
        curl -s -o "$work/nginx/www/plain.html" "http://127.0.0.1:$port/wuppet/wpbrand/tovrika/"
        curl -s -o "$work/nginx/www/visitor.html" "http://127.0.0.1:$port/wuppet/wpbrand/tovrika/?id=500000"
        chmod 644 "$work"/nginx/www/*.html
        for kind in plain visitor; do
            query=
            [ $kind = plain ] || query='?id=500000'
            what="page $kind, 8 clients"
            ours=$(measure -t2 -c8 -d"${seconds}s" "http://127.0.0.1:$port/wuppet/wpbrand/tovrika/$query")
            echo "$ours"
            what="nginx, same file"
            theirs=$(measure -t2 -c8 -d"${seconds}s" "http://127.0.0.1:$nginx_port/$kind.html")
            echo "$theirs"
            ratio "page $kind / nginx" "$(rate_of "$ours")" "$(rate_of "$theirs")"
        done
        # Compressed, as a browser asks for it: ours from the kept copy, nginx's from plain.html.gz.
        gzip -6 -k -f "$work/nginx/www/plain.html" && chmod 644 "$work/nginx/www/plain.html.gz"
        page_url="http://127.0.0.1:$port/wuppet/wpbrand/tovrika/"
        echo "page bytes: $(stat -c %s "$work/nginx/www/plain.html") plain," \
            "$(curl -s -H 'Accept-Encoding: gzip' "$page_url" | wc -c) gzip from the server," \
            "$(stat -c %s "$work/nginx/www/plain.html.gz") gzip -6"
        what="page gzip, 8 clients"
        ours=$(measure -t2 -c8 -d"${seconds}s" -H 'Accept-Encoding: gzip' "$page_url")
        echo "$ours"
        what="nginx, gzip_static"
        theirs=$(measure -t2 -c8 -d"${seconds}s" -H 'Accept-Encoding: gzip' "http://127.0.0.1:$nginx_port/plain.html")
        echo "$theirs"
        ratio "page gzip / nginx" "$(rate_of "$ours")" "$(rate_of "$theirs")"
        # A player's own page as a browser asks for it: compressed for each request.
        what="page visitor gzip, 8"
        measure -t2 -c8 -d"${seconds}s" -H 'Accept-Encoding: gzip' "$page_url?id=500000"
        # Visitors who each come once: nothing of theirs is kept yet.
        what="page, a new visitor each"
        measure -t2 -c8 -d"${seconds}s" -s "$here/server/visitors.lua" "http://127.0.0.1:$port"
    fi
    # The page while entries are committed: it must not wait behind them.
    wrk -t2 -c64 -d"$((seconds + 2))s" -s "$here/server/entries.lua" "http://127.0.0.1:$port" >"$work/entries.out" 2>&1 &
    entries_pid=$!
    pids+=("$entries_pid")
    sleep 1
    what="page, 64 sending"
    measure -t1 -c4 -d"${seconds}s" --timeout 10s "http://127.0.0.1:$port/wuppet/wpbrand/tovrika/?id=500000"
    wait "$entries_pid" || true
    what="entries beside the page"
    printf '%-12s %-22s %10s\n' "$backend" "$what" "$(awk '/^Requests\/sec:/ {print $2}' "$work/entries.out")"
    # Entries once most no longer rank in: the boards hold a million.
    [ "$only" != page ] || { stop_server; continue; }
    what="entries, full boards"
    ours=$(measure -t2 -c64 -d"${seconds}s" -s "$here/server/entries.lua" "http://127.0.0.1:$port")
    echo "$ours"
    ratio "full / redis full" "$(rate_of "$ours")" "$(rate_of "$redis_full")" redis
    stop_server
done
