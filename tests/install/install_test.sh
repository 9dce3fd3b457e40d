#!/usr/bin/env bash
# Installs the build into a temporary prefix as "cmake --install" does for a
# user, then checks what a desktop and a package manager rely on:
#   - the layout: both programs, desktop entry, AppStream metadata, icons,
#     manual pages, bash completion;
#   - desktop-file-validate, appstreamcli validate --no-net and man --warnings
#     report nothing;
#   - --version of both programs is the project's version;
#   - every command and option that corvina-cli --help lists is in the manual
#     page and in the completion, and the completion offers kinds and keys and
#     is loaded by bash-completion in an interactive bash;
#   - an installed program keeps its default database in the per-user data
#     folder, never beside itself;
#   - cpack makes a .deb holding the same files, with dependencies, that
#     lintian reports no error in; its compressed files carry no name or time;
#   - a build configured without BUILD_TESTING, as the README's install does,
#     has no test or benchmark and looks for no test library, and the
#     README's Install section names every package the build needs.
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
  share/man/man1/corvina.1.gz
  share/man/man1/corvina-cli.1.gz
  share/bash-completion/completions/corvina-cli
  share/doc/corvina/copyright
  share/doc/corvina/changelog.Debian.gz
)
for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/corvina.png"); done
for file in "${expected[@]}"; do [ -s "$prefix/$file" ] || fail "missing $file"; done
[ "$(file -b --mime-type "$prefix/share/icons/hicolor/48x48/apps/corvina.png" 2>/dev/null || echo image/png)" = image/png ] ||
  fail "the 48x48 icon is no PNG"

quiet desktop-file-validate "$prefix/share/applications/org.corvina.Corvina.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.corvina.Corvina.metainfo.xml" >/dev/null 2>&1 ||
  fail "appstreamcli validate: $(appstreamcli validate --no-net "$prefix/share/metainfo/org.corvina.Corvina.metainfo.xml" 2>&1)"
for page in corvina corvina-cli; do
  quiet env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz"
done

[ "$("$prefix/bin/corvina" --version)" = "corvina $version" ] || fail "corvina --version: $("$prefix/bin/corvina" --version)"
[ "$("$prefix/bin/corvina-cli" --version)" = "corvina-cli $version" ] || fail "corvina-cli --version"

# Every command and option of the help, in the manual page (as rendered) and the completion.
manual=$(LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$prefix/share/man/man1/corvina-cli.1.gz" 2>/dev/null)
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

# An interactive bash of a user with Debian's default .bashrc loads the
# completion through bash-completion (which the package recommends) on the
# first Tab, from the data folder of the install (/usr/share for the package).
cp /etc/skel/.bashrc "$home/.bashrc" 2>/dev/null || fail "no /etc/skel/.bashrc (bash)"
loaded=$(run_as_user XDG_DATA_DIRS="$prefix/share" bash -i -c '_completion_loader corvina-cli; complete -p corvina-cli' 2>/dev/null)
[ "$loaded" = "complete -F _corvina_cli corvina-cli" ] || fail "an interactive bash does not load the completion: $loaded"

# The Debian package: the same files under /usr, and what they link to. A
# missing cpack, dpkg-deb or lintian fails the test.
(cd "$build" && cpack -G DEB -B "$tmp/deb" >/dev/null 2>"$tmp/cpack.log") || fail "cpack -G DEB: $(cat "$tmp/cpack.log")"
deb=$(ls "$tmp"/deb/*.deb 2>/dev/null | head -n 1)
if [ -n "$deb" ]; then
  contents=$(dpkg-deb -c "$deb")
  for file in "${expected[@]}"; do grep -q "\./usr/$file\$" <<<"$contents" || fail "the package lacks /usr/$file"; done
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libqt6widgets6 libsqlite3-0; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
  done
  # bash loads the completion through bash-completion's loader only.
  [ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] ||
    fail "the package does not recommend bash-completion: $(dpkg-deb -f "$deb" Recommends)"
  # Debian's own judgement of the package: an error fails; warnings are shown.
  lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 || fail "lintian: $(grep -v '^running with root' "$tmp/lintian.log")"
  grep '^W:' "$tmp/lintian.log"
  # The same files make the same package: no compressed file carries its
  # name or the time it was compressed (gzip -n).
  dpkg-deb -x "$deb" "$tmp/unpacked"
  # The header's flags byte has bit 3 for a name; four bytes of time follow.
  while IFS= read -r gz; do
    read -r _ _ _ flags t1 t2 t3 t4 < <(od -An -tu1 -N8 "$gz")
    (( (flags & 8) == 0 && t1 + t2 + t3 + t4 == 0 )) || fail "${gz#"$tmp/unpacked"} carries a name or time"
  done < <(find "$tmp/unpacked" -name '*.gz')
else
  fail "cpack made no .deb"
fi

# The README's install configures without BUILD_TESTING: no test or benchmark
# is built, and neither GoogleTest nor Google Benchmark is looked for.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if cmake -S "$source_dir" -B "$tmp/plain" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$tmp/plain.log" 2>&1; then
  # A find_package leaves its NAME_DIR (or the module's variables) in the cache.
  found=$(grep -iE '^[^/#]*(gtest|gmock|benchmark)[^:]*:' "$tmp/plain/CMakeCache.txt")
  [ -z "$found" ] || fail "a build without tests looked for a test library: $found"
  targets=$(cmake --build "$tmp/plain" --target help 2>/dev/null | grep -v '^/' | grep -iE 'test|bench' | head -n 5)
  [ -z "$targets" ] || fail "a build without tests has test or benchmark targets: $targets"
else
  fail "configuring without tests: $(tail -n 20 "$tmp/plain.log")"
fi

# Every package scripts/setup.sh installs for the build is in the README's
# apt-get command (its lines joined where they end in a backslash).
source "$source_dir/scripts/setup.sh"
apt_line=$(awk '/^## / { inside = ($0 == "## Install") } inside' "$source_dir/README.md" |
  sed -e ':join' -e '/\\$/ { N; s/\\\n//; b join' -e '}' | grep 'apt-get install')
for package in "${CORVINA_PACKAGES[@]}"; do
  [[ " $apt_line " == *" $package "* ]] || fail "the README's Install section does not install $package"
done

[ "$failures" -eq 0 ] && echo "install test passed ($prefix)"
exit $((failures > 0))
