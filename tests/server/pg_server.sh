#!/bin/bash
# A throwaway PostgreSQL server for the tests: its cluster, socket and log live
# in one temporary folder, it listens on a Unix socket only, and it trusts
# every local connection: of its superuser, corvina unless named, and of any
# role made later.
#
#   pg_server.sh start DIR [SUPERUSER]   prints the connection string on stdout
#   pg_server.sh stop DIR                stops the server and removes DIR
#
# The server refuses to run as root, so under root (CI) the cluster belongs
# to nobody and every server program runs through setpriv as nobody.
set -euo pipefail

command=$1
dir=$2
superuser=${3:-corvina}
bindir=$(pg_config --bindir 2>/dev/null || true)
[[ -x "$bindir/initdb" ]] || bindir=$(dirname "$(command -v initdb)")

as_owner() {
    if [[ $(id -u) -eq 0 ]]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
    else
        "$@"
    fi
}

case $command in
start)
    mkdir -p "$dir"
    if [[ $(id -u) -eq 0 ]]; then
        # nobody must reach the folder through the test's private parent.
        chmod o+x "$(dirname "$dir")"
        chown nobody:nogroup "$dir"
    fi
    as_owner "$bindir/initdb" -D "$dir/data" -U "$superuser" --auth=trust --encoding=UTF8 --locale=C.UTF-8 \
        --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    # No TCP port: the socket folder alone names the server, so parallel
    # tests never meet.
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c max_connections=40" \
        start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    echo "host=$dir port=5432 user=$superuser dbname=postgres"
    ;;
stop)
    if [[ -d "$dir/data" ]]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start DIR [SUPERUSER] | stop DIR" >&2
    exit 2
    ;;
esac
