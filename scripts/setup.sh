# Shared set-up of scripts/run and scripts/test: installs the Debian packages
# the build needs (when missing), then configures and builds into a build folder.
# Sourced, not run: it sets up functions and variables for the caller.

CORVINA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building the programs needs: compiler, build tools and libraries. The
# README's Install section lists the same.
CORVINA_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  libsqlite3-dev libsqlitecpp-dev libpq-dev
  libcli11-dev libfmt-dev nlohmann-json3-dev
  libncurses-dev
)
# Only the tests and benchmarks need these: the test libraries; python3 for
# the benchmarks' scripts; setpriv (util-linux) to run as another user; the
# sqlite3 shell that holds a file's writers' lock from another process; the X
# server, window manager and tools the smoke test drives the window with; the
# validators of the installed files, bash-completion that loads the
# completion, systemd's unit checker, what cpack uses to build and inspect the
# Debian package, and lintian to judge it; the database server the server
# tests start throwaway instances of; promtool (prometheus), which checks the
# metrics hosts prints; ncdu, whose exports the import reads and whose browser
# opens ours, in a terminal that tmux gives it (the browse test types into it too).
CORVINA_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 util-linux sqlite3
  xvfb openbox xdotool xclip x11-utils imagemagick
  desktop-file-utils appstream man-db bash-completion systemd dpkg-dev file lintian postgresql
  prometheus ncdu tmux
)

# corvina_install_packages [extra packages...]: CORVINA_PACKAGES and the extras.
corvina_install_packages() {
  local missing=()
  for p in "${CORVINA_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  # The server package would make a cluster of its own and start it; the
  # tests start their own servers, so a machine that had no cluster gets none.
  if [[ " ${missing[*]} " == *" postgresql "* && ! -e /etc/postgresql-common/createcluster.conf ]]; then
    $sudo mkdir -p /etc/postgresql-common/createcluster.d
    echo "create_main_cluster = false" | $sudo tee /etc/postgresql-common/createcluster.d/corvina-tests.conf >/dev/null
  fi
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# corvina_build BUILD_DIR [cmake options...] [-- targets...]
# Without targets everything is built.
corvina_build() {
  local dir=$1; shift
  local opts=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "${CI:-}" = "true" ] && opts+=(-DCORVINA_WERROR=ON)
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake -S "$CORVINA_ROOT" -B "$dir" "${opts[@]}" >&2
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >&2
}
