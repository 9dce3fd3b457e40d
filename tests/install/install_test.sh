#!/usr/bin/env bash
# Installs the build into a temporary prefix as "cmake --install" does for a
# user, then checks what a desktop and a package manager rely on:
#   - the layout: both programs, desktop entry, AppStream metadata, icons,
#     manual pages, bash completion;
#   - desktop-file-validate, appstreamcli validate --no-net and man --warnings
#     report nothing;
#   - --version of both programs is the project's version;
#   - every command and option that corvina-cli --help lists is in the manual
#     page and in the completion, and the completion offers kinds and keys;
#   - an installed program keeps its default database in the per-user data
#     folder, never beside itself;
#   - cpack makes a .deb holding the same files, with dependencies.
#   tests/install/install_test.sh BUILD_DIR VERSION
set -uo pipefail

build=$(cd "${1:?usage: install_test.sh BUILD_DIR VERSION}" && pwd) || exit 1
version=${2:?usage: install_test.sh BUILD_DIR VERSION}
tmp=$(mktemp -d /tmp/corvina-install.XXXXXX) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# quiet COMMAND...: the command succeeds and prints nothing on stderr.
quiet() {
  local err
  err=$("$@" 2>&1 >/dev/null) && [ -z "$err" ] || fail "$* said: ${err:-its exit code}"
}

prefix=$tmp/usr
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAILED: cmake --install" >&2; exit 1; }

expected=(
  bin/corvina
  bin/corvina-cli
  share/applications/org.corvina.Corvina.desktop
  share/metainfo/org.corvina.Corvina.metainfo.xml
  share/icons/hicolor/scalable/apps/corvina.svg
  share/man/man1/corvina.1
  share/man/man1/corvina-cli.1
  share/bash-completion/completions/corvina-cli
)
for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/corvina.png"); done
for file in "${expected[@]}"; do [ -s "$prefix/$file" ] || fail "missing $file"; done
[ "$(file -b --mime-type "$prefix/share/icons/hicolor/48x48/apps/corvina.png" 2>/dev/null || echo image/png)" = image/png ] ||
  fail "the 48x48 icon is no PNG"

quiet desktop-file-validate "$prefix/share/applications/org.corvina.Corvina.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.corvina.Corvina.metainfo.xml" >/dev/null 2>&1 ||
  fail "appstreamcli validate: $(appstreamcli validate --no-net "$prefix/share/metainfo/org.corvina.Corvina.metainfo.xml" 2>&1)"
for page in corvina corvina-cli; do
  quiet env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1"
done

[ "$("$prefix/bin/corvina" --version)" = "corvina $version" ] || fail "corvina --version: $("$prefix/bin/corvina" --version)"
[ "$("$prefix/bin/corvina-cli" --version)" = "corvina-cli $version" ] || fail "corvina-cli --version"

# Every command and option of the help, in the manual page (as rendered) and the completion.
manual=$(LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$prefix/share/man/man1/corvina-cli.1" 2>/dev/null)
completion=$(cat "$prefix/share/bash-completion/completions/corvina-cli")
commands=$("$prefix/bin/corvina-cli" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || fail "no commands in corvina-cli --help"
for command in $commands; do
  grep -qw -- "$command" <<<"$manual" || fail "command $command is not in the manual page"
  grep -qw -- "$command" <<<"$completion" || fail "command $command is not in the completion"
  for option in $("$prefix/bin/corvina-cli" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$manual" || fail "$command $option is not in the manual page"
    grep -qF -- "$option" <<<"$completion" || fail "$command $option is not in the completion"
  done
done

# The installed tool, run by a user with an empty home, creates its default
# database in the per-user data folder.
home=$tmp/home
mkdir -p "$home"
run_as_user() { env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$home" "$@"; }
run_as_user "$prefix/bin/corvina-cli" snapshot "$prefix/share/man" >/dev/null 2>&1 || fail "snapshot with the default database"
[ "$(ls "$prefix/bin")" = "$(printf 'corvina\ncorvina-cli')" ] || fail "the installed program wrote beside itself: $(ls "$prefix/bin")"
database=$(find "$home/.local/share" -name corvina.mdb 2>/dev/null | head -n 1)
[ -n "$database" ] || fail "no default database under $home/.local/share"

# The completion offers the kinds, and the keys of the database --db names.
key=$(run_as_user "$prefix/bin/corvina-cli" info latest --db "$database" 2>/dev/null | grep -oE '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}' | head -n 1)
complete_words() {
  PATH="$prefix/bin:$PATH" bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _corvina_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/corvina-cli" "$@"
}
[ "$(complete_words corvina-cli analyse where)" = where-did-it-grow ] || fail "completion of an analysis kind"
[ "$(complete_words corvina-cli info --db "$database" "${key:0:4}")" = "$(printf '%q' "$key")" ] ||
  fail "completion of the key '$key': $(complete_words corvina-cli info --db "$database" "${key:0:4}")"

# The Debian package: the same files under /usr, and what they link to.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$tmp/deb" >/dev/null 2>"$tmp/cpack.log") || fail "cpack -G DEB: $(cat "$tmp/cpack.log")"
  deb=$(ls "$tmp"/deb/*.deb 2>/dev/null | head -n 1)
  if [ -n "$deb" ]; then
    contents=$(dpkg-deb -c "$deb")
    for file in "${expected[@]}"; do grep -q "\./usr/$file\$" <<<"$contents" || fail "the package lacks /usr/$file"; done
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libqt6widgets6 libsqlite3-0; do
      grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
    done
  else
    fail "cpack made no .deb"
  fi
fi

[ "$failures" -eq 0 ] && echo "install test passed ($prefix)"
exit $((failures > 0))
