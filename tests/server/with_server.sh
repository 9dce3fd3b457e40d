#!/bin/bash
# with_server.sh COMMAND [ARGS...]: runs COMMAND beside a throwaway database
# server of its own (pg_server.sh), with CORVINA_TEST_SERVER holding its
# connection text, and stops the server afterwards whatever COMMAND did.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/corvina-server.XXXXXX")
trap '"$here/pg_server.sh" stop "$root/server"; rm -rf "$root"' EXIT
CORVINA_TEST_SERVER=$("$here/pg_server.sh" start "$root/server")
export CORVINA_TEST_SERVER
"$@"
