#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A throw-away PostgreSQL server for the tests: made with initdb in a temporary folder as an
# unprivileged user, listening on a Unix socket in that folder and on a free port of
# 127.0.0.1, and removed with that folder at the end.
#   pgtest.sh start STATE    makes and starts it; STATE (a file) then says where it is
#   pgtest.sh restart STATE  restarts it at once, as a crash would (-m immediate)
#   pgtest.sh down STATE     stops it at once, keeping its folder; up STATE starts it again
#   pgtest.sh stop STATE     stops it and removes its folder and STATE
# Where the server cannot be installed, start writes "skipped=..." into STATE and prints a
# "SKIPPED:" line; the tests that need it then skip.
set -euo pipefail
export LC_ALL=C

action=${1:?start, restart or stop}
state=${2:?the state file}

bindir() {
    local d
    command -v pg_config >/dev/null && d=$(pg_config --bindir 2>/dev/null) && [ -x "$d/initdb" ] && { echo "$d"; return; }
    for d in /usr/lib/postgresql/*/bin; do [ -x "$d/initdb" ] && { echo "$d"; return; }; done
    command -v initdb >/dev/null && dirname "$(command -v initdb)"
}

# PostgreSQL refuses to run as root: as root the server runs as nobody.
as_server() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

read_state() {
    # shellcheck disable=SC1090
    [ -f "$state" ] && source "$state"
}

case $action in
start)
    [ -f "$state" ] && "$0" stop "$state" || true
    bin=$(bindir || true)
    if [ -z "$bin" ]; then
        # setup.sh installs it; it is missing only where it cannot be installed.
        echo "SKIPPED: PostgreSQL's server (Debian package postgresql) is not installed; the store's tests skip."
        echo "skipped='PostgreSQL server not installed'" >"$state"
        exit 0
    fi
    dir=$(mktemp -d /tmp/voralith-pg.XXXXXX)
    chmod 755 "$dir"
    password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
    printf '%s\n' "$password" >"$dir/pwfile"
    mkdir "$dir/data"
    if [ "$(id -u)" -eq 0 ]; then chown -R nobody "$dir"; fi
    as_server "$bin/initdb" -D "$dir/data" -U voralith --pwfile="$dir/pwfile" --auth=scram-sha-256 \
        -E UTF8 --no-instructions >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
    rm -f "$dir/pwfile"
    started=''
    for _ in 1 2 3 4 5 6 7 8; do
        port=$((20000 + RANDOM % 40000))
        # In its configuration, so that every start and restart finds them.
        as_server cp "$dir/data/postgresql.conf" "$dir/data/postgresql.conf.initdb" 2>/dev/null || true
        {
            cat "$dir/data/postgresql.conf.initdb"
            echo "unix_socket_directories = '$dir'"
            echo "port = $port"
            echo "listen_addresses = '127.0.0.1'"
            echo "max_connections = 60"
            echo "shared_buffers = 16MB"
        } | as_server tee "$dir/data/postgresql.conf" >/dev/null
        if as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null 2>&1; then
            started=1
            break
        fi
    done
    if [ -z "$started" ]; then cat "$dir/server.log" >&2; rm -rf "$dir"; exit 1; fi
    {
        echo "dir='$dir'"
        echo "port='$port'"
        echo "user='voralith'"
        echo "password='$password'"
        echo "bin='$bin'"
    } >"$state"
    echo "PostgreSQL started in $dir on port $port"
    ;;
restart)
    read_state || exit 1
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -m immediate restart >/dev/null
    ;;
down)
    read_state || exit 1
    as_server "$bin/pg_ctl" -D "$dir/data" -w -t 60 -m immediate stop >/dev/null
    ;;
up)
    read_state || exit 1
    as_server "$bin/pg_ctl" -D "$dir/data" status >/dev/null 2>&1 && exit 0
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
    ;;
stop)
    read_state || exit 0
    if [ -n "${dir:-}" ] && [ -d "$dir" ]; then
        as_server "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
        rm -rf "$dir"
    fi
    rm -f "$state"
    ;;
*)
    echo "pgtest.sh: start, restart or stop, not $action" >&2
    exit 2
    ;;
esac
