#!/bin/bash
# The README's roles and grants for a shared database on a PostgreSQL server,
# taken from the README's own text: each SQL block of that section is pasted,
# in order, into psql as the superuser of a fresh throwaway server, as the
# README tells a reader to. Then every role does what the README says it may,
# and is refused what it may not:
#   - the owner, corvina, takes the first snapshot, which sets up the tables;
#   - scanner takes a snapshot of the changed tree, and is refused a delete;
#   - viewer lists and analyses, and is refused a snapshot and a delete.
#
#   tests/server/readme_grants.sh README CORVINA_CLI
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
readme=${1:?usage: readme_grants.sh README CORVINA_CLI}
cli=${2:?usage: readme_grants.sh README CORVINA_CLI}
root=$(mktemp -d "${TMPDIR:-/tmp}/corvina-grants.XXXXXX") || exit 1
server=$root/server
trap '"$here/pg_server.sh" stop "$server"; rm -rf "$root"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# A fresh server whose superuser is not one of the README's roles, as on a
# machine where the server package made "postgres".
"$here/pg_server.sh" start "$server" postgres >/dev/null || exit 1
as_role() { echo "host=$server port=5432 user=$1 dbname=${2:-corvina}"; }

# The section's fenced SQL blocks, one file each, without the list's indent.
section=$(awk '/^## / { inside = ($0 == "## A shared database on a PostgreSQL server") } inside' "$readme")
awk -v dir="$root" '
  /^ *```sql *$/ { file = sprintf("%s/block%02d.sql", dir, ++blocks); inside = 1; next }
  inside && /^ *``` *$/ { inside = 0; next }
  inside { sub(/^  /, ""); print > file }' <<<"$section"
blocks=("$root"/block*.sql)
[ -e "${blocks[0]}" ] || { echo "FAILED: no SQL block in the README's server section" >&2; exit 1; }
for block in "${blocks[@]}"; do
  psql "$(as_role postgres postgres)" -X -q -v ON_ERROR_STOP=1 -f "$block" >"$root/psql.log" 2>&1 ||
    fail "the README's SQL was refused: $(cat "$root/psql.log")"$'\n'"$(cat "$block")"
done

tree=$root/tree
mkdir -p "$tree/sub" && echo data >"$tree/sub/file"
home=$root/home
mkdir -p "$home"
# cli ROLE ARGS...: corvina-cli as ROLE, with a home of its own.
cli() {
  local role=$1; shift
  env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
    "$cli" "$@" --db "$(as_role "$role")" >"$root/out" 2>&1
}
snapshots() { cli viewer list --path "$tree" && grep -cE '^[0-9]{4}-' "$root/out"; }

cli corvina snapshot "$tree" || fail "the owner's first snapshot: $(cat "$root/out")"
# A changed tree: scanner's run closes the rows that changed.
echo more >>"$tree/sub/file"
cli scanner snapshot "$tree" || fail "scanner's snapshot of a changed tree: $(cat "$root/out")"
[ "$(snapshots)" = 2 ] || fail "viewer lists $(snapshots) snapshots, not 2: $(cat "$root/out")"
cli viewer analyse where-did-it-grow --compare previous || fail "viewer's analysis: $(cat "$root/out")"

# refused ROLE ARGS...: the tool says the role may not write, not some other fault.
refused() {
  if cli "$@"; then
    fail "$1 may $2: $(cat "$root/out")"
  elif ! grep -qE 'cannot be written|permission denied' "$root/out"; then
    fail "$1 $2 failed for another reason: $(cat "$root/out")"
  fi
}
refused viewer snapshot "$tree"
refused viewer delete latest
refused scanner delete latest
[ "$(snapshots)" = 2 ] || fail "after refused writes viewer lists $(snapshots) snapshots, not 2"

[ "$failures" -eq 0 ] && echo "the README's grants work on a fresh server"
exit $((failures > 0))
