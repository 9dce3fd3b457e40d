#!/bin/bash
# Roles kept to their hosts, on a throwaway server: the owner maps hosta and
# hostb with host-role (twice: the second run changes nothing), and then
#   - hosta takes a first and a changed second snapshot of its tree, and is
#     refused writing as hostb;
#   - hosta, reading every host, lists and analyses hostb's snapshot, but is
#     refused deleting or pruning it: one line naming it, exit 1, and the
#     snapshot stays; its own first snapshot it deletes;
#   - mapped again to read its own host only, hosta no longer sees hostb's
#     base path, snapshot or rows, and a read of one chain still uses the
#     spans' index.
#
#   tests/server/host_roles.sh CORVINA_CLI
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=${1:?usage: host_roles.sh CORVINA_CLI}
root=$(mktemp -d "${TMPDIR:-/tmp}/corvina-roles.XXXXXX") || exit 1
server=$root/server
trap '"$here/pg_server.sh" stop "$server"; rm -rf "$root"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

"$here/pg_server.sh" start "$server" postgres >/dev/null || exit 1
as_role() { echo "host=$server port=5432 user=$1 dbname=corvina"; }
psql "host=$server port=5432 user=postgres dbname=postgres" -X -q -v ON_ERROR_STOP=1 >/dev/null <<'SQL' || exit 1
CREATE ROLE corvina LOGIN;
CREATE ROLE hosta LOGIN;
CREATE ROLE hostb LOGIN;
CREATE DATABASE corvina OWNER corvina;
SQL

home=$root/home
mkdir -p "$home" "$root/a/sub" "$root/b/sub"
echo one >"$root/a/sub/file"
echo other >"$root/b/sub/file"
# cli ROLE ARGS...: corvina-cli as ROLE, stdout in out, stderr in err.
cli() {
  local role=$1; shift
  env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    "$cli" "$@" --db "$(as_role "$role")" >"$root/out" 2>"$root/err"
}
said() { cat "$root/out" "$root/err"; }
# keys ROLE PATH: the keys ROLE lists for PATH, newest first.
keys() { cli "$1" list --path "$2" && grep -oE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}' "$root/out"; }

# Into an empty database: the first run sets the tables up and the policies.
cli corvina host-role hosta hosta --reads all || fail "mapping hosta: $(said)"
grep -q "^Row-level security set up on Chain, Snap" "$root/out" || fail "the set-up is not told: $(said)"
cli corvina host-role hostb hostb || fail "mapping hostb: $(said)"
grep -q "set up already" "$root/out" || fail "a second set-up is not told as one: $(said)"
cli corvina host-role hostb hostb || fail "mapping hostb again: $(said)"
grep -q "^Role hostb changes the snapshots of host hostb only and reads the snapshots of its own host only (as before)$" \
  "$root/out" || fail "mapping hostb again is not told as no change: $(said)"
cli corvina host-role nobody_here hostc && fail "a role that does not exist was mapped"
grep -q "There is no role nobody_here" "$root/err" || fail "a missing role is not told: $(said)"

cli hosta snapshot "$root/a" --files --host-label hosta || fail "hosta's first snapshot: $(said)"
# The statistics are the owner's to refresh: no warning for each table.
! grep -q "server:" "$root/err" || fail "hosta's run has the server warn: $(said)"
echo "grown by a line" >>"$root/a/sub/file" && echo new >"$root/a/new"
cli hosta snapshot "$root/a" --files --host-label hosta || fail "hosta's changed snapshot: $(said)"
cli hostb snapshot "$root/b" --files --host-label hostb || fail "hostb's snapshot: $(said)"
cli hostb snapshot "$root/b" --files --host-label hostb || fail "hostb's second snapshot: $(said)"
cli hosta snapshot "$root/b" --host-label hostb && fail "hosta wrote a snapshot as hostb"
mapfile -t a < <(keys corvina "$root/a")
mapfile -t b < <(keys corvina "$root/b")
[ "${#a[@]}" = 2 ] && [ "${#b[@]}" = 2 ] || fail "the owner lists ${#a[@]} and ${#b[@]} snapshots, not 2 and 2"
cli hosta analyse changed-files --snapshot "${a[0]}" --compare "${a[1]}" --format csv
grep -q "file" "$root/out" || fail "hosta's changed file is not told: $(said)"

# Reading every host: hostb's rows show, its snapshots cannot be changed.
cli hosta list && grep -qF "$root/b" "$root/out" || fail "hosta reading all does not list hostb's path: $(said)"
cli hosta analyse files-in-tree --snapshot "${b[0]}" --dir "$root/b" --format csv
grep -q "other\|file" "$root/out" || fail "hosta reading all does not see hostb's files: $(said)"
cli hosta delete "${b[0]}"
rc=$?
[ "$rc" = 1 ] || fail "hosta's delete of hostb's snapshot exited $rc, not 1: $(said)"
[ "$(cat "$root/err")" = "corvina: Snapshot ${b[0]} is of host hostb: this role may change only its own host's snapshots; snapshot ${b[0]} not deleted" ] ||
  fail "hosta's refused delete says: $(said)"
cli hosta prune --path "$root/b" --host hostb --keep-last 1 && fail "hosta pruned hostb's snapshots"
grep -q "^corvina: Snapshot .* is of host hostb: this role may change only its own host's snapshots; nothing pruned$" \
  "$root/err" || fail "hosta's refused prune says: $(said)"
[ "$(keys corvina "$root/b" | wc -l)" = 2 ] || fail "hostb's snapshots did not stay: $(keys corvina "$root/b")"
cli hosta delete "${a[1]}" || fail "hosta's delete of its own first snapshot: $(said)"
cli hosta analyse files-in-tree --snapshot "${a[0]}" --dir "$root/a" --format csv
[ "$(grep -c "file\|new" "$root/out")" = 2 ] || fail "hosta's latest snapshot lost rows to the delete: $(said)"

# Reading its own host only.
cli corvina host-role hosta hosta --reads own || fail "mapping hosta to its own: $(said)"
grep -q "(before: host hosta, reads the snapshots of every host)" "$root/out" || fail "the change is not told: $(said)"
cli hosta list && ! grep -qF "$root/b" "$root/out" || fail "hosta reading its own lists hostb's path: $(said)"
cli hosta analyse files-in-tree --snapshot "${b[0]}" --dir "$root/b" --format csv && fail "hosta analysed hostb's snapshot"
[ "$(keys hosta "$root/a" | wc -l)" = 1 ] || fail "hosta does not list its own snapshot"
rows=$(psql "$(as_role hosta)" -X -At -c "SELECT count(*) FROM Dirspan WHERE Chain <> (SELECT Id FROM Chain WHERE Hostname = 'hosta')")
[ "$rows" = 0 ] || fail "hosta reads $rows spans of another host"
plan=$(psql "$(as_role hosta)" -X -At -c "SET enable_seqscan = off" \
  -c "EXPLAIN SELECT * FROM Filespan WHERE Chain = 1 AND Last = 2147483647 AND Path = 3")
grep -qi "index.*filespan0" <<<"$plan" || fail "a read of one chain does not use the index: $plan"

# A role reading its own host only still takes a key that no snapshot has:
# the owner gives hosta's chain the keys of this second and the next two
# (one a run of this second already has stays as it is).
taken=$(for s in 0 1 2; do echo "('$(date -d "+$s second" '+%F %T')')"; done | paste -sd,)
psql "$(as_role corvina)" -X -q -v ON_ERROR_STOP=1 -c "INSERT INTO Snap (Id, Snapshot, Chain, Basepath)
  SELECT (SELECT max(Id) FROM Snap) + row_number() OVER (), k.key, c.Id, c.Basepath
  FROM (VALUES $taken) AS k(key), Chain c WHERE c.Hostname = 'hosta' ON CONFLICT DO NOTHING" ||
  fail "the keys were not taken"
cli hostb snapshot "$root/b" --host-label hostb || fail "hostb's run beside keys it cannot read: $(said)"

[ "$failures" -eq 0 ] && echo "host roles keep to their hosts"
exit $((failures > 0))
